#include "captions/RCTimedCaption.h"

#include "base/keyed_archive.h"

namespace pindle {

std::optional<CaptionSize> captionSizeFromCode(int64_t code) {
    if (code < 0 || code > 4) {
        return std::nullopt;
    }
    return CaptionSize(code);
}

const char* captionSizeLabel(CaptionSize size) {
    static constexpr const char* kLabels[5] = {"XL", "LG", "MD", "SM", "XS"};
    auto index = int64_t(size);
    return index >= 0 && index < 5 ? kLabels[index] : "MD";
}

CaptionFont RCTimedCaption::captionFont() const {
    auto index = int64_t(size);
    double factor = index >= 0 && index < 5 ? kCaptionSizeFactors[index] : 0;
    return CaptionFont{fontName, videoDimensions.height * factor};
}

TextAttributes RCTimedCaption::textAttributes() const {
    TextAttributes attributes;
    attributes.font = captionFont();
    attributes.foregroundColor = color;
    attributes.strokeWidth = -3.0;
    attributes.strokeColor = Color::black();
    if (fontName == kCaptionFontDefault) {
        attributes.shadow = CaptionShadow{0, Color::black(0.3), Size{4, -4}};
    } else {
        attributes.shadow = CaptionShadow{2.0, Color::black(0.5), Size{0, 0}};
    }
    return attributes;
}

bool RCTimedCaption::isEqualToCaption(const RCTimedCaption& other) const {
    bool sameAnimation = animation && other.animation
                             ? animation->isEqualToAnimation(*other.animation)
                             : animation == other.animation;
    return videoDimensions == other.videoDimensions && videoDuration == other.videoDuration &&
           text == other.text && sameAnimation && startTime == other.startTime &&
           endTime == other.endTime && fontName == other.fontName && color == other.color &&
           size == other.size && centerPosition_ == other.centerPosition_;
}

void RCTimedCaption::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeSize(videoDimensions, "videoDimensions");
    coder.encodeMediaTime(videoDuration, "videoDuration");
    coder.encodeString(text, "text");
    coder.encodeObject(animation.get(), "animation");
    coder.encodeMediaTime(startTime, "startTime");
    coder.encodeMediaTime(endTime, "endTime");
    coder.encodeString(fontName, "fontName");
    coder.encodeColor(color, "color");
    coder.encodeInt64(int64_t(size), "size");
    coder.encodePoint(centerPosition_, "centerPosition");
}

std::shared_ptr<RCTimedCaption> RCTimedCaption::initWithCoder(KeyedUnarchiver& coder) {
    coder.requireClass(qualifiedClassName("RCTimedCaption"));
    auto caption = std::make_shared<RCTimedCaption>();
    caption->videoDimensions = coder.decodeSize("videoDimensions");
    caption->videoDuration = coder.decodeMediaTime("videoDuration");
    auto text = coder.decodeString("text");
    auto animation = coder.decodeObject<RCTimedCaptionAnimation>("animation");
    caption->startTime = coder.decodeMediaTime("startTime");
    caption->endTime = coder.decodeMediaTime("endTime");
    auto fontName = coder.decodeString("fontName");
    auto color = coder.decodeColor("color");
    if (!text || !animation || !fontName || !color) {
        throw ArchiveError("caption without its text, animation, font name or colour");
    }
    caption->text = std::move(*text);
    caption->animation = std::move(animation);
    caption->fontName = std::move(*fontName);
    caption->color = *color;
    int64_t sizeCode = coder.decodeInt64("size");
    auto size = captionSizeFromCode(sizeCode);
    if (!size) {
        throw ArchiveError("caption size " + std::to_string(sizeCode) + " is out of range");
    }
    caption->size = *size;
    caption->centerPosition_ = coder.decodePoint("centerPosition");
    return caption;
}

}  // namespace pindle
