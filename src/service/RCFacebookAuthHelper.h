#pragma once

#include <optional>
#include <string>

#include "service/ServiceEndpoints.h"
#include "service/ServiceResponse.h"

namespace pindle {

// Facebook's side of the sign-in: the address of its OAuth page, the token in the address
// it redirects to, and the profile behind a token.
class RCFacebookAuthHelper {
public:
    static constexpr const char* kClientID = "730214968552013";
    static constexpr const char* kScope = "email";
    static constexpr const char* kRedirectPath = "/connect/login_success.html";

    explicit RCFacebookAuthHelper(ServiceEndpoints endpoints = ServiceEndpoints::current());

    static RCFacebookAuthHelper& getCurrentInstance();

    // The OAuth page on the Graph host, asking for a token in the redirect's fragment.
    static std::string getFacebookLoginURL(const ServiceEndpoints& endpoints);
    static std::string getFacebookLoginURL();
    // The non-empty "access_token" among the pairs of url's fragment, or nothing.
    static std::optional<std::string> parseFacebookAccessTokenFromURL(const std::string& url);

    // GET /me on the Graph API. completion (main queue) gets the profile as a JSON object
    // (a non-object reply wrapped under "response") or an error.
    void getFacebookInfoWithAccessToken(const std::string& accessToken,
                                        ResponseCompletion completion) const;

    const ServiceEndpoints& endpoints() const { return endpoints_; }

private:
    ServiceEndpoints endpoints_;
};

}  // namespace pindle
