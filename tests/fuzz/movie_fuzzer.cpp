// Fuzz target for movies given to `info` and `export`: any bytes as an MP4 file, opened and
// read as those verbs do (the movie check, the movie's facts, the recording's edited facts,
// its thumbnail), then exported to a small GIF and a JPEG.
//
// Checks beyond "no crash": an export either writes its file or fails leaving no file behind,
// and nothing is left in the temporary folder.
//
// Standalone (default build): movie_fuzzer -seconds=N tests/fuzz/movie_corpus
// libFuzzer (fuzz-all preset; tests/fuzz/run_long.sh runs every target long):
//   movie_fuzzer -max_len=16384 CORPUS tests/fuzz/movie_corpus
// tests/fuzz/make_movie_corpus.py made the seeds: a short movie, then that movie cut short,
// with box sizes, the frame rate and the picture size damaged.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/log.h"
#include "editor/RCGIFGenerator.h"
#include "library/AppDirectories.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_output.h"
#include "platform/image_output.h"
#include "platform/imageio/imageio.h"
#include "platform/media.h"

namespace {

// Exports of movies larger or longer than these are left out: they take the code small ones
// take, for longer, and the sizes the readers refuse are what the facts above already went
// through. The seeds (32x24 pixels, half a second) are exported.
constexpr float kLargestExportedSide = 64;
constexpr double kLongestExportedSeconds = 1;

std::filesystem::path makeHome() {
    std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("movie-fuzzer-" + std::to_string(::getpid()));
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    static std::filesystem::path removed = home;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(removed, ignored);
    });
    return home;
}

bool isEmptyFolder(const std::filesystem::path& folder) {
    std::error_code error;
    return !std::filesystem::exists(folder, error) || std::filesystem::is_empty(folder, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path home = makeHome();
    static pindle::RCFileManager& files = []() -> pindle::RCFileManager& {
        pindle::log::setSink([](pindle::log::Level, const std::string&, const std::string&) {});
        pindle::ffmpeg::installMovieOpener();
        pindle::media::setMovieOutput(pindle::ffmpeg::makeMovieOutput());
        pindle::setImageOutput(pindle::imageio::makeImageOutput());
        auto directories = pindle::AppDirectories::fromEnvironment(
            [](const char* name) -> const char* {
                return std::string(name) == "PINDLE_CAPTURE_HOME" ? home.c_str() : nullptr;
            },
            ::getpid());
        static pindle::RCFileManager manager(directories);
        if (!manager.createDirectories()) {
            std::abort();
        }
        return manager;
    }();
    const std::filesystem::path movie = home / "movie.mp4";
    {
        std::ofstream out(movie, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    // As `info` does.
    if (!pindle::RCRecording::checkMovieFile(movie) || !pindle::media::openMovie(movie)) {
        return 0;
    }
    auto recording = pindle::RCRecording::recordingWithURL(movie);
    (void)recording->thumbnail();
    (void)recording->hasVideoTrack();
    (void)recording->hasAudio();
    (void)recording->frameCount();
    (void)recording->editedDuration();
    (void)recording->editedFrameCount();
    (void)recording->editedFPS();
    recording->editParameters()->setResizeValue(3);
    recording->editParameters()->setLoopType(2);
    (void)recording->editedDimensions();

    // As `export` does, for small movies.
    if (!recording->hasVideoTrack() || recording->editedWidth() > kLargestExportedSide ||
        recording->editedHeight() > kLargestExportedSide ||
        recording->editedDuration().seconds() > kLongestExportedSeconds) {
        return 0;
    }
    pindle::RCExportOptions options;
    options.width = recording->editedWidth();
    options.height = recording->editedHeight();
    options.startTime = recording->editedStartTime();
    options.endTime = recording->editedEndTime();
    options.loopType = recording->editParameters()->loopType();
    options.fps = recording->editedFPS();
    pindle::RCGIFGenerator generator(recording, files);
    for (const char* name : {"out.gif", "out.jpg"}) {
        std::filesystem::path output = home / name;
        auto written = name[4] == 'g' ? generator.makeGIFNow(output, options, nullptr)
                                      : generator.makeJPEGNow(output, recording->editedStartTime(),
                                                              recording->editedDimensions());
        std::error_code error;
        bool exists = std::filesystem::exists(output, error);
        if (written.ok() != exists) {
            std::abort();  // a failed export left a file, or a written one is missing
        }
        std::filesystem::remove(output, error);
    }
    if (!isEmptyFolder(files.directories().temporary)) {
        std::abort();  // an intermediate file outlived its export
    }
    return 0;
}
