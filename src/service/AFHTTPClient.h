#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/dispatch.h"
#include "platform/http.h"
#include "service/AFMultipartFormData.h"

namespace pindle {

class AFHTTPRequestOperation;

// Request fields: a JSON object whose values are texts, numbers, booleans, null, or nested
// objects and arrays. Null (not an object) means no fields.
using Parameters = nlohmann::json;

enum class AFHTTPClientParameterEncoding { Form = 0, JSON = 1, PropertyList = 2 };

// A field name and its value: one "key=value" of a query string, one form-data part.
struct AFQueryStringPair {
    std::string field;
    nlohmann::json value;

    // "field=value" with both escaped; the field alone for a null value.
    std::string URLEncodedStringValue() const;
};

// The pairs of parameters with keys sorted case-insensitively; nested objects give
// "key[subkey]" fields, arrays "key[]" fields.
std::vector<AFQueryStringPair> AFQueryStringPairsFromDictionary(const Parameters& parameters);
std::string AFQueryStringFromParameters(const Parameters& parameters);
// The text a value is sent as: texts as they are, numbers in their shortest form ("30"),
// booleans as "1" or "0", null as nothing, anything else as JSON.
std::string AFTextForValue(const nlohmann::json& value);

// Builds requests against one base address and runs their operations.
class AFHTTPClient {
public:
    // A path of baseURL that does not end in "/" gets one, so relative paths resolve below it.
    explicit AFHTTPClient(const std::string& baseURL);

    const std::string& baseURL() const { return baseURL_; }
    const char* stringEncoding() const { return "utf-8"; }
    AFHTTPClientParameterEncoding parameterEncoding() const { return parameterEncoding_; }
    void setParameterEncoding(AFHTTPClientParameterEncoding encoding) {
        parameterEncoding_ = encoding;
    }
    const http::Headers& defaultHeaders() const { return defaultHeaders_; }
    void setDefaultHeader(const std::string& name, const std::string& value);
    dispatch::QueuePtr operationQueue() const { return operationQueue_; }

    // A request for path resolved against the base address, with the default headers. For
    // GET, HEAD and DELETE the parameters go in the query string, otherwise in the body in
    // the parameter encoding.
    http::Request requestWithMethod(const std::string& method, const std::string& path,
                                    const Parameters& parameters) const;
    // A multipart/form-data request: one part per parameter (sorted as in a query string),
    // then the parts block adds.
    http::Request multipartFormRequestWithMethod(
        const std::string& method, const std::string& path, const Parameters& parameters,
        const std::function<void(AFStreamingMultipartFormData&)>& block) const;

    // Starts the operation on the operation queue.
    void enqueueHTTPRequestOperation(std::shared_ptr<AFHTTPRequestOperation> operation);

    // "Accept-Language" for the user's languages, most preferred first (at most six, with
    // falling quality values), and "User-Agent" naming the program, its version and the
    // system.
    static std::string acceptLanguageForLanguages(const std::vector<std::string>& languages);
    static std::string userAgent();
    // The user's languages from LANGUAGE, LC_ALL, LC_MESSAGES or LANG as language tags
    // ("de-AT"); "en" when none is set.
    static std::vector<std::string> preferredLanguages();

private:
    std::string baseURL_;
    AFHTTPClientParameterEncoding parameterEncoding_ = AFHTTPClientParameterEncoding::Form;
    http::Headers defaultHeaders_;
    dispatch::QueuePtr operationQueue_;
};

}  // namespace pindle
