#include "service/AFHTTPClient.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "base/log.h"
#include "service/AFHTTPRequestOperation.h"
#include "service/URL.h"

namespace pindle {
namespace {

constexpr const char* kProgramName = "pindle-capture";
#ifndef PINDLE_CAPTURE_VERSION
#define PINDLE_CAPTURE_VERSION "0"
#endif

// Sort order of query fields: case-insensitive, then by the exact text so that equal keys
// in different case keep one order.
bool fieldLess(const std::string& a, const std::string& b) {
    auto lowerLess = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), lowerLess)) {
        return true;
    }
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), lowerLess)) {
        return false;
    }
    return a < b;
}

void collectPairs(const std::string& key, const nlohmann::json& value,
                  std::vector<AFQueryStringPair>& pairs) {
    if (value.is_object()) {
        std::vector<std::string> keys;
        for (const auto& item : value.items()) {
            keys.push_back(item.key());
        }
        std::sort(keys.begin(), keys.end(), fieldLess);
        for (const std::string& nested : keys) {
            collectPairs(key.empty() ? nested : key + "[" + nested + "]", value.at(nested), pairs);
        }
    } else if (value.is_array()) {
        for (const auto& element : value) {
            collectPairs(key + "[]", element, pairs);
        }
    } else {
        pairs.push_back({key, value});
    }
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void writePropertyListValue(const nlohmann::json& value, std::string& out) {
    if (value.is_object()) {
        out += "<dict>";
        for (const auto& item : value.items()) {
            out += "<key>" + xmlEscape(item.key()) + "</key>";
            writePropertyListValue(item.value(), out);
        }
        out += "</dict>";
    } else if (value.is_array()) {
        out += "<array>";
        for (const auto& element : value) {
            writePropertyListValue(element, out);
        }
        out += "</array>";
    } else if (value.is_boolean()) {
        out += value.get<bool>() ? "<true/>" : "<false/>";
    } else if (value.is_number_integer()) {
        out += "<integer>" + value.dump() + "</integer>";
    } else if (value.is_number()) {
        out += "<real>" + value.dump() + "</real>";
    } else if (value.is_string()) {
        out += "<string>" + xmlEscape(value.get<std::string>()) + "</string>";
    } else {
        out += "<string></string>";
    }
}

std::string propertyList(const Parameters& parameters) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">";
    writePropertyListValue(parameters, out);
    return out + "</plist>\n";
}

// "de_AT.UTF-8@euro" -> "de-AT"; empty for "C" and "POSIX".
std::string languageTag(std::string locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") {
        return {};
    }
    std::replace(locale.begin(), locale.end(), '_', '-');
    return locale;
}

}  // namespace

std::string AFTextForValue(const nlohmann::json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_null()) {
        return {};
    }
    if (value.is_boolean()) {
        return value.get<bool>() ? "1" : "0";
    }
    if (value.is_binary()) {
        const auto& bytes = value.get_binary();
        return std::string(bytes.begin(), bytes.end());
    }
    return value.dump();
}

std::string AFQueryStringPair::URLEncodedStringValue() const {
    std::string key = percentEscape(field, "[]");
    if (value.is_null()) {
        return key;
    }
    return key + "=" + percentEscape(AFTextForValue(value));
}

std::vector<AFQueryStringPair> AFQueryStringPairsFromDictionary(const Parameters& parameters) {
    std::vector<AFQueryStringPair> pairs;
    if (parameters.is_object()) {
        collectPairs("", parameters, pairs);
    }
    return pairs;
}

std::string AFQueryStringFromParameters(const Parameters& parameters) {
    std::string query;
    for (const AFQueryStringPair& pair : AFQueryStringPairsFromDictionary(parameters)) {
        if (!query.empty()) {
            query += "&";
        }
        query += pair.URLEncodedStringValue();
    }
    return query;
}

AFHTTPClient::AFHTTPClient(const std::string& baseURL)
    : operationQueue_(dispatch::globalQueue(dispatch::Priority::Default)) {
    URLParts parts = URLParts::parse(baseURL);
    if (!parts.path.empty() && parts.path.back() != '/') {
        parts.path += "/";
    }
    baseURL_ = parts.text();
    defaultHeaders_.set("Accept-Language", acceptLanguageForLanguages(preferredLanguages()));
    defaultHeaders_.set("User-Agent", userAgent());
}

