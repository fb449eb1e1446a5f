#include <gtest/gtest.h>

#include "capture/window/RCCaptureSizeWindowController.h"
#include "library/RCFileManager.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"

namespace pindle {
namespace {

TEST(CaptureSizeSheet, LimitsAndAlerts) {
    struct Row {
        long width, height;
        const char* alert;
    };
    for (Row row :
         {Row{2561, 100, "Capture Size Too Big"}, Row{100, 1601, "Capture Size Too Big"},
          Row{79, 100, "Capture Size Too Small"}, Row{100, 49, "Capture Size Too Small"},
          Row{3000, 10, "Capture Size Too Big"}, Row{80, 50, nullptr}, Row{2560, 1600, nullptr}}) {
        auto alert = RCCaptureSizeWindowController::validate(row.width, row.height);
        if (row.alert == nullptr) {
            EXPECT_FALSE(alert) << row.width << "x" << row.height;
        } else {
            ASSERT_TRUE(alert) << row.width << "x" << row.height;
            EXPECT_EQ(alert->messageText, row.alert);
        }
    }
}

TEST(CaptureSizeSheet, FieldsTakePositiveWholeNumbersOnly) {
    for (const char* ok : {"", "1", "2560", "007"}) {
        EXPECT_TRUE(RCCaptureSizeWindowController::isPartialStringValid(ok)) << ok;
    }
    for (const char* bad : {"0", "-5", "12a", "1.5", " 3", "99999999999999"}) {
        EXPECT_FALSE(RCCaptureSizeWindowController::isPartialStringValid(bad)) << bad;
    }
}

TEST(CaptureSizeSheet, RecentSizesConfirmAspectLockAndPresets) {
    test::TempDir home;
    RCFileManager files(home.appDirectories());
    RCUserSettings settings(makeMemoryDefaults(), files);
    std::vector<Size> confirmed;
    RCCaptureSizeWindowController sheet({640, 320}, settings,
                                        [&](Size size) { confirmed.push_back(size); });
    EXPECT_EQ(sheet.widthText(), "640");

    sheet.setWidthText("");  // an empty field is refused, nothing is stored
    ASSERT_TRUE(sheet.okButtonClicked());
    EXPECT_TRUE(settings.captureSizePresets().empty());

    for (long width = 100; width < 1200; width += 100) {  // eleven distinct sizes
        sheet.setWidthText(std::to_string(width));
        sheet.setHeightText("300");
        EXPECT_FALSE(sheet.okButtonClicked());
    }
    ASSERT_EQ(settings.captureSizePresets().size(), 10u);
    EXPECT_EQ(settings.captureSizePresets().front(), (Size{1100, 300}));
    EXPECT_EQ(settings.captureSizePresets().back(), (Size{200, 300}));
    EXPECT_EQ(confirmed.size(), 11u);

    sheet.setWidthText("500");  // already stored: moves to the front, not added twice
    EXPECT_FALSE(sheet.okButtonClicked());
    EXPECT_EQ(settings.captureSizePresets().size(), 10u);
    EXPECT_EQ(settings.captureSizePresets().front(), (Size{500, 300}));
    EXPECT_EQ(settings.captureSizePresets()[1], (Size{1100, 300}));

    RCCaptureSizeWindowController next({640, 320}, settings, nullptr);
    auto titles = next.presetTitles();
    ASSERT_EQ(titles.size(), 11u);
    EXPECT_EQ(titles[0], "Recently Used");
    EXPECT_EQ(titles[1], "500 x 300 pixels");
    next.presetChanged(2);
    EXPECT_EQ(next.widthText(), "1100");
    next.presetChanged(0);
    EXPECT_EQ(next.widthText(), "1100");

    next.setWidthText("1000");
    next.lockAspectRatioCheckboxChanged(true);
    EXPECT_EQ(next.heightText(), "500");
    next.setWidthText("800");  // the lock is applied only when the box is checked
    EXPECT_EQ(next.heightText(), "500");
}

}  // namespace
}  // namespace pindle
