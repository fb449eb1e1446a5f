#include <gtest/gtest.h>

#include "library/RCFileManager.h"
#include "platform/qt/qt_defaults.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"

namespace pindle {
namespace {

TEST(SettingsFileDefaults, KeepValueTypesAcrossTwoStarts) {
    test::TempDir home;
    auto ini = home / "settings.ini";
    {
        auto defaults = qt::makeSettingsFileDefaults(ini);
        defaults->setBool("flag", true);
        defaults->setInteger("count", -7);
        defaults->setString("name", "a, b = c");
        defaults->setData("blob", Bytes{0, 1, 2, 255});
        defaults->setURL("file", "file:///tmp/a%20b.png");
        ASSERT_TRUE(defaults->synchronize());
    }
    auto defaults = qt::makeSettingsFileDefaults(ini);
    EXPECT_EQ(defaults->boolForKey("flag"), true);
    EXPECT_EQ(defaults->integerForKey("count"), -7);
    EXPECT_EQ(defaults->stringForKey("name"), "a, b = c");
    EXPECT_EQ(defaults->dataForKey("blob"), (Bytes{0, 1, 2, 255}));
    EXPECT_EQ(defaults->urlForKey("file"), "file:///tmp/a%20b.png");
    EXPECT_FALSE(defaults->boolForKey("name"));
    EXPECT_FALSE(defaults->dataForKey("name"));
    EXPECT_FALSE(defaults->contains("absent"));
}

TEST(SettingsFileDefaults, SecondStartOfTheProgramIsNotAFirstLaunch) {
    test::TempDir home;
    RCFileManager files(home.appDirectories());
    std::string guid;
    {
        RCUserSettings first(qt::makeSettingsFileDefaults(home / "settings.ini"), files);
        EXPECT_TRUE(first.isFirstLaunch());
        first.setCaptureSizePresets({{1280, 720}});
        guid = first.guid();
    }
    RCUserSettings second(qt::makeSettingsFileDefaults(home / "settings.ini"), files);
    EXPECT_FALSE(second.isFirstLaunch());
    EXPECT_EQ(second.guid(), guid);
    EXPECT_EQ(second.captureSizePresets(), (std::vector<Size>{{1280, 720}}));
    EXPECT_TRUE(second.soundEnabled());
}

}  // namespace
}  // namespace pindle
