#include "app/cli/ExportVerb.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "app/cli/ClipboardServer.h"
#include "app/cli/CommandLine.h"
#include "base/atomic_file.h"
#include "base/dispatch.h"
#include "editor/IdleTrim.h"
#include "editor/RCBatchExport.h"
#include "editor/RCGIFFileSizeEstimator.h"
#include "editor/RCGIFGenerator.h"
#include "editor/RCRecordingLayers.h"
#include "library/RCDataStore.h"
#include "library/RCEditParameters.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "platform/media.h"

namespace pindle::cli {

const char* const kExportUsage =
    "(RECORDING-INDEX | MOVIE) (--to PATH | --to - | --copy) [--format gif|mp4|jpeg|batch] "
    "[--start S --end S] "
    "[--loop normal|reverse|ping-pong] [--size original|640|480|320] "
    "[--rate standard|high|low|hd] [--speed 0.5|1|1.5|2|4] [--trim-idle] [--crop X,Y,W,H] "
    "[--max-size BYTES|NKB|NMB] [--estimate]";

namespace {

constexpr uint64_t kLargeGIFBytes = 50'000'000;
// Times on the command line: more than this many seconds is no time in any movie, and far
// larger values would overflow the movie time arithmetic.
constexpr double kLongestSeconds = 1e9;

struct ExportRequest {
    std::string source;
    std::filesystem::path to;
    std::string format;
    std::optional<double> start;
    std::optional<double> end;
    std::optional<int64_t> loopType;
    std::optional<int64_t> resizeValue;
    std::optional<int64_t> frameRate;
    std::optional<double> speed;
    std::optional<CropRect> crop;
    bool trimIdle = false;
    bool copy = false;
    std::optional<uint64_t> maxBytes;
    bool estimate = false;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "pindle-capture export: %s\nUsage: pindle-capture export %s\n",
                 message.c_str(), kExportUsage);
    return 2;
}

std::optional<double> parseSeconds(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0 ||
        value > kLongestSeconds) {
        return std::nullopt;
    }
    return value;
}

// "5MB", "750KB", "2.5 MB" (decimal units, any case) or a number of bytes.
std::optional<uint64_t> parseByteSize(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        return std::nullopt;
    }
    std::string unit(end);
    std::erase(unit, ' ');
    for (char& c : unit) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    const double scale = unit == "MB"                  ? 1e6
                         : unit == "KB"                ? 1e3
                         : unit.empty() || unit == "B" ? 1
                                                       : 0;
    const double bytes = value * scale;
    if (scale == 0 || !std::isfinite(bytes) || bytes < 1 || bytes > 1e15) {
        return std::nullopt;
    }
    return uint64_t(bytes);
}

std::optional<int64_t> parseCode(const std::string& text,
                                 const std::map<std::string, int64_t>& codes) {
    auto it = codes.find(text);
    return it == codes.end() ? std::nullopt : std::optional<int64_t>(it->second);
}

