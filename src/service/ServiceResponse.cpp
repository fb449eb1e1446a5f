#include "service/ServiceResponse.h"

#include "base/dispatch.h"
#include "base/log.h"
#include "service/URL.h"

namespace pindle {

HTTPError makeServiceError(long code, std::string description) {
    HTTPError error;
    error.domain = kServiceErrorDomain;
    error.code = code;
    error.failureReason = description;
    error.localizedDescription = std::move(description);
    return error;
}

nlohmann::json formatResponseObject(const nlohmann::json& value) {
    if (value.is_object()) {
        return value;
    }
    return nlohmann::json::object({{"response", value}});
}

void sendServiceRequest(AFHTTPClient& client, http::Request request, ResponseCompletion completion,
                        std::function<void(float)> progress) {
    auto operation = std::make_shared<AFJSONRequestOperation>(std::move(request));
    if (completion) {
        operation->setCompletionBlockWithSuccess(
            [completion](AFHTTPRequestOperation& finished,
                         const std::optional<nlohmann::json>& value) {
                if (!value) {
                    HTTPError error =
                        makeServiceError(kServiceEmptyReplyCode, "The server sent an empty reply.");
                    error.failingRequest =
                        std::make_shared<const http::Request>(finished.request());
                    error.failingResponse = finished.response();
                    completion(std::nullopt, error);
                    return;
                }
                completion(formatResponseObject(*value), std::nullopt);
            },
            [completion](AFHTTPRequestOperation&, const HTTPError& error) {
                completion(std::nullopt, error);
            });
    }
    if (progress) {
        operation->setUploadProgressBlock(
            [progress = std::move(progress)](uint64_t, uint64_t total, uint64_t expected) {
                if (expected > 0) {
                    progress(static_cast<float>(total) / static_cast<float>(expected));
                }
            });
    }
    client.enqueueHTTPRequestOperation(std::move(operation));
}

void failServiceCall(const ResponseCompletion& completion, HTTPError error) {
    if (!completion) {
        return;
    }
    dispatch::mainQueue()->async(
        [completion, error = std::move(error)] { completion(std::nullopt, error); });
}

std::optional<HTTPError> refuseInsecureCredentials(const std::string& url) {
    if (isSecureForCredentials(url)) {
        return std::nullopt;
    }
    std::string host = URLParts::parse(url).host();
    PINDLE_LOG_ERROR("service", "not sending credentials over plain HTTP to %s", host.c_str());
    return makeServiceError(kServiceInsecureCredentialsCode,
                            "Refusing to send credentials over plain HTTP to " + host +
                                "; the service address must start with https://.");
}

}  // namespace pindle
