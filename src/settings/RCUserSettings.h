#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/notifications.h"
#include "platform/defaults.h"

namespace pindle {

class RCFileManager;
class RCPINDLEAPIHelper;

// The user's preferences and account data, kept in the per-user defaults store.
//
// Main thread only. Saving setters write every value at once; plain setters reach the store
// at the next save. Notifications go out on the main queue after the posting call returns.
class RCUserSettings {
public:
    static constexpr const char* kWatermarkUpdateNotification =
        "RCUserSettingsWatermarkUpdateNotification";
    static constexpr const char* kAudioSourceUpdateNotification =
        "RCUserSettingsAudioSourceUpdateNotification";
    static constexpr const char* kPINDLELoginNotification = "RCUserSettingsPINDLELoginNotification";
    static constexpr const char* kPINDLELogoutNotification =
        "RCUserSettingsPINDLELogoutNotification";

    static constexpr const char* kNoAudioSource = "None";

    // Loads the stored values, or makes and saves fresh ones on a first launch.
    RCUserSettings(std::shared_ptr<Defaults> defaults, RCFileManager& files,
                   NotificationCenter& center = NotificationCenter::defaultCenter());

    // The process's instance over the defaults installed with setCurrentDefaults() (memory
    // defaults when none were installed) and the current file manager.
    static RCUserSettings& getCurrentInstance();
    static void setCurrentDefaults(std::shared_ptr<Defaults> defaults);

    void initSavedUserSettings();
    void loadUserSettingsData();
    void saveUserSettingsData();

    const std::string& guid() const { return guid_; }
    bool captureMouseCursor() const { return captureMouseCursor_; }
    bool captureMouseClicks() const { return captureMouseClicks_; }
    bool isFirstLaunch() const { return isFirstLaunch_; }
    const std::optional<std::string>& pindleAccessToken() const { return pindleAccessToken_; }
    const std::optional<std::string>& pindleUsername() const { return pindleUsername_; }
    // The local copy of the avatar; empty for none.
    const std::filesystem::path& pindleAvatarURL() const { return pindleAvatarURL_; }
    bool isPINDLEStaff() const { return isPINDLEStaff_; }
    // The settings' own copy of the watermark image; empty for none.
    const std::filesystem::path& watermarkURL() const { return watermarkURL_; }
    const std::optional<std::string>& watermarkFileName() const { return watermarkFileName_; }
    int64_t preferredSaveFormat() const { return preferredSaveFormat_; }
    const std::string& audioSource() const { return audioSource_; }
    const std::vector<Size>& captureSizePresets() const { return captureSizePresets_; }
    bool soundEnabled() const { return soundEnabled_; }

    bool isLoggedIntoPINDLE() const;
    bool watermarkIsSet() const { return !watermarkURL_.empty(); }
    const std::string& getAudioSource() const { return audioSource_; }
    bool getSoundEnabled() const { return soundEnabled_; }

    // Saving setters.
    void setCaptureMouseCursor(bool value);
    void setCaptureMouseClicks(bool value);
    void setPreferredSaveFormat(int64_t value);
    void setCaptureSizePresets(std::vector<Size> value);
    void setSoundEnabled(bool value);
    void setAudioSource(std::string value);

    // Plain setters.
    void setGuid(std::string value) { guid_ = std::move(value); }
    void setIsFirstLaunch(bool value) { isFirstLaunch_ = value; }
    void setPindleAccessToken(std::optional<std::string> value) {
        pindleAccessToken_ = std::move(value);
    }
    void setPindleUsername(std::optional<std::string> value) { pindleUsername_ = std::move(value); }
    void setPindleAvatarURL(std::filesystem::path value) { pindleAvatarURL_ = std::move(value); }
    void setIsPINDLEStaff(bool value) { isPINDLEStaff_ = value; }
    void setWatermarkURL(std::filesystem::path value) { watermarkURL_ = std::move(value); }
    void setWatermarkFileName(std::optional<std::string> value) {
        watermarkFileName_ = std::move(value);
    }

    // Copies the chosen image into the documents folder and uses the copy.
    void setWatermark(const std::filesystem::path& chosenFile);
    // Deletes the copy and forgets the watermark; does nothing when none is set.
    void unsetWatermark();

    // ---- The account on the online service

    // Why a sign-in or profile refresh did not complete, for callers that report it.
    using AccountFailure = std::function<void(const std::string& reason)>;

    // Stores the token and refreshes the profile. Once the profile is stored: posts
    // kPINDLELoginNotification, calls completion, saves. When the profile cannot be read or
    // lacks the user name or avatar, the token stays (unsaved), nothing is announced and
    // only failure (optional) is called.
    void pindleLoginWithAccessToken(const std::string& accessToken,
                                    std::function<void()> completion,
                                    AccountFailure failure = nullptr);
    // Signed in only: reads the profile and stores the user name, a local copy of the
    // avatar (downloaded off the main thread) and the staff flag, then calls completion.
    // A sign-out or another sign-in meanwhile drops the result.
    void pindleHydrateUserDataWithCompletion(std::function<void()> completion,
                                             AccountFailure failure = nullptr);
    // Forgets the token and profile, deletes the avatar copy, posts
    // kPINDLELogoutNotification and saves.
    void pindleLogout();
    // The user's channel page on the service's web site; nothing without a user name.
    std::optional<std::string> pindleChannelURL() const;

    // The service client of the account operations: RCPINDLEAPIHelper::getCurrentInstance()
    // unless another is set (tests).
    void setServiceClient(RCPINDLEAPIHelper* client) { serviceClient_ = client; }
    RCPINDLEAPIHelper& serviceClient() const;

    Defaults& defaults() { return *defaults_; }
    RCFileManager& fileManager() { return files_; }
    NotificationCenter& notificationCenter() { return center_; }

    // The stored form of the capture size list, and its reading (an empty list for anything
    // unreadable).
    static Bytes archiveSizes(const std::vector<Size>& sizes);
    static std::vector<Size> unarchiveSizes(const Bytes& data);

private:
    void post(const char* name);
    // Downloads the avatar at address, then stores it and the staff flag and calls
    // completion, unless token is no longer the signed-in one.
    void storeAvatar(const std::string& address, const std::string& token, bool isStaff,
                     std::function<void()> completion, AccountFailure failure);

    std::shared_ptr<Defaults> defaults_;
    RCFileManager& files_;
    NotificationCenter& center_;

    std::string guid_;
    bool captureMouseCursor_ = false;
    bool captureMouseClicks_ = false;
    bool isFirstLaunch_ = false;
    std::optional<std::string> pindleAccessToken_;
    std::optional<std::string> pindleUsername_;
    std::filesystem::path pindleAvatarURL_;
    bool isPINDLEStaff_ = false;
    std::filesystem::path watermarkURL_;
    std::optional<std::string> watermarkFileName_;
    int64_t preferredSaveFormat_ = 0;
    std::string audioSource_ = kNoAudioSource;
    std::vector<Size> captureSizePresets_;
    bool soundEnabled_ = false;

    RCPINDLEAPIHelper* serviceClient_ = nullptr;
    // Replies that arrive after the settings are gone see this expired.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace pindle
