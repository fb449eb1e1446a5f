#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pindle {

class RCUserSettings;

// The gear menu's content and actions: capture-cursor option, shortcut choice, watermark
// file, clear captures, the project's web page (there is no app store to rate it in), contact
// and quit. The popover shows what this holds.
class RCGearMenuViewController {
public:
    static constexpr const char* kClearCapturesTitle = "Clear Captures";
    static constexpr const char* kProjectPageTitle = "Visit the Website";
    static constexpr const char* kContactUsTitle = "Contact Us";
    static constexpr const char* kQuitTitle = "Quit PINDLE CAPTURE";
    static constexpr const char* kNoShortcutTitle = "Shortcut";
    static constexpr const char* kChooseFileText = "Choose a file:";

    struct Actions {
        std::function<void()> removeAllRecordings;
        std::function<void()> terminateApp;
        std::function<void(const std::string& url)> openURL;
    };

    RCGearMenuViewController(RCUserSettings& settings, Actions actions);

    // Reads the settings and the stored shortcut again (each time the menu opens).
    void setupGearMenu();

    bool captureCursorChecked() const;
    void captureCursorCheckboxChanged(bool checked);

    // "Shortcut", then the command modifier plus each offered character.
    const std::vector<std::string>& shortcutTitles() const { return shortcutTitles_; }
    size_t selectedShortcutIndex() const { return selectedShortcut_; }
    // Stores the chosen shortcut (none for item 0); a shortcut that cannot be made leaves
    // none and selects item 0.
    void shortcutChanged(size_t index);
    // How the shortcut reaches the program on this desktop, when not by the choice above.
    std::string shortcutRouteText() const;

    std::string watermarkFileLabel() const;
    std::string watermarkButtonTitle() const;
    // true when the button asks for a file (no watermark set); otherwise it removed the
    // watermark.
    bool watermarkButtonClicked();
    void watermarkFileChosen(const std::filesystem::path& file);

    void clearCapturesConfirmed();
    void projectPageClicked();
    void contactUsClicked();
    void quitClicked();

    static std::string projectPageURL();
    static std::string supportAddress();
    // The pre-filled feedback mail link, percent-encoded as a URL query.
    static std::string contactURL(const std::string& address, const std::string& appVersion,
                                  const std::string& osVersion);
    static std::string percentEncodeQuery(const std::string& text);

private:
    RCUserSettings& settings_;
    Actions actions_;
    std::vector<std::string> shortcutTitles_;
    size_t selectedShortcut_ = 0;
};

}  // namespace pindle
