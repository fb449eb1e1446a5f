#include "service/RCFacebookAuthHelper.h"

#include "library/RCUtilities.h"

namespace pindle {

RCFacebookAuthHelper::RCFacebookAuthHelper(ServiceEndpoints endpoints)
    : endpoints_(std::move(endpoints)) {}

RCFacebookAuthHelper& RCFacebookAuthHelper::getCurrentInstance() {
    static auto* instance = new RCFacebookAuthHelper();
    return *instance;
}

std::string RCFacebookAuthHelper::getFacebookLoginURL(const ServiceEndpoints& endpoints) {
    // The values go in as they stand: Facebook expects the redirect address unescaped.
    return endpoints.facebookGraph + "/oauth/authorize?client_id=" + kClientID +
           "&scope=" + kScope + "&redirect_uri=" + endpoints.facebook + kRedirectPath +
           "&type=user_agent&display=popup";
}

std::string RCFacebookAuthHelper::getFacebookLoginURL() {
    return getFacebookLoginURL(ServiceEndpoints::current());
}

std::optional<std::string> RCFacebookAuthHelper::parseFacebookAccessTokenFromURL(
    const std::string& url) {
    auto fragments = RCUtilities::parseFragmentsFromURL(url);
    auto token = fragments.find("access_token");
    if (token == fragments.end() || token->second.empty()) {
        return std::nullopt;
    }
    return token->second;
}

void RCFacebookAuthHelper::getFacebookInfoWithAccessToken(const std::string& accessToken,
                                                          ResponseCompletion completion) const {
    AFHTTPClient client(endpoints_.facebookGraph + "/");
    http::Request request = client.requestWithMethod("GET", "me", {{"access_token", accessToken}});
    request.carriesCredentials = true;
    if (auto refused = refuseInsecureCredentials(request.url)) {
        failServiceCall(completion, std::move(*refused));
        return;
    }
    sendServiceRequest(client, std::move(request), std::move(completion));
}

}  // namespace pindle
