// Screen capture throughput, capture-last latency and memory of the capture engine, each
// beside FFmpeg doing the same job in the same run, on a private Xvfb with moving content.
//
//   pindle_capture_bench [--seconds S] [--fill-seconds F] [--memory-seconds M] [--detailed D]
//
// S: length of each throughput run (default 20); F: longest wait for a full 30-second ring
// before the capture-last (default 35); M: length of the memory run (default 60; 0 skips it);
// D: 1 (default) paints random 8 x 8 tiles, which need many bits per frame; 0 paints stripes
// and a moving bar, which encode small.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/notifications.h"
#include "capture/RCCaptureEngine.h"
#include "cpu_time.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "platform/ffmpeg/ffmpeg_compression.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_writer.h"
#include "platform/x11/x11_capture.h"
#include "test_support.h"
#include "xvfb_support.h"

namespace pindle {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct ProcessResult {
    int status = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long maxRssKiB = 0;
};

// Runs argv with its standard output in outputFile (discarded when empty).
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {},
                         const std::string& outputFile = {}) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (FILE* out = std::fopen(outputFile.empty() ? "/dev/null" : outputFile.c_str(), "w")) {
            dup2(fileno(out), STDOUT_FILENO);
        }
        for (const auto& entry : environment) {
            putenv(const_cast<char*>(entry.c_str()));
        }
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    ProcessResult result;
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.cpuSeconds = cpuSeconds(usage);
    result.maxRssKiB = usage.ru_maxrss;
    return result;
}

bool gDetailedContent = true;

// The moving content runs in a child process, so its work is counted for neither side.
class Painter {
public:
    Painter(const std::string& display, test::MovingContent::PixelArea area) {
        pid_ = fork();
        if (pid_ == 0) {
            test::MovingContent content(display, area, gDetailedContent);
            for (;;) {
                pause();
            }
        }
        std::this_thread::sleep_for(300ms);
    }
    ~Painter() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!dispatch::runUntil(condition, 5ms)) {
        if (Clock::now() > deadline) {
            return false;
        }
    }
    return true;
}

class Events : public RCCaptureEngineDelegate {
public:
    void captureEngineDidStartCapturing(RCCaptureEngine&) override { ++started; }
    void captureEngineDidStopCapturing(RCCaptureEngine&) override { ++stopped; }
    void captureEngineDidOutputCapture(RCCaptureEngine&) override {
        ++outputs;
        lastOutput = Clock::now();
    }
    void captureEngineDidFailToOutputCapture(RCCaptureEngine&, const Error&) override {
        ++failures;
    }
    int started = 0, stopped = 0, outputs = 0, failures = 0;
    Clock::time_point lastOutput;
};

struct Throughput {
    double framesPerSecond = 0;
    double cpuMillisecondsPerFrame = 0;
    uint64_t frames = 0;
    uint64_t dropped = 0;
};

void printRow(const char* what, double ours, double reference, const char* unit) {
    std::printf("  %-28s pindle %9.2f %-4s  ffmpeg %9.2f %-4s  ratio %.2f\n", what, ours, unit,
                reference, unit, reference > 0 ? ours / reference : 0.0);
}

class Bench {
public:
    Bench(const test::Xvfb& xvfb, double seconds, double fillSeconds)
        : xvfb_(xvfb), seconds_(seconds), fillSeconds_(fillSeconds) {}

    void run(int width, int height, bool captureLast) {
        const test::MovingContent::PixelArea area{(1920 - width) / 2, (1080 - height) / 2, width,
                                                  height};
        Painter painter(xvfb_.display(), area);
        std::printf(
            "\ncapture %dx%d at 60 frames per second for %.0f s (x264 veryfast, "
            "zerolatency, every frame IDR, %d bit/s):\n",
            width, height, seconds_, bitRate(width, height));
        std::fflush(stdout);
        const Throughput ours = runOurs(area, captureLast);
        const Throughput theirs = runFFmpeg(area);
        printRow("frames per second", ours.framesPerSecond, theirs.framesPerSecond, "fps");
        printRow("CPU per frame", ours.cpuMillisecondsPerFrame, theirs.cpuMillisecondsPerFrame,
                 "ms");
        std::printf("  pindle frames delivered %llu, dropped %llu\n",
                    (unsigned long long)ours.frames, (unsigned long long)ours.dropped);
    }

private:
    static int bitRate(int width, int height) {
        const float area = float(width * height);
        return int(std::min(double(area * 11.4f) * 60.0, 120'000'000.0));
    }

