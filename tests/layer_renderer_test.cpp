#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cmath>
#include <filesystem>
#include <memory>

#include "platform/qt/qt_layers.h"

namespace pindle {
namespace {

// The renderer needs a QGuiApplication; the offscreen platform needs no display.
class LayerRendering : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QGuiApplication::instance()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "layer_renderer_test";
            static char* argv[] = {name, nullptr};
            static QGuiApplication app(argc, argv);
        }
    }
    std::shared_ptr<LayerRenderer> renderer = qt::makeLayerRenderer();
};

const uint8_t* pixel(const LayerRaster& raster, int x, int y) {
    return raster.image.row(y - raster.originY) + size_t(x - raster.originX) * 4;
}

TEST_F(LayerRendering, BothCaptionFacesAreEmbeddedAndDiffer) {
    TextStyle nexa{"NexaBlack", 100, Color::white(), -3, Color::black()};
    TextStyle italic{"OpenSans-BoldItalic", 100, Color::white(), -3, Color::black()};
    Size a = renderer->measureText("Caption", nexa);
    Size b = renderer->measureText("Caption", italic);
    EXPECT_GT(a.width, 200);
    EXPECT_GT(a.height, 90);
    EXPECT_NE(a.width, b.width) << "the same face drew both";
    // One point is one pixel: twice the size measures twice as wide.
    nexa.pointSize = 200;
    EXPECT_NEAR(renderer->measureText("Caption", nexa).width, 2 * a.width, 2);
}

TEST_F(LayerRendering, FillOutlineAndTheTwoShadows) {
    TextStyle style{"NexaBlack", 100, Color{1, 1, 0, 1}, -3, Color::black()};
    Size size = renderer->measureText("I", style);
    LayerShadow hard{Color::black(0.3), Size{4, -4}, 0, 1};
    LayerRaster raster = renderer->drawText("I", style, hard, size, 1.0);
    ASSERT_FALSE(raster.image.isEmpty());
    EXPECT_LT(raster.originX, 0) << "the outline and shadow reach beyond the frame";
    // Along the middle row: outside, the black outline, then the yellow fill.
    int y = int(size.height / 2);
    int firstInk = -1;
    for (int x = raster.originX; x < int(size.width); ++x) {
        if (pixel(raster, x, y)[3] > 200) {
            firstInk = x;
            break;
        }
    }
    ASSERT_GE(firstInk, 0);
    const uint8_t* outline = pixel(raster, firstInk + 1, y);
    EXPECT_LT(outline[0] + outline[1] + outline[2], 60) << "black outline";
    const uint8_t* fill = pixel(raster, firstInk + 8, y);
    EXPECT_GT(fill[0], 240);
    EXPECT_GT(fill[1], 240);
    EXPECT_LT(fill[2], 20);
    // The hard shadow lies 4 right and 4 down at alpha 0.3: right of the last ink pixel.
    int lastInk = firstInk;
    for (int x = firstInk; x < int(size.width) + 4; ++x) {
        if (pixel(raster, x, y)[3] > 200) {
            lastInk = x;
        }
    }
    EXPECT_NEAR(pixel(raster, lastInk + 3, y)[3], 77, 3);
    EXPECT_EQ(pixel(raster, firstInk - 2, y)[3], 0) << "no shadow on the left";

    // The soft shadow (blur 2, alpha 0.5, no offset) shows on both sides.
    LayerShadow soft{Color::black(0.5), Size{0, 0}, 2, 1};
    style.fontName = "OpenSans-BoldItalic";
    size = renderer->measureText("l", style);
    raster = renderer->drawText("l", style, soft, size, 1.0);
    int left = -1, right = -1;
    for (int x = raster.originX; x < raster.originX + raster.image.width; ++x) {
        uint8_t a = pixel(raster, x, int(size.height / 2))[3];
        if (a > 0 && left < 0) {
            left = x;
        }
        if (a > 0) {
            right = x;
        }
    }
    EXPECT_LT(pixel(raster, left, int(size.height / 2))[3], 128);
    EXPECT_LT(pixel(raster, right, int(size.height / 2))[3], 128);
}

TEST_F(LayerRendering, DashedSelectionOutline) {
    ShapeStyle shape{Rect{{-40, -20}, {280, 100}}, 3, Color::white(), Color::black(0.3), {12, 8}};
    LayerRaster raster = renderer->drawShape(shape, Size{200, 60}, 1.0);
    // The top edge runs 20 above the frame: dashes of 12 on and 8 off.
    int on = 0;
    int transitions = 0;
    bool previous = false;
    for (int x = -30; x < 210; ++x) {
        bool white = pixel(raster, x, -20)[0] > 200 && pixel(raster, x, -20)[3] > 200;
        on += white;
        transitions += white != previous;
        previous = white;
    }
    EXPECT_NEAR(double(on) / 240, 0.6, 0.06);
    EXPECT_GE(transitions, 20);
    EXPECT_NEAR(pixel(raster, 100, 30)[3], 77, 2) << "black at 0.3 inside";
}

// Watermark files whose headers declare pictures beyond the limits are refused before any
// memory is set aside for their pixels; a small one loads whole.
TEST_F(LayerRendering, PicturesAreHeldToTheLimitsTheirHeadersDeclare) {
    const std::filesystem::path pictures = PINDLE_WATERMARK_CORPUS;
    for (const char* name :
         {"png_huge_header.png", "gif_huge_header.gif", "jpeg_huge_header.jpg"}) {
        auto image = renderer->loadImage(pictures / name);
        ASSERT_FALSE(image) << name;
        EXPECT_NE(image.error().message.find("is too large"), std::string::npos)
            << image.error().message;
    }
    auto image = renderer->loadImage(pictures / "small.webp");
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(image->width, 12);
    EXPECT_EQ(image->height, 8);
    auto text = renderer->loadImage(PINDLE_WATERMARK_CORPUS "/../store.dict");
    EXPECT_FALSE(text);
}

}  // namespace
}  // namespace pindle
