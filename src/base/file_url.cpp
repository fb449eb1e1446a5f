#include "base/file_url.h"

#include <cctype>
#include <cstdio>

namespace pindle {

namespace {

bool isUnreservedPathCharacter(unsigned char c) {
    return std::isalnum(c) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string fileURLFromPath(const std::string& absolutePath) {
    std::string url = "file://";
    for (unsigned char c : absolutePath) {
        if (isUnreservedPathCharacter(c)) {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

std::string pathFromFileURL(const std::string& url) {
    const std::string scheme = "file://";
    if (url.compare(0, scheme.size(), scheme) != 0) {
        return {};
    }
    std::string rest = url.substr(scheme.size());
    // "file://localhost/path" names the same file as "file:///path".
    if (rest.compare(0, 9, "localhost") == 0) {
        rest = rest.substr(9);
    }
    if (rest.empty() || rest[0] != '/') {
        return {};
    }
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size()) {
            int high = hexValue(rest[i + 1]);
            int low = hexValue(rest[i + 2]);
            if (high >= 0 && low >= 0) {
                path += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        path += rest[i];
    }
    return path;
}

}  // namespace pindle
