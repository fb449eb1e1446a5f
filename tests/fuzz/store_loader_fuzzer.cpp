// Fuzz target for the library store's loader: any bytes as the store file.
//
// Checks beyond "no crash": whatever loads must archive again and load back to the same
// number of recordings without complaint.
//
// With libFuzzer (clang):
//   cmake --preset fuzz && cmake --build --preset fuzz
//   mkdir -p corpus
//   build/fuzz/tests/store_loader_fuzzer -max_total_time=60 -dict=tests/fuzz/store.dict
//       corpus tests/fuzz/store_corpus
// Without it, the same binary of the default build runs seeds and random mutations (see
// standalone_driver.cpp); the test suite runs it for a few seconds.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/keyed_archive.h"
#include "base/log.h"
#include "library/RCDataStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        pindle::log::setSink([](pindle::log::Level, const std::string&, const std::string&) {});
        return true;
    }();
    (void)quiet;
    using pindle::RCDataStore;
    auto decoded =
        RCDataStore::decodeRecordings(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& recording : decoded.recordings) {
        (void)recording->editedDimensions();
        (void)recording->editedFrameCount();
        for (const auto& caption : recording->editParameters()->captions()) {
            (void)caption->textAttributes();
            (void)caption->animation->makeInAnimation();
        }
    }
    pindle::KeyedArchiver archiver;
    archiver.encodeArray(decoded.recordings, pindle::KeyedArchiver::kRootKey);
    auto again = RCDataStore::decodeRecordings(archiver.archivedData());
    if (again.recordings.size() != decoded.recordings.size() || !again.problems.empty()) {
        std::abort();
    }
    return 0;
}
