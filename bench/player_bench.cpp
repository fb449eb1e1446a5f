// Playback of the editor's preview player beside FFmpeg playing the same movie in real
// time, in one run: a 30-second 1280 × 720 recording at 60 frames per second with every
// frame a key frame, as the capture engine writes them.
//
//   pindle_player_bench [--seconds S] [--view WxH] [--movie FILE]
//
// S: length of each playback run (default 10). The view size (default 1280x720) is what the
// frames are decoded to fit inside and then converted to 32-bit RGB, as the player view
// does. The references play the same movie forward at that size for as long:
// `ffmpeg -re -i FILE -vf scale=W:H -pix_fmt bgra -f null -`, and ffplay on SDL's dummy
// display. FILE: play that movie instead of making one.
//
// Prints, for forward, backward and ping-pong: frames shown per second, frames late and
// skipped (in the whole run and after its first second), CPU seconds per second (and the
// part of it the display conversion took) beside the references'; then the scrubbing latency (a
// seek to an exact frame until that frame reaches the sink), the time from opening a recording
// to its first frame, and the time from opening the editor window on it (what a click in the
// library strip does) to its first frame painted in the preview, on a private Xvfb.

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <QApplication>

#include "base/dispatch.h"
#include "cpu_time.h"
#include "editor/RCLoopingAVPlayer.h"
#include "editor/ui/RCEditorPlayerView.h"
#include "editor/ui/RCEditorWindowController.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/qt/main_queue_driver.h"
#include "test_support.h"
#include "xvfb_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Converts each frame to 32-bit RGB (0xffRRGGBB words), as a view hands it to the screen.
class DisplaySink : public RCPlayerFrameSink {
public:
    void showFrame(const ImagePtr& image, MediaTime time) override {
        double cpuStart = threadCpuSeconds();
        pixels_.resize(size_t(image->width) * size_t(image->height));
        for (int y = 0; y < image->height; ++y) {
            const uint8_t* __restrict in = image->row(y);
            uint32_t* __restrict out = pixels_.data() + size_t(y) * size_t(image->width);
            for (int x = 0; x < image->width; ++x) {
                out[x] = 0xff000000u | uint32_t(in[4 * x]) << 16 | uint32_t(in[4 * x + 1]) << 8 |
                         in[4 * x + 2];
            }
        }
        lastTime = time;
        lastAt = Clock::now();
        ++count;
        cpu += threadCpuSeconds() - cpuStart;
    }
    MediaTime lastTime;
    double cpu = 0;  // seconds spent converting
    Clock::time_point lastAt;
    uint64_t count = 0;

private:
    std::vector<uint32_t> pixels_;
};

struct Reference {
    double cpuPerSecond = 0;
    double wall = 0;
    bool ran = false;
};

