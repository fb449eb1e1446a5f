#include "app/cli/CaptionVerbs.h"

#include <QBuffer>
#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "app/cli/CommandLine.h"
#include "app/cli/ExportVerb.h"
#include "base/atomic_file.h"
#include "base/dispatch.h"
#include "editor/RCEditorCaptions.h"
#include "editor/RCGIFGenerator.h"
#include "editor/RCRecordingLayers.h"
#include "library/RCDataStore.h"
#include "platform/layers.h"
#include "settings/RCUserSettings.h"

namespace pindle::cli {
namespace {

constexpr const char* kCaptionUsage =
    "ITEM add [--text T] [--from S] [--to S] [--at X,Y] [--size xs|sm|md|lg|xl] "
    "[--font default|italic] [--color white|yellow|green|red|blue|purple|#RRGGBB] "
    "[--animation none|fade|scale|move|drop] | ITEM list | ITEM remove N | ITEM move N M";
constexpr const char* kWatermarkUsage = "set FILE | unset | show";
constexpr const char* kFrameUsage =
    "(RECORDING-INDEX | MOVIE) --at S --to FILE.png [--loop normal|reverse|ping-pong] "
    "[--size original|640|480|320]";

// The captions editor's palette, by name.
const std::map<std::string, Color>& palette() {
    static const std::map<std::string, Color> colors = [] {
        std::map<std::string, Color> named;
        for (const RCPaletteColor& entry : captionPalette()) {
            named.emplace(entry.name, entry.color);
        }
        return named;
    }();
    return colors;
}

const std::map<std::string, CaptionSize> kSizes = {{"xs", CaptionSize::XS},
                                                   {"sm", CaptionSize::SM},
                                                   {"md", CaptionSize::MD},
                                                   {"lg", CaptionSize::LG},
                                                   {"xl", CaptionSize::XL}};
const std::map<std::string, CaptionAnimationType> kAnimations = {
    {"none", CaptionAnimationType::None},
    {"fade", CaptionAnimationType::Fade},
    {"scale", CaptionAnimationType::Scale},
    {"move", CaptionAnimationType::Move},
    {"drop", CaptionAnimationType::Drop}};

int fail(const char* verb, const std::string& message, int status = 1) {
    std::fprintf(stderr, "pindle-capture %s: %s\n", verb, message.c_str());
    return status;
}

std::optional<double> parseNumber(const std::string& text, double lowest) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < lowest ||
        std::fabs(value) > 1e9) {
        return std::nullopt;
    }
    return value;
}

std::optional<Color> parseColor(const std::string& text) {
    if (auto it = palette().find(text); it != palette().end()) {
        return it->second;
    }
    if (text.size() != 7 || text[0] != '#' ||
        text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos) {
        return std::nullopt;
    }
    auto component = [&](size_t at) { return std::stoi(text.substr(at, 2), nullptr, 16) / 255.0; };
    return Color{component(1), component(3), component(5), 1};
}

std::string colorName(const Color& color) {
    for (const auto& [name, value] : palette()) {
        if (value == color) {
            return name;
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", int(std::lround(color.red * 255)),
                  int(std::lround(color.green * 255)), int(std::lround(color.blue * 255)));
    return text;
}

// A 1-based position among count items.
std::optional<size_t> parsePosition(const std::string& text, size_t count) {
    auto value = parseNumber(text, 1);
    if (!value || *value != std::floor(*value) || *value > double(count)) {
        return std::nullopt;
    }
    return size_t(*value) - 1;
}

// Saves the store after a change of the recording's captions.
int saveCaptions(RCDataStore& store, const RCRecordingPtr& recording) {
    store.updateRecording(recording);
    dispatch::drainMainQueue();
    if (auto saved = store.saveStatus(); !saved) {
        return fail("caption", "the library was not saved: " + saved.error().message);
    }
    return 0;
}

int addCaption(const RCRecordingPtr& recording, const std::vector<std::string>& args) {
    auto parameters = recording->editParameters();
    // As the editor's add button makes it (the command line has no paused player).
    auto caption = makeNewCaption(*recording);
    Size dimensions = recording->dimensions();
    for (size_t i = 0; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) {
            return fail("caption", option + " needs a value", 2);
        }
        const std::string& value = args[i + 1];
        if (option == "--text") {
            caption->text = value;
        } else if (option == "--from" || option == "--to") {
            auto seconds = parseNumber(value, 0);
            if (!seconds) {
                return fail("caption", option + " takes seconds, not '" + value + "'", 2);
            }
            (option == "--from" ? caption->startTime : caption->endTime) =
                MediaTime::makeWithSeconds(*seconds, 600000);
        } else if (option == "--at") {
            size_t comma = value.find(',');
            auto x = parseNumber(value.substr(0, comma), -1e9);
            auto y = comma == std::string::npos ? std::nullopt
                                                : parseNumber(value.substr(comma + 1), -1e9);
            if (!x || !y) {
                return fail("caption", "--at takes X,Y in video pixels, not '" + value + "'", 2);
            }
            // From the top-left corner, as the picture is seen; captions count from the
            // bottom-left, y up.
            caption->setCenterPosition(Point{*x, dimensions.height - *y});
        } else if (option == "--size") {
            auto it = kSizes.find(value);
            if (it == kSizes.end()) {
                return fail("caption", "unknown size '" + value + "'", 2);
            }
            caption->size = it->second;
        } else if (option == "--font") {
            if (value != "default" && value != "italic") {
                return fail("caption", "unknown font '" + value + "'", 2);
            }
            caption->fontName = value == "italic" ? kCaptionFontItalicized : kCaptionFontDefault;
        } else if (option == "--color") {
            auto color = parseColor(value);
            if (!color) {
                return fail("caption", "unknown colour '" + value + "'", 2);
            }
            caption->color = *color;
        } else if (option == "--animation") {
            auto it = kAnimations.find(value);
            if (it == kAnimations.end()) {
                return fail("caption", "unknown animation '" + value + "'", 2);
            }
            caption->animation = RCTimedCaptionAnimation::animationWithType(it->second);
        } else {
            return fail("caption", "unknown option " + option, 2);
        }
    }
    if (caption->endTime <= caption->startTime) {
        return fail("caption", "the caption ends before it starts", 2);
    }
    parameters->captions().push_back(caption);
    return 0;
}

