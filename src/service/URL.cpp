#include "service/URL.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace pindle {
namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool isSchemeText(std::string_view text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

// Removes "." and ".." segments.
std::string removeDotSegments(std::string input) {
    std::string output;
    while (!input.empty()) {
        if (input.rfind("../", 0) == 0) {
            input.erase(0, 3);
        } else if (input.rfind("./", 0) == 0) {
            input.erase(0, 2);
        } else if (input.rfind("/./", 0) == 0) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.rfind("/../", 0) == 0 || input == "/..") {
            input = input == "/.." ? "/" : input.substr(3);
            size_t last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            size_t next = input.find('/', input[0] == '/' ? 1 : 0);
            output += input.substr(0, next);
            input.erase(0, next == std::string::npos ? input.size() : next);
        }
    }
    return output;
}

std::string mergePaths(const URLParts& base, const std::string& reference) {
    if (base.authority && base.path.empty()) {
        return "/" + reference;
    }
    size_t last = base.path.rfind('/');
    return last == std::string::npos ? reference : base.path.substr(0, last + 1) + reference;
}

}  // namespace

URLParts URLParts::parse(std::string_view text) {
    URLParts parts;
    size_t hash = text.find('#');
    if (hash != std::string_view::npos) {
        parts.fragment = std::string(text.substr(hash + 1));
        text = text.substr(0, hash);
    }
    size_t question = text.find('?');
    if (question != std::string_view::npos) {
        parts.query = std::string(text.substr(question + 1));
        text = text.substr(0, question);
    }
    size_t colon = text.find(':');
    if (colon != std::string_view::npos && isSchemeText(text.substr(0, colon)) &&
        text.substr(0, colon).find('/') == std::string_view::npos) {
        parts.scheme = std::string(text.substr(0, colon));
        text = text.substr(colon + 1);
    }
    if (text.substr(0, 2) == "//") {
        text = text.substr(2);
        size_t slash = text.find('/');
        parts.authority = std::string(text.substr(0, slash));
        text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
    }
    parts.path = std::string(text);
    return parts;
}

std::string URLParts::text() const {
    std::string out;
    if (scheme) {
        out += *scheme + ":";
    }
    if (authority) {
        out += "//" + *authority;
    }
    out += path;
    if (query) {
        out += "?" + *query;
    }
    if (fragment) {
        out += "#" + *fragment;
    }
    return out;
}

std::string URLParts::host() const {
    if (!authority) {
        return {};
    }
    std::string hostPort = authority->substr(authority->rfind('@') + 1);
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        return lower(
            hostPort.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    }
    return lower(hostPort.substr(0, hostPort.find(':')));
}

std::string resolveURL(const std::string& base, const std::string& reference) {
    URLParts r = URLParts::parse(reference);
    URLParts b = URLParts::parse(base);
    URLParts t;
    if (r.scheme) {
        t = r;
        t.path = removeDotSegments(r.path);
    } else {
        if (r.authority) {
            t.authority = r.authority;
            t.path = removeDotSegments(r.path);
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.query = r.query ? r.query : b.query;
            } else {
                t.path = removeDotSegments(r.path[0] == '/' ? r.path : mergePaths(b, r.path));
                t.query = r.query;
            }
            t.authority = b.authority;
        }
        t.scheme = b.scheme;
    }
    t.fragment = r.fragment;
    return t.text();
}

bool isLoopbackHost(const std::string& host) {
    std::string name = lower(host);
    if (name == "localhost" || name == "::1" || name == "0:0:0:0:0:0:0:1") {
        return true;
    }
    // 127.0.0.0/8 written as four decimal numbers.
    std::vector<int> numbers;
    size_t start = 0;
    while (start <= name.size()) {
        size_t dot = name.find('.', start);
        std::string piece = name.substr(start, dot == std::string::npos ? dot : dot - start);
        if (piece.empty() || piece.size() > 3 ||
            !std::all_of(piece.begin(), piece.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            return false;
        }
        numbers.push_back(std::stoi(piece));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    return numbers.size() == 4 && numbers[0] == 127 &&
           std::all_of(numbers.begin(), numbers.end(), [](int n) { return n <= 255; });
}

bool isSecureForCredentials(const std::string& url) {
    URLParts parts = URLParts::parse(url);
    std::string scheme = lower(parts.scheme.value_or(""));
    if (scheme == "https") {
        return true;
    }
    return scheme == "http" && isLoopbackHost(parts.host());
}

std::string percentEscape(std::string_view text, std::string_view keep) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool alphanumeric = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                            (byte >= 'a' && byte <= 'z');
        if (alphanumeric || c == '-' || c == '.' || c == '_' || c == '~' ||
            keep.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

}  // namespace pindle
