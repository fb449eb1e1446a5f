#include <gtest/gtest.h>

#include "service/RCFacebookAuthHelper.h"
#include "service/RCPINDLEAPIHelper.h"
#include "service/RCShareLinks.h"

namespace pindle {
namespace {

ServiceEndpoints endpoints() {
    return ServiceEndpoints::fromEnvironment([](const char* name) -> const char* {
        std::string key = name;
        if (key == "PINDLE_WEB_URL") {
            return "http://web.test/";
        }
        if (key == "PINDLE_MEDIA_URL") {
            return "http://media.test";
        }
        return key == "PINDLE_API_URL" ? "" : nullptr;  // empty keeps the default
    });
}

TEST(ServiceClientTest, EndpointsComeFromTheEnvironment) {
    ServiceEndpoints configured = endpoints();
    EXPECT_EQ(configured.web, "http://web.test");
    EXPECT_EQ(configured.media, "http://media.test");
    EXPECT_EQ(configured.api, ServiceEndpoints().api);
    EXPECT_EQ(configured.api.rfind("https://", 0), 0u);
    EXPECT_EQ(configured.upload.rfind("https://", 0), 0u);
}

TEST(ServiceClientTest, ShareAddressesForEachTarget) {
    ServiceEndpoints at = endpoints();
    const std::string page = "http://web.test/gifs/abc123";
    auto share = [&](RCShareTarget target) {
        return RCShareLinks::shareURL(target, "abc123", at).value_or("none");
    };
    EXPECT_EQ(share(RCShareTarget::Email), "mailto:%20?body=" + page + "%20(via%20PINDLE)");
    EXPECT_EQ(share(RCShareTarget::Facebook),
              "https://www.facebook.com/sharer/sharer.php?u=" + page);
    EXPECT_EQ(share(RCShareTarget::Twitter),
              "https://twitter.com/home?status=" + page + "%20via%20@pindle");
    EXPECT_EQ(share(RCShareTarget::Reddit), "https://www.reddit.com/submit?url=" + page);
    EXPECT_EQ(share(RCShareTarget::Tumblr),
              "https://www.tumblr.com/widgets/share/tool?canonicalUrl=" + page +
                  "&content=http://media.test/media/abc123/pindle-tumblr.gif&title=&caption=(via%"
                  "20PINDLE)&clickthroughUrl=" +
                  page + "&posttype=photo&tags=pindle");
    EXPECT_EQ(share(RCShareTarget::Pinterest),
              "https://www.pinterest.com/pin/create/button/?url=" + page +
                  "&media=http://media.test/media/abc123/pindle.gif&description=via%20PINDLE");
    EXPECT_FALSE(RCShareLinks::shareURL(RCShareTarget::Reddit, "", at).has_value());
    EXPECT_EQ(RCShareLinks::encodeForQuery("a b\"<é>#%"), "a%20b%22%3C%C3%A9%3E%23%25");
}

TEST(ServiceClientTest, FacebookAddressesAndTokens) {
    EXPECT_EQ(RCFacebookAuthHelper::getFacebookLoginURL(ServiceEndpoints()),
              "https://graph.facebook.com/oauth/authorize?client_id=730214968552013&scope=email&"
              "redirect_uri=https://www.facebook.com/connect/login_success.html&type=user_agent&"
              "display=popup");
    EXPECT_EQ(RCFacebookAuthHelper::parseFacebookAccessTokenFromURL(
                  "https://www.facebook.com/connect/login_success.html#access_token=EAAB%2F&"
                  "expires_in=5000"),
              "EAAB%2F");
    EXPECT_FALSE(RCFacebookAuthHelper::parseFacebookAccessTokenFromURL(
                     "https://www.facebook.com/login.php#error=denied&access_token")
                     .has_value());
    EXPECT_FALSE(RCFacebookAuthHelper::parseFacebookAccessTokenFromURL("https://x/#access_token=")
                     .has_value());
}

TEST(ServiceClientTest, ReplyObjectsAndRatings) {
    EXPECT_EQ(formatResponseObject(nlohmann::json::parse("{\"data\":1}")),
              nlohmann::json::parse("{\"data\":1}"));
    EXPECT_EQ(formatResponseObject(nlohmann::json::parse("[1]")),
              nlohmann::json::parse("{\"response\":[1]}"));
    EXPECT_EQ(formatResponseObject("text"), nlohmann::json::parse("{\"response\":\"text\"}"));

    RCPINDLEMetadata metadata;
    const char* expected[] = {"", "g", "pg", "pg-13", "r"};
    for (int value = 0; value < 5; ++value) {
        metadata.rating = static_cast<RCPINDLEMetadata::Rating>(value);
        EXPECT_EQ(metadata.ratingString(), expected[value]);
        RCPINDLEMetadata::Rating parsed{};
        ASSERT_TRUE(RCPINDLEMetadata::ratingFromString(expected[value], parsed));
        EXPECT_EQ(parsed, metadata.rating);
    }
    RCPINDLEMetadata::Rating parsed{};
    EXPECT_TRUE(RCPINDLEMetadata::ratingFromString("PG-13", parsed));
    EXPECT_EQ(parsed, RCPINDLEMetadata::Rating::PG13);
    EXPECT_FALSE(RCPINDLEMetadata::ratingFromString("nc-17", parsed));
}

}  // namespace
}  // namespace pindle
