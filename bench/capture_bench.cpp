// Screen capture throughput, capture-last latency and memory of the capture engine, each
// beside FFmpeg doing the same job in the same run, on a private Xvfb with moving content.
//
//   pindle_capture_bench [--seconds S] [--repeat R] [--fill-seconds F] [--memory-seconds M]
//                        [--detailed D]
//
// S: length of each throughput run (default 10); R: runs of each size (default 3), whose
// spread is printed; F: longest wait for a full 30-second ring before the capture-last
// (default 35; 0 skips it); M: length of the memory run (default 60; 0 skips it); D: 1
// (default) paints random 8 x 8 tiles, which need many bits per frame; 0 paints stripes and a
// moving bar, which encode small. The content changes about 120 times a second, so every
// frame grabbed at 60 per second should differ from the one before.
//
// The reference is what a user would type: ffmpeg -f x11grab ... -c:v libx264 -preset
// ultrafast, here with every frame a key frame, NV12 and the capture's bit rate like ours.
// CPU is CPU time (user and system), which other work on the machine disturbs less than
// wall time. Fidelity compares every 30th frame of each movie with the uncompressed frame
// that went into the encoder (for ffmpeg: a lossless copy written in a separate short run).

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
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
    double cpuMillisecondsPerFrame = 0;
    int64_t written = 0;   // frames in the movie
    int64_t distinct = 0;  // of those, frames that differ from the one before
    int64_t dropped = 0;   // frames the screen showed that are not in the movie
    double psnr = 0;       // luma, dB
    double ssim = 0;
};

void printRow(const char* what, double ours, double reference, const char* unit) {
    std::printf("  %-28s pindle %9.2f %-4s  ffmpeg %9.2f %-4s  ratio %.2f\n", what, ours, unit,
                reference, unit, reference > 0 ? ours / reference : 0.0);
}

int runShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Frames of a movie and how many differ visibly from the frame before (mean absolute
// difference of a sample of pixels above one level).
std::pair<int64_t, int64_t> countFrames(const std::filesystem::path& movie) {
    auto opened = media::openMovie(movie);
    if (!opened) {
        return {0, 0};
    }
    auto reader = (*opened)->makeFrameReader({});
    if (!reader) {
        return {0, 0};
    }
    int64_t frames = 0, distinct = 0;
    ImagePtr previous;
    for (;;) {
        auto next = (*reader)->nextFrame();
        if (!next || !next->has_value()) {
            break;
        }
        ImagePtr image = (**next).image;
        if (!image) {
            continue;
        }
        ++frames;
        if (!previous) {
            ++distinct;
        } else {
            int64_t sum = 0, samples = 0;
            for (int y = 0; y < image->height; y += 4) {
                const uint8_t* a = image->row(y);
                const uint8_t* b = previous->row(y);
                for (int x = 0; x < image->width * 4; x += 12) {
                    sum += std::abs(int(a[x]) - int(b[x]));
                    ++samples;
                }
            }
            if (sum > samples) {
                ++distinct;
            }
        }
        previous = image;
    }
    return {frames, distinct};
}

// Mean of one statistic ("key:value" fields) in an ffmpeg stats file.
double meanStatistic(const std::filesystem::path& file, const std::string& key) {
    std::ifstream in(file);
    double sum = 0;
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        if (const auto at = line.find(key + ":"); at != std::string::npos) {
            sum += std::atof(line.c_str() + at + key.size() + 1);
            ++count;
        }
    }
    return count ? sum / count : 0;
}

// PSNR (luma) and SSIM of the frames of movie picked by select against the reference
// frames, taken in order.
std::pair<double, double> fidelity(const std::filesystem::path& movie,
                                   const std::string& referenceInput, const std::string& select,
                                   const std::filesystem::path& dir) {
    const auto psnr = dir / "psnr.txt";
    const auto ssim = dir / "ssim.txt";
    runShell("ffmpeg -nostdin -v error -y -i " + movie.string() + " " + referenceInput +
             " -lavfi \"[0:v]" + select +
             "format=nv12,settb=1/60,setpts=N,split[a0][a1];"
             "[1:v]format=nv12,settb=1/60,setpts=N,split[b0][b1];[a0][b0]psnr=stats_file=" +
             psnr.string() + ";[a1][b1]ssim=stats_file=" + ssim.string() + "\" -f null -");
    return {meanStatistic(psnr, "psnr_y"), meanStatistic(ssim, "All")};
}

