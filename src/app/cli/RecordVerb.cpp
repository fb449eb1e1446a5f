#include "app/cli/RecordVerb.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <sstream>

#include "app/cli/CaptureBackend.h"
#include "app/cli/CommandLine.h"
#include "base/dispatch.h"
#include "capture/RCCaptureEngine.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "platform/ffmpeg/ffmpeg_compression.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_writer.h"
#include "settings/RCUserSettings.h"

namespace pindle::cli {
namespace {

struct RecordArguments {
    Rect region;  // top-left origin, y down
    double seconds = 0;
    std::vector<double> captureLastAt;
    bool cursor = false;
    bool clicks = false;
};

// The longest recording, and the furthest a capture-last may lie from the start.
constexpr double kMaxSeconds = 24 * 60 * 60;
// Region numbers lie within this many points of the origin: far beyond any screen, and
// well inside what the capture arithmetic can hold.
constexpr double kMaxRegionPoints = 1'000'000;

// A finite number, the whole text; nothing for "inf", "nan" or a value out of range.
std::optional<double> parseNumber(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

Result<RecordArguments> parse(const std::vector<std::string>& args) {
    RecordArguments parsed;
    bool haveRegion = false;
    bool haveSeconds = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        auto number = [&]() -> std::optional<double> {
            auto text = value();
            return text ? parseNumber(*text) : std::nullopt;
        };
        if (arg == "--region") {
            auto text = value();
            std::vector<double> numbers;
            if (text) {
                std::stringstream parts(*text);
                std::string part;
                while (std::getline(parts, part, ',')) {
                    if (auto parsedPart = parseNumber(part)) {
                        numbers.push_back(*parsedPart);
                    } else {
                        numbers.clear();
                        break;
                    }
                }
            }
            const bool inRange = std::all_of(numbers.begin(), numbers.end(), [](double n) {
                return std::fabs(n) <= kMaxRegionPoints;
            });
            if (numbers.size() != 4 || numbers[2] <= 0 || numbers[3] <= 0 || !inRange) {
                return Error{
                    "--region takes X,Y,W,H with a positive width and height, each number "
                    "within 1000000 points"};
            }
            parsed.region = Rect{{numbers[0], numbers[1]}, {numbers[2], numbers[3]}};
            haveRegion = true;
        } else if (arg == "--seconds") {
            auto seconds = number();
            if (!seconds || *seconds <= 0 || *seconds > kMaxSeconds) {
                return Error{"--seconds takes a positive number of seconds, at most a day (86400)"};
            }
            parsed.seconds = *seconds;
            haveSeconds = true;
        } else if (arg == "--capture-last-at") {
            auto at = number();
            if (!at || *at < 0 || *at > kMaxSeconds) {
                return Error{"--capture-last-at takes a number of seconds, at most a day (86400)"};
            }
            parsed.captureLastAt.push_back(*at);
        } else if (arg == "--cursor") {
            parsed.cursor = true;
        } else if (arg == "--clicks") {
            parsed.clicks = true;
        } else {
            return Error{unexpectedArgument(arg)};
        }
    }
    if (!haveRegion || !haveSeconds) {
        return Error{"--region and --seconds are required"};
    }
    for (double at : parsed.captureLastAt) {
        if (at >= parsed.seconds) {
            return Error{"--capture-last-at must come before the end of the recording (--seconds)"};
        }
    }
    return parsed;
}

// Prints recordings as their movies are finished.
class Reporter : public RCCaptureEngineDelegate {
public:
    explicit Reporter(RCDataStore& store) : store_(store) {
        for (const auto& recording : store_.allRecordings()) {
            known_.insert(recording.get());
        }
    }

    void captureEngineDidStartCapturing(RCCaptureEngine&) override { started = true; }
    void captureEngineDidFailToStartCapturing(RCCaptureEngine&, const Error& error) override {
        std::fprintf(stderr, "pindle-capture record: %s\n", error.message.c_str());
        failed = true;
    }
    void captureEngineDidFailWhileCapturing(RCCaptureEngine&, const Error& error) override {
        std::fprintf(stderr, "pindle-capture record: %s\n", error.message.c_str());
        captureFailed = true;
    }
    void captureEngineDidStopCapturing(RCCaptureEngine&) override { stopped = true; }
    void captureEngineDidOutputCapture(RCCaptureEngine&) override { printNewRecordings(); }
    void captureEngineDidFailToOutputCapture(RCCaptureEngine&, const Error& error) override {
        std::fprintf(stderr, "pindle-capture record: %s\n", error.message.c_str());
        ++movieFailures;
    }

