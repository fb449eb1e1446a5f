#include <gtest/gtest.h>

#include "base/dispatch.h"
#include "loopback_server.h"
#include "platform/curl/curl_transport.h"
#include "service/RCPINDLEAPIHelper.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

struct Reply {
    bool done = false;
    bool onMainThread = false;
    std::optional<nlohmann::json> response;
    std::optional<HTTPError> error;
};

class ServiceNetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        http::setTransport(curl::makeTransport());
        at.api = server.url();
        at.upload = server.url();
        at.facebookGraph = server.url() + "/graph";
    }

    RCPINDLEAPIHelper helper() {
        return RCPINDLEAPIHelper(at, [this] { return account; });
    }

    // Runs call with a completion and waits for it on the main queue.
    Reply wait(const std::function<void(ResponseCompletion)>& call) {
        Reply reply;
        call([&](const std::optional<nlohmann::json>& response,
                 const std::optional<HTTPError>& error) {
            reply.onMainThread = dispatch::isMainThread();
            reply.response = response;
            reply.error = error;
            reply.done = true;
        });
        EXPECT_TRUE(dispatch::runUntil([&] { return reply.done; }, 20s));
        return reply;
    }

    // The names and values of the request's form fields, in their order.
    static std::vector<std::pair<std::string, std::string>> fields(
        const test::RecordedRequest& request) {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& part :
             test::parseMultipart(request.header("Content-Type"), request.body)) {
            out.emplace_back(part.name,
                             part.fileName.empty() ? part.body : "<" + part.fileName + ">");
        }
        return out;
    }

    test::LoopbackServer server;
    ServiceEndpoints at;
    PINDLEAccount account;
    test::TempDir dir;
};

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST_F(ServiceNetworkTest, UploadsCarryTheirFieldsToTheirRoutes) {
    const test::CannedReply created{200, "application/json", "{\"data\":{\"id\":\"abc123\"}}"};
    for (const char* path : {"/v1/upload", "/v1/upload/video", "/v1/user/gifs"}) {
        server.route("POST", path, created);
    }
    test::writeFile(dir / "clip.mp4", std::string(200000, 'v'));
    RCPINDLEAPIHelper client = helper();
    RCPINDLEMetadata metadata;
    metadata.tags = "cat, dog";
    metadata.title = "My clip";
    metadata.videoDescription = "about";
    metadata.username = "someone";
    metadata.rating = RCPINDLEMetadata::Rating::PG13;

    // Signed out: clips and GIFs alike go to the anonymous route, without a token.
    float lastFraction = 0;
    Reply anonymous = wait([&](ResponseCompletion done) {
        client.uploadFileAtURL(
            dir / "clip.mp4", metadata, true, [&](float fraction) { lastFraction = fraction; },
            done);
    });
    ASSERT_FALSE(anonymous.error.has_value()) << anonymous.error->localizedDescription;
    EXPECT_TRUE(anonymous.onMainThread);
    EXPECT_EQ((*anonymous.response)["data"]["id"], "abc123");
    EXPECT_FLOAT_EQ(lastFraction, 1.0f);
    auto request = server.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/upload");
    EXPECT_EQ(fields(request), (Fields{{"api_key", RCPINDLEAPIHelper::kAPIKey},
                                       {"creation_location", "capture_upload_video"},
                                       {"description", "about"},
                                       {"rating", "pg-13"},
                                       {"source_post_url", ""},
                                       {"tags", "pindlereelcatch,cat, dog"},
                                       {"title", "My clip"},
                                       {"video_max_duration", "30"},
                                       {"file", "<file.mp4>"}}));
    auto parts = test::parseMultipart(request.header("Content-Type"), request.body);
    EXPECT_EQ(parts.back().header("Content-Type"), "image/mp4");
    EXPECT_EQ(parts.back().body.size(), 200000u);

    wait([&](ResponseCompletion done) {
        client.uploadFileAtURL(dir / "clip.mp4", RCPINDLEMetadata(), false, nullptr, done);
    });
    EXPECT_EQ(server.requests().back().path, "/v1/upload");
    EXPECT_EQ(fields(server.requests().back()), (Fields{{"api_key", RCPINDLEAPIHelper::kAPIKey},
                                                        {"creation_location", "capture_upload_gif"},
                                                        {"rating", ""},
                                                        {"source_post_url", ""},
                                                        {"tags", "pindlereelcatch"},
                                                        {"video_max_duration", "30"},
                                                        {"file", "<file.mp4>"}}));

    // Signed in, not staff: a GIF goes to the account's route with the token only.
    account = {"tok", false};
    wait([&](ResponseCompletion done) {
        client.uploadFileAtURL(dir / "clip.mp4", metadata, false, nullptr, done);
    });
    EXPECT_EQ(server.requests().back().path, "/v1/user/gifs");
    EXPECT_EQ(fields(server.requests().back()), (Fields{{"access_token", "tok"},
                                                        {"api_key", RCPINDLEAPIHelper::kAPIKey},
                                                        {"creation_location", "capture_upload_gif"},
                                                        {"rating", "pg-13"},
                                                        {"source_post_url", ""},
                                                        {"tags", "pindlereelcatch,cat, dog"},
                                                        {"video_max_duration", "30"},
                                                        {"file", "<file.mp4>"}}));

    // Staff: the privacy flag always, user name and channel only when filled in.
    account = {"tok", true};
    metadata.isHidden = true;
    metadata.channelID = "";
    wait([&](ResponseCompletion done) {
        client.uploadFileAtURL(dir / "clip.mp4", metadata, true, nullptr, done);
    });
    request = server.requests().back();
    EXPECT_EQ(request.path, "/v1/upload/video");
    auto sent = fields(request);
    std::vector<std::string> names;
    for (const auto& field : sent) {
        names.push_back(field.first);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"access_token", "api_key", "creation_location",
                                               "description", "is_hidden", "rating",
                                               "source_post_url", "tags", "title", "username",
                                               "video_max_duration", "file"}));
    EXPECT_EQ(sent[4].second, "1");
    metadata = RCPINDLEMetadata();
    wait([&](ResponseCompletion done) {
        client.uploadFileAtURL(dir / "clip.mp4", metadata, true, nullptr, done);
    });
    sent = fields(server.requests().back());
    EXPECT_EQ(std::count(sent.begin(), sent.end(),
                         std::make_pair(std::string("is_hidden"), std::string("0"))),
              1);
    EXPECT_EQ(sent.size(), 11u);  // no user name, no channel
}

