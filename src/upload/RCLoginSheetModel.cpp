#include "upload/RCLoginSheetModel.h"

#include <system_error>

#include "service/RCFacebookAuthHelper.h"
#include "settings/RCUserSettings.h"

namespace pindle {

RCLoginSheetModel::RCLoginSheetModel(Hooks hooks, Scheduler scheduler)
    : hooks_(std::move(hooks)), scheduler_(std::move(scheduler)) {}

void RCLoginSheetModel::changed() {
    if (changed_) {
        changed_();
    }
}

std::optional<std::string> serviceAccessToken(const std::optional<nlohmann::json>& response,
                                              const std::optional<HTTPError>& error) {
    if (error || !response || !response->is_object()) {
        return std::nullopt;
    }
    auto data = response->find("data");
    if (data == response->end() || !data->is_object()) {
        return std::nullopt;
    }
    auto token = data->find("access_token");
    if (token == data->end() || !token->is_string() || token->get<std::string>().empty()) {
        return std::nullopt;
    }
    return token->get<std::string>();
}

bool RCLoginSheetModel::loginButtonClicked(const std::string& email, const std::string& password) {
    if (!loginEnabled_) {
        return false;
    }
    if (email.empty() || password.empty()) {
        showLoginIncorrect();
        return false;
    }
    loginEnabled_ = false;
    changed();
    std::weak_ptr<int> alive = alive_;
    hooks_.loginWithEmail(email, password,
                          [this, alive](const std::optional<nlohmann::json>& response,
                                        const std::optional<HTTPError>& error) {
                              if (alive.expired()) {
                                  return;
                              }
                              if (auto token = serviceAccessToken(response, error)) {
                                  loginEnabled_ = true;
                                  changed();
                                  hooks_.loginWithAccessToken(*token);
                              } else {
                                  showLoginIncorrect();
                              }
                          });
    return true;
}

void RCLoginSheetModel::showLoginIncorrect() {
    loginEnabled_ = false;
    loginTitle_ = kIncorrectTitle;
    uint64_t generation = ++failureGeneration_;
    changed();
    if (!scheduler_) {
        return;
    }
    std::weak_ptr<int> alive = alive_;
    scheduler_(kIncorrectDisplayTime, [this, alive, generation] {
        if (alive.expired() || generation != failureGeneration_) {
            return;
        }
        loginTitle_ = kLoginTitle;
        loginEnabled_ = true;
        changed();
    });
}

void RCLoginSheetModel::facebookAuthenticated(const std::string& facebookToken) {
    facebookEnabled_ = false;
    changed();
    std::weak_ptr<int> alive = alive_;
    hooks_.loginWithFacebookAccessToken(facebookToken,
                                        [this, alive](const std::optional<nlohmann::json>& response,
                                                      const std::optional<HTTPError>& error) {
                                            if (alive.expired()) {
                                                return;
                                            }
                                            // A failed exchange leaves the Facebook button
                                            // disabled: the sheet shows nothing else.
                                            if (auto token = serviceAccessToken(response, error)) {
                                                facebookEnabled_ = true;
                                                changed();
                                                hooks_.loginWithAccessToken(*token);
                                            }
                                        });
}

RCFacebookPageAction facebookPageAction(const std::string& address) {
    RCFacebookPageAction action;
    if (address.find("login.php") != std::string::npos) {
        action.showWindow = true;
        return action;
    }
    action.token = RCFacebookAuthHelper::parseFacebookAccessTokenFromURL(address);
    return action;
}

bool RCAccountControl::showsLoginButton() const {
    return !settings_.isLoggedIntoPINDLE();
}

std::filesystem::path RCAccountControl::avatarFile() const {
    const auto& file = settings_.pindleAvatarURL();
    std::error_code error;
    if (file.empty() || !std::filesystem::is_regular_file(file, error)) {
        return {};
    }
    return file;
}

std::string RCAccountControl::username() const {
    return settings_.pindleUsername().value_or("");
}

std::optional<std::string> RCAccountControl::viewProfileAddress() const {
    return settings_.pindleChannelURL();
}

void RCAccountControl::logOut() {
    settings_.pindleLogout();
}

}  // namespace pindle
