#pragma once

#include <string>

namespace pindle {

// The fields the user enters for one upload. Texts are empty, never absent, when left blank.
class RCPINDLEMetadata {
public:
    enum class Rating { Unrated = 0, G = 1, PG = 2, PG13 = 3, R = 4 };

    std::string sourceURLString;
    // As typed: comma-separated by convention, never split.
    std::string tags;
    std::string username;   // staff only
    std::string channelID;  // staff only
    Rating rating = Rating::Unrated;
    bool isHidden = false;
    std::string title;             // clips only
    std::string videoDescription;  // clips only

    // The rating as the service reads it: "", "g", "pg", "pg-13" or "r".
    std::string ratingString() const;
    // The rating of a text as ratingString() writes it or as a user types it ("PG-13",
    // "unrated"); false for anything else.
    static bool ratingFromString(const std::string& text, Rating& rating);
};

}  // namespace pindle