// Fills request from the arguments; returns an error message, or empty.
std::string parse(const std::vector<std::string>& args, ExportRequest& request) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == "--estimate") {
            request.estimate = true;
            continue;
        }
        if (arg == "--trim-idle") {
            request.trimIdle = true;
            continue;
        }
        if (arg == "--copy") {
            request.copy = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            if (!request.source.empty()) {
                return "more than one recording or movie given";
            }
            request.source = arg;
            continue;
        }
        if (arg != "--to" && arg != "--format" && arg != "--start" && arg != "--end" &&
            arg != "--loop" && arg != "--size" && arg != "--rate" && arg != "--max-size" &&
            arg != "--speed" && arg != "--crop") {
            return unexpectedArgument(arg);
        }
        auto text = value();
        if (!text) {
            return arg + " needs a value";
        }
        if (arg == "--to") {
            request.to = *text;
        } else if (arg == "--format") {
            if (*text != "gif" && *text != "mp4" && *text != "jpeg" && *text != "batch") {
                return "unknown format '" + *text + "'";
            }
            request.format = *text;
        } else if (arg == "--start" || arg == "--end") {
            auto seconds = parseSeconds(*text);
            if (!seconds) {
                return arg + " takes seconds, not '" + *text + "'";
            }
            (arg == "--start" ? request.start : request.end) = seconds;
        } else if (arg == "--loop") {
            request.loopType = parseCode(*text, {{"normal", 0}, {"reverse", 1}, {"ping-pong", 2}});
            if (!request.loopType) {
                return "unknown loop type '" + *text + "'";
            }
        } else if (arg == "--size") {
            request.resizeValue =
                parseCode(*text, {{"original", 0}, {"640", 1}, {"480", 2}, {"320", 3}});
            if (!request.resizeValue) {
                return "unknown size '" + *text + "'";
            }
        } else if (arg == "--max-size") {
            request.maxBytes = parseByteSize(*text);
            if (!request.maxBytes) {
                return "--max-size takes a size such as 5MB or 800KB, not '" + *text + "'";
            }
        } else if (arg == "--rate") {
            request.frameRate =
                parseCode(*text, {{"standard", 0}, {"high", 1}, {"low", 2}, {"hd", 3}});
            if (!request.frameRate) {
                return "unknown frame rate '" + *text + "'";
            }
        } else if (arg == "--speed") {
            char* end = nullptr;
            double speed = std::strtod(text->c_str(), &end);
            if (text->empty() || *end != '\0' || !isPlaybackSpeed(speed)) {
                return "unknown speed '" + *text + "' (0.5, 1, 1.5, 2 or 4)";
            }
            request.speed = speed;
        } else if (arg == "--crop") {
            request.crop = parseCropRect(*text);
            if (!request.crop) {
                return "--crop takes X,Y,W,H in pixels from the top-left corner (whole numbers, "
                       "W and H at least 1), not '" +
                       *text + "'";
            }
        }
    }
    if (request.source.empty()) {
        return "no recording or movie given";
    }
    // A number too large for any library is a mistake in the command, unless a file has
    // that name.
    size_t number = 0;
    const char* first = request.source.data();
    const char* last = first + request.source.size();
    std::error_code missing;
    if (std::from_chars(first, last, number).ec == std::errc::result_out_of_range &&
        !std::filesystem::exists(request.source, missing)) {
        return "no library has a recording " + request.source;
    }
    if (request.to.empty() && !request.estimate && !request.copy) {
        return "no output given (--to PATH, --to - or --copy)";
    }
    if (request.format.empty() && (request.to == "-" || request.to.empty())) {
        request.format = "gif";
    }
    if (request.to == "-" && request.estimate) {
        return "--estimate prints on standard output, where --to - writes the file";
    }
    if (request.to == "-" && request.format == "batch") {
        return "a batch is a folder of files and cannot go to standard output";
    }
    if (request.copy && request.format != "gif") {
        return "--copy puts a GIF on the clipboard; it takes no other format";
    }
    if (request.format.empty()) {
        std::string extension = request.to.extension().string();
        request.format = extension == ".mp4"                           ? "mp4"
                         : extension == ".jpg" || extension == ".jpeg" ? "jpeg"
                         : extension.empty() && !request.to.empty()    ? "batch"
                                                                       : "gif";
    }
    if (request.maxBytes && request.format != "gif") {
        return "--max-size is for GIF exports";
    }
    if (request.maxBytes && (request.to == "-" || request.copy)) {
        return "--max-size writes a file of its own: give it --to PATH";
    }
    return {};
}

// The library's recording at item (1 is the newest, as `library` lists them).
Result<RCRecordingPtr> libraryRecording(const std::string& item) {
    auto recordings = RCDataStore::getCurrentInstance().allRecordings();
    size_t number = 0;
    auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), number);
    if (error != std::errc() || end != item.data() + item.size() || number == 0 ||
        number > recordings.size()) {
        return Error{"the library has no recording " + item + " (it has " +
                     std::to_string(recordings.size()) + "; see pindle-capture library)"};
    }
    RCRecordingPtr stored = recordings[recordings.size() - number];
    if (!stored->isReady()) {
        return Error{"recording " + item + " is still being written"};
    }
    return stored;
}

