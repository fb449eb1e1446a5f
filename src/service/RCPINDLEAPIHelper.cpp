#include "service/RCPINDLEAPIHelper.h"

#include <mutex>

#include "base/log.h"

namespace pindle {
namespace {

std::mutex gAccountMutex;  // guards gAccountProvider
RCPINDLEAPIHelper::AccountProvider gAccountProvider;

}  // namespace

RCPINDLEAPIHelper::RCPINDLEAPIHelper(ServiceEndpoints endpoints, AccountProvider account)
    : endpoints_(std::move(endpoints)), account_(std::move(account)), facebook_(endpoints_) {}

RCPINDLEAPIHelper& RCPINDLEAPIHelper::getCurrentInstance() {
    static auto* instance = new RCPINDLEAPIHelper(ServiceEndpoints::current(), [] {
        AccountProvider provider;
        {
            std::lock_guard lock(gAccountMutex);
            provider = gAccountProvider;
        }
        return provider ? provider() : PINDLEAccount{};
    });
    return *instance;
}

void RCPINDLEAPIHelper::setCurrentAccountProvider(AccountProvider provider) {
    std::lock_guard lock(gAccountMutex);
    gAccountProvider = std::move(provider);
}

RCPINDLEAPIHelper::UploadRequest RCPINDLEAPIHelper::uploadRequest(const RCPINDLEMetadata& metadata,
                                                                  bool isClip) const {
    std::string tags = kApplicationTag;
    if (!metadata.tags.empty()) {
        tags += "," + metadata.tags;
    }
    Parameters fields = {{"api_key", kAPIKey},
                         {"tags", tags},
                         {"source_post_url", metadata.sourceURLString},
                         {"rating", metadata.ratingString()},
                         {"video_max_duration", kVideoMaxDuration}};
    if (isClip) {
        fields["title"] = metadata.title;
        fields["description"] = metadata.videoDescription;
        fields["creation_location"] = "capture_upload_video";
    } else {
        fields["creation_location"] = "capture_upload_gif";
    }
    PINDLEAccount account = account_ ? account_() : PINDLEAccount{};
    UploadRequest request;
    if (!account.accessToken.empty()) {
        fields["access_token"] = account.accessToken;
        if (account.isStaff) {
            if (!metadata.username.empty()) {
                fields["username"] = metadata.username;
            }
            if (!metadata.channelID.empty()) {
                fields["channel_id"] = metadata.channelID;
            }
            fields["is_hidden"] = metadata.isHidden ? "1" : "0";
        }
        request.carriesToken = true;
        if (isClip) {
            request.baseURL = endpoints_.upload + "/v1/upload/";
            request.path = "video";
        } else {
            request.baseURL = endpoints_.api + "/v1/user/";
            request.path = "gifs";
        }
    } else {
        request.baseURL = endpoints_.upload + "/v1/";
        request.path = "upload";
    }
    request.fields = std::move(fields);
    return request;
}

http::Limits RCPINDLEAPIHelper::uploadLimits(uint64_t bodyLength) {
    // A slow line must still get a long clip through: the total grows with the body, at a
    // rate below any uplink still in use. A stalled transfer, or a server that stays silent
    // or trickles its reply, is caught by the low-speed limit long before that.
    constexpr uint64_t kSlowestLineBytesPerSecond = 8 * 1024;
    http::Limits limits;
    limits.totalTimeout =
        std::chrono::minutes(5) + std::chrono::seconds(bodyLength / kSlowestLineBytesPerSecond);
    limits.lowSpeedTime = std::chrono::seconds(60);
    return limits;
}

void RCPINDLEAPIHelper::uploadFileAtURL(const std::filesystem::path& file,
                                        const RCPINDLEMetadata& metadata, bool isClip,
                                        UploadProgress progress, ResponseCompletion completion) {
    UploadRequest upload = uploadRequest(metadata, isClip);
    AFHTTPClient client(upload.baseURL);
    http::Request request = client.multipartFormRequestWithMethod(
        "POST", upload.path, upload.fields, [&](AFStreamingMultipartFormData& form) {
            HTTPError error;
            if (!form.appendPartWithFileURL(file, "file", "file.mp4", "image/mp4", &error)) {
                PINDLE_LOG_ERROR("service", "cannot attach %s to the upload: %s", file.c_str(),
                                 error.failureReason.c_str());
            }
        });
    request.limits = uploadLimits(request.bodyStream ? request.bodyStream->length() : 0);
    request.carriesCredentials = upload.carriesToken;
    if (upload.carriesToken) {
        if (auto refused = refuseInsecureCredentials(request.url)) {
            failServiceCall(completion, std::move(*refused));
            return;
        }
    }
    sendServiceRequest(client, std::move(request), std::move(completion), std::move(progress));
}

void RCPINDLEAPIHelper::postForm(const std::string& base, const std::string& path,
                                 const Parameters& fields, ResponseCompletion completion,
                                 AFHTTPClientParameterEncoding encoding) {
    AFHTTPClient client(base);
    client.setParameterEncoding(encoding);
    http::Request request = client.multipartFormRequestWithMethod("POST", path, fields, nullptr);
    request.carriesCredentials = true;
    if (auto refused = refuseInsecureCredentials(request.url)) {
        failServiceCall(completion, std::move(*refused));
        return;
    }
    sendServiceRequest(client, std::move(request), std::move(completion));
}

void RCPINDLEAPIHelper::loginWithEmail(const std::string& email, const std::string& password,
                                       ResponseCompletion completion) {
    postForm(endpoints_.api + "/v1/user/", "login",
             {{"api_key", kAPIKey}, {"email", email}, {"password", password}},
             std::move(completion));
}

void RCPINDLEAPIHelper::loginWithFacebookAccessToken(const std::string& facebookAccessToken,
                                                     ResponseCompletion completion) {
    std::string base = endpoints_.api + "/v1/user/";
    facebook_.getFacebookInfoWithAccessToken(
        facebookAccessToken,
        [base, facebookAccessToken, completion](const std::optional<nlohmann::json>& profile,
                                                const std::optional<HTTPError>& error) {
            if (error) {
                if (completion) {
                    completion(std::nullopt, error);
                }
                return;
            }
            const nlohmann::json& reply = *profile;
            auto id = reply.find("id");
            bool usable =
                id != reply.end() && ((id->is_string() && !id->get<std::string>().empty()) ||
                                      id->is_number_integer() || id->is_number_unsigned());
            if (!usable) {
                PINDLE_LOG_WARNING("service", "the Facebook profile has no id: %s",
                                   reply.dump().c_str());
                if (completion) {
                    completion(std::nullopt,
                               makeServiceError(kServiceFacebookProfileWithoutIDCode,
                                                "The Facebook profile has no \"id\"."));
                }
                return;
            }
            postForm(base, "login/facebook",
                     {{"api_key", kAPIKey},
                      {"facebook_id", *id},
                      {"facebook_access_token", facebookAccessToken}},
                     completion);
        });
}

void RCPINDLEAPIHelper::loginViaAppleSignIn(const std::optional<std::string>& identityToken,
                                            const std::string& /*user*/,
                                            const std::string& /*state*/,
                                            const std::optional<std::string>& firstName,
                                            const std::optional<std::string>& lastName,
                                            ResponseCompletion completion) {
    Parameters fields = {{"api_key", kAPIKey}};
    if (identityToken) {
        fields["id_token"] = *identityToken;
    }
    if (firstName) {
        fields["firstName"] = *firstName;
    }
    if (lastName) {
        fields["lastName"] = *lastName;
    }
    postForm(endpoints_.api + "/v1/user/login/", "apple", fields, std::move(completion),
             AFHTTPClientParameterEncoding::Form);
}

void RCPINDLEAPIHelper::getProfileInfoWithAccessToken(const std::string& accessToken,
                                                      ResponseCompletion completion) {
    AFHTTPClient client(endpoints_.api + "/v1/user/");
    http::Request request = client.requestWithMethod(
        "GET", "profile", {{"api_key", kAPIKey}, {"access_token", accessToken}});
    request.carriesCredentials = true;
    if (auto refused = refuseInsecureCredentials(request.url)) {
        failServiceCall(completion, std::move(*refused));
        return;
    }
    sendServiceRequest(client, std::move(request), std::move(completion));
}

}  // namespace pindle
