#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "app/RCGearMenuViewController.h"
#include "app/RCMasterAppController.h"
#include "app/RCShortcutHelper.h"
#include "library/RCFileManager.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"

namespace pindle {
namespace {

// A US-like layout on X key codes: a..z, 1..0 at their usual codes, the keypad without
// Num Lock typing nothing.
class FakeLayout : public KeyboardLayout {
public:
    std::map<uint32_t, std::string> keys = {{38, "a"}, {56, "b"}, {42, "g"}, {10, "1"},
                                            {19, "0"}, {87, ""},  {65, " "}};
    int reads = 0;
    std::optional<std::string> textForKeyCode(uint32_t code) override {
        ++reads;
        auto found = keys.find(code);
        if (found == keys.end() || found->second.empty()) {
            return std::nullopt;
        }
        return found->second;
    }
    uint32_t minKeyCode() const override { return 8; }
    uint32_t maxKeyCode() const override { return 255; }
};

class FakeHotKey : public GlobalHotKey {
public:
    std::optional<RCShortcut> bound;
    std::function<void()> action;
    bool refuse = false;
    bool bind(uint32_t code, uint64_t flags, std::function<void()> a) override {
        if (refuse) {
            return false;
        }
        bound = RCShortcut{code, flags};
        action = std::move(a);
        return true;
    }
    void unbind() override {
        bound.reset();
        action = nullptr;
    }
};

class FakeCaptureWindow : public RCMasterAppController::CaptureWindow {
public:
    bool miniaturized = false;
    bool busy = false;
    int toggles = 0;
    int shows = 0;
    void showWindow() override { ++shows; }
    bool isMiniaturized() const override { return miniaturized; }
    void miniaturize() override { miniaturized = true; }
    void deminiaturize() override { miniaturized = false; }
    void toggleCapture() override { ++toggles; }
    void captureLast() override {}
    bool isBusy() const override { return busy; }
    void openGearMenu() override {}
};

class AppShell : public ::testing::Test {
protected:
    void SetUp() override {
        defaults = makeMemoryDefaults();
        layout = std::make_shared<FakeLayout>();
        hotKey = std::make_shared<FakeHotKey>();
        RCShortcutHelper::install(defaults, layout, hotKey);
    }
    void TearDown() override { RCShortcutHelper::install(nullptr, nullptr, nullptr); }