// Every compression session it makes keeps every 30th frame it is given (a reference, no
// copy), for the fidelity figures.
class KeptFrames {
public:
    static constexpr int kEvery = 30;

    CompressionSessionFactory wrap(CompressionSessionFactory factory) {
        return [this, factory](int width, int height, uint32_t codec,
                               CompressionSession::OutputCallback callback)
                   -> Result<std::unique_ptr<CompressionSession>> {
            auto session = factory(width, height, codec, std::move(callback));
            if (!session) {
                return session.error();
            }
            return std::unique_ptr<CompressionSession>(
                std::make_unique<Keeping>(std::move(*session), *this));
        };
    }

    // The kept frames as one NV12 file; its ffmpeg input arguments.
    std::string writeRaw(const std::filesystem::path& file) {
        std::lock_guard lock(mutex_);
        std::ofstream out(file, std::ios::binary);
        for (const auto& frame : frames_) {
            out.write(reinterpret_cast<const char*>(frame->storage.data()),
                      std::streamsize(frame->storage.size()));
        }
        if (frames_.empty()) {
            return {};
        }
        return "-f rawvideo -pix_fmt nv12 -s " + std::to_string(frames_.front()->width) + "x" +
               std::to_string(frames_.front()->height) + " -i " + file.string();
    }

private:
    class Keeping final : public CompressionSession {
    public:
        Keeping(std::unique_ptr<CompressionSession> inner, KeptFrames& kept)
            : inner_(std::move(inner)), kept_(kept) {}
        Status setMaxKeyFrameInterval(int frames) override {
            return inner_->setMaxKeyFrameInterval(frames);
        }
        Status setMaxKeyFrameIntervalDuration(double seconds) override {
            return inner_->setMaxKeyFrameIntervalDuration(seconds);
        }
        Status setPixelBufferPixelFormat(uint32_t format) override {
            return inner_->setPixelBufferPixelFormat(format);
        }
        Status setAverageBitRate(int64_t bits) override { return inner_->setAverageBitRate(bits); }
        Status prepareToEncodeFrames() override { return inner_->prepareToEncodeFrames(); }
        Status encodeFrame(PixelBufferPtr frame, MediaTime time, MediaTime duration,
                           bool key) override {
            if (count_++ % kEvery == 0) {
                std::lock_guard lock(kept_.mutex_);
                kept_.frames_.push_back(frame);
            }
            return inner_->encodeFrame(std::move(frame), time, duration, key);
        }
        void completeFrames() override { inner_->completeFrames(); }

    private:
        std::unique_ptr<CompressionSession> inner_;
        KeptFrames& kept_;
        int64_t count_ = 0;
    };

    std::mutex mutex_;  // guards frames_
    std::vector<PixelBufferPtr> frames_;
};

struct Spread {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double median() const {
        auto sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[sorted.size() / 2];
    }
    double low() const {
        return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
    }
    double high() const {
        return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    }
};

class Bench {
public:
    Bench(const test::Xvfb& xvfb, double seconds, double fillSeconds, int repeat)
        : xvfb_(xvfb), seconds_(seconds), fillSeconds_(fillSeconds), repeat_(repeat) {}

