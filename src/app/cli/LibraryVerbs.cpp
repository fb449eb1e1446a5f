#include "app/cli/LibraryVerbs.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/cli/CommandLine.h"
#include "app/cli/ExportVerb.h"
#include "base/dispatch.h"
#include "library/RCDataStore.h"

namespace pindle::cli {

namespace {

const char* loopLabel(int64_t code) {
    switch (code) {
        case kLoopTypeNormal:
            return "Normal";
        case kLoopTypeReverse:
            return "Reverse";
        case kLoopTypePingPong:
            return "Ping-Pong";
        default:
            return "?";
    }
}

const char* resizeLabel(int64_t code) {
    switch (code) {
        case kResizeOriginal:
            return "Original";
        case kResize640:
            return "640px";
        case kResize480:
            return "480px";
        case kResize320:
            return "320px";
        default:
            return "?";
    }
}

const char* rateLabel(int64_t code) {
    switch (code) {
        case kFrameRateStandard:
            return "Standard";
        case kFrameRateHigh:
            return "High";
        case kFrameRateLow:
            return "Low";
        case kFrameRateHD:
            return "HD";
        default:
            return "?";
    }
}

// Seconds with millisecond precision; "-" for a time that is no number.
std::string secondsText(const MediaTime& time) {
    if (!time.isNumeric()) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", time.seconds());
    return text;
}

std::string sizeText(Size size) {
    char text[48];
    std::snprintf(text, sizeof text, "%gx%g", size.width, size.height);
    return text;
}

int library(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "pindle-capture library: takes no arguments\n");
        return 2;
    }
    RCDataStore& store = RCDataStore::getCurrentInstance();
    if (auto loaded = store.loadStatus(); !loaded) {
        std::fprintf(stderr, "pindle-capture library: %s\n", loaded.error().message.c_str());
        return 1;
    }
    auto recordings = store.allRecordings();
    std::printf("%-4s %-42s %-10s %9s %6s %7s %-17s %-9s %-6s %-4s %8s %s\n", "item", "movie",
                "size", "duration", "fps", "frames", "trim", "loop", "resize", "rate", "captions",
                "state");
    for (size_t item = 0; item < recordings.size(); ++item) {
        const RCRecording& recording = *recordings[recordings.size() - 1 - item];
        auto parameters = recording.editParameters();
        std::string movie = recording.url().filename().string();
        std::string trim =
            secondsText(recording.editedStartTime()) + "-" + secondsText(recording.editedEndTime());
        std::error_code error;
        const char* state = !recording.isReady()                               ? "writing"
                            : !std::filesystem::exists(recording.url(), error) ? "missing"
                            : recording.hasVideoTrack()                        ? "ready"
                                                                               : "no-video";
        std::printf(
            "%-4zu %-42s %-10s %9s %6.2f %7" PRIu64 " %-17s %-9s %-6" PRId64 " %-4" PRId64
            " %8zu %s\n",
            item + 1, movie.empty() ? "-" : movie.c_str(), sizeText(recording.dimensions()).c_str(),
            secondsText(recording.duration()).c_str(), double(recording.FPS()),
            recording.frameCount(), trim.c_str(),
            loopLabel(parameters ? parameters->loopType() : 0),
            parameters ? parameters->resizeValue() : 0, parameters ? parameters->frameRate() : 0,
            parameters ? parameters->captions().size() : size_t(0), state);
    }
    std::printf("%zu recordings in %s\n", recordings.size(),
                store.getArchiveFileURL().string().c_str());
    dispatch::drainMainQueue();
    return 0;
}

std::optional<int64_t> integerArgument(const std::string& text) {
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::optional<MediaTime> secondsArgument(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0) {
        return std::nullopt;
    }
    return MediaTime::makeWithSeconds(value, 600);
}

