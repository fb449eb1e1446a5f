#include <gtest/gtest.h>

#include "captions/RCTimedCaption.h"

namespace pindle {
namespace {

TEST(TimedCaption, DefaultsAndDerivedFont) {
    RCTimedCaption caption;
    EXPECT_EQ(caption.text, "");
    EXPECT_EQ(caption.animation->type, CaptionAnimationType::None);
    EXPECT_EQ(caption.animation->duration, 0.0001);
    EXPECT_EQ(caption.startTime, MediaTime::zero());
    EXPECT_EQ(caption.fontName, "NexaBlack");
    EXPECT_EQ(caption.color, Color::white());
    EXPECT_EQ(caption.size, CaptionSize::MD);
    EXPECT_EQ(caption.centerPosition(), (Point{0, 0}));

    caption.videoDimensions = Size{640, 480};
    const std::pair<CaptionSize, double> sizes[] = {{CaptionSize::XL, 120},
                                                    {CaptionSize::LG, 96},
                                                    {CaptionSize::MD, 67.2},
                                                    {CaptionSize::SM, 48},
                                                    {CaptionSize::XS, 33.6}};
    for (auto [size, points] : sizes) {
        caption.size = size;
        EXPECT_DOUBLE_EQ(caption.captionFont().pointSize, points) << captionSizeLabel(size);
    }
}

TEST(TimedCaption, ShadowDependsOnTheFont) {
    RCTimedCaption caption;
    caption.color = Color{1, 0, 0, 1};
    TextAttributes hard = caption.textAttributes();
    EXPECT_EQ(hard.foregroundColor, (Color{1, 0, 0, 1}));
    EXPECT_EQ(hard.strokeWidth, -3.0);
    EXPECT_EQ(hard.strokeColor, Color::black());
    EXPECT_EQ(hard.shadow, (CaptionShadow{0, Color::black(0.3), Size{4, -4}}));

    caption.fontName = kCaptionFontItalicized;
    TextAttributes soft = caption.textAttributes();
    EXPECT_EQ(soft.font.name, "OpenSans-BoldItalic");
    EXPECT_EQ(soft.shadow, (CaptionShadow{2.0, Color::black(0.5), Size{0, 0}}));
}

TEST(TimedCaption, EqualityIgnoresSelectionOnly) {
    RCTimedCaption a;
    RCTimedCaption b;
    b.setSelected(true);
    EXPECT_TRUE(a.isEqualToCaption(b));
    b.color = Color{1, 1, 1, 0.5};
    EXPECT_FALSE(a.isEqualToCaption(b));
    b.color = a.color;
    b.setCenterPosition(Point{0, 1});
    EXPECT_FALSE(a.isEqualToCaption(b));
    b.setCenterPosition(Point{});
    b.animation = RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::Fade);
    EXPECT_FALSE(a.isEqualToCaption(b));
    b.animation = RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::None);
    b.endTime = MediaTime::make(0, 1000);  // the same instant at another timescale
    EXPECT_TRUE(a.isEqualToCaption(b));
}

TEST(CaptionAnimation, EntranceAndExitDescriptions) {
    auto none = RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::None);
    auto in = none->makeInAnimation();
    EXPECT_EQ(in.keyPath, "opacity");
    EXPECT_EQ(in.fromValue, 0);
    EXPECT_EQ(in.toValue, 1);
    EXPECT_EQ(in.duration, 0.0001);
    EXPECT_EQ(in.beginTime, kCoreAnimationBeginTimeAtZero);
    EXPECT_EQ(in.fill, AnimationFill::Backwards);
    EXPECT_FALSE(in.removedOnCompletion);
    auto out = none->makeOutAnimation();
    EXPECT_EQ(out.fromValue, 1);
    EXPECT_EQ(out.toValue, 0);
    EXPECT_EQ(out.fill, AnimationFill::Forwards);

    auto scale = RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::Scale);
    EXPECT_EQ(scale->makeInAnimation().keyPath, "transform.scale");
    EXPECT_EQ(scale->makeInAnimation().timing, AnimationTiming::EaseIn);
    EXPECT_EQ(scale->makeOutAnimation().timing, AnimationTiming::Linear);
    EXPECT_EQ(scale->makeOutAnimation().duration, 0.1);

    for (auto [type, keyPath] :
         {std::pair{CaptionAnimationType::Move, "transform.translation.x"},
          std::pair{CaptionAnimationType::Drop, "transform.translation.y"}}) {
        auto animation = RCTimedCaptionAnimation::animationWithType(type);
        auto group = animation->makeInAnimation();
        ASSERT_TRUE(group.isGroup());
        EXPECT_EQ(group.duration, 0.1);
        EXPECT_EQ(group.fill, AnimationFill::Backwards);
        ASSERT_EQ(group.children.size(), 2u);
        EXPECT_EQ(group.children[0].keyPath, "opacity");
        EXPECT_EQ(group.children[1].keyPath, keyPath);
        EXPECT_EQ(group.children[1].fromValue, 35);
        EXPECT_EQ(group.children[1].toValue, -35);
        EXPECT_EQ(group.children[1].duration, 0.2);
        EXPECT_EQ(group.children[1].timing, AnimationTiming::EaseOut);
        EXPECT_EQ(animation->makeOutAnimation().keyPath, "opacity");
    }
    // Picking an animation gives a fresh one of that type.
    auto picked = RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::Scale);
    EXPECT_EQ(picked->type, CaptionAnimationType::Scale);
    EXPECT_EQ(picked->duration, 0.1);
    EXPECT_FALSE(captionAnimationTypeFromCode(5));
    EXPECT_FALSE(captionAnimationTypeFromCode(-1));
}

}  // namespace
}  // namespace pindle