// A fresh recording of the source, so that the options never change a stored recording. A
// library recording brings a copy of its own edits, which the options then change.
Result<RCRecordingPtr> openSource(const std::string& source) {
    bool isIndex = !source.empty() && source.find_first_not_of("0123456789") == std::string::npos;
    std::filesystem::path movie = source;
    std::shared_ptr<RCEditParameters> storedParameters;
    // A path the system cannot look at (too long, a loop of links, a folder that may not
    // be searched) is reported, not thrown.
    std::error_code error;
    bool exists = std::filesystem::exists(movie, error);
    if (error) {
        return Error{"cannot read " + movie.string() + ": " + error.message()};
    }
    if (isIndex && !exists) {
        auto stored = libraryRecording(source);
        if (!stored) {
            return stored.error();
        }
        movie = (*stored)->url();
        if (auto parameters = (*stored)->editParameters()) {
            storedParameters = parameters->copy();
        }
    }
    exists = std::filesystem::exists(movie, error);
    if (error) {
        return Error{"cannot read " + movie.string() + ": " + error.message()};
    }
    if (!exists) {
        return Error{"no movie at " + movie.string()};
    }
    // A movie that does not open is reported once, here, not also by the recording.
    if (auto opened = media::openMovie(movie); !opened) {
        return opened.error();
    }
    RCRecordingPtr recording = RCRecording::recordingWithURL(movie);
    if (!recording->hasVideoTrack()) {
        return Error{movie.string() + " has no readable video"};
    }
    if (storedParameters) {
        recording->setEditParameters(storedParameters);
    }
    return recording;
}

// Applies the command line's edit choices to the recording's edit parameters.
std::string applyEdits(const ExportRequest& request, RCRecording& recording) {
    auto parameters = recording.editParameters();
    MediaTime duration = recording.duration();
    if (request.start) {
        parameters->setTrimmedStartTime(MediaTime::makeWithSeconds(*request.start, 600000));
    }
    if (request.end) {
        parameters->setTrimmedEndTime(
            MediaTime::minimum(duration, MediaTime::makeWithSeconds(*request.end, 600000)));
    }
    if (parameters->trimmedStartTime() >= parameters->trimmedEndTime()) {
        return "the clip from " + std::to_string(parameters->trimmedStartTime().seconds()) +
               " s to " + std::to_string(parameters->trimmedEndTime().seconds()) +
               " s is empty (the movie lasts " + std::to_string(duration.seconds()) + " s)";
    }
    if (request.loopType) {
        parameters->setLoopType(*request.loopType);
    }
    if (request.resizeValue) {
        parameters->setResizeValue(*request.resizeValue);
    }
    if (request.frameRate) {
        parameters->setFrameRate(*request.frameRate);
    }
    if (request.speed) {
        parameters->setPlaybackSpeed(*request.speed);
    }
    if (request.crop) {
        // Cut to fit, a crop would give a picture of another size than the one asked for.
        Size picture = recording.dimensions();
        if (!cropFitsInside(*request.crop, picture)) {
            return "the crop " + formatCropRect(*request.crop) + " does not fit inside the " +
                   std::to_string(int(picture.width)) + "x" + std::to_string(int(picture.height)) +
                   " picture";
        }
        parameters->setCropRect(clampedCrop(request.crop, picture));
    }
    if (request.trimIdle) {
        media::MoviePtr movie = recording.asset();
        if (!movie) {
            return "cannot read the movie to find its idle start and end";
        }
        auto active =
            idle_trim::findActiveRange(*movie, parameters->trimmedStartTime(),
                                       parameters->trimmedEndTime(), recording.editedCrop());
        if (!active) {
            return "cannot find the idle start and end: " + active.error().message;
        }
        if (*active) {
            parameters->setTrimmedStartTime((*active)->start);
            parameters->setTrimmedEndTime((*active)->end);
            std::fprintf(stderr, "trimmed to %.3f s - %.3f s without the idle start and end\n",
                         (*active)->start.seconds(), (*active)->end.seconds());
        } else {
            std::fprintf(stderr, "the picture never changes: the trim is kept\n");
        }
    }
    return {};
}

RCExportOptions editorOptions(const RCRecording& recording) {
    RCExportOptions options;
    options.width = recording.editedWidth();
    options.height = recording.editedHeight();
    options.startTime = recording.editedStartTime();
    options.endTime = recording.editedEndTime();
    options.loopType = recording.editParameters()->loopType();
    options.fps = recording.editedFPS();
    options.speed = recording.editParameters()->playbackSpeed();
    addExportLayers(options, recording);
    return options;
}

