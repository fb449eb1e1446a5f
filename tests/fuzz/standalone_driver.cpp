// Runs a libFuzzer-style target without libFuzzer (for compilers that lack it and for the
// short smoke run of the test suite): every seed file given, then random mutations of the
// seeds for -seconds=N (default 5) with -seed=N (default: from the clock). An input that
// crashes the target is written to ./fuzz-crash-input first.
//
//   TARGET_fuzzer [-seconds=N] [-seed=N] FILE_OR_DIRECTORY...

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string gCurrent;  // the input being run, for the crash handler

void writeCrashInput(int signal) {
    int fd = ::open("fuzz-crash-input", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ssize_t ignored = ::write(fd, gCurrent.data(), gCurrent.size());
        (void)ignored;
        ::close(fd);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void run(const std::string& input) {
    gCurrent = input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Byte-level and token-level changes that keep inputs near the grammar of the seeds.
std::string mutate(std::string input, std::mt19937_64& random) {
    static const char* const kTokens[] = {"{",
                                          "}",
                                          "[",
                                          "]",
                                          "\"",
                                          ",",
                                          ":",
                                          "null",
                                          "true",
                                          "-1",
                                          "0",
                                          "4294967296",
                                          "9223372036854775808",
                                          "1e999",
                                          "-0.0",
                                          "\"nan\"",
                                          "\"$class\"",
                                          "\"NS.objects\"",
                                          "\"RCRecording\"",
                                          "\"PINDLE_CAPTURE.RCTimedCaption\"",
                                          "\"NSMutableArray\"",
                                          "\"file:///x\"",
                                          "\\u0000",
                                          "\xff"};
    int steps = 1 + int(random() % 4);
    for (int step = 0; step < steps; ++step) {
        size_t at = input.empty() ? 0 : random() % input.size();
        switch (random() % 6) {
            case 0:
                if (!input.empty()) {
                    input[at] = char(random());
                }
                break;
            case 1:
                input.erase(at, random() % 16);
                break;
            case 2:
                input.insert(at, kTokens[random() % std::size(kTokens)]);
                break;
            case 3:
                input.resize(at);
                break;
            case 4: {
                size_t length = random() % 64;
                input.insert(at, input.substr(random() % (input.size() + 1), length));
                break;
            }
            default:
                if (!input.empty()) {
                    input[at] = char(input[at] ^ (1 << (random() % 8)));
                }
                break;
        }
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    std::vector<std::string> seeds;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("-seconds=", 0) == 0) {
            seconds = std::stod(arg.substr(9));
        } else if (arg.rfind("-seed=", 0) == 0) {
            seed = std::stoull(arg.substr(6));
        } else if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                seeds.push_back(readFile(entry.path()));
            }
        } else {
            seeds.push_back(readFile(arg));
        }
    }
    if (seeds.empty()) {
        seeds.push_back({});
    }
    for (int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) {
        std::signal(signal, writeCrashInput);
    }
    for (const auto& input : seeds) {
        run(input);
    }
    std::mt19937_64 random(seed);
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(seconds));
    uint64_t runs = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string input = seeds[random() % seeds.size()];
        // Chains of mutations reach further from the seeds.
        for (int depth = 1 + int(random() % 3); depth > 0; --depth) {
            input = mutate(std::move(input), random);
        }
        run(input);
        ++runs;
    }
    std::fprintf(stderr, "%s: %zu seeds and %llu mutated inputs without a fault (seed %llu)\n",
                 std::filesystem::path(argv[0]).filename().c_str(), seeds.size(),
                 static_cast<unsigned long long>(runs), static_cast<unsigned long long>(seed));
    return 0;
}
