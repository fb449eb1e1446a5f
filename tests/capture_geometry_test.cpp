#include <gtest/gtest.h>

#include <vector>

#include "capture/CaptureGeometry.h"

namespace pindle {
namespace {

using namespace capture_geometry;

TEST(CaptureGeometry, CropIsCutAtTheScreenEdgesWithAnEvenSize) {
    const Rect screen{{0, 0}, {1440, 900}};
    const Rect second{{1440, -200}, {1920, 1080}};  // right of the primary, lower
    struct Row {
        const char* what;
        Rect frame;
        Rect screen;
        Rect crop;
    };
    const std::vector<Row> rows = {
        {"inside, fractional size",
         {{100.25, 50.5}, {301.6, 200.4}},
         screen,
         {{100.25, 50.5}, {302, 200}}},
        {"odd width rounds down to even", {{10, 10}, {303.0, 240}}, screen, {{10, 10}, {302, 240}}},
        {"past the right edge", {{1300, 100}, {300, 200}}, screen, {{1300, 100}, {140, 200}}},
        {"past the top edge", {{100, 800}, {300, 200}}, screen, {{100, 800}, {300, 100}}},
        {"past the left edge", {{-100, 100}, {300, 200}}, screen, {{0, 100}, {200, 200}}},
        {"past the bottom edge", {{100, -51}, {300, 200}}, screen, {{100, 0}, {300, 148}}},
        {"on a second screen", {{1500, -100}, {400, 300}}, second, {{60, 100}, {400, 300}}},
        {"off the screen", {{2000, 2000}, {100, 100}}, screen, {{2000, 2000}, {0, 0}}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(cropRectForFrame(row.frame, row.screen), row.crop) << row.what;
    }
}

TEST(CaptureGeometry, BitRateGrowsWithTheAreaUpToTheCeiling) {
    EXPECT_EQ(bitRateForCropSize(320, 240), 52'531'200);
    EXPECT_EQ(bitRateForCropSize(2, 2), 2735);  // single-precision product, truncated
    EXPECT_LT(bitRateForCropSize(175'438, 1), 120'000'000);
    EXPECT_EQ(bitRateForCropSize(175'439, 1), 120'000'000);
    EXPECT_EQ(bitRateForCropSize(1280, 720), 120'000'000);
    EXPECT_EQ(bitRateForCropSize(7680, 4320), 120'000'000);
}

TEST(CaptureGeometry, DisplayCentreIsMeasuredFromThePrimaryTopLeft) {
    const Rect primary{{0, 0}, {1920, 1080}};
    EXPECT_EQ(displayCentreOfFrame({{100, 80}, {200, 100}}, primary), (Point{200, 950}));
    // A screen stacked above the primary has negative display y.
    EXPECT_EQ(displayCentreOfFrame({{0, 1080}, {100, 100}}, primary), (Point{50, -50}));
}

TEST(CaptureGeometry, ScreenIsTheOneUnderTheCentreElseTheOneHoldingMost) {
    // Three monitors: primary, one to its right, one stacked above the primary.
    const std::vector<Screen> screens = {
        {11, {{0, 0}, {1920, 1080}}, 1.0, "primary"},
        {22, {{1920, 0}, {1280, 1024}}, 1.0, "right"},
        {33, {{0, 1080}, {1920, 1080}}, 1.0, "above"},
    };
    struct Row {
        const char* what;
        Rect frame;
        std::vector<DisplayID> underCentre;
        DisplayID expected;  // 0: refused
    };
    const std::vector<Row> rows = {
        {"centre on the right monitor", {{1800, 100}, {400, 300}}, {22}, 22},
        {"centre on the upper monitor", {{100, 1000}, {300, 400}}, {33}, 33},
        {"first display reported wins", {{1900, 100}, {40, 40}}, {11, 22}, 11},
        {"unknown display: most area", {{1000, 100}, {1000, 300}}, {99}, 11},
        {"centre in a gap, right holds most", {{1800, 900}, {600, 400}}, {}, 22},
        {"centre in a gap, upper holds most", {{1700, 1000}, {1000, 400}}, {}, 33},
        {"touches nothing", {{5000, 5000}, {100, 100}}, {}, 0},
        {"no area", {{100, 100}, {0, 50}}, {11}, 0},
    };
    for (const Row& row : rows) {
        auto chosen = screenForFrame(row.frame, screens, row.underCentre);
        if (row.expected == 0) {
            EXPECT_FALSE(chosen.ok()) << row.what;
        } else {
            ASSERT_TRUE(chosen.ok()) << row.what << ": " << chosen.error().message;
            EXPECT_EQ(chosen->displayID, row.expected) << row.what;
        }
    }
    EXPECT_FALSE(screenForFrame({{0, 0}, {10, 10}}, {}, {}).ok());
}

}  // namespace
}  // namespace pindle
