#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "captions/LayerCompositor.h"
#include "captions/RCCaptionLayers.h"
#include "platform/layers.h"

namespace pindle {
namespace {

constexpr double T0 = kCoreAnimationBeginTimeAtZero;

// Measures every text as 200 x 60 points, draws text as a solid white block of its frame,
// and "reads" images from a table of sizes. Enough for placement and timing.
class FakeRenderer final : public LayerRenderer {
public:
    std::map<std::string, Size> images;

    Size measureText(const std::string&, const TextStyle&) override { return Size{200, 60}; }
    LayerRaster drawText(const std::string&, const TextStyle&, const LayerShadow&, Size frame,
                         double scale) override {
        return solid(frame, scale);
    }
    LayerRaster drawShape(const ShapeStyle&, Size frame, double scale) override {
        return solid(frame, scale);
    }
    Result<Image> loadImage(const std::filesystem::path& file) override {
        auto it = images.find(file.string());
        if (it == images.end()) {
            return Error{"cannot read " + file.string()};
        }
        return solid(it->second, 1).image;
    }
    Image scaledImage(const Image&, int width, int height) override {
        return solid(Size{double(width), double(height)}, 1).image;
    }

private:
    static LayerRaster solid(Size size, double scale) {
        LayerRaster raster;
        raster.image =
            Image(int(std::lround(size.width * scale)), int(std::lround(size.height * scale)));
        std::fill(raster.image.pixels.begin(), raster.image.pixels.end(), uint8_t(255));
        return raster;
    }
};

class CaptionLayers : public ::testing::Test {
protected:
    CaptionLayers() : renderer(std::make_shared<FakeRenderer>()) { setLayerRenderer(renderer); }
    ~CaptionLayers() override { setLayerRenderer(nullptr); }

    static std::shared_ptr<RCTimedCaption> caption(CaptionAnimationType type, double from,
                                                   double to) {
        auto made = std::make_shared<RCTimedCaption>();
        made->videoDimensions = Size{640, 480};
        made->videoDuration = MediaTime::make(10, 1);
        made->text = "Hello";
        made->animation = RCTimedCaptionAnimation::animationWithType(type);
        made->startTime = MediaTime::makeWithSeconds(from, 600);
        made->endTime = MediaTime::makeWithSeconds(to, 600);
        made->setCenterPosition(Point{320, 240});
        return made;
    }

    static CaptionsSource source(std::vector<std::shared_ptr<RCTimedCaption>> captions,
                                 double trimStart, double trimEnd, int64_t loopType) {
        CaptionsSource made;
        made.dimensions = Size{640, 480};
        made.captions = std::move(captions);
        made.trimmedStartTime = MediaTime::makeWithSeconds(trimStart, 600);
        made.trimmedEndTime = MediaTime::makeWithSeconds(trimEnd, 600);
        made.loopType = loopType;
        made.editedStartTime = made.trimmedStartTime;
        made.editedDuration =
            MediaTime::makeWithSeconds((trimEnd - trimStart) * (loopType == 2 ? 2 : 1), 600);
        return made;
    }

    static double begin(const RCLayerPtr& layer, const char* key) {
        return layer->animationForKey(key)->beginTime;
    }