// Runs a reference player to its end and measures its CPU time per second of wall time.
Reference runReference(std::vector<std::string> arguments, bool dummyDisplay) {
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        if (dummyDisplay) {
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Reference reference;
    reference.wall = pindle::seconds(Clock::now() - start);
    reference.cpuPerSecond = cpuSeconds(usage) / reference.wall;
    reference.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return reference;
}

struct Run {
    double shownPerSecond = 0;
    uint64_t late = 0, skipped = 0, steadyLate = 0, steadySkipped = 0;
    double cpuPerSecond = 0;
    double sinkCpuPerSecond = 0;
};

Run play(const std::filesystem::path& movie, int64_t loopType, int runSeconds, Size view) {
    DisplaySink sink;
    RCLoopingAVPlayer player(RCRecording::recordingWithURL(movie));
    player.setFrameSink(&sink);
    player.setFrameSize(view);
    player.setMuted(true);
    player.setLoopType(loopType);
    double cpuStart = processCpuSeconds();
    auto start = Clock::now();
    player.play();
    dispatch::runUntil([] { return false; }, 1s);
    auto settled = player.statistics();
    dispatch::runUntil([&] { return Clock::now() - start >= std::chrono::seconds(runSeconds); },
                       std::chrono::seconds(runSeconds));
    player.pause();
    double wall = seconds(Clock::now() - start);
    Run run;
    run.cpuPerSecond = (processCpuSeconds() - cpuStart) / wall;
    run.sinkCpuPerSecond = sink.cpu / wall;
    const auto& statistics = player.statistics();
    run.shownPerSecond = double(statistics.framesShown) / wall;
    run.late = statistics.framesLate;
    run.skipped = statistics.framesSkipped;
    run.steadyLate = statistics.framesLate - settled.framesLate;
    run.steadySkipped = statistics.framesSkipped - settled.framesSkipped;
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double percentile90(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() * 9 / 10];
}

// Seeks to random frames while paused, as a drag of a trim knob does, and times each until
// its frame reaches the sink.
std::vector<double> scrub(const std::filesystem::path& movie, Size view, int seeks) {
    DisplaySink sink;
    RCLoopingAVPlayer player(RCRecording::recordingWithURL(movie));
    player.setFrameSink(&sink);
    player.setFrameSize(view);
    auto source = (*media::openMovie(movie))->makeFrameSource();
    std::vector<MediaTime> times = (*source)->frameTimes();
    std::mt19937 random(7);
    std::uniform_int_distribution<size_t> pick(0, times.size() - 1);
    std::vector<double> latencies;
    for (int i = 0; i < seeks; ++i) {
        MediaTime target = times[pick(random)];
        auto start = Clock::now();
        player.seekToTime(target);
        if (!dispatch::runUntil([&] { return sink.lastTime == target && sink.lastAt >= start; },
                                2s)) {
            std::fprintf(stderr, "seek to %s did not arrive\n", target.description().c_str());
            continue;
        }
        latencies.push_back(seconds(sink.lastAt - start) * 1000);
        dispatch::runUntil([] { return false; }, 16ms);  // the next pointer move
    }
    return latencies;
}

// From making the recording to its first frame in the sink.
std::vector<double> openToFirstFrame(const std::filesystem::path& movie, Size view, int times) {
    std::vector<double> latencies;
    for (int i = 0; i < times; ++i) {
        DisplaySink sink;
        auto start = Clock::now();
        RCLoopingAVPlayer player(RCRecording::recordingWithURL(movie));
        player.setFrameSink(&sink);
        player.setFrameSize(view);
        player.play();
        if (dispatch::runUntil([&] { return sink.count > 0; }, 5s)) {
            latencies.push_back(seconds(sink.lastAt - start) * 1000);
        }
    }
    return latencies;
}

struct NoDelegate : RCEditorWindowDelegate {
    void editorWindowControllerWillClose(RCEditorWindowControl*) override {}
};

// From making the editor window for a recording of movie to the first frame painted in its
// preview, on a private X server with the Qt event loop feeding the main queue.
std::vector<double> openEditorToFirstFrame(const std::filesystem::path& movie, int times) {
    std::vector<double> latencies;
    test::Xvfb xvfb("1920x1080x24");
    if (!xvfb.isRunning()) {
        return latencies;
    }
    setenv("DISPLAY", xvfb.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char name[] = "pindle_player_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    qt::installMainQueueDriver();
    NoDelegate delegate;
    RCEditorEnvironment environment;
    for (int i = 0; i < times; ++i) {
        auto start = Clock::now();
        std::optional<Clock::time_point> shown;
        {
            ui::RCEditorWindowController editor(RCRecording::recordingWithURL(movie), delegate,
                                                environment, nullptr);
            QObject::connect(editor.playerView(), &ui::RCEditorPlayerView::readyForDisplay,
                             [&] { shown = Clock::now(); });
            editor.showWindow();
            while (!shown && Clock::now() - start < 5s) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            }
            editor.close();
        }
        QCoreApplication::processEvents();
        if (shown) {
            latencies.push_back(seconds(*shown - start) * 1000);
        }
    }
    dispatch::setMainQueueWakeup({});
    return latencies;
}

int main(int argc, char** argv) {
    int runSeconds = 10;
    int width = 1280, height = 720;
    std::filesystem::path movie;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            runSeconds = std::max(2, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--view") == 0) {
            std::sscanf(argv[i + 1], "%dx%d", &width, &height);
        } else if (std::strcmp(argv[i], "--movie") == 0) {
            movie = argv[i + 1];
        }
    }
    ffmpeg::installMovieOpener();
    test::TempDir directory;
    if (movie.empty()) {
        // The capture engine's settings for a 1280 × 720 region: 60 per second, every frame
        // a key frame, veryfast with zero latency, 120 Mbit/s.
        movie = directory / "recording.mp4";
        std::string command =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=60 -t 30 "
            "-c:v libx264 -preset veryfast -tune zerolatency -g 1 -b:v 120M -pix_fmt yuv420p "
            "-video_track_timescale 600 '" +
            movie.string() + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "cannot make the test movie\n");
            return 1;
        }
    }
    Size view{double(width), double(height)};
    std::printf("movie %s (%.0f MB), view %dx%d, %d s per run\n", movie.c_str(),
                double(std::filesystem::file_size(movie)) / 1e6, width, height, runSeconds);

    std::string duration = std::to_string(runSeconds);
    std::string scale = "scale=" + std::to_string(width) + ":" + std::to_string(height);
    Reference ffmpeg =
        runReference({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-i", movie.string(), "-t",
                      duration, "-vf", scale, "-pix_fmt", "bgra", "-f", "null", "-"},
                     false);
    Reference ffplay =
        runReference({"ffplay", "-loglevel", "error", "-autoexit", "-an", "-t", duration, "-x",
                      std::to_string(width), "-y", std::to_string(height), movie.string()},
                     true);
    if (!ffmpeg.ran) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    std::printf("reference ffmpeg -re, forward: %.3f CPU s/s\n", ffmpeg.cpuPerSecond);
    if (ffplay.ran) {
        std::printf("reference ffplay (SDL dummy display), forward: %.3f CPU s/s\n",
                    ffplay.cpuPerSecond);
    }
    std::printf("%-10s %8s %6s %8s %12s %12s %9s %11s %8s %8s\n", "direction", "shown/s", "late",
                "skipped", "steady late", "steady skip", "CPU s/s", "of it sink", "/ffmpeg",
                "/ffplay");
    const std::pair<const char*, int64_t> runs[] = {
        {"forward", 0}, {"backward", 1}, {"ping-pong", 2}};
    for (auto [name, loopType] : runs) {
        Run run = play(movie, loopType, runSeconds, view);
        std::printf("%-10s %8.1f %6llu %8llu %12llu %12llu %9.3f %11.3f %7.2fx %7.2fx\n", name,
                    run.shownPerSecond, (unsigned long long)run.late,
                    (unsigned long long)run.skipped, (unsigned long long)run.steadyLate,
                    (unsigned long long)run.steadySkipped, run.cpuPerSecond, run.sinkCpuPerSecond,
                    run.cpuPerSecond / ffmpeg.cpuPerSecond,
                    ffplay.ran ? run.cpuPerSecond / ffplay.cpuPerSecond : 0.0);
    }
    auto scrubbing = scrub(movie, view, 100);
    std::printf("scrubbing: %zu seeks, median %.1f ms, 90th percentile %.1f ms\n", scrubbing.size(),
                median(scrubbing), percentile90(scrubbing));
    auto opening = openToFirstFrame(movie, view, 5);
    std::printf("open to first frame: median %.1f ms of %zu\n", median(opening), opening.size());
    auto editor = openEditorToFirstFrame(movie, 5);
    std::printf(
        "editor window opened to first frame painted: median %.1f ms, 90th percentile "
        "%.1f ms of %zu\n",
        median(editor), percentile90(editor), editor.size());
    return 0;
}

}  // namespace
}  // namespace pindle

int main(int argc, char** argv) {
    return pindle::main(argc, argv);
}
