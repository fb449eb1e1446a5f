#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/color.h"
#include "base/geometry.h"
#include "base/media_time.h"
#include "captions/RCTimedCaptionAnimation.h"

namespace pindle {

class RCLayer;

// Options of the caption layer builders.
struct CaptionLayerOptions {
    // The trimmed range on the recording's timeline: zero and the caption's videoDuration
    // when absent.
    std::optional<MediaTime> trimmedStartTime;
    std::optional<MediaTime> trimmedEndTime;
    // Wraps the selected caption in its dashed selection outline.
    bool highlightSelected = false;
};

// Caption text sizes; each selects a fraction of the video height as the font size.
enum class CaptionSize : int64_t { XL = 0, LG = 1, MD = 2, SM = 3, XS = 4 };

// Font size as a fraction of the video height, by CaptionSize value.
inline constexpr double kCaptionSizeFactors[5] = {0.25, 0.20, 0.14, 0.10, 0.07};

// The size for a stored code; nothing for codes outside 0..4.
std::optional<CaptionSize> captionSizeFromCode(int64_t code);
// "XL", "LG", "MD", "SM", "XS".
const char* captionSizeLabel(CaptionSize size);

// The two caption fonts, by the names stored with a caption.
inline constexpr const char* kCaptionFontDefault = "NexaBlack";
inline constexpr const char* kCaptionFontItalicized = "OpenSans-BoldItalic";

struct CaptionFont {
    std::string name;
    double pointSize = 0;
    friend bool operator==(const CaptionFont&, const CaptionFont&) = default;
};

struct CaptionShadow {
    double blurRadius = 0;
    Color color;
    // Points; positive width is right, positive height is up.
    Size offset;
    friend bool operator==(const CaptionShadow&, const CaptionShadow&) = default;
};

// How a caption's text is drawn and measured.
struct TextAttributes {
    CaptionFont font;
    Color foregroundColor;
    // Per cent of the font size; negative: the outline is stroked and the glyphs filled.
    double strokeWidth = 0;
    Color strokeColor;
    CaptionShadow shadow;
    friend bool operator==(const TextAttributes&, const TextAttributes&) = default;
};

// A line of text shown over a span of a recording's own (untrimmed) timeline.
// Not thread-safe: captions are edited and read on the main thread.
class RCTimedCaption {
public:
    RCTimedCaption() = default;

    // Pixel size of the recording's video: the caption's coordinate space.
    Size videoDimensions;
    MediaTime videoDuration = MediaTime::zero();
    std::string text;
    std::shared_ptr<RCTimedCaptionAnimation> animation =
        RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::None);
    MediaTime startTime = MediaTime::zero();
    MediaTime endTime = MediaTime::zero();
    std::string fontName = kCaptionFontDefault;
    Color color = Color::white();
    CaptionSize size = CaptionSize::MD;

    // Centre of the text box in video pixels, origin bottom-left, y up.
    Point centerPosition() const { return centerPosition_; }
    void setCenterPosition(Point value) { centerPosition_ = value; }
    // Whether this is the caption being edited; not archived, not compared.
    bool selected() const { return selected_; }
    void setSelected(bool value) { selected_ = value; }

    // fontName at the video height times the size's factor.
    CaptionFont captionFont() const;
    TextAttributes textAttributes() const;

    bool isEqualToCaption(const RCTimedCaption& other) const;

    // The caption's layer at frame origin (0, 0) and the size of its text, with its entrance
    // and exit under "inAnimation" and "outAnimation" on the recording's timeline: a text
    // layer, or the selection outline holding the text layer.
    std::shared_ptr<RCLayer> generateLayerWithOptions(
        const CaptionLayerOptions& options = {}) const;

    const char* className() const { return "PINDLE_CAPTURE.RCTimedCaption"; }
    void encodeWithCoder(KeyedArchiver& coder) const;
    // Throws ArchiveError for a caption without text, animation, font name or colour, or
    // with a size or animation type out of range.
    static std::shared_ptr<RCTimedCaption> initWithCoder(KeyedUnarchiver& coder);

private:
    Point centerPosition_;
    bool selected_ = false;
};

}  // namespace pindle
