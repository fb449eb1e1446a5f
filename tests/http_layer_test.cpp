#include <gtest/gtest.h>

#include "service/AFHTTPClient.h"
#include "service/AFHTTPRequestOperation.h"
#include "service/URL.h"
#include "test_support.h"

namespace pindle {
namespace {

std::string readAll(http::BodyStream& stream, size_t pieceSize) {
    std::string out;
    std::vector<uint8_t> buffer(pieceSize);
    for (;;) {
        int64_t count = stream.read(buffer.data(), buffer.size());
        EXPECT_GE(count, 0);
        if (count <= 0) {
            return out;
        }
        out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(count));
    }
}

TEST(HTTPLayerTest, AddressesResolveBelowTheBasePath) {
    AFHTTPClient client("http://api.example:8080/v1/user");
    EXPECT_EQ(client.baseURL(), "http://api.example:8080/v1/user/");
    EXPECT_EQ(client.requestWithMethod("GET", "profile", nullptr).url,
              "http://api.example:8080/v1/user/profile");
    EXPECT_EQ(client.requestWithMethod("GET", "login/facebook", nullptr).url,
              "http://api.example:8080/v1/user/login/facebook");
    EXPECT_EQ(client.requestWithMethod("GET", "../upload", nullptr).url,
              "http://api.example:8080/v1/upload");
    EXPECT_EQ(client.requestWithMethod("GET", "/root?x=1", nullptr).url,
              "http://api.example:8080/root?x=1");
    EXPECT_EQ(AFHTTPClient("https://h").baseURL(), "https://h");
    EXPECT_EQ(resolveURL("https://h", "me"), "https://h/me");
}

TEST(HTTPLayerTest, QueryStringsAreSortedAndEscaped) {
    Parameters fields = {{"b", "a b&c"},        {"A", 30},          {"x[y]", "é/?:@"},
                         {"nothing", nullptr},  {"flag", true},     {"api_key", "k"},
                         {"access_token", "t"}, {"channel_id", "c"}};
    EXPECT_EQ(AFQueryStringFromParameters(fields),
              "A=30&access_token=t&api_key=k&b=a%20b%26c&channel_id=c&flag=1&nothing&"
              "x[y]=%C3%A9%2F%3F%3A%40");
    Parameters nested = {{"user", {{"Name", "n"}, {"age", 3}}}, {"tags", {"a", "b"}}};
    EXPECT_EQ(AFQueryStringFromParameters(nested), "tags[]=a&tags[]=b&user[age]=3&user[Name]=n");

    AFHTTPClient client("http://h/");
    EXPECT_EQ(client.requestWithMethod("GET", "p?z=1", {{"a", "1"}}).url, "http://h/p?z=1&a=1");
    http::Request form = client.requestWithMethod("POST", "p", {{"k", "v w"}});
    EXPECT_EQ(form.url, "http://h/p");
    EXPECT_EQ(form.body, "k=v%20w");
    EXPECT_EQ(form.headers.value("content-type"),
              "application/x-www-form-urlencoded; charset=utf-8");
    client.setParameterEncoding(AFHTTPClientParameterEncoding::JSON);
    EXPECT_EQ(client.requestWithMethod("PUT", "p", {{"k", 1}}).body, "{\"k\":1}");
}

TEST(HTTPLayerTest, DefaultHeadersNameLanguagesAndTheProgram) {
    EXPECT_EQ(AFHTTPClient::acceptLanguageForLanguages({"de-AT", "de", "en"}),
              "de-AT;q=1, de;q=0.9, en;q=0.8");
    std::vector<std::string> many = {"a", "b", "c", "d", "e", "f", "g", "h"};
    EXPECT_EQ(AFHTTPClient::acceptLanguageForLanguages(many),
              "a;q=1, b;q=0.9, c;q=0.8, d;q=0.7, e;q=0.6, f;q=0.5");
    AFHTTPClient client("http://h/");
    std::string agent = client.defaultHeaders().value("User-Agent").value_or("");
    EXPECT_EQ(agent.rfind("pindle-capture/", 0), 0u) << agent;
    EXPECT_NE(agent.find("(Linux "), std::string::npos) << agent;
    EXPECT_TRUE(client.defaultHeaders().value("Accept-Language").has_value());
}

TEST(HTTPLayerTest, MultipartBodyHasTheExactLayoutAndStreamsTheFile) {
    test::TempDir dir;
    std::string content(100000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7);
    }
    test::writeFile(dir / "clip.mp4", content);

    AFHTTPClient client("http://h/v1/");
    http::Request request = client.multipartFormRequestWithMethod(
        "POST", "upload", {{"video_max_duration", 30}, {"api_key", "K"}, {"Tags", "a,b"}},
        [&](AFStreamingMultipartFormData& form) {
            EXPECT_TRUE(
                form.appendPartWithFileURL(dir / "clip.mp4", "file", "file.mp4", "image/mp4"));
        });
    std::string type = request.headers.value("Content-Type").value_or("");
    ASSERT_EQ(type.rfind("multipart/form-data; boundary=Boundary+", 0), 0u) << type;
    std::string boundary = type.substr(type.find('=') + 1);
    EXPECT_EQ(boundary.size(), 9u + 16u);
    EXPECT_EQ(boundary.find_first_not_of("0123456789ABCDEF", 9), std::string::npos);