void AFHTTPClient::setDefaultHeader(const std::string& name, const std::string& value) {
    defaultHeaders_.set(name, value);
}

http::Request AFHTTPClient::requestWithMethod(const std::string& method, const std::string& path,
                                              const Parameters& parameters) const {
    http::Request request;
    request.method = method;
    request.url = resolveURL(baseURL_, path);
    request.headers = defaultHeaders_;
    if (!parameters.is_object()) {
        return request;
    }
    if (method == "GET" || method == "HEAD" || method == "DELETE") {
        std::string query = AFQueryStringFromParameters(parameters);
        if (!query.empty()) {
            request.url += (request.url.find('?') == std::string::npos ? "?" : "&") + query;
        }
        return request;
    }
    std::string charset = stringEncoding();
    switch (parameterEncoding_) {
        case AFHTTPClientParameterEncoding::Form:
            request.headers.set("Content-Type",
                                "application/x-www-form-urlencoded; charset=" + charset);
            request.body = AFQueryStringFromParameters(parameters);
            break;
        case AFHTTPClientParameterEncoding::JSON:
            request.headers.set("Content-Type", "application/json; charset=" + charset);
            try {
                request.body = parameters.dump();
            } catch (const nlohmann::json::exception& error) {
                PINDLE_LOG_ERROR("http", "%s %s: %s", method.c_str(), request.url.c_str(),
                                 error.what());
            }
            break;
        case AFHTTPClientParameterEncoding::PropertyList:
            request.headers.set("Content-Type", "application/x-plist; charset=" + charset);
            request.body = propertyList(parameters);
            break;
    }
    return request;
}

http::Request AFHTTPClient::multipartFormRequestWithMethod(
    const std::string& method, const std::string& path, const Parameters& parameters,
    const std::function<void(AFStreamingMultipartFormData&)>& block) const {
    http::Request request = requestWithMethod(method, path, nullptr);
    AFStreamingMultipartFormData formData(std::move(request),
                                          AFStreamingMultipartFormData::makeBoundary());
    for (const AFQueryStringPair& pair : AFQueryStringPairsFromDictionary(parameters)) {
        formData.appendPartWithFormData(AFTextForValue(pair.value), pair.field);
    }
    if (block) {
        block(formData);
    }
    return formData.requestByFinalizingMultipartFormData();
}

void AFHTTPClient::enqueueHTTPRequestOperation(std::shared_ptr<AFHTTPRequestOperation> operation) {
    operationQueue_->async([operation = std::move(operation)] { operation->start(); });
}

std::string AFHTTPClient::acceptLanguageForLanguages(const std::vector<std::string>& languages) {
    std::string header;
    for (size_t index = 0; index < languages.size(); ++index) {
        float quality = 1.0f - 0.1f * static_cast<float>(index);
        char entry[128];
        std::snprintf(entry, sizeof entry, "%s;q=%0.1g", languages[index].c_str(),
                      static_cast<double>(quality));
        header += (header.empty() ? "" : ", ") + std::string(entry);
        if (quality <= 0.5f) {
            break;
        }
    }
    return header;
}

std::string AFHTTPClient::userAgent() {
    std::string system = "Linux";
    utsname name{};
    if (uname(&name) == 0) {
        system = std::string(name.sysname) + " " + name.release;
    }
    std::string agent =
        std::string(kProgramName) + "/" + PINDLE_CAPTURE_VERSION + " (" + system + ")";
    // Header values stay plain ASCII.
    std::erase_if(agent, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return agent;
}

std::vector<std::string> AFHTTPClient::preferredLanguages() {
    std::vector<std::string> languages;
    auto add = [&](const std::string& locale) {
        std::string tag = languageTag(locale);
        if (!tag.empty() && std::find(languages.begin(), languages.end(), tag) == languages.end()) {
            languages.push_back(tag);
        }
    };
    const char* list = std::getenv("LANGUAGE");
    if (list != nullptr && *list != '\0') {
        std::stringstream entries(list);
        std::string entry;
        while (std::getline(entries, entry, ':')) {
            add(entry);
        }
    }
    if (languages.empty()) {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0') {
                add(value);
                break;
            }
        }
    }
    if (languages.empty()) {
        languages.push_back("en");
    }
    return languages;
}

}  // namespace pindle