TEST_F(ServiceNetworkTest, SignInsAndProfileSendTheirFields) {
    server.route("POST", "/v1/user/login",
                 test::CannedReply{200, "application/json", "{\"data\":{\"access_token\":\"\"}}"});
    server.route("POST", "/v1/user/login/apple",
                 test::CannedReply{200, "application/json", "{\"data\":{\"access_token\":\"A\"}}"});
    server.route("POST", "/v1/user/login/facebook",
                 test::CannedReply{200, "application/json", "{\"data\":{\"access_token\":\"F\"}}"});
    server.route("GET", "/v1/user/profile",
                 test::CannedReply{200, "application/json", "{\"data\":{\"username\":\"u\"}}"});
    server.route("GET", "/graph/me",
                 test::CannedReply{200, "text/javascript", "{\"id\":\"4711\"}"});
    RCPINDLEAPIHelper client = helper();

    // A refused sign-in is a reply like any other: the caller judges the empty token.
    Reply email = wait([&](ResponseCompletion done) {
        client.loginWithEmail("me@example.com", "p&ss word", done);
    });
    ASSERT_TRUE(email.response.has_value());
    EXPECT_EQ((*email.response)["data"]["access_token"], "");
    EXPECT_EQ(fields(server.requests().back()), (Fields{{"api_key", RCPINDLEAPIHelper::kAPIKey},
                                                        {"email", "me@example.com"},
                                                        {"password", "p&ss word"}}));

    Reply apple = wait([&](ResponseCompletion done) {
        client.loginViaAppleSignIn("id.token", "user", "state", "Ann", std::nullopt, done);
    });
    EXPECT_EQ((*apple.response)["data"]["access_token"], "A");
    EXPECT_EQ(server.requests().back().path, "/v1/user/login/apple");
    EXPECT_EQ(fields(server.requests().back()), (Fields{{"api_key", RCPINDLEAPIHelper::kAPIKey},
                                                        {"firstName", "Ann"},
                                                        {"id_token", "id.token"}}));

    Reply facebook = wait(
        [&](ResponseCompletion done) { client.loginWithFacebookAccessToken("FB+token", done); });
    EXPECT_EQ((*facebook.response)["data"]["access_token"], "F");
    auto requests = server.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2].target, "/graph/me?access_token=FB%2Btoken");
    EXPECT_EQ(fields(requests.back()), (Fields{{"api_key", RCPINDLEAPIHelper::kAPIKey},
                                               {"facebook_access_token", "FB+token"},
                                               {"facebook_id", "4711"}}));

    Reply profile =
        wait([&](ResponseCompletion done) { client.getProfileInfoWithAccessToken("t/1", done); });
    EXPECT_EQ((*profile.response)["data"]["username"], "u");
    auto last = server.requests().back();
    EXPECT_EQ(last.method, "GET");
    EXPECT_EQ(last.target, std::string("/v1/user/profile?access_token=t%2F1&api_key=") +
                               RCPINDLEAPIHelper::kAPIKey);
    EXPECT_TRUE(last.body.empty());
}

