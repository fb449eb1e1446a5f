#pragma once

#include <memory>
#include <string>

#include "platform/http.h"

namespace pindle {

// Replies refused by the HTTP layer and file parts that cannot be added.
inline constexpr const char* kAFNetworkingErrorDomain = "AFNetworkingErrorDomain";
inline constexpr long kAFNetworkingBadURLCode = -1000;
inline constexpr long kAFNetworkingBadServerResponseCode = -1011;
inline constexpr long kAFNetworkingCannotDecodeContentCode = -1016;
// Transfers that ended without a reply; the code is the transport's own.
inline constexpr const char* kHTTPTransportErrorDomain = "PindleHTTPTransportErrorDomain";
// Reply bodies that are not JSON.
inline constexpr const char* kJSONErrorDomain = "PindleJSONErrorDomain";
inline constexpr long kJSONParseErrorCode = 3840;

// Why an HTTP request failed: where the error comes from (domain and code), a sentence for
// the user or the log, and the request and reply it concerns when there were any.
struct HTTPError {
    std::string domain;
    long code = 0;
    std::string localizedDescription;
    std::string failureReason;
    std::shared_ptr<const http::Request> failingRequest;
    std::shared_ptr<const http::Response> failingResponse;
};

}  // namespace pindle