    Throughput runOurs(const test::MovingContent::PixelArea& area, bool captureLast) {
        test::TempDir dir;
        RCFileManager files(dir.appDirectories());
        NotificationCenter center;
        RCDataStore store(files, center);
        RCCaptureEngineEnvironment environment;
        environment.screenCapture = x11::makeScreenCapturePlatform(xvfb_.display());
        environment.compressionSessionFactory = ffmpeg::makeCompressionSession;
        environment.movieWriterFactory = ffmpeg::makeMovieWriter;
        environment.dataStore = &store;
        environment.fileManager = &files;
        auto engine = RCCaptureEngine::create(environment);
        auto events = std::make_shared<Events>();
        engine->setDelegate(events);
        const auto screens = environment.screenCapture->screens();
        const double top = screens.front().frame.maxY();
        const Rect region{{double(area.x), top - area.y - area.height},
                          {double(area.width), double(area.height)}};

        Throughput result;
        if (!engine->startCapturingFrame(region, {}).ok() ||
            !pumpUntil([&] { return events->started == 1; }, 10s)) {
            std::printf("  pindle: the capture did not start\n");
            return result;
        }
        const double cpuBefore = processCpuSeconds();
        const auto before = engine->statistics();
        const auto start = Clock::now();
        pumpUntil([] { return false; }, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::duration<double>(seconds_)));
        const auto after = engine->statistics();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = processCpuSeconds() - cpuBefore;
        result.frames = after.framesDelivered - before.framesDelivered;
        result.dropped = after.framesDropped - before.framesDropped;
        result.framesPerSecond = double(result.frames) / elapsed;
        result.cpuMillisecondsPerFrame = result.frames ? cpu * 1000 / double(result.frames) : 0;

        if (captureLast) {
            measureCaptureLast(*engine, *events, store, start);
        }
        engine->stopCapturing();
        pumpUntil([&] { return events->stopped == 1 && !engine->isProcessing(); }, 120s);
        dispatch::drainMainQueue();
        return result;
    }

    void measureCaptureLast(RCCaptureEngine& engine, Events& events, RCDataStore& store,
                            Clock::time_point start) {
        const auto fillDeadline = start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(fillSeconds_));
        while (engine.bufferedFrameCount() < RCCaptureEngine::kBufferCapacity &&
               Clock::now() < fillDeadline) {
            pumpUntil([] { return false; }, 100ms);
        }
        const auto frames = engine.bufferedFrameCount();
        const auto requested = Clock::now();
        engine.outputCaptureResetBuffer(false, nullptr);
        if (!pumpUntil([&] { return events.outputs == 1; }, 60s)) {
            std::printf("  capture-last: no recording\n");
            return;
        }
        const double ours = std::chrono::duration<double>(events.lastOutput - requested).count();
        const auto recording = store.recordingAtIndex(0);
        const auto movie = recording->url();
        const auto bytes = std::filesystem::file_size(movie);
        const auto copy = movie.parent_path() / "copy.mp4";
        const auto reference = runProcess({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i",
                                           movie.string(), "-c", "copy", copy.string()});
        std::printf("\ncapture-last of a full ring: %lld frames, %.2f s, %.1f MB\n",
                    (long long)frames, recording->duration().seconds(), double(bytes) / 1e6);
        printRow("request to ready recording", ours, reference.wallSeconds, "s");
    }

    Throughput runFFmpeg(const test::MovingContent::PixelArea& area) {
        test::TempDir dir;
        const auto out = dir / "reference.mp4";
        const std::string size = std::to_string(area.width) + "x" + std::to_string(area.height);
        const std::string input =
            xvfb_.display() + "+" + std::to_string(area.x) + "," + std::to_string(area.y);
        const auto result = runProcess({"ffmpeg",
                                        "-nostdin",
                                        "-v",
                                        "error",
                                        "-y",
                                        "-f",
                                        "x11grab",
                                        "-draw_mouse",
                                        "0",
                                        "-framerate",
                                        "60",
                                        "-video_size",
                                        size,
                                        "-i",
                                        input,
                                        "-t",
                                        std::to_string(seconds_),
                                        "-c:v",
                                        "libx264",
                                        "-preset",
                                        "veryfast",
                                        "-tune",
                                        "zerolatency",
                                        "-g",
                                        "1",
                                        "-forced-idr",
                                        "1",
                                        "-b:v",
                                        std::to_string(bitRate(area.width, area.height)),
                                        "-pix_fmt",
                                        "nv12",
                                        "-fps_mode",
                                        "passthrough",
                                        out.string()});
        Throughput throughput;
        auto movie = media::openMovie(out);
        if (result.status != 0 || !movie) {
            std::printf("  ffmpeg failed (status %d)\n", result.status);
            return throughput;
        }
        const auto& info = (*movie)->info();
        throughput.frames = uint64_t(info.frameCount.value_or(
            int64_t(info.duration.seconds() * double(info.nominalFrameRate))));
        throughput.framesPerSecond = double(throughput.frames) / seconds_;
        throughput.cpuMillisecondsPerFrame =
            throughput.frames ? result.cpuSeconds * 1000 / double(throughput.frames) : 0;
        return throughput;
    }

    const test::Xvfb& xvfb_;
    const double seconds_;
    const double fillSeconds_;
};

