// Start-up of the desktop program: from process start to the capture window shown with the
// global shortcut bound, on a private Xvfb, with a library of 100 recordings and with an
// empty one. Goal: under 0.5 s. Run by hand: build/default/bench/startup_bench
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/RCShortcutHelper.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/qt/qt_defaults.h"
#include "test_support.h"
#include "xvfb_support.h"

namespace {

using namespace pindle;
using Clock = std::chrono::steady_clock;

constexpr double kGoalSeconds = 0.5;

// Starts the program and returns the seconds until it reports its window shown and the
// shortcut bound; negative when it did not.
double timeToReady(const std::string& display, const std::filesystem::path& home,
                   bool expectShortcut) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("PINDLE_CAPTURE_HOME", home.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        execl(PINDLE_CAPTURE_PROGRAM, PINDLE_CAPTURE_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string output;
    double seconds = -1;
    char buffer[512];
    ssize_t got;
    const char* wanted =
        expectShortcut ? "capture window shown; shortcut bound" : "capture window shown";
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, size_t(got));
        if (output.find(wanted) != std::string::npos) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            break;
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(fds[0]);
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

double measure(const std::string& display, const std::filesystem::path& home, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        double t = timeToReady(display, home, true);
        if (t >= 0) {
            times.push_back(t);
        }
    }
    return median(times);
}

// A home whose settings hold a capture shortcut and whose library holds count recordings
// of one short movie.
void prepareHome(const std::string& display, const test::TempDir& home,
                 const std::filesystem::path& movie, int count) {
    timeToReady(display, home.path(), false);  // the first launch writes the settings
    auto defaults = qt::makeSettingsFileDefaults(home / "settings.ini");
    defaults->setData(RCShortcutHelper::kDefaultsKey,
                      RCShortcutHelper::archiveShortcut({42, modifier::kCommand}));
    defaults->synchronize();
    RCFileManager files(home.appDirectories());
    NotificationCenter center;
    RCDataStore store(files, center);
    for (int i = 0; i < count; ++i) {
        auto copy = files.makeDocumentFileWithExtension("mp4");
        std::filesystem::copy_file(movie, copy);
        store.addRecording(RCRecording::recordingWithURL(copy));
    }
    store.saveData();
}

}  // namespace

int main() {
    test::Xvfb xvfb("1920x1080x24");
    if (!xvfb.isRunning()) {
        std::fprintf(stderr, "startup_bench: Xvfb did not start\n");
        return 1;
    }
    ffmpeg::installMovieOpener();
    test::TempDir work;
    auto movie = work / "clip.mp4";
    std::string make =
        "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=640x320:rate=30 -t 3 "
        "-c:v libx264 -g 1 -pix_fmt yuv420p '" +
        movie.string() + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "startup_bench: ffmpeg could not make the test movie\n");
        return 1;
    }
    test::TempDir empty;
    test::TempDir full;
    prepareHome(xvfb.display(), empty, movie, 0);
    prepareHome(xvfb.display(), full, movie, 100);

    const int runs = 5;
    double withLibrary = measure(xvfb.display(), full.path(), runs);
    double withoutLibrary = measure(xvfb.display(), empty.path(), runs);
    std::printf("start-up to capture window shown and shortcut bound (median of %d runs)\n", runs);
    std::printf("  library of 100 recordings: %.3f s   goal %.3f s   ratio %.2f\n", withLibrary,
                kGoalSeconds, withLibrary / kGoalSeconds);
    std::printf("  empty library:             %.3f s   goal %.3f s   ratio %.2f\n", withoutLibrary,
                kGoalSeconds, withoutLibrary / kGoalSeconds);
    std::printf("  cost of the 100 recordings: %.3f s\n", withLibrary - withoutLibrary);
    return withLibrary >= 0 ? 0 : 1;
}
