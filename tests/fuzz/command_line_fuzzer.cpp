// Fuzz target for the command line: any bytes as the arguments of a verb, run by the same
// code as `pindle-capture VERB ARGS...`, in a private folder with a library of one short
// recording that has two captions. Arguments are separated by line breaks; the first byte
// picks the verb.
//
// Checks beyond "no crash": every verb ends with exit status 0, 1 or 2.
//
// Every input starts from the same state: the files a verb wrote in the working folder are
// removed, and the recording's edits and the watermark are put back, so that captions and
// files do not pile up over millions of inputs (each export would draw them all) and an
// input does the same whenever it runs. The program's set-up (Qt, the readers and writers,
// the folders, the library) is made once.
//
// Arguments holding "/" are left out, so that every file a verb writes lands in the private
// folder. login is left out: it reads a password from standard input. Without DISPLAY,
// record and export --copy stop where they would connect to the screen or the clipboard;
// without a transport, upload stops where it would send.
//
// command_line_parser_fuzzer is this target built with PINDLE_FUZZ_PARSER_ONLY: the same verbs
// over the same library, with no movie reader or writer and no picture reader installed.
// Every verb still parses all its arguments, and then stops with an error where it would open
// a movie or a picture. That is thousands of inputs a second against tens, for the parsers.
//
// Standalone (default build): command_line_fuzzer -seconds=N tests/fuzz/command_line_corpus
// libFuzzer (fuzz-all preset; tests/fuzz/run_long.sh runs every target long):
//   command_line_fuzzer -close_fd_mask=1 -dict=DICT CORPUS SEEDS, all paths absolute: the
//   target moves into a folder of its own
// command_line_movie.mp4, the library's movie, is three frames of 16x16 pixels: exports
// take every code path on it, and cost a few frames of colour quantisation.
//   ffmpeg -f lavfi -i testsrc=size=16x16:rate=10 -t 0.3 -pix_fmt yuv420p -c:v libx264 -g 1
//          -preset ultrafast command_line_movie.mp4

#include <QGuiApplication>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/CommandLine.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "editor/RCRecordingLayers.h"
#include "library/RCDataStore.h"
#include "library/RCEditParameters.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_output.h"
#include "platform/image_output.h"
#include "platform/imageio/imageio.h"
#include "platform/media.h"
#include "platform/qt/qt_defaults.h"
#include "platform/qt/qt_layers.h"
#include "settings/RCUserSettings.h"

namespace {

const char* const kVerbs[] = {"library",   "info",   "export", "frame",  "caption",
                              "watermark", "record", "upload", "logout", "nothing"};

// The private folder, the program's folders in it, and a library holding one recording of
// the small movie.
std::filesystem::path home;
// The recording's edits as every input finds them.
std::shared_ptr<pindle::RCEditParameters> initialEdits;

void prepare() {
    home = std::filesystem::temp_directory_path() /
           ("command-line-fuzzer-" + std::to_string(::getpid()));
    std::filesystem::remove_all(home);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    });
    std::filesystem::create_directories(home / "work");
    setenv("PINDLE_CAPTURE_HOME", (home / "home").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    std::filesystem::current_path(home / "work");
    std::filesystem::copy_file(PINDLE_FUZZ_MOVIE, home / "work" / "movie.mp4");

    pindle::log::setSink([](pindle::log::Level, const std::string&, const std::string&) {});
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 1;
    static char name[] = "command_line_fuzzer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
#ifndef PINDLE_FUZZ_PARSER_ONLY
    pindle::ffmpeg::installMovieOpener();
    pindle::media::setMovieOutput(pindle::ffmpeg::makeMovieOutput());
    pindle::setImageOutput(pindle::imageio::makeImageOutput());
    pindle::qt::installLayerRenderer();
#endif
    pindle::setWatermarkLocation(
        [] { return pindle::RCUserSettings::getCurrentInstance().watermarkURL(); });
    auto& files = pindle::RCFileManager::getCurrentInstance();
    if (!files.createDirectories()) {
        std::abort();
    }
    pindle::RCUserSettings::setCurrentDefaults(
        pindle::qt::makeSettingsFileDefaults(files.directories().settingsFile));
    // The verbs' reports are not what is looked at.
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    std::filesystem::path stored = files.documentDirectoryURL() / "recording.mp4";
    std::filesystem::copy_file("movie.mp4", stored);
    auto& store = pindle::RCDataStore::getCurrentInstance();
    store.addRecording(pindle::RCRecording::recordingWithURL(stored));
    if (!store.saveData() ||
        // The times are given: the parser variant has no movie to take its length from.
        pindle::cli::runVerb({"caption", "1", "add", "--text", "Hello", "--animation", "fade",
                              "--to", "0.3"}) != 0 ||
        pindle::cli::runVerb({"caption", "1", "add", "--text", "World", "--from", "0.1", "--to",
                              "0.3", "--size", "xl", "--color", "yellow"}) != 0) {
        std::abort();
    }
#ifndef PINDLE_FUZZ_PARSER_ONLY
    if (pindle::cli::runVerb({"export", "1", "--to", "first.gif"}) != 0) {
        std::abort();
    }
    std::filesystem::remove("first.gif");
#endif
    initialEdits = store.allRecordings().at(0)->editParameters()->copy();
}

// Puts back what the last input changed: the files in the working folder, the recording's
// edits and the watermark.
void restore() {
    for (const auto& entry : std::filesystem::directory_iterator(home / "work")) {
        if (entry.path().filename() != "movie.mp4") {
            std::filesystem::remove_all(entry.path());
        }
    }
    auto recordings = pindle::RCDataStore::getCurrentInstance().allRecordings();
    if (recordings.size() != 1) {
        std::abort();  // no verb the target runs adds or deletes a recording
    }
    recordings[0]->setEditParameters(initialEdits->copy());
    auto& settings = pindle::RCUserSettings::getCurrentInstance();
    if (settings.watermarkIsSet()) {
        settings.unsetWatermark();
    }
    pindle::dispatch::drainMainQueue();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (prepare(), true);
    (void)ready;
    if (size == 0) {
        return 0;
    }
    std::vector<std::string> args = {kVerbs[data[0] % std::size(kVerbs)]};
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    while (!rest.empty() && args.size() < 16) {
        size_t end = rest.find('\n');
        args.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    for (const std::string& arg : args) {
        if (arg.find('/') != std::string::npos || arg.find('\0') != std::string::npos) {
            return 0;
        }
    }
    int status = pindle::cli::runVerb(args);
    pindle::dispatch::drainMainQueue();
    if (status < 0 || status > 2) {
        std::abort();
    }
    restore();
    return 0;
}
