#include "library/RCUtilities.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <locale>
#include <random>
#include <sstream>

#include "base/log.h"
#include "platform/desktop.h"

namespace pindle {

std::string RCUtilities::makeGUID() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    uint64_t high = engine();
    uint64_t low = engine();
    // Version 4, variant 10xx.
    high = (high & 0xffffffffffff0fffULL) | 0x0000000000004000ULL;
    low = (low & 0x3fffffffffffffffULL) | 0x8000000000000000ULL;
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xffff),
                  static_cast<unsigned>(high & 0xffff), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xffffffffffffULL));
    return text;
}

std::string RCUtilities::makeTempFileName() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::ostringstream text;
    try {
        text.imbue(std::locale(""));
    } catch (const std::runtime_error&) {
        // An unknown LANG leaves the classic locale.
    }
    text << std::put_time(&local, "%b-%d-%Y %H-%M-%S");
    return text.str();
}

bool RCUtilities::compareFloat(float a, float b, float epsilon) {
    return std::fabs(a - b) <= epsilon;
}

double RCUtilities::scaleToAspectFitRect(const Rect& a, const Rect& b) {
    double scale = b.width() / a.width();
    if (b.height() >= a.height() * scale) {
        return scale;
    }
    return b.height() / a.height();
}

Rect RCUtilities::aspectFitRect(const Rect& a, const Rect& b) {
    double scale = scaleToAspectFitRect(a, b);
    Size size{a.width() * scale, a.height() * scale};
    return Rect{{b.midX() - size.width / 2, b.midY() - size.height / 2}, size};
}

void RCUtilities::openBrowserWithURL(const std::string& url) {
    if (!desktop::openURL(url)) {
        PINDLE_LOG_WARNING("utilities", "could not open %s", url.c_str());
    }
}

std::map<std::string, std::string> RCUtilities::parseFragmentsFromURL(const std::string& url) {
    std::map<std::string, std::string> fragments;
    size_t hash = url.find('#');
    if (hash == std::string::npos) {
        return fragments;
    }
    std::string fragment = url.substr(hash + 1);
    size_t start = 0;
    while (start <= fragment.size()) {
        size_t end = fragment.find('&', start);
        if (end == std::string::npos) {
            end = fragment.size();
        }
        std::string piece = fragment.substr(start, end - start);
        size_t equals = piece.find('=');
        if (equals != std::string::npos) {
            size_t valueEnd = piece.find('=', equals + 1);
            std::string value =
                piece.substr(equals + 1, valueEnd == std::string::npos ? std::string::npos
                                                                       : valueEnd - equals - 1);
            fragments[piece.substr(0, equals)] = value;
        }
        start = end + 1;
    }
    return fragments;
}

}  // namespace pindle
