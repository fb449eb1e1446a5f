#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "service/AFHTTPClient.h"
#include "service/AFHTTPRequestOperation.h"
#include "service/HTTPError.h"

namespace pindle {

// The outcome of a service call, on the main queue: exactly one of response (a JSON object)
// and error is present.
using ResponseCompletion = std::function<void(const std::optional<nlohmann::json>& response,
                                              const std::optional<HTTPError>& error)>;

// Failures found by the service client itself, before or after the HTTP layer.
inline constexpr const char* kServiceErrorDomain = "PindleServiceErrorDomain";
inline constexpr long kServiceEmptyReplyCode = 1;
inline constexpr long kServiceFacebookProfileWithoutIDCode = 2;
inline constexpr long kServiceInsecureCredentialsCode = 3;

HTTPError makeServiceError(long code, std::string description);

// A JSON object as it is; any other value wrapped as {"response": value}.
nlohmann::json formatResponseObject(const nlohmann::json& value);

// Sends request as a JSON request operation on client's queue. completion (optional) gets
// the formatted reply or the error; a reply without a body is an error of the service
// domain. progress (optional) gets the fraction of the body sent.
void sendServiceRequest(AFHTTPClient& client, http::Request request, ResponseCompletion completion,
                        std::function<void(float fraction)> progress = nullptr);

// Calls completion with error on the main queue, after the caller has returned.
void failServiceCall(const ResponseCompletion& completion, HTTPError error);

// The refusal of a request that would carry credentials over plain HTTP to another machine;
// nothing when the address is safe for them.
std::optional<HTTPError> refuseInsecureCredentials(const std::string& url);

}  // namespace pindle
