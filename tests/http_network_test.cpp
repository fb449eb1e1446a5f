#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loopback_server.h"
#include "platform/curl/curl_transport.h"
#include "platform/dispatch.h"
#include "service/AFHTTPClient.h"
#include "service/AFHTTPRequestOperation.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

// The outcome of one JSON operation, seen from the main queue.
struct Outcome {
    bool done = false;
    bool onMainThread = false;
    std::optional<nlohmann::json> value;
    std::optional<HTTPError> error;
};

class HTTPNetworkTest : public ::testing::Test {
protected:
    void SetUp() override { http::setTransport(curl::makeTransport()); }

    Outcome run(AFHTTPClient& client, http::Request request,
                AFURLConnectionOperation::UploadProgressBlock progress = nullptr) {
        Outcome outcome;
        auto operation = std::make_shared<AFJSONRequestOperation>(std::move(request));
        operation->setCompletionBlockWithSuccess(
            [&](AFHTTPRequestOperation&, const std::optional<nlohmann::json>& value) {
                outcome.onMainThread = dispatch::isMainThread();
                outcome.value = value;
                outcome.done = true;
            },
            [&](AFHTTPRequestOperation&, const HTTPError& error) {
                outcome.onMainThread = dispatch::isMainThread();
                outcome.error = error;
                outcome.done = true;
            });
        if (progress) {
            operation->setUploadProgressBlock(std::move(progress));
        }
        client.enqueueHTTPRequestOperation(operation);
        EXPECT_TRUE(dispatch::runUntil([&] { return outcome.done; }, 20s));
        return outcome;
    }

    test::LoopbackServer server;
};

TEST_F(HTTPNetworkTest, AcceptsJSONAndRefusesOtherStatusesAndTypes) {
    server.route("GET", "/v1/user/profile",
                 test::CannedReply{200, "application/json; charset=utf-8",
                                   "{\"data\":{\"username\":\"u\"}}"});
    server.route("GET", "/missing", test::CannedReply{404, "application/json", "{\"error\":1}"});
    server.route("GET", "/page", test::CannedReply{200, "text/html", "<html></html>"});
    server.route("GET", "/untyped", test::CannedReply{200, "", "{}"});
    server.route("GET", "/empty", test::CannedReply{200, "text/javascript", ""});
    server.route("GET", "/broken", test::CannedReply{200, "text/json", "{\"a\":"});
    AFHTTPClient client(server.url() + "/v1/user");

    Outcome ok = run(client, client.requestWithMethod("GET", "profile", {{"access_token", "a b"}}));
    EXPECT_TRUE(ok.onMainThread);
    ASSERT_FALSE(ok.error.has_value()) << ok.error->localizedDescription;
    EXPECT_EQ((*ok.value)["data"]["username"], "u");
    auto recorded = server.requests().back();
    EXPECT_EQ(recorded.target, "/v1/user/profile?access_token=a%20b");
    EXPECT_EQ(recorded.header("User-Agent").rfind("pindle-capture/", 0), 0u);
    EXPECT_FALSE(recorded.header("Accept-Language").empty());

    Outcome missing = run(client, client.requestWithMethod("GET", "/missing", nullptr));
    EXPECT_TRUE(missing.onMainThread);
    ASSERT_TRUE(missing.error.has_value());
    EXPECT_EQ(missing.error->domain, "AFNetworkingErrorDomain");
    EXPECT_EQ(missing.error->code, -1011);
    EXPECT_EQ(missing.error->localizedDescription, "Expected status code in (200-299), got 404");
    ASSERT_TRUE(missing.error->failingResponse);
    EXPECT_EQ(missing.error->failingResponse->statusCode, 404);
    ASSERT_TRUE(missing.error->failingRequest);
    EXPECT_EQ(missing.error->failingRequest->url, server.url() + "/missing");

    for (const char* path : {"/page", "/untyped"}) {
        Outcome refused = run(client, client.requestWithMethod("GET", path, nullptr));
        ASSERT_TRUE(refused.error.has_value()) << path;
        EXPECT_EQ(refused.error->code, -1016);
        std::string got = std::string(", got ") +
                          (std::string(path) == "/page" ? "text/html" : "application/octet-stream");
        EXPECT_EQ(refused.error->localizedDescription,
                  "Expected content type {(application/json, text/javascript, text/json)}" + got);
    }

    Outcome empty = run(client, client.requestWithMethod("GET", "/empty", nullptr));
    EXPECT_FALSE(empty.error.has_value());
    EXPECT_FALSE(empty.value.has_value());

    Outcome broken = run(client, client.requestWithMethod("GET", "/broken", nullptr));
    EXPECT_TRUE(broken.onMainThread);
    ASSERT_TRUE(broken.error.has_value());
    EXPECT_EQ(broken.error->domain, kJSONErrorDomain);
}