    std::shared_ptr<FakeRenderer> renderer;
};

TEST_F(CaptionLayers, NormalizedAndReversedTimesForEachLoop) {
    auto fade = caption(CaptionAnimationType::Fade, 0.5, 2.0);
    struct Case {
        int64_t loop;
        std::vector<std::pair<double, double>> inOut;  // per sublayer
    };
    const Case cases[] = {
        {0, {{T0, 0.9}}},
        {1, {{2.1, 3.0 - T0}}},
        {2, {{T0, 0.9}, {5.1, 6.0 - T0}}},
    };
    for (const Case& c : cases) {
        RCLayerPtr layer = generateNormalizedCaptionsLayer(source({fade}, 1.0, 4.0, c.loop));
        ASSERT_EQ(layer->sublayerCount(), c.inOut.size()) << "loop " << c.loop;
        for (size_t i = 0; i < c.inOut.size(); ++i) {
            const RCLayerPtr& sublayer = layer->sublayers()[i];
            EXPECT_NEAR(begin(sublayer, "inAnimation"), c.inOut[i].first, 1e-9) << c.loop;
            EXPECT_NEAR(begin(sublayer, "outAnimation"), c.inOut[i].second, 1e-9) << c.loop;
            EXPECT_GT(begin(sublayer, "inAnimation"), 0) << "exactly 0 would mean now";
        }
    }
    EXPECT_EQ(generateNormalizedCaptionsLayer(source({fade}, 1.0, 4.0, 3)), nullptr);
}

TEST_F(CaptionLayers, VisibilityOverTheOutput) {
    auto opacityAt = [](const CaptionsSource& from, double t) {
        RCLayerPtr layer = generateNormalizedCaptionsLayer(from);
        return evaluateLayer(*layer->sublayers().at(0), t).opacity;
    };
    // A None caption over the whole trim shows on every output frame, first to last.
    auto none = caption(CaptionAnimationType::None, 0, 10);
    for (double t = 0; t <= 3.0; t += 1.0 / 15) {
        EXPECT_EQ(opacityAt(source({none}, 2, 5, 0), t), 1) << t;
    }
    EXPECT_EQ(opacityAt(source({none}, 2, 5, 0), 3.0), 1);
    // A Fade caption that ends after the trim fades out in the last 0.1 s of the output.
    auto fade = caption(CaptionAnimationType::Fade, 2.5, 10);
    EXPECT_EQ(opacityAt(source({fade}, 2, 5, 0), 0.4), 0) << "before it begins";
    EXPECT_NEAR(opacityAt(source({fade}, 2, 5, 0), 0.55), 0.5, 1e-6) << "fading in";
    EXPECT_EQ(opacityAt(source({fade}, 2, 5, 0), 2.85), 1);
    EXPECT_NEAR(opacityAt(source({fade}, 2, 5, 0), 2.95), 0.5, 1e-6) << "fading out";
    EXPECT_EQ(opacityAt(source({fade}, 2, 5, 0), 3.0), 0);
    // A None caption that ends after the trim never leaves.
    auto late = caption(CaptionAnimationType::None, 2.5, 10);
    EXPECT_EQ(opacityAt(source({late}, 2, 5, 0), 3.0), 1);
    EXPECT_EQ(opacityAt(source({late}, 2, 5, 0), 0.4), 0);
}

TEST_F(CaptionLayers, CaptionsWhollyOutsideTheTrimNeverShow) {
    // Normalizing alone moves such a caption's exit to the end of the output, where it
    // would flash (the exit wins over the entrance that has not begun).
    auto after = caption(CaptionAnimationType::Fade, 6, 8);
    auto before = caption(CaptionAnimationType::Scale, 0, 1);
    auto plain = generateCaptionsLayerWithOptions(source({after}, 2, 5, 0));
    normalizeCaptionsLayer(*plain, 2, 3);
    EXPECT_GT(evaluateLayer(*plain->sublayers()[0], 2.95).opacity, 0) << "the flash";

    auto inside = caption(CaptionAnimationType::Fade, 1, 3);
    for (int64_t loop : {0, 1, 2}) {
        RCLayerPtr layer =
            generateNormalizedCaptionsLayer(source({after, before, inside}, 2, 5, loop));
        ASSERT_EQ(layer->sublayerCount(), loop == 2 ? 2u : 1u) << loop;
        Image frame(64, 48);
        Image empty = frame;
        drawLayerTree(frame, *generateNormalizedCaptionsLayer(source({after, before}, 2, 5, loop)),
                      loop == 2 ? 5.95 : 2.95);
        EXPECT_EQ(frame.pixels, empty.pixels) << loop;
    }
}

TEST_F(CaptionLayers, PlacementStackingAndSelectionOutline) {
    auto first = caption(CaptionAnimationType::None, 0, 10);
    auto second = caption(CaptionAnimationType::Fade, 0, 10);
    second->setSelected(true);
    RCLayerPtr plain = generateCaptionsLayerWithOptions(source({first, second}, 0, 10, 0));
    EXPECT_EQ(plain->frame, (Rect{{0, 0}, {640, 480}}));
    EXPECT_EQ(plain->sublayers()[0]->frame, (Rect{{220, 210}, {200, 60}}));
    EXPECT_EQ(plain->sublayers()[0]->zPosition, 0);
    EXPECT_EQ(plain->sublayers()[1]->zPosition, 1);
    EXPECT_EQ(plain->sublayers()[1]->kind(), LayerKind::Text) << "not highlighted unless asked";

    CaptionLayerOptions highlight;
    highlight.highlightSelected = true;
    RCLayerPtr edited =
        generateCaptionsLayerWithOptions(source({first, second}, 0, 10, 0), highlight);
    EXPECT_EQ(edited->sublayers()[0]->kind(), LayerKind::Text);
    const RCLayer& outline = *edited->sublayers()[1];
    ASSERT_EQ(outline.kind(), LayerKind::Shape);
    EXPECT_EQ(outline.shape.path, (Rect{{-40, -20}, {280, 100}}));
    EXPECT_EQ(outline.shape.dashPattern, (std::vector<double>{12, 8}));
    EXPECT_EQ(outline.shape.lineWidth, 3);
    EXPECT_TRUE(outline.animations().empty());
    ASSERT_EQ(outline.sublayerCount(), 1u);
    EXPECT_NE(outline.sublayers()[0]->animationForKey("inAnimation"), nullptr);

    // The later caption draws above the earlier one where they overlap.
    first->color = Color{1, 0, 0, 1};
    Image frame(640, 480);
    drawLayerTree(frame, *plain, 5);
    EXPECT_EQ(frame.row(240)[320 * 4 + 3], 255);
}

TEST_F(CaptionLayers, WatermarkFitsTheVideoAndBadImagesAreLeftOut) {
    renderer->images["mark.png"] = Size{100, 50};
    renderer->images["flat.png"] = Size{100, 0};
    RCLayerPtr mark = generateWatermarkLayer(Size{640, 480}, "mark.png");
    ASSERT_EQ(mark->sublayerCount(), 1u);
    EXPECT_EQ(mark->sublayers()[0]->frame, (Rect{{0, 80}, {640, 320}}));
    EXPECT_EQ(generateWatermarkLayer(Size{640, 480}, "flat.png")->sublayerCount(), 0u);
    EXPECT_EQ(generateWatermarkLayer(Size{640, 480}, "missing.png")->sublayerCount(), 0u);
    EXPECT_EQ(generateWatermarkLayer(Size{640, 480}, "")->sublayerCount(), 0u);
    EXPECT_EQ(aspectFitRect(Size{0, 10}, Rect{{0, 0}, {640, 480}}).size, Size{});

    // Drawn into a picture of half the size, it covers the same part of the picture.
    Image frame(320, 240);
    drawLayerTree(frame, *mark, 0);
    EXPECT_EQ(frame.row(39)[3], 0);
    EXPECT_EQ(frame.row(40)[3], 255);
    EXPECT_EQ(frame.row(199)[319 * 4 + 3], 255);
    EXPECT_EQ(frame.row(200)[3], 0);
}

TEST_F(CaptionLayers, EachAnimationAtChosenTimes) {
    struct Sample {
        double t;
        LayerState expected;
    };
    // Captions from 1 s to 3 s on an untrimmed 10 s recording.
    auto check = [&](CaptionAnimationType type, std::vector<Sample> samples) {
        RCLayerPtr layer = generateNormalizedCaptionsLayer(source({caption(type, 1, 3)}, 0, 10, 0));
        const RCLayer& text = *layer->sublayers().at(0);
        for (const Sample& s : samples) {
            LayerState got = evaluateLayer(text, s.t);
            SCOPED_TRACE(std::string(captionAnimationTypeLabel(type)) + " at " +
                         std::to_string(s.t));
            EXPECT_NEAR(got.opacity, s.expected.opacity, 1e-3);
            EXPECT_NEAR(got.scale, s.expected.scale, 1e-3);
            EXPECT_NEAR(got.translationX, s.expected.translationX, 0.05);
            EXPECT_NEAR(got.translationY, s.expected.translationY, 0.05);
        }
    };
    check(CaptionAnimationType::None, {{0.5, {0, 1, 0, 0}},
                                       {1.001, {1, 1, 0, 0}},
                                       {2.99995, {0.5, 1, 0, 0}},
                                       {3.5, {0, 1, 0, 0}}});
    check(CaptionAnimationType::Fade, {{0.5, {0, 1, 0, 0}},
                                       {1.05, {0.5, 1, 0, 0}},
                                       {2, {1, 1, 0, 0}},
                                       {2.95, {0.5, 1, 0, 0}},
                                       {3.5, {0, 1, 0, 0}}});
    // Ease-in at half time: 0.3154; the exit is linear.
    check(CaptionAnimationType::Scale, {{0.5, {1, 0, 0, 0}},
                                        {1.05, {1, 0.31536, 0, 0}},
                                        {2, {1, 1, 0, 0}},
                                        {2.95, {1, 0.5, 0, 0}},
                                        {3.5, {1, 0, 0, 0}}});
    // The slide of 70 points over 0.2 s, eased out, is cut by its 0.1 s group: the text is
    // about 13 points beyond its rest when the group ends, and at rest from then on.
    check(CaptionAnimationType::Move, {{0.5, {0, 1, 35, 0}},
                                       {1.05, {0.5, 1, 8.53, 0}},
                                       {1.0999999, {1, 1, -12.93, 0}},
                                       {1.1, {1, 1, 0, 0}},
                                       {2.95, {0.5, 1, 0, 0}},
                                       {3.5, {0, 1, 0, 0}}});
    check(CaptionAnimationType::Drop, {{0.5, {0, 1, 0, 35}},
                                       {1.0999999, {1, 1, 0, -12.93}},
                                       {1.2, {1, 1, 0, 0}},
                                       {3.5, {0, 1, 0, 0}}});
}

TEST(LayerCompositing, BlendsWithOpacityAndScale) {
    Image picture(2, 2);
    std::fill(picture.pixels.begin(), picture.pixels.end(), uint8_t(255));
    Image frame(8, 8);
    for (size_t i = 3; i < frame.pixels.size(); i += 4) {
        frame.pixels[i] = 255;  // opaque black
    }
    blendPicture(frame, picture, 1, 1, 1, 1, 0.5);
    EXPECT_NEAR(frame.row(1)[4], 128, 1);
    EXPECT_EQ(frame.row(1)[3 * 4], 0) << "outside the picture";
    blendPicture(frame, picture, 4, 4, 2, 2, 1);  // covers 4..7
    EXPECT_EQ(frame.row(7)[7 * 4], 255);
    EXPECT_EQ(frame.row(3)[4 * 4], 0);
    blendPicture(frame, picture, -1, 6, 1, 1, 1);  // partly outside: clipped
    EXPECT_EQ(frame.row(7)[0], 255);
}

}  // namespace
}  // namespace pindle
