#include "settings/RCUserSettings.h"

#include <algorithm>
#include <mutex>

#include "base/atomic_file.h"
#include "base/keyed_archive.h"
#include "base/log.h"
#include "library/RCFileManager.h"
#include "library/RCUtilities.h"
#include "service/AFHTTPRequestOperation.h"
#include "service/RCPINDLEAPIHelper.h"
#include "service/RCShareLinks.h"
#include "service/URL.h"

namespace pindle {
namespace {

constexpr const char* kUserGuidKey = "userGuid";
constexpr const char* kCaptureMouseCursorKey = "captureMouseCursor";
constexpr const char* kCaptureMouseClicksKey = "captureMouseClicks";
constexpr const char* kAccessTokenKey = "pindleAccessToken";
constexpr const char* kUsernameKey = "pindleUsername";
constexpr const char* kAvatarURLKey = "pindleAvatarURL";
constexpr const char* kIsStaffKey = "isPINDLEStaff";
constexpr const char* kWatermarkURLKey = "watermarkURL";
constexpr const char* kWatermarkFileNameKey = "watermarkFileName";
constexpr const char* kAudioSourceKey = "audioSource";
constexpr const char* kPreferredSaveFormatKey = "preferredSaveFormat";
constexpr const char* kCaptureSizePresetsKey = "captureSizePresets";
constexpr const char* kSoundEnabledKey = "soundEnabled";

std::mutex gDefaultsMutex;  // guards gCurrentDefaults
std::shared_ptr<Defaults> gCurrentDefaults;

std::filesystem::path pathFromStoredURL(const std::optional<std::string>& url) {
    return url ? std::filesystem::path(pathFromFileURL(*url)) : std::filesystem::path();
}

void storeString(Defaults& defaults, const char* key, const std::optional<std::string>& value) {
    if (value) {
        defaults.setString(key, *value);
    } else {
        defaults.remove(key);
    }
}

// data -> key as a non-empty text, or empty.
std::string profileText(const nlohmann::json& data, const char* key) {
    auto value = data.find(key);
    return value != data.end() && value->is_string() ? value->get<std::string>() : std::string();
}

// data -> key as a flag: booleans, numbers (non-zero) and the texts "true", "yes" and "1";
// absent or anything else is false.
bool profileFlag(const nlohmann::json& data, const char* key) {
    auto value = data.find(key);
    if (value == data.end()) {
        return false;
    }
    if (value->is_boolean()) {
        return value->get<bool>();
    }
    if (value->is_number()) {
        return value->get<double>() != 0;
    }
    if (value->is_string()) {
        std::string text = value->get<std::string>();
        return text == "true" || text == "yes" || text == "1";
    }
    return false;
}

void storeFileURL(Defaults& defaults, const char* key, const std::filesystem::path& value) {
    if (value.empty()) {
        defaults.remove(key);
    } else {
        defaults.setURL(key, fileURLFromPath(value.string()));
    }
}

}  // namespace

RCUserSettings::RCUserSettings(std::shared_ptr<Defaults> defaults, RCFileManager& files,
                               NotificationCenter& center)
    : defaults_(std::move(defaults)), files_(files), center_(center) {
    initSavedUserSettings();
}

RCUserSettings& RCUserSettings::getCurrentInstance() {
    static RCUserSettings* instance = [] {
        std::shared_ptr<Defaults> defaults;
        {
            std::lock_guard lock(gDefaultsMutex);
            defaults = gCurrentDefaults ? gCurrentDefaults : makeMemoryDefaults();
        }
        // The service client reads the signed-in account from here at each call.
        RCPINDLEAPIHelper::setCurrentAccountProvider([] {
            RCUserSettings& settings = getCurrentInstance();
            return PINDLEAccount{settings.pindleAccessToken().value_or(""),
                                 settings.isPINDLEStaff()};
        });
        return new RCUserSettings(std::move(defaults), RCFileManager::getCurrentInstance());
    }();
    return *instance;
}

void RCUserSettings::setCurrentDefaults(std::shared_ptr<Defaults> defaults) {
    std::lock_guard lock(gDefaultsMutex);
    gCurrentDefaults = std::move(defaults);
}

void RCUserSettings::initSavedUserSettings() {
    if (defaults_->contains(kUserGuidKey)) {
        isFirstLaunch_ = false;
        loadUserSettingsData();
        return;
    }
    isFirstLaunch_ = true;
    guid_ = RCUtilities::makeGUID();
    captureMouseCursor_ = false;
    captureMouseClicks_ = false;
    isPINDLEStaff_ = false;
    soundEnabled_ = false;
    watermarkURL_.clear();
    watermarkFileName_.reset();
    preferredSaveFormat_ = 0;
    captureSizePresets_.clear();
    audioSource_ = kNoAudioSource;
    saveUserSettingsData();
}

void RCUserSettings::loadUserSettingsData() {
    const Defaults& d = *defaults_;
    guid_ = d.stringForKey(kUserGuidKey).value_or("");
    captureMouseCursor_ = d.boolForKey(kCaptureMouseCursorKey).value_or(false);
    captureMouseClicks_ = d.boolForKey(kCaptureMouseClicksKey).value_or(false);
    pindleAccessToken_ = d.stringForKey(kAccessTokenKey);
    pindleUsername_ = d.stringForKey(kUsernameKey);
    pindleAvatarURL_ = pathFromStoredURL(d.urlForKey(kAvatarURLKey));
    isPINDLEStaff_ = d.boolForKey(kIsStaffKey).value_or(false);
    watermarkURL_ = pathFromStoredURL(d.urlForKey(kWatermarkURLKey));
    watermarkFileName_ = d.stringForKey(kWatermarkFileNameKey);
    preferredSaveFormat_ = d.integerForKey(kPreferredSaveFormatKey).value_or(0);
    // The stored audio source is not read: capture always starts without audio.
    audioSource_ = kNoAudioSource;
    auto presets = d.dataForKey(kCaptureSizePresetsKey);
    captureSizePresets_ = presets ? unarchiveSizes(*presets) : std::vector<Size>{};
    // Sound is on in every run after the first, whatever was stored.
    soundEnabled_ = true;
}

void RCUserSettings::saveUserSettingsData() {
    Defaults& d = *defaults_;
    storeString(d, kUserGuidKey, guid_);
    d.setBool(kCaptureMouseCursorKey, captureMouseCursor_);
    d.setBool(kCaptureMouseClicksKey, captureMouseClicks_);
    storeString(d, kAccessTokenKey, pindleAccessToken_);
    storeString(d, kUsernameKey, pindleUsername_);
    storeFileURL(d, kAvatarURLKey, pindleAvatarURL_);
    d.setBool(kIsStaffKey, isPINDLEStaff_);
    storeFileURL(d, kWatermarkURLKey, watermarkURL_);
    storeString(d, kWatermarkFileNameKey, watermarkFileName_);
    d.setString(kAudioSourceKey, audioSource_);
    d.setInteger(kPreferredSaveFormatKey, preferredSaveFormat_);
    d.setData(kCaptureSizePresetsKey, archiveSizes(captureSizePresets_));
    d.setBool(kSoundEnabledKey, soundEnabled_);
    if (!d.synchronize()) {
        PINDLE_LOG_ERROR("settings", "cannot write the settings");
    }
}

bool RCUserSettings::isLoggedIntoPINDLE() const {
    return pindleAccessToken_ && !pindleAccessToken_->empty();
}

void RCUserSettings::setCaptureMouseCursor(bool value) {
    captureMouseCursor_ = value;
    saveUserSettingsData();
}

void RCUserSettings::setCaptureMouseClicks(bool value) {
    captureMouseClicks_ = value;
    saveUserSettingsData();
}

void RCUserSettings::setPreferredSaveFormat(int64_t value) {
    preferredSaveFormat_ = value;
    saveUserSettingsData();
}

void RCUserSettings::setCaptureSizePresets(std::vector<Size> value) {
    captureSizePresets_ = std::move(value);
    saveUserSettingsData();
}

void RCUserSettings::setSoundEnabled(bool value) {
    PINDLE_LOG_DEBUG("settings", "setSoundEnabled %d", value ? 1 : 0);
    soundEnabled_ = value;
    saveUserSettingsData();
}

void RCUserSettings::setAudioSource(std::string value) {
    audioSource_ = std::move(value);
    post(kAudioSourceUpdateNotification);
    saveUserSettingsData();
}

void RCUserSettings::setWatermark(const std::filesystem::path& chosenFile) {
    std::string extension = chosenFile.extension().string();
    if (!extension.empty() && extension[0] == '.') {
        extension.erase(0, 1);
    }
    std::filesystem::path copy = files_.makeDocumentFileWithExtension(extension);
    if (!files_.copyFileFromURL(chosenFile, copy)) {
        PINDLE_LOG_WARNING("settings", "cannot copy the watermark %s", chosenFile.c_str());
    }
    watermarkURL_ = copy;
    watermarkFileName_ = chosenFile.filename().string();
    post(kWatermarkUpdateNotification);
    saveUserSettingsData();
}

void RCUserSettings::unsetWatermark() {
    if (!watermarkIsSet()) {
        return;
    }
    files_.deleteFile(watermarkURL_);
    watermarkURL_.clear();
    watermarkFileName_.reset();
    post(kWatermarkUpdateNotification);
    saveUserSettingsData();
}

RCPINDLEAPIHelper& RCUserSettings::serviceClient() const {
    return serviceClient_ != nullptr ? *serviceClient_ : RCPINDLEAPIHelper::getCurrentInstance();
}

void RCUserSettings::pindleLoginWithAccessToken(const std::string& accessToken,
                                                std::function<void()> completion,
                                                AccountFailure failure) {
    pindleAccessToken_ = accessToken;
    pindleHydrateUserDataWithCompletion(
        [this, completion = std::move(completion)] {
            post(kPINDLELoginNotification);
            if (completion) {
                completion();
            }
            saveUserSettingsData();
        },
        std::move(failure));
}

void RCUserSettings::pindleHydrateUserDataWithCompletion(std::function<void()> completion,
                                                         AccountFailure failure) {
    auto fail = [failure](const std::string& reason) {
        PINDLE_LOG_WARNING("settings", "the profile was not stored: %s", reason.c_str());
        if (failure) {
            failure(reason);
        }
    };
    if (!isLoggedIntoPINDLE()) {
        // Signed out is the usual state, not a fault: nothing to read, nothing to warn about.
        PINDLE_LOG_DEBUG("settings", "no profile to read: not signed in");
        if (failure) {
            failure("not signed in");
        }
        return;
    }
    std::string token = *pindleAccessToken_;
    std::weak_ptr<int> alive = alive_;
    serviceClient().getProfileInfoWithAccessToken(
        token,
        [this, alive, token, completion, failure, fail](
            const std::optional<nlohmann::json>& response, const std::optional<HTTPError>& error) {
            if (alive.expired()) {
                return;
            }
            if (error) {
                fail(error->localizedDescription);
                return;
            }
            if (pindleAccessToken_ != token) {
                fail("the account changed while the profile was read");
                return;
            }
            auto data = response->find("data");
            if (data == response->end() || !data->is_object()) {
                fail("the profile reply has no data");
                return;
            }
            std::string username = profileText(*data, "username");
            std::string avatar = profileText(*data, "avatar_url");
            if (username.empty() || avatar.empty()) {
                fail("the profile has no user name or avatar address");
                return;
            }
            pindleUsername_ = username;
            storeAvatar(avatar, token, profileFlag(*data, "is_staff"), completion, failure);
        });
}

void RCUserSettings::storeAvatar(const std::string& address, const std::string& token, bool isStaff,
                                 std::function<void()> completion, AccountFailure failure) {
    std::string extension =
        std::filesystem::path(URLParts::parse(address).path).extension().string();
    if (!extension.empty()) {
        extension.erase(0, 1);
    }
    // The server names the address: only a short plain extension becomes part of a file
    // name here (no control characters, no NUL that would cut the name short).
    if (extension.size() > 8 || !std::all_of(extension.begin(), extension.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        })) {
        extension.clear();
    }
    std::filesystem::path file = files_.makeApplicationSupportFileWithExtension(extension);
    std::weak_ptr<int> alive = alive_;
    auto finish = [this, alive, file, token, isStaff, completion,
                   failure](const std::string* data) {
        if (alive.expired()) {
            return;
        }
        if (pindleAccessToken_ != token) {
            PINDLE_LOG_INFO("settings", "signed out while the avatar was downloaded");
            if (failure) {
                failure("signed out while the avatar was downloaded");
            }
            return;
        }
        if (data != nullptr) {
            if (auto written = writeFileAtomically(file, *data); !written) {
                PINDLE_LOG_WARNING("settings", "cannot store the avatar: %s",
                                   written.error().message.c_str());
            }
        }
        if (!pindleAvatarURL_.empty() && pindleAvatarURL_ != file) {
            files_.deleteFile(pindleAvatarURL_);
        }
        // Stored even when the download failed: the account control then shows no avatar.
        pindleAvatarURL_ = file;
        isPINDLEStaff_ = isStaff;
        if (completion) {
            completion();
        }
    };
    AFHTTPClient client(address);
    http::Request request = client.requestWithMethod("GET", address, nullptr);
    request.limits.maxResponseBytes = http::Limits::kImageReplyBytes;
    auto download = std::make_shared<AFHTTPRequestOperation>(std::move(request));
    download->setCompletionBlockWithSuccess(
        [finish](AFHTTPRequestOperation&, const std::string& data) {
            if (data.empty()) {
                PINDLE_LOG_WARNING("settings", "the avatar download was empty");
                finish(nullptr);
                return;
            }
            finish(&data);
        },
        [finish, address](AFHTTPRequestOperation&, const HTTPError& error) {
            PINDLE_LOG_WARNING("settings", "cannot download the avatar %s: %s", address.c_str(),
                               error.localizedDescription.c_str());
            finish(nullptr);
        });
    client.enqueueHTTPRequestOperation(download);
}