void measureMemory(const test::Xvfb& xvfb, double seconds) {
    const test::MovingContent::PixelArea area{320, 180, 1280, 720};
    Painter painter(xvfb.display(), area);
    test::TempDir home;
    const auto report = home / "record.txt";
    const auto result =
        runProcess({PINDLE_CAPTURE_EXECUTABLE, "record", "--region", "320,180,1280,720",
                    "--seconds", std::to_string(seconds)},
                   {"DISPLAY=" + xvfb.display(), "PINDLE_CAPTURE_HOME=" + home.path().string(),
                    "PINDLE_LOG=error"},
                   report.string());
    // "recording PATH: WxH, D s, F fps, N frames" and "frames delivered: X, dropped: Y".
    uintmax_t movieBytes = 0;
    unsigned long long movieFrames = 0, delivered = 0, dropped = 0;
    std::ifstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("recording ", 0) == 0) {
            const auto colon = line.find(": ");
            movieBytes = std::filesystem::file_size(line.substr(10, colon - 10));
            const auto fps = line.find(" fps, ");
            movieFrames = std::strtoull(line.c_str() + fps + 6, nullptr, 10);
        } else {
            std::sscanf(line.c_str(), "frames delivered: %llu, dropped: %llu", &delivered,
                        &dropped);
        }
    }
    if (result.status != 0 || movieFrames == 0) {
        std::printf("\npeak memory: the %.0f s capture failed\n", seconds);
        return;
    }
    // The ring keeps 1800 frames; below 60 frames per second they span more than 30 s, and
    // the movie (30 s from the ring's oldest frame) holds only part of them.
    const double frameBytes = double(movieBytes) / double(movieFrames);
    const double ringMB = frameBytes * double(std::min<unsigned long long>(delivered, 1800)) / 1e6;
    const double peakMB = double(result.maxRssKiB) * 1024 / 1e6;
    std::printf(
        "\npeak memory of a %.0f s capture at 1280x720 (%.1f frames per second, %llu "
        "dropped):\n  peak %.1f MB; encoded 30 s movie %.1f MB; encoded ring %.1f MB "
        "(%llu frames)\n  peak minus encoded ring: %.1f MB (budget 150 MB: %s)\n",
        seconds, double(delivered) / seconds, dropped, peakMB, double(movieBytes) / 1e6, ringMB,
        std::min<unsigned long long>(delivered, 1800), peakMB - ringMB,
        peakMB - ringMB <= 150 ? "within" : "OVER");
}

}  // namespace
}  // namespace pindle

int main(int argc, char** argv) {
    double seconds = 20, fillSeconds = 35, memorySeconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const double value = std::atof(argv[i + 1]);
        if (arg == "--seconds") {
            seconds = value;
        } else if (arg == "--fill-seconds") {
            fillSeconds = value;
        } else if (arg == "--memory-seconds") {
            memorySeconds = value;
        } else if (arg == "--detailed") {
            pindle::gDetailedContent = value != 0;
        }
    }
    pindle::log::setLevel(pindle::log::Level::Error);
    pindle::ffmpeg::installMovieOpener();
    pindle::test::Xvfb xvfb("1920x1080x24");
    if (!xvfb.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    pindle::Bench bench(xvfb, seconds, fillSeconds);
    bench.run(1280, 720, true);
    bench.run(1920, 1080, false);
    if (memorySeconds > 0) {
        pindle::measureMemory(xvfb, memorySeconds);
    }
    return 0;
}
