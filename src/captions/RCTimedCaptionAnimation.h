#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pindle {

class KeyedArchiver;
class KeyedUnarchiver;

// The begin time that the compositor reads as "at the start of the timeline". A begin time
// of exactly 0 means "now" to it, so the smallest positive value stands for zero.
inline constexpr double kCoreAnimationBeginTimeAtZero = 1e-100;

enum class AnimationFill {
    Removed,    // no value outside the animation's active time
    Backwards,  // holds the starting value before the begin time
    Forwards,   // holds the final value after the end
    Both,
};

// Timing curves: ease-in is the cubic Bézier (0.42, 0), (1, 1); ease-out (0, 0), (0.58, 1).
enum class AnimationTiming { Linear, EaseIn, EaseOut };

// A timed change of one layer property, or a group of such changes, as data. The layer
// compositor evaluates it; nothing here draws. Times are seconds on the layer's timeline;
// a group's children are timed from the group's own start and cut off at its end.
struct AnimationDescription {
    std::string keyPath;  // "opacity", "transform.scale", ...; empty for a group
    double fromValue = 0;
    double toValue = 0;
    double beginTime = 0;
    double duration = 0;
    AnimationFill fill = AnimationFill::Removed;
    AnimationTiming timing = AnimationTiming::Linear;
    bool removedOnCompletion = false;
    std::vector<AnimationDescription> children;

    bool isGroup() const { return !children.empty(); }
    // The description of "no animation": changes no property.
    bool isEmpty() const { return keyPath.empty() && children.empty(); }
};

enum class CaptionAnimationType : int64_t { None = 0, Fade = 1, Scale = 2, Move = 3, Drop = 4 };

// The type for a stored code; nothing for codes outside 0..4.
std::optional<CaptionAnimationType> captionAnimationTypeFromCode(int64_t code);
// "None", "Fade", "Scale", "Move", "Drop": the labels the style window offers.
const char* captionAnimationTypeLabel(CaptionAnimationType type);

// How a caption enters and leaves. Only the five subclasses are instantiated.
class RCTimedCaptionAnimation {
public:
    virtual ~RCTimedCaptionAnimation() = default;

    // A fresh animation of the class for type.
    static std::shared_ptr<RCTimedCaptionAnimation> animationWithType(CaptionAnimationType type);

    virtual AnimationDescription makeInAnimation() const;
    virtual AnimationDescription makeOutAnimation() const;

    // Seconds of the entrance and of the exit animation.
    double duration = 0;
    // Seconds; kCoreAnimationBeginTimeAtZero at creation.
    double beginTime = kCoreAnimationBeginTimeAtZero;
    CaptionAnimationType type = CaptionAnimationType::None;

    // Equal when duration, beginTime and type are exactly equal.
    bool isEqualToAnimation(const RCTimedCaptionAnimation& other) const;

    // The class name recorded in archives ("PINDLE_CAPTURE.RCTimedCaptionFadeAnimation").
    virtual const char* className() const = 0;

    void encodeWithCoder(KeyedArchiver& coder) const;
    // The animation of the class the archive records, with the stored duration and begin
    // time narrowed to single precision. Throws ArchiveError for a class or type that is
    // not one of the five.
    static std::shared_ptr<RCTimedCaptionAnimation> initWithCoder(KeyedUnarchiver& coder);

protected:
    RCTimedCaptionAnimation() = default;
    // Opacity from 0 to 1 (entrance) or 1 to 0 (exit) over duration.
    AnimationDescription fadeAnimation(bool entrance) const;
};

class RCTimedCaptionNoAnimation final : public RCTimedCaptionAnimation {
public:
    RCTimedCaptionNoAnimation();
    const char* className() const override { return "PINDLE_CAPTURE.RCTimedCaptionNoAnimation"; }
    AnimationDescription makeInAnimation() const override { return fadeAnimation(true); }
    AnimationDescription makeOutAnimation() const override { return fadeAnimation(false); }
};

class RCTimedCaptionFadeAnimation final : public RCTimedCaptionAnimation {
public:
    RCTimedCaptionFadeAnimation();
    const char* className() const override { return "PINDLE_CAPTURE.RCTimedCaptionFadeAnimation"; }
    AnimationDescription makeInAnimation() const override { return fadeAnimation(true); }
    AnimationDescription makeOutAnimation() const override { return fadeAnimation(false); }
};

class RCTimedCaptionScaleAnimation final : public RCTimedCaptionAnimation {
public:
    RCTimedCaptionScaleAnimation();
    const char* className() const override { return "PINDLE_CAPTURE.RCTimedCaptionScaleAnimation"; }
    AnimationDescription makeInAnimation() const override;
    AnimationDescription makeOutAnimation() const override;
};

// Enters sliding in from the right while it fades in.
class RCTimedCaptionMoveAnimation final : public RCTimedCaptionAnimation {
public:
    RCTimedCaptionMoveAnimation();
    const char* className() const override { return "PINDLE_CAPTURE.RCTimedCaptionMoveAnimation"; }
    AnimationDescription makeInAnimation() const override;
    AnimationDescription makeOutAnimation() const override { return fadeAnimation(false); }
};

// Enters dropping from above while it fades in.
class RCTimedCaptionDropAnimation final : public RCTimedCaptionAnimation {
public:
    RCTimedCaptionDropAnimation();
    const char* className() const override { return "PINDLE_CAPTURE.RCTimedCaptionDropAnimation"; }
    AnimationDescription makeInAnimation() const override;
    AnimationDescription makeOutAnimation() const override { return fadeAnimation(false); }
};

}  // namespace pindle