int info(const std::vector<std::string>& args) {
    std::optional<std::filesystem::path> movie;
    std::optional<int64_t> loop, resize, rate;
    std::optional<MediaTime> start, end;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (arg == "--loop" && hasValue) {
            ok = bool(loop = integerArgument(args[++i]));
        } else if (arg == "--resize" && hasValue) {
            ok = bool(resize = integerArgument(args[++i]));
        } else if (arg == "--rate" && hasValue) {
            ok = bool(rate = integerArgument(args[++i]));
        } else if (arg == "--start" && hasValue) {
            ok = bool(start = secondsArgument(args[++i]));
        } else if (arg == "--end" && hasValue) {
            ok = bool(end = secondsArgument(args[++i]));
        } else if (!arg.empty() && arg[0] != '-' && !movie) {
            movie = arg;
        } else {
            ok = false;
        }
        if (!ok) {
            bool known = arg == "--loop" || arg == "--resize" || arg == "--rate" ||
                         arg == "--start" || arg == "--end";
            std::string message = !known      ? unexpectedArgument(arg)
                                  : !hasValue ? arg + " needs a value"
                                              : "bad value for " + arg;
            std::fprintf(stderr, "pindle-capture info: %s\n", message.c_str());
            return 2;
        }
    }
    if (!movie) {
        std::fprintf(stderr, "pindle-capture info: which movie?\n");
        return 2;
    }
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(*movie, error);
    if (error) {
        std::fprintf(stderr, "pindle-capture info: %s: %s\n", movie->c_str(),
                     error.message().c_str());
        return 1;
    }
    if (auto checked = RCRecording::checkMovieFile(absolute); !checked) {
        std::fprintf(stderr, "pindle-capture info: %s\n", checked.error().message.c_str());
        return 1;
    }
    if (auto opened = media::openMovie(absolute); !opened) {
        std::fprintf(stderr, "pindle-capture info: %s\n", opened.error().message.c_str());
        return 1;
    }
    auto recording = RCRecording::recordingWithURL(absolute);
    auto parameters = recording->editParameters();
    if (loop) {
        parameters->setLoopType(*loop);
    }
    if (resize) {
        parameters->setResizeValue(*resize);
    }
    if (rate) {
        parameters->setFrameRate(*rate);
    }
    if (start) {
        parameters->setTrimmedStartTime(*start);
    }
    if (end) {
        parameters->setTrimmedEndTime(*end);
    }
    ImagePtr thumbnail = recording->thumbnail();
    std::printf("movie: %s\n", recording->url().string().c_str());
    std::printf("video: %s\n", recording->hasVideoTrack() ? "yes" : "no");
    std::printf("audio: %s\n", recording->hasAudio() ? "yes" : "no");
    std::printf("size: %s\n", sizeText(recording->dimensions()).c_str());
    std::printf("duration: %s s\n", secondsText(recording->duration()).c_str());
    std::printf("fps: %g\n", double(recording->FPS()));
    std::printf("frames: %" PRIu64 "\n", recording->frameCount());
    std::printf(
        "thumbnail: %s\n",
        thumbnail
            ? (std::to_string(thumbnail->width) + "x" + std::to_string(thumbnail->height)).c_str()
            : "none");
    std::printf("trim: %s-%s s\n", secondsText(recording->editedStartTime()).c_str(),
                secondsText(recording->editedEndTime()).c_str());
    std::printf("loop: %" PRId64 " (%s)\n", parameters->loopType(),
                loopLabel(parameters->loopType()));
    std::printf("resize: %" PRId64 " (%s)\n", parameters->resizeValue(),
                resizeLabel(parameters->resizeValue()));
    std::printf("rate: %" PRId64 " (%s)\n", parameters->frameRate(),
                rateLabel(parameters->frameRate()));
    std::printf("edited duration: %s s\n", secondsText(recording->editedDuration()).c_str());
    std::printf("edited size: %gx%g\n", double(recording->editedWidth()),
                double(recording->editedHeight()));
    std::printf("edited fps: %g\n", double(recording->editedFPS()));
    std::printf("edited frames: %" PRIu64 "\n", recording->editedFrameCount());
    return 0;
}

int deleteRecording(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "pindle-capture delete: which item? (item 1 is the newest)\n");
        return 2;
    }
    if (args[0].rfind("-", 0) == 0) {
        std::fprintf(stderr, "pindle-capture delete: %s\n", unexpectedArgument(args[0]).c_str());
        return 2;
    }
    RCDataStore& store = RCDataStore::getCurrentInstance();
    if (auto loaded = store.loadStatus(); !loaded) {
        std::fprintf(stderr, "pindle-capture delete: %s\n", loaded.error().message.c_str());
        return 1;
    }
    auto recording = storedLibraryRecording(args[0]);
    if (!recording) {
        std::fprintf(stderr, "pindle-capture delete: %s\n", recording.error().message.c_str());
        return 1;
    }
    // Saved at once; the movie goes only once the store no longer lists it.
    store.removeRecording(*recording);
    dispatch::drainMainQueue();
    if (auto saved = store.saveStatus(); !saved) {
        std::fprintf(stderr, "pindle-capture delete: the library was not saved: %s\n",
                     saved.error().message.c_str());
        return 1;
    }
    std::printf("deleted %s\n", (*recording)->url().filename().c_str());
    return 0;
}

}  // namespace

Verb libraryVerb() {
    return Verb{"library", "",
                "List the library's recordings, newest first (item 1), with their movie facts "
                "and edit settings",
                library};
}

Verb infoVerb() {
    return Verb{"info", "MOVIE [--start S] [--end S] [--loop 0-2] [--resize 0-3] [--rate 0-3]",
                "Show a movie's facts and the duration, size, frame rate and frame count of "
                "its export with the given edits",
                info};
}

Verb deleteVerb() {
    return Verb{"delete", "ITEM",
                "Remove a recording from the library (item 1 is the newest) and delete its movie",
                deleteRecording};
}

}  // namespace pindle::cli
