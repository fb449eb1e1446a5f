#include "service/RCPINDLEMetadata.h"

#include <cctype>

namespace pindle {

std::string RCPINDLEMetadata::ratingString() const {
    switch (rating) {
        case Rating::Unrated:
            return "";
        case Rating::G:
            return "g";
        case Rating::PG:
            return "pg";
        case Rating::PG13:
            return "pg-13";
        case Rating::R:
            return "r";
    }
    return "";
}

bool RCPINDLEMetadata::ratingFromString(const std::string& text, Rating& rating) {
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower.empty() || lower == "unrated") {
        rating = Rating::Unrated;
    } else if (lower == "g") {
        rating = Rating::G;
    } else if (lower == "pg") {
        rating = Rating::PG;
    } else if (lower == "pg-13") {
        rating = Rating::PG13;
    } else if (lower == "r") {
        rating = Rating::R;
    } else {
        return false;
    }
    return true;
}

}  // namespace pindle