class ProgressBar {
public:
    ProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}
    void show(float fraction) {
        if (!enabled_) {
            return;
        }
        int filled = int(std::lround(std::clamp(fraction, 0.0f, 1.0f) * 30));
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(30 - filled), ' ').c_str(),
                     int(std::lround(fraction * 100)));
        std::fflush(stderr);
    }
    void end() {
        if (enabled_) {
            std::fprintf(stderr, "\n");
        }
    }

private:
    bool enabled_;
};

// Pumps the main queue until done is set.
void waitFor(const std::atomic<bool>& done) {
    dispatch::runUntil([&] { return done.load(); }, std::chrono::hours(24));
}

// Writes the file's bytes to standard output.
bool copyToStandardOutput(const std::filesystem::path& file) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    char buffer[65536];
    bool ok = true;
    while (size_t n = std::fread(buffer, 1, sizeof buffer, in)) {
        if (std::fwrite(buffer, 1, n, stdout) != n) {
            ok = false;
            break;
        }
    }
    ok = ok && std::ferror(in) == 0 && std::fflush(stdout) == 0;
    std::fclose(in);
    return ok;
}

// Copies the GIF into a folder of its own, which the clipboard's process deletes when it
// stops serving, and puts it on the clipboard.
std::string copyToClipboard(const std::filesystem::path& gif, const std::string& name) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pindle-capture-copy-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return "cannot make a folder for the copied GIF";
    }
    std::filesystem::path served =
        std::filesystem::path(pattern) / ((name.empty() ? "Pindle Capture" : name) + ".gif");
    std::error_code error;
    std::filesystem::copy_file(gif, served, error);
    if (error) {
        std::filesystem::remove_all(pattern, error);
        return "cannot copy the GIF for the clipboard";
    }
    return copyGIFToClipboard(served);
}

// The size of the GIF of the recording's current edit, from the estimator, which makes it.
int64_t estimateGIFBytes(const RCRecordingPtr& recording) {
    std::atomic<bool> done = false;
    std::atomic<int64_t> bytes = 0;
    RCGIFFileSizeEstimator::defaultInstance().estimateFileSize(recording, [&](int64_t size) {
        bytes = size;
        done = true;
        dispatch::mainQueue()->async([] {});
    });
    waitFor(done);
    return bytes;
}

struct GIFChoice {
    int64_t resizeValue;
    int64_t frameRate;
};

// What --max-size may choose from, largest GIF first: the (cropped) picture's own width and
// the offered widths below it, at the chosen frame rate; then the same widths at each lower
// frame rate the editor offers.
std::vector<GIFChoice> gifChoices(const RCRecording& recording, int64_t frameRate) {
    const double ownWidth = recording.croppedDimensions().width;
    std::vector<int64_t> widths = {kResizeOriginal};
    for (auto [value, width] : {std::pair{kResize640, 640.0}, std::pair{kResize480, 480.0},
                                std::pair{kResize320, 320.0}}) {
        if (width < std::round(ownWidth)) {
            widths.push_back(value);
        }
    }
    // Frame-rate codes by rate: 60, 23, 15 and 10 per second.
    const std::vector<int64_t> rates = {kFrameRateHD, kFrameRateHigh, kFrameRateStandard,
                                        kFrameRateLow};
    auto first = std::find(rates.begin(), rates.end(), frameRate);
    std::vector<GIFChoice> choices;
    for (auto rate = first == rates.end() ? rates.begin() : first; rate != rates.end(); ++rate) {
        for (int64_t width : widths) {
            choices.push_back({width, *rate});
        }
    }
    return choices;
}

void applyChoice(RCRecording& recording, const GIFChoice& choice) {
    recording.editParameters()->setResizeValue(choice.resizeValue);
    recording.editParameters()->setFrameRate(choice.frameRate);
}

std::string describeChoice(const RCRecording& recording) {
    return std::to_string(std::lround(recording.editedWidth())) + "x" +
           std::to_string(std::lround(recording.editedHeight())) + " at " +
           std::to_string(std::lround(recording.editedFPS())) + " frames per second";
}