TEST_F(ServiceNetworkTest, UnusableRepliesAndInsecureAddressesEndInErrors) {
    server.route("GET", "/v1/user/profile", test::CannedReply{200, "application/json", "[1,2]"});
    server.route("POST", "/v1/user/login", test::CannedReply{200, "application/json", ""});
    server.route("GET", "/graph/me",
                 test::CannedReply{200, "application/json", "{\"name\":\"x\"}"});
    RCPINDLEAPIHelper client = helper();

    Reply array =
        wait([&](ResponseCompletion done) { client.getProfileInfoWithAccessToken("t", done); });
    EXPECT_EQ(array.response, nlohmann::json::parse("{\"response\":[1,2]}"));

    Reply empty = wait([&](ResponseCompletion done) { client.loginWithEmail("e", "p", done); });
    ASSERT_TRUE(empty.error.has_value());
    EXPECT_FALSE(empty.response.has_value());
    EXPECT_EQ(empty.error->domain, kServiceErrorDomain);
    EXPECT_EQ(empty.error->code, kServiceEmptyReplyCode);
    EXPECT_EQ(empty.error->localizedDescription, "The server sent an empty reply.");

    size_t before = server.requests().size();
    Reply noID =
        wait([&](ResponseCompletion done) { client.loginWithFacebookAccessToken("fb", done); });
    ASSERT_TRUE(noID.error.has_value());
    EXPECT_TRUE(noID.onMainThread);
    EXPECT_EQ(noID.error->code, kServiceFacebookProfileWithoutIDCode);
    EXPECT_EQ(noID.error->localizedDescription, "The Facebook profile has no \"id\".");
    EXPECT_EQ(server.requests().size(), before + 1);  // the lookup only, no sign-in

    Reply missing = wait([&](ResponseCompletion done) {
        client.loginViaAppleSignIn(std::nullopt, "", "", std::nullopt, std::nullopt, done);
    });
    ASSERT_TRUE(missing.error.has_value());
    EXPECT_EQ(missing.error->localizedDescription, "Expected status code in (200-299), got 404");

    // Credentials never go over plain HTTP to another machine: refused before sending.
    at.api = "http://api.pindle.invalid";
    at.upload = "http://upload.pindle.invalid";
    at.facebookGraph = "http://graph.pindle.invalid";
    RCPINDLEAPIHelper insecure = helper();
    account = {"tok", false};
    test::writeFile(dir / "clip.mp4", "x");
    std::vector<std::function<void(ResponseCompletion)>> calls = {
        [&](ResponseCompletion done) { insecure.loginWithEmail("e", "p", done); },
        [&](ResponseCompletion done) { insecure.getProfileInfoWithAccessToken("t", done); },
        [&](ResponseCompletion done) { insecure.loginWithFacebookAccessToken("fb", done); },
        [&](ResponseCompletion done) {
            insecure.loginViaAppleSignIn("id", "", "", std::nullopt, std::nullopt, done);
        },
        [&](ResponseCompletion done) {
            insecure.uploadFileAtURL(dir / "clip.mp4", RCPINDLEMetadata(), true, nullptr, done);
        },
    };
    for (const auto& call : calls) {
        Reply refused = wait(call);
        ASSERT_TRUE(refused.error.has_value());
        EXPECT_TRUE(refused.onMainThread);
        EXPECT_EQ(refused.error->code, kServiceInsecureCredentialsCode);
        EXPECT_NE(refused.error->localizedDescription.find("plain HTTP"), std::string::npos);
    }
}

}  // namespace
}  // namespace pindle
