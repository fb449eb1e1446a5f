// From Wayland outputs to the program's screens and from capture regions to the pixels of a
// screen-cast stream, at whole and fractional scales.

#include <gtest/gtest.h>

#include "capture/CaptureGeometry.h"
#include "platform/wayland/wayland_geometry.h"

namespace pindle::wayland {
namespace {

Output output(DisplayID id, PixelRect logical, int pixelWidth, const char* name) {
    Output o;
    o.displayID = id;
    o.logical = logical;
    o.pixelWidth = pixelWidth;
    o.name = name;
    return o;
}

TEST(WaylandGeometry, ScreensAreInLogicalPointsWithTheOutputsScale) {
    // A 2560x1440 panel at scale 2 left of a 1920x1080 one at 1.5 (1280x720 points), both
    // with their tops level; the second one is the one at the origin.
    const std::vector<Output> outputs{
        output(7, {-1280, 0, 1280, 720}, 2560, "DP-1"),
        output(9, {0, 0, 1280, 720}, 1920, "eDP-1"),
        output(11, {1280, 0, 1000, 500}, 0, "HDMI-A-1"),
    };
    const auto screens = screensForOutputs(outputs);
    ASSERT_EQ(screens.size(), 3u);
    EXPECT_EQ(screens[0].displayID, 9u);  // the output at the origin comes first
    EXPECT_DOUBLE_EQ(screens[0].backingScaleFactor, 1.5);
    EXPECT_EQ(screens[0].frame, (Rect{{0, 0}, {1280, 720}}));
    EXPECT_EQ(screens[1].displayID, 7u);
    EXPECT_DOUBLE_EQ(screens[1].backingScaleFactor, 2.0);
    EXPECT_EQ(screens[1].frame, (Rect{{-1280, 0}, {1280, 720}}));
    // Shorter than the primary and top-aligned: its bottom is above the primary's.
    EXPECT_EQ(screens[2].frame, (Rect{{1280, 220}, {1000, 500}}));
    EXPECT_DOUBLE_EQ(screens[2].backingScaleFactor, 1.0);  // no mode: the integer scale
}

TEST(WaylandGeometry, ARegionOverTwoOutputsIsTakenFromTheOneHoldingMostOfIt) {
    const std::vector<Output> outputs{
        output(1, {0, 0, 1280, 720}, 2560, "scale 2"),
        output(2, {1280, 0, 1280, 720}, 1920, "scale 1.5"),
    };
    const auto screens = screensForOutputs(outputs);
    // 300 points wide, 100 on the first output and 200 on the second.
    const Rect mostlyRight{{1180, 300}, {300, 200}};
    const Point centre = capture_geometry::displayCentreOfFrame(mostlyRight, screens[0].frame);
    auto screen =
        capture_geometry::screenForFrame(mostlyRight, screens, outputsContaining(outputs, centre));
    ASSERT_TRUE(screen.ok());
    EXPECT_EQ(screen->displayID, 2u);
    EXPECT_EQ(capture_geometry::cropRectForFrame(mostlyRight, screen->frame),
              (Rect{{0, 300}, {200, 200}}));

    const Rect mostlyLeft{{1000, 300}, {300, 200}};
    screen = capture_geometry::screenForFrame(
        mostlyLeft, screens,
        outputsContaining(outputs,
                          capture_geometry::displayCentreOfFrame(mostlyLeft, screens[0].frame)));
    ASSERT_TRUE(screen.ok());
    EXPECT_EQ(screen->displayID, 1u);
}

TEST(WaylandGeometry, CropsMapToStreamPixelsAtScales1And2And1Point5) {
    const Size logical{1280, 720};
    // 100 points from the left, 50 from the top: y up, the crop's bottom is 720-50-300.
    const Rect crop{{100, 370}, {400, 300}};
    EXPECT_EQ(streamRectForCrop(crop, logical, 1280, 720), (PixelRect{100, 50, 400, 300}));
    EXPECT_EQ(streamRectForCrop(crop, logical, 2560, 1440), (PixelRect{200, 100, 800, 600}));
    EXPECT_EQ(streamRectForCrop(crop, logical, 1920, 1080), (PixelRect{150, 75, 600, 450}));
    // Kept inside the stream; nothing when the crop lies outside it.
    EXPECT_EQ(streamRectForCrop(Rect{{1200, -20}, {200, 100}}, logical, 1920, 1080),
              (PixelRect{1800, 960, 120, 120}));
    EXPECT_EQ(streamRectForCrop(Rect{{1300, 0}, {10, 10}}, logical, 1920, 1080), PixelRect{});
}

TEST(WaylandGeometry, TheStreamIsMatchedToItsOutputByPlace) {
    const std::vector<Output> outputs{
        output(1, {0, 0, 1280, 720}, 1280, "left"),
        output(2, {1280, 0, 1920, 1080}, 1920, "right"),
    };
    EXPECT_EQ(outputForStream(outputs, 1280, 0, 1920, 1080), &outputs[1]);
    EXPECT_EQ(outputForStream(outputs, 0, 0, 1280, 720), &outputs[0]);
    EXPECT_EQ(outputForStream(outputs, 640, 0, 1280, 720), nullptr);
}

}  // namespace
}  // namespace pindle::wayland