// Walks choices from index from on and applies the first whose estimated GIF fits in
// maxBytes; its index, or none. A choice is passed over without making its GIF when the
// last estimate scaled by pixels per second already exceeds the target: a smaller picture
// of the same clip costs at least its share of the bytes (detail gets denser, not sparser).
std::optional<size_t> chooseFittingGIF(RCRecordingPtr recording,
                                       const std::vector<GIFChoice>& choices, size_t from,
                                       uint64_t maxBytes) {
    double lastBytes = 0, lastPixelRate = 0;
    for (size_t i = from; i < choices.size(); ++i) {
        applyChoice(*recording, choices[i]);
        const double pixelRate =
            double(recording->editedWidth()) * recording->editedHeight() * recording->editedFPS();
        if (lastPixelRate > 0 && lastBytes * pixelRate / lastPixelRate > double(maxBytes)) {
            std::printf("%s: skipped, about %.0f bytes by its pixels\n",
                        describeChoice(*recording).c_str(), lastBytes * pixelRate / lastPixelRate);
            continue;
        }
        const int64_t bytes = estimateGIFBytes(recording);
        std::printf("%s: %lld bytes%s\n", describeChoice(*recording).c_str(), (long long)bytes,
                    bytes > 0 && uint64_t(bytes) <= maxBytes ? "" : " (too large)");
        if (bytes <= 0) {
            std::fprintf(stderr, "pindle-capture export: the GIF could not be made\n");
            return std::nullopt;
        }
        if (uint64_t(bytes) <= maxBytes) {
            return i;
        }
        lastBytes = double(bytes);
        lastPixelRate = pixelRate;
    }
    return std::nullopt;
}

// Runs one export of the recording's current edit to output; reports a failure on the
// standard error.
Status exportOnce(const RCRecordingPtr& recording, const ExportRequest& request,
                  const std::filesystem::path& output) {
    auto generator = RCGIFGenerator::initWithRecording(recording);
    RCExportOptions options = editorOptions(*recording);
    ProgressBar bar;
    std::atomic<bool> done = false;
    Status result = Ok{};
    auto progress = [&bar](float fraction) { bar.show(fraction); };
    auto completion = [&](Status status) {
        result = std::move(status);
        done = true;
    };
    if (request.format == "gif") {
        generator->makeGIF(output, options, progress, completion);
    } else if (request.format == "mp4") {
        options.exportAudio = true;
        generator->makeVideo(output, options, progress, completion);
    } else if (request.format == "jpeg") {
        generator->makeJPEG(output, recording->editedStartTime(), recording->editedDimensions(),
                            completion, options.crop);
    } else {
        options.exportAudio = true;
        exportBatch(generator, output, options, progress, completion);
    }
    waitFor(done);
    bar.end();
    if (!result) {
        std::fprintf(stderr, "pindle-capture export: %s\n", result.error().message.c_str());
    }
    return result;
}

// Puts a copy of file in destination's place; destination is untouched on failure.
Status copyInPlace(const std::filesystem::path& file, const std::filesystem::path& destination) {
    auto replacement = FileReplacement::begin(destination);
    if (!replacement) {
        return replacement.error();
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<char> block(1 << 16);
    while (in) {
        in.read(block.data(), std::streamsize(block.size()));
        const char* next = block.data();
        size_t left = size_t(in.gcount());
        while (left > 0) {
            ssize_t written = ::write(replacement->descriptor(), next, left);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return Error{"cannot write " + destination.string() + ": " +
                             std::strerror(written < 0 ? errno : EIO)};
            }
            next += written;
            left -= size_t(written);
        }
    }
    if (in.bad() || !in.eof()) {
        return Error{"cannot read " + file.string()};
    }
    return replacement->commit();
}

