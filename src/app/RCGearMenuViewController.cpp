#include "app/RCGearMenuViewController.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "app/RCMasterAppController.h"
#include "app/RCShortcutHelper.h"
#include "platform/keyboard.h"
#include "settings/RCUserSettings.h"

namespace pindle {

RCGearMenuViewController::RCGearMenuViewController(RCUserSettings& settings, Actions actions)
    : settings_(settings), actions_(std::move(actions)) {
    setupGearMenu();
}

void RCGearMenuViewController::setupGearMenu() {
    shortcutTitles_ = {kNoShortcutTitle};
    for (const char* c = RCShortcutHelper::kOfferedCharacters; *c != '\0'; ++c) {
        shortcutTitles_.push_back(
            RCShortcutHelper::displayString(modifier::kCommand, std::string(1, *c)));
    }
    selectedShortcut_ = 0;
    if (auto current = RCShortcutHelper::getShortcutString()) {
        for (size_t i = 1; i < shortcutTitles_.size(); ++i) {
            if (shortcutTitles_[i] == *current) {
                selectedShortcut_ = i;
            }
        }
    }
}

bool RCGearMenuViewController::captureCursorChecked() const {
    return settings_.captureMouseCursor();
}

void RCGearMenuViewController::captureCursorCheckboxChanged(bool checked) {
    settings_.setCaptureMouseCursor(checked);
    settings_.setCaptureMouseClicks(checked);
}

std::string RCGearMenuViewController::shortcutRouteText() const {
    return RCShortcutHelper::shortcutRoute();
}

void RCGearMenuViewController::shortcutChanged(size_t index) {
    if (index == 0 || index >= shortcutTitles_.size()) {
        selectedShortcut_ = 0;
        RCShortcutHelper::setShortcut(std::nullopt);
        return;
    }
    // The key is the title's last character, after the modifiers.
    std::string key(
        1,
        static_cast<char>(std::tolower(static_cast<unsigned char>(shortcutTitles_[index].back()))));
    uint32_t keyCode = RCShortcutHelper::charToKeyCode(key);
    if (keyCode == 0) {
        selectedShortcut_ = 0;
        RCShortcutHelper::setShortcut(std::nullopt);
        return;
    }
    RCShortcutHelper::setShortcut(RCShortcut{keyCode, modifier::kCommand});
    selectedShortcut_ = index;
}

std::string RCGearMenuViewController::watermarkFileLabel() const {
    if (settings_.watermarkIsSet()) {
        return settings_.watermarkFileName().value_or("");
    }
    return kChooseFileText;
}

std::string RCGearMenuViewController::watermarkButtonTitle() const {
    return settings_.watermarkIsSet() ? "Remove" : "Browse";
}

bool RCGearMenuViewController::watermarkButtonClicked() {
    if (!settings_.watermarkIsSet()) {
        return true;
    }
    settings_.unsetWatermark();
    return false;
}

void RCGearMenuViewController::watermarkFileChosen(const std::filesystem::path& file) {
    settings_.setWatermark(file);
}

void RCGearMenuViewController::clearCapturesConfirmed() {
    if (actions_.removeAllRecordings) {
        actions_.removeAllRecordings();
    }
}

void RCGearMenuViewController::projectPageClicked() {
    if (actions_.openURL) {
        actions_.openURL(projectPageURL());
    }
}

void RCGearMenuViewController::contactUsClicked() {
    if (actions_.openURL) {
        actions_.openURL(contactURL(supportAddress(), RCMasterAppController::getAppVersion(),
                                    RCMasterAppController::getOSVersion()));
    }
}

void RCGearMenuViewController::quitClicked() {
    if (actions_.terminateApp) {
        actions_.terminateApp();
    }
}

std::string RCGearMenuViewController::projectPageURL() {
    const char* web = std::getenv("PINDLE_WEB_URL");
    std::string base = web != nullptr && *web != '\0' ? web : "https://pindle.com";
    if (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + "/capture";
}

std::string RCGearMenuViewController::supportAddress() {
    const char* address = std::getenv("PINDLE_SUPPORT_EMAIL");
    return address != nullptr && *address != '\0' ? address : "support@pindle.com";
}

std::string RCGearMenuViewController::percentEncodeQuery(const std::string& text) {
    // Characters a URL query keeps as they are: unreserved ones and the sub-delimiters,
    // ':', '@', '/' and '?'.
    static const char* kKept = "-._~!$&'()*+,;=:@/?";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || std::strchr(kKept, c) != nullptr) {
            encoded += static_cast<char>(c);
        } else {
            static const char* kHex = "0123456789ABCDEF";
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

std::string RCGearMenuViewController::contactURL(const std::string& address,
                                                 const std::string& appVersion,
                                                 const std::string& osVersion) {
    std::string subject =
        "Feedback for PINDLE Capture (Version " + appVersion + ", Linux " + osVersion + ")";
    return percentEncodeQuery("mailto:" + address + "?Subject=" + subject);
}

}  // namespace pindle
