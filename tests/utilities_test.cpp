#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>

#include "library/RCUtilities.h"

namespace pindle {
namespace {

TEST(Utilities, MakesDistinctUpperCaseGUIDs) {
    std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        std::string guid = RCUtilities::makeGUID();
        EXPECT_TRUE(std::regex_match(guid, form)) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Utilities, TempFileNameFollowsTheLocaleAndTimeZone) {
    setenv("TZ", "UTC", 1);
    tzset();
    std::string name = RCUtilities::makeTempFileName();
    EXPECT_TRUE(
        std::regex_match(name, std::regex("[A-Za-z]{3}-\\d{2}-\\d{4} \\d{2}-\\d{2}-\\d{2}")))
        << name;
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(name.substr(7, 4), std::to_string(utc.tm_year + 1900));
}

struct FragmentCase {
    std::string url;
    std::map<std::string, std::string> expected;
};

TEST(Utilities, ParsesURLFragments) {
    std::vector<FragmentCase> cases = {
        {"https://x/cb#access_token=abc&expires_in=60",
         {{"access_token", "abc"}, {"expires_in", "60"}}},
        {"https://x/cb#a=1&a=2", {{"a", "2"}}},
        {"https://x/cb#novalue&b=2", {{"b", "2"}}},          // a piece without '=' is skipped
        {"https://x/cb#a=1&", {{"a", "1"}}},                 // an empty trailing piece
        {"https://x/cb#t=x=y&c=", {{"t", "x"}, {"c", ""}}},  // the value ends at a further '='
        {"https://x/cb#=v", {{"", "v"}}},
        {"https://x/cb", {}},
        {"https://x/cb#", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RCUtilities::parseFragmentsFromURL(c.url), c.expected) << c.url;
    }
}

TEST(Utilities, FitsRectanglesKeepingTheirAspect) {
    Rect wide{{0, 0}, {400, 100}};
    Rect box{{10, 20}, {200, 200}};
    EXPECT_DOUBLE_EQ(RCUtilities::scaleToAspectFitRect(wide, box), 0.5);
    EXPECT_EQ(RCUtilities::aspectFitRect(wide, box), (Rect{{10, 95}, {200, 50}}));
    Rect tall{{0, 0}, {100, 400}};
    EXPECT_DOUBLE_EQ(RCUtilities::scaleToAspectFitRect(tall, box), 0.5);
    EXPECT_EQ(RCUtilities::aspectFitRect(tall, box), (Rect{{85, 20}, {50, 200}}));
    EXPECT_TRUE(RCUtilities::compareFloat(1.0f, 1.05f, 0.1f));
    EXPECT_FALSE(RCUtilities::compareFloat(1.0f, 1.2f, 0.1f));
}

TEST(Utilities, FileURLsRoundTrip) {
    std::string path = "/home/a user/50% done/#1.png";
    std::string url = fileURLFromPath(path);
    EXPECT_EQ(url, "file:///home/a%20user/50%25%20done/%231.png");
    EXPECT_EQ(pathFromFileURL(url), path);
    EXPECT_EQ(pathFromFileURL("file://localhost/tmp/x"), "/tmp/x");
    EXPECT_EQ(pathFromFileURL("https://example.com/x"), "");
    EXPECT_EQ(pathFromFileURL("file:///tmp/bad%2"), "/tmp/bad%2");
}

}  // namespace
}  // namespace pindle
