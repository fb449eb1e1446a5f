#include <gtest/gtest.h>

#include "base/dispatch.h"
#include "library/RCFileManager.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"

namespace pindle {
namespace {

class UserSettingsTest : public ::testing::Test {
protected:
    test::TempDir home;
    RCFileManager files{home.appDirectories()};
    std::shared_ptr<Defaults> store = makeMemoryDefaults();
    NotificationCenter center;

    std::unique_ptr<RCUserSettings> start() {
        return std::make_unique<RCUserSettings>(store, files, center);
    }

    int countNotifications(const char* name, const std::function<void()>& action) {
        int count = 0;
        auto token = center.addObserver(name, nullptr, [&](const Notification&) { ++count; });
        action();
        dispatch::drainMainQueue();
        return count;
    }
};

TEST_F(UserSettingsTest, FirstLaunchStoresFreshValuesAndLaterLaunchesLoadThem) {
    auto first = start();
    EXPECT_TRUE(first->isFirstLaunch());
    EXPECT_EQ(first->guid().size(), 36u);
    EXPECT_FALSE(first->soundEnabled());
    EXPECT_EQ(first->audioSource(), "None");
    EXPECT_EQ(store->stringForKey("userGuid"), first->guid());
    EXPECT_FALSE(store->contains("pindleAccessToken"));
    EXPECT_FALSE(store->contains("watermarkURL"));

    first->setCaptureMouseCursor(true);
    first->setPreferredSaveFormat(2);
    first->setAudioSource("Microphone");
    first->setCaptureSizePresets({{800, 600}, {320, 240}});
    first->setPindleAccessToken("token");  // plain setter: stored at the next save
    EXPECT_FALSE(store->contains("pindleAccessToken"));
    first->setSoundEnabled(false);
    std::string guid = first->guid();

    auto later = start();
    EXPECT_FALSE(later->isFirstLaunch());
    EXPECT_EQ(later->guid(), guid);
    EXPECT_TRUE(later->captureMouseCursor());
    EXPECT_FALSE(later->captureMouseClicks());
    EXPECT_EQ(later->preferredSaveFormat(), 2);
    EXPECT_EQ(later->audioSource(), "None");  // never read back
    EXPECT_TRUE(later->soundEnabled());       // on after the first run, whatever was stored
    EXPECT_EQ(later->captureSizePresets(), (std::vector<Size>{{800, 600}, {320, 240}}));
    EXPECT_EQ(later->pindleAccessToken(), "token");
    EXPECT_TRUE(later->isLoggedIntoPINDLE());

    later->setPindleAccessToken(std::nullopt);
    later->saveUserSettingsData();
    EXPECT_FALSE(store->contains("pindleAccessToken"));
}

TEST_F(UserSettingsTest, UnreadableSizePresetsLoadAsAnEmptyList) {
    start()->setCaptureMouseClicks(true);
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    for (std::string bad : {std::string("not json"), std::string("{\"$archive\": 3}"),
                            std::string("{\"$archive\": {\"NS.objects\": [{\"width\": \"x\"}]}}"),
                            "{\"$archiver\": " + deep + "}"}) {
        store->setData("captureSizePresets", Bytes(bad.begin(), bad.end()));
        auto settings = start();
        EXPECT_TRUE(settings->captureSizePresets().empty()) << bad;
        EXPECT_TRUE(settings->captureMouseClicks());
    }
    store->setString("captureSizePresets", "wrong type");
    EXPECT_TRUE(start()->captureSizePresets().empty());
}

TEST_F(UserSettingsTest, WatermarkIsCopiedAndAnnouncedOnce) {
    auto settings = start();
    test::writeFile(home / "my logo.png", "png bytes");

    int posted = countNotifications(RCUserSettings::kWatermarkUpdateNotification,
                                    [&] { settings->setWatermark(home / "my logo.png"); });
    EXPECT_EQ(posted, 1);
    ASSERT_TRUE(settings->watermarkIsSet());
    auto copy = settings->watermarkURL();
    EXPECT_EQ(copy.parent_path(), files.documentDirectoryURL());
    EXPECT_EQ(copy.extension(), ".png");
    EXPECT_EQ(test::readFile(copy), "png bytes");
    EXPECT_EQ(settings->watermarkFileName(), "my logo.png");
    EXPECT_EQ(start()->watermarkURL(), copy);  // stored as a file address and read back

    posted = countNotifications(RCUserSettings::kWatermarkUpdateNotification,
                                [&] { settings->unsetWatermark(); });
    EXPECT_EQ(posted, 1);
    EXPECT_FALSE(files.fileExists(copy));
    EXPECT_FALSE(settings->watermarkFileName());
    EXPECT_FALSE(store->contains("watermarkURL"));

    posted = countNotifications(RCUserSettings::kWatermarkUpdateNotification,
                                [&] { settings->unsetWatermark(); });
    EXPECT_EQ(posted, 0);
}

// The settings file may name any file as the avatar or watermark copy.
TEST_F(UserSettingsTest, SigningOutAndUnsettingTheWatermarkDeleteNoFileOfTheUser) {
    test::TempDir user;
    test::writeFile(user / "avatar.png", "mine");
    test::writeFile(user / "logo.png", "mine too");
    auto settings = start();
    settings->setPindleAccessToken("token");
    settings->setPindleAvatarURL(user / "avatar.png");
    settings->setWatermarkURL(user / "logo.png");
    settings->saveUserSettingsData();

    auto later = start();
    later->pindleLogout();
    later->unsetWatermark();
    EXPECT_FALSE(later->watermarkIsSet());
    EXPECT_TRUE(later->pindleAvatarURL().empty());
    EXPECT_EQ(test::readFile(user / "avatar.png"), "mine");
    EXPECT_EQ(test::readFile(user / "logo.png"), "mine too");
}

TEST_F(UserSettingsTest, AudioSourceChangeIsAnnounced) {
    auto settings = start();
    int posted = countNotifications(RCUserSettings::kAudioSourceUpdateNotification,
                                    [&] { settings->setAudioSource("Line In"); });
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(settings->getAudioSource(), "Line In");
}

}  // namespace
}  // namespace pindle
