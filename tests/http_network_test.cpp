#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "base/dispatch.h"
#include "loopback_server.h"
#include "platform/curl/curl_transport.h"
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

TEST_F(HTTPNetworkTest, RepliesLargerThanTheLimitEndTheTransfer) {
    // One without a length that never ends, one that declares its size.
    test::CannedReply endless{200, "application/json", "["};
    endless.stream = std::string(64 * 1024, ' ');
    server.route("GET", "/endless", endless);
    server.route("GET", "/big",
                 test::CannedReply{200, "application/json",
                                   "\"" + std::string(http::Limits::kJSONReplyBytes, 'x') + "\""});
    AFHTTPClient client(server.url() + "/");

    for (const char* path : {"/endless", "/big"}) {
        auto started = std::chrono::steady_clock::now();
        Outcome outcome = run(client, client.requestWithMethod("GET", path, nullptr));
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << path;
        ASSERT_TRUE(outcome.error.has_value()) << path;
        EXPECT_EQ(outcome.error->domain, kHTTPTransportErrorDomain);
        EXPECT_EQ(outcome.error->code, http::kReplyTooLargeCode);
        EXPECT_EQ(outcome.error->localizedDescription, "the server's reply is larger than 8 MiB");
    }

    // The limit is the request's own: a larger one lets the same reply through.
    http::Request request = client.requestWithMethod("GET", "/big", nullptr);
    request.limits.maxResponseBytes = http::Limits::kImageReplyBytes;
    Outcome accepted = run(client, request);
    ASSERT_FALSE(accepted.error.has_value()) << accepted.error->localizedDescription;
    EXPECT_EQ(accepted.value->get_ref<const std::string&>().size(), http::Limits::kJSONReplyBytes);
}

TEST_F(HTTPNetworkTest, SlowServersEndWithTheLimitTheyPassed) {
    // One byte every 100 ms: the reply never stops moving, and never ends.
    test::CannedReply trickle{200, "application/json", "["};
    trickle.stream = " ";
    trickle.streamInterval = 100ms;
    server.route("GET", "/trickle", trickle);
    test::CannedReply silent;
    silent.delay = 20s;
    server.route("GET", "/silent", silent);
    AFHTTPClient client(server.url() + "/");

    http::Request request = client.requestWithMethod("GET", "/trickle", nullptr);
    request.limits.lowSpeedBytes = 100;
    request.limits.lowSpeedTime = 1s;
    auto started = std::chrono::steady_clock::now();
    Outcome trickled = run(client, request);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
    ASSERT_TRUE(trickled.error.has_value());
    EXPECT_EQ(trickled.error->code, http::kTimedOutCode);
    EXPECT_EQ(trickled.error->localizedDescription,
              "the transfer stalled: less than 100 bytes a second for 1 s");

    request = client.requestWithMethod("GET", "/silent", nullptr);
    request.limits.totalTimeout = 1500ms;
    started = std::chrono::steady_clock::now();
    Outcome silence = run(client, request);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
    ASSERT_TRUE(silence.error.has_value());
    EXPECT_EQ(silence.error->code, http::kTimedOutCode);
    EXPECT_EQ(silence.error->localizedDescription, "the server did not answer within 1.5 s");
}

TEST_F(HTTPNetworkTest, NestingDeeperThanTheLimitIsRefusedBeforeTheValueIsCopied) {
    auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    server.route("GET", "/256", test::CannedReply{200, "application/json", nested(256)});
    server.route("GET", "/257",
                 test::CannedReply{200, "application/json", "{\"a\":" + nested(256) + "}"});
    server.route("GET", "/million", test::CannedReply{200, "application/json", nested(1000000)});
    AFHTTPClient client(server.url() + "/");

    Outcome deepest = run(client, client.requestWithMethod("GET", "/256", nullptr));
    ASSERT_FALSE(deepest.error.has_value()) << deepest.error->localizedDescription;
    EXPECT_EQ(deepest.value->dump(), nested(256));
    for (const char* path : {"/257", "/million"}) {
        Outcome refused = run(client, client.requestWithMethod("GET", path, nullptr));
        ASSERT_TRUE(refused.error.has_value()) << path;
        EXPECT_EQ(refused.error->domain, kJSONErrorDomain);
        EXPECT_EQ(refused.error->localizedDescription,
                  "The reply is nested deeper than 256 levels");
    }
}

TEST_F(HTTPNetworkTest, OnlyPlainReadsFollowARedirection) {
    test::LoopbackServer elsewhere;
    elsewhere.route("GET", "/landing", test::CannedReply{200, "application/json", "{\"at\":1}"});
    elsewhere.route("POST", "/landing", test::CannedReply{200, "application/json", "{\"at\":1}"});
    for (int status : {302, 307}) {
        test::CannedReply moved{status, "text/plain", "moved"};
        moved.headers = {{"Location", elsewhere.url() + "/landing"}};
        server.route("GET", "/moved" + std::to_string(status), moved);
        server.route("POST", "/moved" + std::to_string(status), moved);
    }
    AFHTTPClient client(server.url() + "/");

    Outcome followed = run(client, client.requestWithMethod("GET", "/moved302", nullptr));
    ASSERT_FALSE(followed.error.has_value()) << followed.error->localizedDescription;
    EXPECT_EQ((*followed.value)["at"], 1);
    ASSERT_EQ(elsewhere.requests().size(), 1u);

    http::Request withToken = client.requestWithMethod("GET", "/moved302", {{"token", "T"}});
    withToken.carriesCredentials = true;
    http::Request post = client.requestWithMethod("POST", "/moved307", {{"password", "P"}});
    http::Request form =
        client.multipartFormRequestWithMethod("POST", "/moved307", {{"password", "P"}}, nullptr);
    for (http::Request& request : {std::ref(withToken), std::ref(post), std::ref(form)}) {
        Outcome refused = run(client, request);
        ASSERT_TRUE(refused.error.has_value()) << request.method << " " << request.url;
        EXPECT_EQ(refused.error->code, http::kRedirectionRefusedCode);
        EXPECT_EQ(refused.error->localizedDescription,
                  "the server redirected the request to http://127.0.0.1; a request that "
                  "carries a body or credentials is not sent on");
    }
    EXPECT_EQ(elsewhere.requests().size(), 1u);
}

// A request body that fails by throwing, as a stream over a broken source may.
class ThrowingBody final : public http::BodyStream {
public:
    uint64_t length() const override { return 1000; }
    int64_t read(uint8_t*, size_t) override { throw std::runtime_error("the source is gone"); }
    bool rewind() override { return true; }
};

TEST_F(HTTPNetworkTest, ExceptionsInTransferCallbacksEndTheTransferNotTheProgram) {
    server.route("POST", "/upload", test::CannedReply{});
    auto transport = curl::makeTransport();
    http::Request request;
    request.method = "POST";
    request.url = server.url() + "/upload";
    request.bodyStream = std::make_shared<ThrowingBody>();
    http::Outcome outcome = transport->perform(request, nullptr);
    ASSERT_TRUE(std::holds_alternative<http::TransportError>(outcome));
    EXPECT_EQ(std::get<http::TransportError>(outcome).message, "the source is gone");

    request.bodyStream.reset();
    request.body = std::string(100000, 'b');
    outcome = transport->perform(
        request, [](uint64_t, uint64_t, uint64_t) { throw std::runtime_error("progress failed"); });
    ASSERT_TRUE(std::holds_alternative<http::TransportError>(outcome));
    EXPECT_EQ(std::get<http::TransportError>(outcome).message, "progress failed");
}

}  // namespace
}  // namespace pindle