    void run(int width, int height, bool captureLast) {
        const test::MovingContent::PixelArea area{(1920 - width) / 2, (1080 - height) / 2, width,
                                                  height};
        Painter painter(xvfb_.display(), area);
        const int shown = int(std::lround(seconds_ * 60));
        std::printf(
            "\ncapture %dx%d at 60 frames per second for %.0f s (%d frames shown), every frame "
            "IDR, %d bit/s;\npindle x264 %s/%s, ffmpeg x264 ultrafast/zerolatency; %d runs:\n",
            width, height, seconds_, shown, bitRate(width, height),
            ffmpeg::captureX264Settings().preset.c_str(),
            ffmpeg::captureX264Settings().tune.c_str(), repeat_);
        std::fflush(stdout);
        Spread cpuRatio, oursCpu, theirsCpu;
        for (int i = 0; i < repeat_; ++i) {
            const Throughput ours = runOurs(area, false, i == 0);
            const Throughput theirs = runFFmpeg(area, i == 0);
            if (i == 0) {
                printRow("frames written", double(ours.written), double(theirs.written), "");
                printRow("distinct frames", double(ours.distinct), double(theirs.distinct), "");
                printRow("dropped frames", double(ours.dropped), double(theirs.dropped), "");
                printRow("PSNR (luma) vs grabbed", ours.psnr, theirs.psnr, "dB");
                std::printf("  %-28s pindle %9.5f       ffmpeg %9.5f\n", "SSIM vs grabbed",
                            ours.ssim, theirs.ssim);
            } else {
                std::printf("  run %d: frames pindle %lld, ffmpeg %lld; dropped %lld / %lld\n",
                            i + 1, (long long)ours.written, (long long)theirs.written,
                            (long long)ours.dropped, (long long)theirs.dropped);
            }
            printRow("CPU per frame", ours.cpuMillisecondsPerFrame, theirs.cpuMillisecondsPerFrame,
                     "ms");
            std::fflush(stdout);
            oursCpu.add(ours.cpuMillisecondsPerFrame);
            theirsCpu.add(theirs.cpuMillisecondsPerFrame);
            if (theirs.cpuMillisecondsPerFrame > 0) {
                cpuRatio.add(ours.cpuMillisecondsPerFrame / theirs.cpuMillisecondsPerFrame);
            }
        }
        std::printf(
            "  CPU per frame over %d runs: pindle %.2f ms (%.2f-%.2f), ffmpeg %.2f ms "
            "(%.2f-%.2f)\n  CPU ratio pindle/ffmpeg: median %.2f, spread %.2f-%.2f (goal <= "
            "0.80)\n",
            repeat_, oursCpu.median(), oursCpu.low(), oursCpu.high(), theirsCpu.median(),
            theirsCpu.low(), theirsCpu.high(), cpuRatio.median(), cpuRatio.low(), cpuRatio.high());
        if (captureLast && fillSeconds_ > 0) {
            runOurs(area, true, false);
        }
    }

private:
    static int bitRate(int width, int height) {
        const float area = float(width * height);
        return int(std::min(double(area * 11.4f) * 60.0, 120'000'000.0));
    }

    int64_t shownFrames() const { return std::lround(seconds_ * 60); }

    Throughput runOurs(const test::MovingContent::PixelArea& area, bool captureLast, bool examine) {
        test::TempDir dir;
        RCFileManager files(dir.appDirectories());
        NotificationCenter center;
        RCDataStore store(files, center);
        KeptFrames kept;
        RCCaptureEngineEnvironment environment;
        environment.screenCapture = x11::makeScreenCapturePlatform(xvfb_.display());
        environment.compressionSessionFactory = kept.wrap(ffmpeg::makeCompressionSession);
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
        const auto before = engine->statistics();
        const double cpuBefore = processCpuSeconds();
        pumpUntil([] { return false; }, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::duration<double>(seconds_)));
        const double cpu = processCpuSeconds() - cpuBefore;
        const auto after = engine->statistics();
        const auto delivered = int64_t(after.framesDelivered - before.framesDelivered);
        result.cpuMillisecondsPerFrame = delivered ? cpu * 1000 / double(delivered) : 0;