    test::TempDir home;
    RCFileManager files{home.appDirectories()};
    std::shared_ptr<Defaults> defaults;
    std::shared_ptr<FakeLayout> layout;
    std::shared_ptr<FakeHotKey> hotKey;
};

TEST_F(AppShell, StoredShortcutRoundTripsAndShowsAsCtrlAlt) {
    EXPECT_FALSE(RCShortcutHelper::isShortcutSet());
    EXPECT_EQ(RCShortcutHelper::getShortcutString(), std::nullopt);
    RCShortcutHelper::setShortcut(RCShortcut{42, modifier::kCommand});
    EXPECT_TRUE(RCShortcutHelper::isShortcutSet());
    EXPECT_EQ(RCShortcutHelper::getShortcut(), (RCShortcut{42, 0x100000}));
    EXPECT_EQ(RCShortcutHelper::getShortcutString(), "Ctrl+Alt+G");
    RCShortcutHelper::clearShortcut();
    EXPECT_FALSE(defaults->contains("CaptureShortcut"));

    // Damaged stored values read as no shortcut.
    for (std::string bad : {std::string(), std::string("{"), std::string("[1,2]"),
                            std::string("{\"$top\":{\"root\":{\"$class\":\"RCShortcut\"}}}")}) {
        defaults->setData("CaptureShortcut", Bytes(bad.begin(), bad.end()));
        EXPECT_EQ(RCShortcutHelper::getShortcut(), std::nullopt) << bad;
    }
}

TEST_F(AppShell, CharacterTableIsBuiltOnceAndSkipsKeysThatTypeNothing) {
    EXPECT_EQ(RCShortcutHelper::charToKeyCode("g"), 42u);
    EXPECT_EQ(RCShortcutHelper::charToKeyCode("G"), 42u);
    EXPECT_EQ(RCShortcutHelper::charToKeyCode("0"), 19u);
    EXPECT_EQ(RCShortcutHelper::charToKeyCode("z"), 0u);
    int reads = layout->reads;
    layout->keys[52] = "z";  // a layout change after the table was built is not seen
    EXPECT_EQ(RCShortcutHelper::charToKeyCode("z"), 0u);
    EXPECT_EQ(layout->reads, reads);
}

TEST_F(AppShell, BindingFollowsTheStoredShortcut) {
    int pressed = 0;
    RCShortcutHelper::setShortcutAction([&] { ++pressed; });
    EXPECT_FALSE(hotKey->bound);
    RCShortcutHelper::setShortcut(RCShortcut{38, modifier::kCommand});
    ASSERT_TRUE(hotKey->bound);
    EXPECT_EQ(hotKey->bound->keyCode, 38u);
    hotKey->action();
    EXPECT_EQ(pressed, 1);
    RCShortcutHelper::clearShortcut();
    EXPECT_FALSE(hotKey->bound);

    hotKey->refuse = true;  // held by another program
    RCShortcutHelper::setShortcut(RCShortcut{38, modifier::kCommand});
    EXPECT_FALSE(RCShortcutHelper::isShortcutBound());
}

TEST_F(AppShell, MasterControllerStartupShortcutAndQuitRules) {
    RCShortcutHelper::setShortcut(RCShortcut{42, modifier::kCommand});
    RCUserSettings settings(defaults, files);  // a first launch
    ASSERT_TRUE(settings.isFirstLaunch());
    FakeCaptureWindow* window = nullptr;
    std::vector<std::string> steps;
    RCMasterAppController::Environment environment;
    environment.makeCaptureWindowController = [&] {
        auto made = std::make_unique<FakeCaptureWindow>();
        window = made.get();
        return made;
    };
    environment.refreshUserProfile = [&] { steps.push_back("refresh"); };
    environment.saveDataStore = [&] { steps.push_back("store"); };
    environment.cleanUpTempFiles = [&] { steps.push_back("clean"); };
    environment.terminateApplication = [&] { steps.push_back("terminate"); };
    RCMasterAppController controller(settings, environment);

    // A first launch starts without a shortcut; a chosen one is then bound to the controller.
    EXPECT_FALSE(RCShortcutHelper::isShortcutSet());
    ASSERT_NE(window, nullptr);
    controller.launchApp();
    EXPECT_EQ(window->shows, 1);
    EXPECT_EQ(steps, std::vector<std::string>{"refresh"});
    RCShortcutHelper::setShortcut(RCShortcut{42, modifier::kCommand});
    ASSERT_TRUE(hotKey->action);

    // Minimised: the shortcut only restores the window; the next press toggles capture.
    window->miniaturized = true;
    hotKey->action();
    EXPECT_FALSE(window->miniaturized);
    EXPECT_EQ(window->toggles, 0);
    hotKey->action();
    EXPECT_EQ(window->toggles, 1);

    window->busy = true;
    EXPECT_FALSE(controller.applicationShouldTerminate());
    window->busy = false;
    EXPECT_TRUE(controller.applicationShouldTerminate());

    steps.clear();
    controller.terminateApp();
    EXPECT_EQ(steps, (std::vector<std::string>{"store", "clean", "terminate"}));
}

TEST_F(AppShell, GearMenuShortcutListAndWatermark) {
    RCUserSettings settings(defaults, files);
    std::vector<std::string> opened;
    int cleared = 0;
    RCGearMenuViewController menu(
        settings,
        {[&] { ++cleared; }, nullptr, [&](const std::string& url) { opened.push_back(url); }});
    ASSERT_EQ(menu.shortcutTitles().size(), 37u);
    EXPECT_EQ(menu.shortcutTitles()[0], "Shortcut");
    EXPECT_EQ(menu.shortcutTitles()[7], "Ctrl+Alt+G");
    EXPECT_EQ(menu.shortcutTitles()[36], "Ctrl+Alt+0");
    EXPECT_EQ(menu.selectedShortcutIndex(), 0u);

    menu.shortcutChanged(7);
    EXPECT_EQ(RCShortcutHelper::getShortcut(), (RCShortcut{42, modifier::kCommand}));
    RCGearMenuViewController reopened(settings, {});
    EXPECT_EQ(reopened.selectedShortcutIndex(), 7u);

    // A character the layout cannot type leaves no shortcut and selects the first item.
    menu.shortcutChanged(26);  // Ctrl+Alt+Z
    EXPECT_EQ(menu.selectedShortcutIndex(), 0u);
    EXPECT_FALSE(RCShortcutHelper::isShortcutSet());

    menu.captureCursorCheckboxChanged(true);
    EXPECT_TRUE(settings.captureMouseCursor());
    EXPECT_TRUE(settings.captureMouseClicks());

    EXPECT_EQ(menu.watermarkFileLabel(), "Choose a file:");
    EXPECT_TRUE(menu.watermarkButtonClicked());
    test::writeFile(home / "my logo.png", "png");
    menu.watermarkFileChosen(home / "my logo.png");
    EXPECT_EQ(menu.watermarkFileLabel(), "my logo.png");
    EXPECT_EQ(menu.watermarkButtonTitle(), "Remove");
    std::filesystem::path copy = settings.watermarkURL();
    EXPECT_FALSE(menu.watermarkButtonClicked());
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(menu.watermarkButtonTitle(), "Browse");

    menu.contactUsClicked();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].rfind("mailto:support@pindle.com?Subject=Feedback%20for%20PINDLE%20", 0),
              0u)
        << opened[0];
    EXPECT_EQ(opened[0].find(' '), std::string::npos);

    // The project's page, on the configured web host.
    setenv("PINDLE_WEB_URL", "http://127.0.0.1:9/", 1);
    menu.projectPageClicked();
    unsetenv("PINDLE_WEB_URL");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], "http://127.0.0.1:9/capture");
}

}  // namespace
}  // namespace pindle
