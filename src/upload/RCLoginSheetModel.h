#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "service/ServiceResponse.h"
#include "upload/Scheduler.h"

namespace pindle {

class RCUserSettings;

// The sign-in sheet without its window: the e-mail sign-in, the end of the Facebook
// sign-in, and the login button's failure display.
//
// Main thread only. Replies that arrive after the model is gone are dropped.
class RCLoginSheetModel {
public:
    static constexpr const char* kLoginTitle = "LOGIN";
    static constexpr const char* kIncorrectTitle = "INCORRECT";
    static constexpr std::chrono::milliseconds kIncorrectDisplayTime{2000};

    struct Hooks {
        std::function<void(const std::string& email, const std::string& password,
                           ResponseCompletion)>
            loginWithEmail;
        std::function<void(const std::string& facebookToken, ResponseCompletion)>
            loginWithFacebookAccessToken;
        // Hands the service's token to the settings, which end the sheet once the profile
        // is stored.
        std::function<void(const std::string& token)> loginWithAccessToken;
    };

    explicit RCLoginSheetModel(Hooks hooks, Scheduler scheduler = mainQueueScheduler());

    // Called after every change, also the timed ones.
    void setChangedHandler(std::function<void()> changed) { changed_ = std::move(changed); }

    // Returns whether the request went out, in which case the password field is cleared.
    bool loginButtonClicked(const std::string& email, const std::string& password);
    // "INCORRECT" in red with the button disabled, then "LOGIN" again.
    void showLoginIncorrect();
    // The Facebook window found a token: it is exchanged for the service's.
    void facebookAuthenticated(const std::string& facebookToken);

    const std::string& loginTitle() const { return loginTitle_; }
    bool loginShowsFailure() const { return loginTitle_ == kIncorrectTitle; }
    bool loginEnabled() const { return loginEnabled_; }
    bool facebookEnabled() const { return facebookEnabled_; }

private:
    void changed();

    Hooks hooks_;
    Scheduler scheduler_;
    std::function<void()> changed_;
    std::string loginTitle_ = kLoginTitle;
    bool loginEnabled_ = true;
    bool facebookEnabled_ = true;
    uint64_t failureGeneration_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The non-empty "data" -> "access_token" text of a sign-in reply.
std::optional<std::string> serviceAccessToken(const std::optional<nlohmann::json>& response,
                                              const std::optional<HTTPError>& error);

// What the Facebook window does when a page has finished loading.
struct RCFacebookPageAction {
    bool showWindow = false;           // the page asks for the user's credentials
    std::optional<std::string> token;  // the sign-in is done
};
RCFacebookPageAction facebookPageAction(const std::string& address);

// The account control in the gear menu: the login button when signed out, the avatar and
// the account menu when signed in.
class RCAccountControl {
public:
    static constexpr const char* kViewProfileTitle = "View Profile";
    static constexpr const char* kLogOutTitle = "Log Out";

    explicit RCAccountControl(RCUserSettings& settings) : settings_(settings) {}

    bool showsLoginButton() const;
    // The avatar's local copy when it can be read; empty otherwise.
    std::filesystem::path avatarFile() const;
    std::string username() const;
    // "View Profile": the user's channel page, when a user name is known.
    std::optional<std::string> viewProfileAddress() const;
    void logOut();

private:
    RCUserSettings& settings_;
};

}  // namespace pindle