void RCUserSettings::pindleLogout() {
    pindleAccessToken_.reset();
    pindleUsername_.reset();
    if (!pindleAvatarURL_.empty()) {
        files_.deleteFile(pindleAvatarURL_);
    }
    pindleAvatarURL_.clear();
    isPINDLEStaff_ = false;
    post(kPINDLELogoutNotification);
    saveUserSettingsData();
}

std::optional<std::string> RCUserSettings::pindleChannelURL() const {
    if (!pindleUsername_ || pindleUsername_->empty()) {
        return std::nullopt;
    }
    return RCPINDLEUtilities::channelURLForUsername(*pindleUsername_, serviceClient().endpoints());
}

void RCUserSettings::post(const char* name) {
    center_.post(name, this);
}

// The list is kept as a keyed archive: {"$archive": {"$class": "NSArray", "NS.objects":
// [{"$class": "NSValue", "width": w, "height": h}, ...]}}.
namespace {

// One capture size preset in the archive.
struct SizeValue {
    Size size;

    const char* className() const { return "NSValue"; }
    void encodeWithCoder(KeyedArchiver& coder) const { coder.encodeSize(size, "size"); }
    static std::shared_ptr<SizeValue> initWithCoder(KeyedUnarchiver& coder) {
        coder.requireClass("NSValue");
        if (!coder.containsValueForKey("size")) {
            throw ArchiveError("size preset without a size");
        }
        return std::make_shared<SizeValue>(SizeValue{coder.decodeSize("size")});
    }
};

}  // namespace

Bytes RCUserSettings::archiveSizes(const std::vector<Size>& sizes) {
    std::vector<std::shared_ptr<SizeValue>> values;
    for (const Size& size : sizes) {
        values.push_back(std::make_shared<SizeValue>(SizeValue{size}));
    }
    KeyedArchiver archiver;
    archiver.encodeArray(values, KeyedArchiver::kRootKey);
    std::string text = archiver.archivedData();
    return Bytes(text.begin(), text.end());
}

std::vector<Size> RCUserSettings::unarchiveSizes(const Bytes& data) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    auto root = KeyedUnarchiver::forData(text);
    try {
        if (root && root->rejectedRecords().empty()) {
            if (auto values = root->decodeArray<SizeValue>(KeyedArchiver::kRootKey)) {
                std::vector<Size> sizes;
                for (const auto& value : *values) {
                    sizes.push_back(value->size);
                }
                return sizes;
            }
        }
    } catch (const ArchiveError&) {
    }
    PINDLE_LOG_WARNING("settings", "unreadable captureSizePresets; using none");
    return {};
}

}  // namespace pindle
