#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pindle {

// An address split into its generic parts (scheme://authority/path?query#fragment).
struct URLParts {
    std::optional<std::string> scheme;  // as written
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    static URLParts parse(std::string_view text);
    std::string text() const;
    // The host of the authority: without user information, port and IPv6 brackets, in
    // lower case.
    std::string host() const;
};

// reference resolved against base by the standard rules for relative references
// ("profile" against "http://h/v1/user/" is "http://h/v1/user/profile").
std::string resolveURL(const std::string& base, const std::string& reference);

// Whether host names this machine's loopback interface: "localhost", 127.0.0.0/8 or ::1.
bool isLoopbackHost(const std::string& host);

// Whether credentials may travel to the address: over HTTPS to any host, over plain HTTP
// only to a loopback host.
bool isSecureForCredentials(const std::string& url);

// Every byte of text outside the unreserved characters (letters, digits, "-", ".", "_",
// "~") and keep written as %XX with upper-case hex digits.
std::string percentEscape(std::string_view text, std::string_view keep = {});

}  // namespace pindle