void listCaptions(const RCRecording& recording) {
    const CaptionList& captions = recording.editParameters()->captions();
    std::printf("%-3s %8s %8s %-6s %-4s %-7s %-8s %-11s %s\n", "n", "from", "to", "anim", "size",
                "font", "color", "at", "text");
    Size dimensions = recording.dimensions();
    for (size_t i = 0; i < captions.size(); ++i) {
        const RCTimedCaption& caption = *captions[i];
        Point centre = caption.centerPosition();
        char at[48];
        std::snprintf(at, sizeof at, "%g,%g", centre.x, dimensions.height - centre.y);
        std::printf("%-3zu %8.3f %8.3f %-6s %-4s %-7s %-8s %-11s %s\n", i + 1,
                    caption.startTime.seconds(), caption.endTime.seconds(),
                    captionAnimationTypeLabel(caption.animation->type),
                    captionSizeLabel(caption.size),
                    caption.fontName == kCaptionFontItalicized ? "italic" : "default",
                    colorName(caption.color).c_str(), at, caption.text.c_str());
    }
}

int runCaption(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        return fail("caption", std::string("Usage: pindle-capture caption ") + kCaptionUsage, 2);
    }
    RCDataStore& store = RCDataStore::getCurrentInstance();
    if (auto loaded = store.loadStatus(); !loaded) {
        return fail("caption", loaded.error().message);
    }
    auto recording = storedLibraryRecording(args[0]);
    if (!recording) {
        return fail("caption", recording.error().message);
    }
    auto parameters = (*recording)->editParameters();
    if (!parameters) {
        return fail("caption", "recording " + args[0] + " has no edit settings");
    }
    const std::string& action = args[1];
    std::vector<std::string> rest(args.begin() + 2, args.end());
    CaptionList& captions = parameters->captions();
    if (action == "list" && rest.empty()) {
        listCaptions(**recording);
        return 0;
    }
    if (action == "add") {
        if (int status = addCaption(*recording, rest); status != 0) {
            return status;
        }
        // Said once the caption is stored, not before.
        if (int status = saveCaptions(store, *recording); status != 0) {
            return status;
        }
        std::printf("caption %zu added\n", captions.size());
        return 0;
    }
    if (action == "remove" && rest.size() == 1) {
        auto index = parsePosition(rest[0], captions.size());
        if (!index) {
            return fail("caption", "recording " + args[0] + " has no caption " + rest[0], 2);
        }
        captions.erase(captions.begin() + std::ptrdiff_t(*index));
        return saveCaptions(store, *recording);
    }
    if (action == "move" && rest.size() == 2) {
        auto from = parsePosition(rest[0], captions.size());
        auto to = parsePosition(rest[1], captions.size());
        if (!from || !to) {
            return fail(
                "caption",
                "move takes two caption numbers from 1 to " + std::to_string(captions.size()), 2);
        }
        auto moved = captions[*from];
        captions.erase(captions.begin() + std::ptrdiff_t(*from));
        captions.insert(captions.begin() + std::ptrdiff_t(*to), moved);
        return saveCaptions(store, *recording);
    }
    return fail("caption", std::string("Usage: pindle-capture caption ") + kCaptionUsage, 2);
}

