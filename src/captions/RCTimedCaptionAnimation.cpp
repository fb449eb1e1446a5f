#include "captions/RCTimedCaptionAnimation.h"

#include "base/keyed_archive.h"

namespace pindle {

namespace {

constexpr double kNoAnimationDuration = 0.0001;
constexpr double kAnimationDuration = 0.1;
// Distance and time of the Move and Drop slide; the group's shorter duration cuts it off.
constexpr double kSlideDistance = 35;
constexpr double kSlideDuration = 0.2;

AnimationDescription propertyAnimation(std::string keyPath, double from, double to,
                                       double beginTime, double duration, AnimationFill fill,
                                       AnimationTiming timing = AnimationTiming::Linear) {
    AnimationDescription animation;
    animation.keyPath = std::move(keyPath);
    animation.fromValue = from;
    animation.toValue = to;
    animation.beginTime = beginTime;
    animation.duration = duration;
    animation.fill = fill;
    animation.timing = timing;
    return animation;
}

// The entrance of Move and Drop: a fade-in with a slide along keyPath.
AnimationDescription slideInAnimation(const RCTimedCaptionAnimation& animation,
                                      const char* keyPath) {
    AnimationDescription group;
    group.beginTime = animation.beginTime;
    group.duration = animation.duration;
    group.fill = AnimationFill::Backwards;
    group.children.push_back(propertyAnimation("opacity", 0, 1, kCoreAnimationBeginTimeAtZero,
                                               kAnimationDuration, AnimationFill::Backwards));
    group.children.push_back(propertyAnimation(keyPath, kSlideDistance, -kSlideDistance,
                                               kCoreAnimationBeginTimeAtZero, kSlideDuration,
                                               AnimationFill::Backwards, AnimationTiming::EaseOut));
    return group;
}

}  // namespace

std::optional<CaptionAnimationType> captionAnimationTypeFromCode(int64_t code) {
    if (code < 0 || code > 4) {
        return std::nullopt;
    }
    return CaptionAnimationType(code);
}

const char* captionAnimationTypeLabel(CaptionAnimationType type) {
    switch (type) {
        case CaptionAnimationType::None:
            return "None";
        case CaptionAnimationType::Fade:
            return "Fade";
        case CaptionAnimationType::Scale:
            return "Scale";
        case CaptionAnimationType::Move:
            return "Move";
        case CaptionAnimationType::Drop:
            return "Drop";
    }
    return "None";
}

std::shared_ptr<RCTimedCaptionAnimation> RCTimedCaptionAnimation::animationWithType(
    CaptionAnimationType type) {
    switch (type) {
        case CaptionAnimationType::None:
            return std::make_shared<RCTimedCaptionNoAnimation>();
        case CaptionAnimationType::Fade:
            return std::make_shared<RCTimedCaptionFadeAnimation>();
        case CaptionAnimationType::Scale:
            return std::make_shared<RCTimedCaptionScaleAnimation>();
        case CaptionAnimationType::Move:
            return std::make_shared<RCTimedCaptionMoveAnimation>();
        case CaptionAnimationType::Drop:
            return std::make_shared<RCTimedCaptionDropAnimation>();
    }
    return nullptr;
}

AnimationDescription RCTimedCaptionAnimation::makeInAnimation() const {
    return AnimationDescription{};
}

AnimationDescription RCTimedCaptionAnimation::makeOutAnimation() const {
    return AnimationDescription{};
}

bool RCTimedCaptionAnimation::isEqualToAnimation(const RCTimedCaptionAnimation& other) const {
    return duration == other.duration && beginTime == other.beginTime && type == other.type;
}

AnimationDescription RCTimedCaptionAnimation::fadeAnimation(bool entrance) const {
    return propertyAnimation("opacity", entrance ? 0 : 1, entrance ? 1 : 0, beginTime, duration,
                             entrance ? AnimationFill::Backwards : AnimationFill::Forwards);
}

void RCTimedCaptionAnimation::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeDouble(duration, "duration");
    coder.encodeDouble(beginTime, "beginTime");
    coder.encodeInt64(int64_t(type), "type");
}

std::shared_ptr<RCTimedCaptionAnimation> RCTimedCaptionAnimation::initWithCoder(
    KeyedUnarchiver& coder) {
    std::string className = coder.className();
    std::shared_ptr<RCTimedCaptionAnimation> animation;
    for (int64_t code = 0; code <= 4; ++code) {
        auto candidate = animationWithType(CaptionAnimationType(code));
        if (className == candidate->className()) {
            animation = std::move(candidate);
            break;
        }
    }
    if (!animation) {
        throw ArchiveError("unknown animation class \"" + className + "\"");
    }
    int64_t code = coder.decodeInt64("type");
    auto type = captionAnimationTypeFromCode(code);
    if (!type) {
        throw ArchiveError("animation type " + std::to_string(code) + " is out of range");
    }
    animation->duration = coder.decodeFloat("duration");
    animation->beginTime = coder.decodeFloat("beginTime");
    animation->type = *type;
    return animation;
}

RCTimedCaptionNoAnimation::RCTimedCaptionNoAnimation() {
    duration = kNoAnimationDuration;
    type = CaptionAnimationType::None;
}

RCTimedCaptionFadeAnimation::RCTimedCaptionFadeAnimation() {
    duration = kAnimationDuration;
    type = CaptionAnimationType::Fade;
}

RCTimedCaptionScaleAnimation::RCTimedCaptionScaleAnimation() {
    duration = kAnimationDuration;
    type = CaptionAnimationType::Scale;
}

AnimationDescription RCTimedCaptionScaleAnimation::makeInAnimation() const {
    return propertyAnimation("transform.scale", 0, 1, beginTime, duration, AnimationFill::Backwards,
                             AnimationTiming::EaseIn);
}

AnimationDescription RCTimedCaptionScaleAnimation::makeOutAnimation() const {
    return propertyAnimation("transform.scale", 1, 0, beginTime, duration, AnimationFill::Forwards);
}

RCTimedCaptionMoveAnimation::RCTimedCaptionMoveAnimation() {
    duration = kAnimationDuration;
    type = CaptionAnimationType::Move;
}

AnimationDescription RCTimedCaptionMoveAnimation::makeInAnimation() const {
    return slideInAnimation(*this, "transform.translation.x");
}

RCTimedCaptionDropAnimation::RCTimedCaptionDropAnimation() {
    duration = kAnimationDuration;
    type = CaptionAnimationType::Drop;
}

AnimationDescription RCTimedCaptionDropAnimation::makeInAnimation() const {
    return slideInAnimation(*this, "transform.translation.y");
}

}  // namespace pindle