    void printNewRecordings() {
        for (const auto& recording : store_.allRecordings()) {
            if (!recording->isReady() || !known_.insert(recording.get()).second) {
                continue;
            }
            const Size size = recording->dimensions();
            std::printf("recording %s: %gx%g, %.3f s, %.2f fps, %" PRIu64 " frames\n",
                        recording->url().c_str(), size.width, size.height,
                        recording->duration().seconds(), double(recording->FPS()),
                        recording->frameCount());
            std::fflush(stdout);
            ++recordings;
        }
    }

    bool started = false;
    bool failed = false;
    bool captureFailed = false;  // the engine ended the capture on its own
    bool stopped = false;
    int recordings = 0;
    int movieFailures = 0;

private:
    RCDataStore& store_;
    std::set<const RCRecording*> known_;
};

}  // namespace

int runRecord(const std::vector<std::string>& args) {
    auto parsed = parse(args);
    if (!parsed) {
        std::fprintf(stderr, "pindle-capture record: %s\n", parsed.error().message.c_str());
        return 2;
    }
    const RecordArguments& arguments = *parsed;
    ffmpeg::installMovieOpener();

    auto backend = chooseCaptureBackend();
    if (!backend) {
        std::fprintf(stderr, "pindle-capture record: %s\n", backend.error().message.c_str());
        return 2;
    }
    RCCaptureEngineEnvironment environment;
    environment.screenCapture = makeScreenCapture(*backend);
    environment.compressionSessionFactory = ffmpeg::makeCompressionSession;
    environment.movieWriterFactory = ffmpeg::makeMovieWriter;
    environment.audioSource = [] { return RCUserSettings::getCurrentInstance().audioSource(); };
    const auto screens = environment.screenCapture->screens();
    if (screens.empty()) {
        std::fprintf(stderr, "%s",
                     backend->name == "wayland"
                         ? "pindle-capture record: no Wayland display to capture\n"
                         : "pindle-capture record: no X display to capture (is DISPLAY set?)\n");
        return 1;
    }
    // Top-left origin to the program's global coordinates (bottom-left of the primary).
    const Rect& primary = screens.front().frame;
    const Rect region{{arguments.region.minX(),
                       primary.maxY() - (arguments.region.minY() + arguments.region.height())},
                      arguments.region.size};

    auto& store = RCDataStore::getCurrentInstance();
    // A store that cannot be read would be written over with only the new recordings.
    if (auto loaded = store.loadStatus(); !loaded) {
        std::fprintf(stderr, "pindle-capture record: %s\n", loaded.error().message.c_str());
        return 1;
    }
    auto reporter = std::make_shared<Reporter>(store);
    auto engine = RCCaptureEngine::create(environment);
    engine->setDelegate(reporter);
    RCCaptureOptions options;
    options.captureCursor = arguments.cursor;
    options.captureMouseClicks = arguments.clicks;
    if (auto started = engine->startCapturingFrame(region, options); !started) {
        std::fprintf(stderr, "pindle-capture record: %s\n", started.error().message.c_str());
        return 1;
    }
    using namespace std::chrono;
    if (!dispatch::runUntil([&] { return reporter->started || reporter->failed; }, 10s) ||
        reporter->failed) {
        if (!reporter->failed) {
            std::fprintf(stderr, "pindle-capture record: the capture did not start\n");
        }
        return 1;
    }
    for (double at : arguments.captureLastAt) {
        dispatch::after(duration_cast<nanoseconds>(duration<double>(at)), dispatch::mainQueue(),
                        [engine] { engine->outputCaptureResetBuffer(false, nullptr); });
    }
    bool stopRequested = false;
    dispatch::after(duration_cast<nanoseconds>(duration<double>(arguments.seconds)),
                    dispatch::mainQueue(), [&] {
                        engine->stopCapturing();
                        stopRequested = true;
                    });
    const auto limit = duration_cast<milliseconds>(duration<double>(arguments.seconds)) + 120s;
    const bool finished = dispatch::runUntil(
        [&] {
            return (stopRequested || reporter->captureFailed) && reporter->stopped &&
                   !engine->isProcessing();
        },
        limit);
    dispatch::drainMainQueue();
    reporter->printNewRecordings();
    const CaptureStatistics statistics = engine->statistics();
    std::printf("frames delivered: %" PRIu64 ", dropped: %" PRIu64 "\n", statistics.framesDelivered,
                statistics.framesDropped);
    if (!finished) {
        std::fprintf(stderr, "pindle-capture record: the movies were not finished in time\n");
        return 1;
    }
    if (auto saved = store.saveStatus(); !saved) {
        std::fprintf(stderr, "pindle-capture record: the library could not be saved: %s\n",
                     saved.error().message.c_str());
        return 1;
    }
    if (reporter->movieFailures > 0 || reporter->captureFailed) {
        return 1;
    }
    if (reporter->recordings == 0) {
        std::fprintf(stderr, "pindle-capture record: no frame was captured\n");
        return 1;
    }
    return 0;
}

}  // namespace pindle::cli