        if (captureLast) {
            measureCaptureLast(*engine, *events, store);
        }
        engine->stopCapturing();
        pumpUntil([&] { return events->stopped == 1 && !engine->isProcessing(); }, 120s);
        dispatch::drainMainQueue();
        // Frames delivered in the measured span against the frames the screen showed in it;
        // the movie also holds the few frames grabbed while the stop was on its way.
        result.dropped = std::max<int64_t>(0, shownFrames() - delivered);
        result.written = delivered;
        const auto recordings = store.allRecordings();
        if (examine && !recordings.empty()) {
            const auto movie = recordings.back()->url();
            std::tie(result.written, result.distinct) = countFrames(movie);
            const std::string reference = kept.writeRaw(dir / "kept.nv12");
            if (!reference.empty()) {
                std::tie(result.psnr, result.ssim) =
                    fidelity(movie, reference,
                             "select='not(mod(n\\," + std::to_string(KeptFrames::kEvery) + "))',",
                             dir.path());
            }
        }
        return result;
    }

    void measureCaptureLast(RCCaptureEngine& engine, Events& events, RCDataStore& store) {
        if (fillSeconds_ <= 0) {
            return;
        }
        const auto fillDeadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
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
        std::printf("  capture-last of a full ring: %lld frames, %.2f s, %.1f MB\n",
                    (long long)frames, recording->duration().seconds(), double(bytes) / 1e6);
        printRow("request to ready recording", ours, reference.wallSeconds, "s");
    }

    std::vector<std::string> ffmpegGrab(const test::MovingContent::PixelArea& area,
                                        double seconds) const {
        const std::string size = std::to_string(area.width) + "x" + std::to_string(area.height);
        const std::string input =
            xvfb_.display() + "+" + std::to_string(area.x) + "," + std::to_string(area.y);
        return {"ffmpeg", "-nostdin",    "-v",          "error", "-y",
                "-f",     "x11grab",     "-draw_mouse", "0",     "-framerate",
                "60",     "-video_size", size,          "-t",    std::to_string(seconds),
                "-i",     input};
    }

    std::vector<std::string> ffmpegEncode(const test::MovingContent::PixelArea& area) const {
        return {"-c:v",         "libx264",
                "-preset",      "ultrafast",
                "-tune",        "zerolatency",
                "-x264-params", "keyint=1",
                "-b:v",         std::to_string(bitRate(area.width, area.height)),
                "-pix_fmt",     "nv12",
                "-fps_mode",    "passthrough"};
    }

    Throughput runFFmpeg(const test::MovingContent::PixelArea& area, bool examine) {
        test::TempDir dir;
        const auto out = dir / "reference.mp4";
        auto command = ffmpegGrab(area, seconds_);
        for (auto& arg : ffmpegEncode(area)) {
            command.push_back(arg);
        }
        command.push_back(out.string());
        const auto result = runProcess(command);
        Throughput throughput;
        auto movie = media::openMovie(out);
        if (result.status != 0 || !movie) {
            std::printf("  ffmpeg failed (status %d)\n", result.status);
            return throughput;
        }
        std::tie(throughput.written, throughput.distinct) = countFrames(out);
        throughput.dropped = std::max<int64_t>(0, shownFrames() - throughput.written);
        throughput.cpuMillisecondsPerFrame =
            throughput.written ? result.cpuSeconds * 1000 / double(throughput.written) : 0;
        if (examine) {
            // Untimed: the same grab written twice, encoded and losslessly, for 3 s.
            const auto coded = dir / "coded.mp4";
            const auto lossless = dir / "lossless.nut";
            auto twice = ffmpegGrab(area, 3);
            twice.insert(twice.end(), {"-map", "0"});
            for (auto& arg : ffmpegEncode(area)) {
                twice.push_back(arg);
            }
            twice.insert(twice.end(), {coded.string(), "-map", "0", "-c:v", "rawvideo", "-pix_fmt",
                                       "nv12", "-fps_mode", "passthrough", lossless.string()});
            if (runProcess(twice).status == 0) {
                std::tie(throughput.psnr, throughput.ssim) =
                    fidelity(coded, "-i " + lossless.string(), "", dir.path());
            }
        }
        return throughput;
    }

    const test::Xvfb& xvfb_;
    const double seconds_;
    const double fillSeconds_;
    const int repeat_;
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
    double seconds = 10, fillSeconds = 35, memorySeconds = 60;
    int repeat = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const double value = std::atof(argv[i + 1]);
        if (arg == "--seconds") {
            seconds = value;
        } else if (arg == "--fill-seconds") {
            fillSeconds = value;
        } else if (arg == "--memory-seconds") {
            memorySeconds = value;
        } else if (arg == "--repeat") {
            repeat = std::max(1, int(value));
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
    pindle::Bench bench(xvfb, seconds, fillSeconds, repeat);
    bench.run(1280, 720, true);
    bench.run(1920, 1080, false);
    if (memorySeconds > 0) {
        pindle::measureMemory(xvfb, memorySeconds);
    }
    return 0;
}