// --max-size: the largest GIF among the choices whose estimate fits, written to the
// program's temporary folder and copied to the output only once its real size is known to
// fit. One that comes out over the target (an estimate that missed) sends the search on to
// the next smaller choice.
int exportWithinSize(const RCRecordingPtr& recording, const ExportRequest& request) {
    const uint64_t maxBytes = *request.maxBytes;
    const auto choices = gifChoices(*recording, recording->editParameters()->frameRate());
    RCFileManager& files = RCFileManager::getCurrentInstance();
    for (size_t from = 0; from < choices.size();) {
        const auto chosen = chooseFittingGIF(recording, choices, from, maxBytes);
        if (!chosen) {
            break;
        }
        std::printf("chose %s for at most %llu bytes\n", describeChoice(*recording).c_str(),
                    static_cast<unsigned long long>(maxBytes));
        const std::filesystem::path candidate = files.makeTempFileWithExtension("gif");
        if (!exportOnce(recording, request, candidate)) {
            files.deleteFile(candidate);
            return 1;
        }
        std::error_code error;
        const auto written = std::filesystem::file_size(candidate, error);
        if (!error && written <= maxBytes) {
            Status copied = copyInPlace(candidate, request.to);
            files.deleteFile(candidate);
            if (!copied) {
                std::fprintf(stderr, "pindle-capture export: %s\n", copied.error().message.c_str());
                return 1;
            }
            std::printf("wrote %s (%llu bytes)\n", request.to.c_str(),
                        static_cast<unsigned long long>(written));
            return 0;
        }
        files.deleteFile(candidate);
        std::printf("the GIF came to %llu bytes; trying a smaller one\n",
                    static_cast<unsigned long long>(written));
        from = *chosen + 1;
    }
    std::fprintf(stderr,
                 "pindle-capture export: no width or frame rate tried makes a GIF of at most "
                 "%llu bytes\n",
                 static_cast<unsigned long long>(maxBytes));
    return 1;
}

}  // namespace

int runExportVerb(const std::vector<std::string>& args) {
    ExportRequest request;
    if (std::string problem = parse(args, request); !problem.empty()) {
        return usageError(problem);
    }
    auto opened = openSource(request.source);
    if (!opened) {
        std::fprintf(stderr, "pindle-capture export: %s\n", opened.error().message.c_str());
        return 1;
    }
    RCRecordingPtr recording = *opened;
    if (std::string problem = applyEdits(request, *recording); !problem.empty()) {
        std::fprintf(stderr, "pindle-capture export: %s\n", problem.c_str());
        return 1;
    }

    if (request.maxBytes) {
        return exportWithinSize(recording, request);
    }
    uint64_t quick = RCGIFFileSizeEstimator::quickEstimateFileSize(*recording);
    if (request.estimate) {
        std::printf("quick estimate: %llu bytes\n", static_cast<unsigned long long>(quick));
        const int64_t exact = estimateGIFBytes(recording);
        std::printf("exact size: %lld bytes\n", static_cast<long long>(exact));
        if (request.to.empty()) {
            return exact > 0 ? 0 : 1;
        }
    }
    if (request.format == "gif" && quick > kLargeGIFBytes) {
        std::fprintf(stderr,
                     "Large Filesize Warning: These settings will result in a very large GIF "
                     "filesize. It is recommended that you reduce the "
                     "dimensions/duration/framerate or save as an MP4 instead.\n");
    }

    // Standard output and the clipboard get the export of a temporary file.
    bool toOutput = request.to == "-";
    std::filesystem::path target = request.to;
    if (toOutput || request.to.empty()) {
        target = RCFileManager::getCurrentInstance().makeTempFileWithExtension(
            request.format == "jpeg" ? "jpg" : request.format);
    }
    if (!exportOnce(recording, request, target)) {
        return 1;
    }
    std::error_code error;
    if (toOutput) {
        bool written = copyToStandardOutput(target);
        RCFileManager::getCurrentInstance().deleteFile(target);
        if (!written) {
            std::fprintf(stderr, "pindle-capture export: cannot write to standard output\n");
            return 1;
        }
    } else if (request.format == "batch") {
        std::printf("wrote %s\n", request.to.c_str());
    } else if (!request.to.empty()) {
        std::printf("wrote %s (%llu bytes)\n", request.to.c_str(),
                    static_cast<unsigned long long>(std::filesystem::file_size(request.to, error)));
    }
    if (request.copy) {
        std::string problem = copyToClipboard(target, recording->url().stem().string());
        if (toOutput || request.to.empty()) {
            RCFileManager::getCurrentInstance().deleteFile(target);
        }
        if (!problem.empty()) {
            std::fprintf(stderr, "pindle-capture export: %s\n", problem.c_str());
            return 1;
        }
        std::fprintf(stderr,
                     "the GIF is on the clipboard, served until another program takes the "
                     "clipboard (at most %d minutes)\n",
                     kClipboardServeMinutes);
    }
    return 0;
}

Result<RCRecordingPtr> openExportSource(const std::string& source) {
    return openSource(source);
}

Result<RCRecordingPtr> storedLibraryRecording(const std::string& item) {
    return libraryRecording(item);
}

}  // namespace pindle::cli