TEST_F(HTTPNetworkTest, RefusedConnectionArrivesAsTheTransportError) {
    // A port that was free a moment ago and has no listener now.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);

    AFHTTPClient client("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
    Outcome outcome = run(client, client.requestWithMethod("GET", "x", nullptr));
    EXPECT_TRUE(outcome.onMainThread);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->domain, kHTTPTransportErrorDomain);
    EXPECT_EQ(outcome.error->code, 7);  // could not connect
    EXPECT_FALSE(outcome.error->localizedDescription.empty());
}

TEST_F(HTTPNetworkTest, MultipartUploadArrivesWhole) {
    test::TempDir dir;
    std::string content(3 * 1024 * 1024 + 17, 'x');
    for (size_t i = 0; i < content.size(); i += 4093) {
        content[i] = static_cast<char>(i);
    }
    test::writeFile(dir / "clip.mp4", content);
    server.route("POST", "/v1/upload", test::CannedReply{200, "application/json", "[1,2]"});
    AFHTTPClient client(server.url() + "/v1/");
    http::Request request = client.multipartFormRequestWithMethod(
        "POST", "upload", {{"title", "t"}, {"api_key", "k"}},
        [&](AFStreamingMultipartFormData& form) {
            form.appendPartWithFileURL(dir / "clip.mp4", "file", "file.mp4", "image/mp4");
        });
    uint64_t expectedLength = request.bodyStream->length();

    uint64_t lastTotal = 0;
    uint64_t summed = 0;
    bool progressOnMain = true;
    bool monotonic = true;
    Outcome outcome = run(client, request, [&](uint64_t bytes, uint64_t total, uint64_t expected) {
        progressOnMain = progressOnMain && dispatch::isMainThread();
        monotonic = monotonic && total >= lastTotal && expected == expectedLength;
        lastTotal = total;
        summed += bytes;
    });
    ASSERT_FALSE(outcome.error.has_value()) << outcome.error->localizedDescription;
    EXPECT_EQ(*outcome.value, nlohmann::json::parse("[1,2]"));
    EXPECT_TRUE(progressOnMain);
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(lastTotal, expectedLength);
    EXPECT_EQ(summed, expectedLength);

    auto recorded = server.requests().back();
    EXPECT_EQ(recorded.header("Content-Length"), std::to_string(expectedLength));
    EXPECT_EQ(recorded.body.size(), expectedLength);
    auto parts = test::parseMultipart(recorded.header("Content-Type"), recorded.body);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].name, "api_key");
    EXPECT_EQ(parts[0].body, "k");
    EXPECT_EQ(parts[1].name, "title");
    EXPECT_EQ(parts[2].name, "file");
    EXPECT_EQ(parts[2].fileName, "file.mp4");
    EXPECT_EQ(parts[2].header("Content-Type"), "image/mp4");
    EXPECT_TRUE(parts[2].body == content);

    // Byte for byte as the server received it.
    std::string type = recorded.header("Content-Type");
    std::string boundary = type.substr(type.find("boundary=") + 9);
    std::string expected =
        "--" + boundary + "\r\nContent-Disposition: form-data; name=\"api_key\"\r\n\r\nk\r\n--" +
        boundary + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nt\r\n--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"file\"; "
        "filename=\"file.mp4\"\r\nContent-Type: image/mp4\r\n\r\n" +
        content + "\r\n--" + boundary + "--\r\n";
    EXPECT_TRUE(recorded.body == expected);
}

}  // namespace
}  // namespace pindle