int runWatermark(const std::vector<std::string>& args) {
    RCUserSettings& settings = RCUserSettings::getCurrentInstance();
    if (args.size() == 1 && args[0] == "show") {
        if (!settings.watermarkIsSet()) {
            std::printf("no watermark\n");
        } else {
            std::printf("%s (copy: %s)\n", settings.watermarkFileName().value_or("").c_str(),
                        settings.watermarkURL().c_str());
        }
        return 0;
    }
    if (args.size() == 1 && args[0] == "unset") {
        settings.unsetWatermark();
        dispatch::drainMainQueue();
        std::printf("watermark removed\n");
        return 0;
    }
    if (args.size() == 2 && args[0] == "set") {
        auto renderer = layerRenderer();
        auto image = renderer ? renderer->loadImage(args[1]) : Result<Image>(Error{"no reader"});
        if (!image) {
            return fail("watermark", image.error().message);
        }
        settings.unsetWatermark();
        settings.setWatermark(args[1]);
        dispatch::drainMainQueue();
        std::error_code error;
        if (!std::filesystem::is_regular_file(settings.watermarkURL(), error)) {
            settings.unsetWatermark();
            return fail("watermark", "cannot copy " + args[1] + " into the library folder");
        }
        std::printf("watermark %s (%dx%d)\n", args[1].c_str(), image->width, image->height);
        return 0;
    }
    return fail("watermark", std::string("Usage: pindle-capture watermark ") + kWatermarkUsage, 2);
}

// The time on the recording's timeline shown at time of the output of its edit.
MediaTime sourceTime(const RCRecording& recording, MediaTime time) {
    auto parameters = recording.editParameters();
    MediaTime start = parameters->trimmedStartTime();
    MediaTime end = parameters->trimmedEndTime();
    MediaTime length = end - start;
    switch (parameters->loopType()) {
        case kLoopTypeReverse:
            return end - time;
        case kLoopTypePingPong:
            return time < length ? start + time : end - (time - length);
        default:
            return start + time;
    }
}

int runFrame(const std::vector<std::string>& args) {
    std::string source;
    std::optional<double> at;
    std::filesystem::path to;
    std::optional<int64_t> loopType;
    std::optional<int64_t> resize;
    const std::map<std::string, int64_t> loops = {{"normal", 0}, {"reverse", 1}, {"ping-pong", 2}};
    const std::map<std::string, int64_t> sizes = {
        {"original", 0}, {"640", 1}, {"480", 2}, {"320", 3}};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            if (!source.empty()) {
                return fail("frame", "more than one recording or movie given", 2);
            }
            source = arg;
            continue;
        }
        if (arg != "--at" && arg != "--to" && arg != "--loop" && arg != "--size") {
            return fail("frame", unexpectedArgument(arg), 2);
        }
        if (i + 1 >= args.size()) {
            return fail("frame", arg + " needs a value", 2);
        }
        const std::string& value = args[++i];
        if (arg == "--at") {
            at = parseNumber(value, 0);
            if (!at) {
                return fail("frame", "--at takes seconds, not '" + value + "'", 2);
            }
        } else if (arg == "--to") {
            to = value;
        } else if (arg == "--loop" && loops.count(value)) {
            loopType = loops.at(value);
        } else if (arg == "--size" && sizes.count(value)) {
            resize = sizes.at(value);
        } else {
            return fail("frame", "unknown option or value: " + arg + " " + value, 2);
        }
    }
    if (source.empty() || !at || to.empty()) {
        return fail("frame", std::string("Usage: pindle-capture frame ") + kFrameUsage, 2);
    }
    auto opened = openExportSource(source);
    if (!opened) {
        return fail("frame", opened.error().message);
    }
    RCRecording& recording = **opened;
    auto parameters = recording.editParameters();
    if (loopType) {
        parameters->setLoopType(*loopType);
    }
    if (resize) {
        parameters->setResizeValue(*resize);
    }
    MediaTime time = MediaTime::makeWithSeconds(*at, 600000);
    if (time > recording.editedDuration()) {
        return fail("frame", "the output lasts " +
                                 std::to_string(recording.editedDuration().seconds()) +
                                 " s; --at " + std::to_string(*at) + " is past its end");
    }
    Size size{std::trunc(recording.editedWidth()), std::trunc(recording.editedHeight())};
    RCExportOptions layers;
    addExportLayers(layers, recording);
    auto image = recording.asset()->copyImageAtTime(sourceTime(recording, time), size, layers.crop);
    if (!image) {
        return fail("frame", image.error().message);
    }
    drawExportLayers(*image, time, layers);

    QImage picture(image->pixels.data(), image->width, image->height, image->stride,
                   QImage::Format_RGBA8888);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.convertToFormat(QImage::Format_RGB888).save(&buffer, "PNG")) {
        return fail("frame", "cannot encode the picture as PNG");
    }
    if (auto written =
            writeFileAtomically(to, std::string_view(png.constData(), size_t(png.size())));
        !written) {
        return fail("frame", written.error().message);
    }
    std::printf("wrote %s (%dx%d at %.3f s)\n", to.c_str(), image->width, image->height, *at);
    return 0;
}

}  // namespace

Verb captionVerb() {
    return {"caption", kCaptionUsage,
            "Add, list, remove or reorder the captions of a library recording (item 1 is the "
            "newest); --at counts video pixels from the top-left corner",
            runCaption};
}

Verb watermarkVerb() {
    return {"watermark", kWatermarkUsage,
            "Set, remove or show the watermark image drawn over every export", runWatermark};
}

Verb frameVerb() {
    return {"frame", kFrameUsage,
            "Write the frame an export shows at S seconds of its output as a PNG, with its "
            "captions and watermark",
            runFrame};
}

}  // namespace pindle::cli