    std::string expected =
        "--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"api_key\"\r\n\r\nK\r\n--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"Tags\"\r\n\r\na,b\r\n--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"video_max_duration\"\r\n\r\n"
        "30\r\n--" +
        boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"file\"; "
        "filename=\"file.mp4\"\r\nContent-Type: image/mp4\r\n\r\n" +
        content + "\r\n--" + boundary + "--\r\n";
    ASSERT_TRUE(request.bodyStream);
    EXPECT_EQ(request.headers.value("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(request.bodyStream->length(), expected.size());
    // Odd piece sizes cross every boundary between the pieces of the body.
    EXPECT_EQ(readAll(*request.bodyStream, 7), expected);
    ASSERT_TRUE(request.bodyStream->rewind());
    EXPECT_EQ(readAll(*request.bodyStream, 65536), expected);

    // A file that shrank after its length was taken fails the read instead of sending a
    // body shorter than announced.
    ASSERT_TRUE(request.bodyStream->rewind());
    test::writeFile(dir / "clip.mp4", "short");
    std::vector<uint8_t> buffer(1 << 20);
    int64_t count = 0;
    while ((count = request.bodyStream->read(buffer.data(), buffer.size())) > 0) {
    }
    EXPECT_EQ(count, -1);
}

TEST(HTTPLayerTest, MultipartNamesCannotEndTheirHeader) {
    test::TempDir dir;
    test::writeFile(dir / "clip.mp4", "x");
    AFHTTPClient client("http://h/");
    http::Request request = client.multipartFormRequestWithMethod(
        "POST", "upload", {{"a\"b\r\nX-Injected: 1", "v"}},
        [&](AFStreamingMultipartFormData& form) {
            EXPECT_TRUE(form.appendPartWithFileURL(dir / "clip.mp4", "file", "my \"clip\"\r\n.mp4",
                                                   "image/mp4"));
        });
    ASSERT_TRUE(request.bodyStream);
    std::string body = readAll(*request.bodyStream, 4096);
    EXPECT_NE(
        body.find("Content-Disposition: form-data; name=\"a%22b%0D%0AX-Injected: 1\"\r\n\r\nv"),
        std::string::npos)
        << body;
    EXPECT_NE(body.find("name=\"file\"; filename=\"my %22clip%22%0D%0A.mp4\"\r\n"),
              std::string::npos)
        << body;
    EXPECT_EQ(body.find("\r\nX-Injected"), std::string::npos);
}

TEST(HTTPLayerTest, FileThatCannotBeAddedLeavesTheRequestWithoutIt) {
    test::TempDir dir;
    AFHTTPClient client("http://h/");
    HTTPError missing;
    HTTPError relative;
    http::Request request = client.multipartFormRequestWithMethod(
        "POST", "upload", nullptr, [&](AFStreamingMultipartFormData& form) {
            EXPECT_FALSE(
                form.appendPartWithFileURL(dir / "none.mp4", "file", "f", "image/mp4", &missing));
            EXPECT_FALSE(
                form.appendPartWithFileURL("relative.mp4", "file", "f", "image/mp4", &relative));
            EXPECT_FALSE(form.appendPartWithFileURL(dir / "none.mp4", "file", "f", "image/mp4"));
        });
    EXPECT_EQ(missing.domain, "AFNetworkingErrorDomain");
    EXPECT_EQ(missing.code, -1000);
    EXPECT_EQ(missing.failureReason, "File URL not reachable.");
    EXPECT_EQ(relative.failureReason, "Expected URL to be a file URL");
    // No parts: the request goes out as it was, without a body.
    EXPECT_FALSE(request.bodyStream);
    EXPECT_FALSE(request.headers.value("Content-Type").has_value());
    EXPECT_EQ(request.url, "http://h/upload");
}

TEST(HTTPLayerTest, ReplyBodiesDecode) {
    auto [none, noError] = AFJSONRequestOperation::decode(" ", "");
    EXPECT_FALSE(none.has_value());
    EXPECT_FALSE(noError.has_value());
    EXPECT_EQ(AFJSONRequestOperation::decode("[1,\"é\"]", "utf-8").first,
              nlohmann::json::parse("[1,\"é\"]"));
    EXPECT_EQ(AFJSONRequestOperation::decode("\"\xE9\"", "iso-8859-1").first, nlohmann::json("é"));
    auto [bad, badText] = AFJSONRequestOperation::decode("\"\xC3\x28\"", "utf-8");
    ASSERT_TRUE(badText.has_value());
    EXPECT_EQ(badText->code, -1016);
    EXPECT_EQ(badText->localizedDescription,
              "Operation responseData failed decoding as a UTF-8 string");
    EXPECT_EQ(badText->failureReason.rfind("Could not decode string: ", 0), 0u);
    auto [broken, parseError] = AFJSONRequestOperation::decode("{\"a\":", "");
    ASSERT_TRUE(parseError.has_value());
    EXPECT_EQ(parseError->domain, kJSONErrorDomain);
}

TEST(HTTPLayerTest, CredentialsTravelOnlyOverHTTPSOrLoopback) {
    EXPECT_TRUE(isSecureForCredentials("https://api.example/v1/user/login"));
    EXPECT_TRUE(isSecureForCredentials("http://127.0.0.1:4000/v1/user/login"));
    EXPECT_TRUE(isSecureForCredentials("http://127.8.9.10/x"));
    EXPECT_TRUE(isSecureForCredentials("http://[::1]:80/x"));
    EXPECT_TRUE(isSecureForCredentials("http://LOCALHOST/x"));
    EXPECT_FALSE(isSecureForCredentials("http://api.example/v1/user/login"));
    EXPECT_FALSE(isSecureForCredentials("http://127.0.0.1.evil.example/x"));
    EXPECT_FALSE(isSecureForCredentials("http://128.0.0.1/x"));
    EXPECT_FALSE(isSecureForCredentials("http://user@10.0.0.1/x"));
    EXPECT_FALSE(isSecureForCredentials("ftp://127.0.0.1/x"));
}

}  // namespace
}  // namespace pindle
