#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "service/AFHTTPClient.h"
#include "service/RCFacebookAuthHelper.h"
#include "service/RCPINDLEMetadata.h"
#include "service/ServiceEndpoints.h"
#include "service/ServiceResponse.h"

namespace pindle {

// The signed-in user as the service client needs it, read at the moment of each call.
struct PINDLEAccount {
    std::string accessToken;  // empty when signed out
    bool isStaff = false;
};

// The client of the online service: uploads, the three ways of signing in, the profile.
//
// Calls start on the main thread and return at once; completions and progress arrive on
// the main queue. Nothing is kept between calls and nothing is retried. Requests that carry
// the user's credentials or tokens are refused, without being sent, to any address that is
// neither HTTPS nor loopback.
class RCPINDLEAPIHelper {
public:
    static constexpr const char* kAPIKey = "Qm7rVx2LpA9sKd4HfT6wNz8BcJ3yUe5G";
    static constexpr const char* kApplicationTag = "pindlereelcatch";
    static constexpr int kVideoMaxDuration = 30;

    using AccountProvider = std::function<PINDLEAccount()>;
    using UploadProgress = std::function<void(float fraction)>;

    RCPINDLEAPIHelper(ServiceEndpoints endpoints, AccountProvider account);

    // The process's instance over ServiceEndpoints::current() and the account provider
    // installed with setCurrentAccountProvider() (signed out without one).
    static RCPINDLEAPIHelper& getCurrentInstance();
    static void setCurrentAccountProvider(AccountProvider provider);

    // Where an upload goes and what it carries besides the file.
    struct UploadRequest {
        std::string baseURL;
        std::string path;
        Parameters fields;
        bool carriesToken = false;
    };
    UploadRequest uploadRequest(const RCPINDLEMetadata& metadata, bool isClip) const;

    // The limits of an upload of bodyLength bytes: a total time that grows with the body,
    // the default limits otherwise.
    static http::Limits uploadLimits(uint64_t bodyLength);

    // Sends file (streamed from disk) with the metadata's fields as a clip (video) or a GIF
    // upload. The reply's "data" -> "id" names the new GIF.
    void uploadFileAtURL(const std::filesystem::path& file, const RCPINDLEMetadata& metadata,
                         bool isClip, UploadProgress progress, ResponseCompletion completion);
    // The reply's "data" -> "access_token" is the service token; empty means refused.
    void loginWithEmail(const std::string& email, const std::string& password,
                        ResponseCompletion completion);
    // Looks up the Facebook profile of the token first; its "id" goes to the service.
    void loginWithFacebookAccessToken(const std::string& facebookAccessToken,
                                      ResponseCompletion completion);
    // user and state are accepted and not sent; each other value only when present.
    void loginViaAppleSignIn(const std::optional<std::string>& identityToken,
                             const std::string& user, const std::string& state,
                             const std::optional<std::string>& firstName,
                             const std::optional<std::string>& lastName,
                             ResponseCompletion completion);
    // The reply's "data" holds "username", "avatar_url" and "is_staff".
    void getProfileInfoWithAccessToken(const std::string& accessToken,
                                       ResponseCompletion completion);

    const ServiceEndpoints& endpoints() const { return endpoints_; }
    RCFacebookAuthHelper& facebook() { return facebook_; }

private:
    // Sends a multipart POST of fields to base + path.
    static void postForm(
        const std::string& base, const std::string& path, const Parameters& fields,
        ResponseCompletion completion,
        AFHTTPClientParameterEncoding encoding = AFHTTPClientParameterEncoding::Form);

    ServiceEndpoints endpoints_;
    AccountProvider account_;
    RCFacebookAuthHelper facebook_;
};

}  // namespace pindle
