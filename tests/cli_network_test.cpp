#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "loopback_server.h"
#include "test_support.h"

namespace pindle {
namespace {

// The service verbs of the program against a server on loopback, with their own home.
class ServiceVerbsTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.route("POST", "/v1/user/login", [](const test::RecordedRequest& request) {
            bool right = request.body.find("\r\n\r\nsecret\r\n") != std::string::npos;
            return test::CannedReply{
                200, "application/json",
                std::string("{\"data\":{\"access_token\":\"") + (right ? "TK" : "") + "\"}}"};
        });
        server.route("GET", "/v1/user/profile",
                     test::CannedReply{200, "application/json",
                                       "{\"data\":{\"username\":\"cli_user\",\"avatar_url\":\"" +
                                           server.url() + "/img/a.png\"}}"});
        server.route("GET", "/img/a.png", test::CannedReply{200, "image/png", "png"});
        server.route("POST", "/v1/upload/video",
                     test::CannedReply{200, "application/json", "{\"data\":{\"id\":\"xyz\"}}"});
        server.route("POST", "/v1/upload",
                     test::CannedReply{200, "application/json", "{\"data\":{\"id\":\"anon\"}}"});
        test::writeFile(home / "clip.mp4", std::string(10000, 'c'));
    }

    // Runs the program with args and input on standard input, after the shell commands of
    // prelude; returns the exit status.
    int run(const std::string& args, const std::string& input = "",
            const std::string& prelude = "") {
        test::writeFile(home / "in.txt", input);
        std::string command = prelude + "env PINDLE_CAPTURE_HOME=" + (home / "home").string() +
                              " PINDLE_API_URL=" + server.url() +
                              " PINDLE_UPLOAD_URL=" + server.url() +
                              " PINDLE_WEB_URL=http://web.test " PINDLE_CAPTURE_BINARY " " + args +
                              " < " + (home / "in.txt").string() + " > " +
                              (home / "out.txt").string() + " 2> " + (home / "err.txt").string();
        int status = std::system(command.c_str());
        out = test::readFile(home / "out.txt");
        err = test::readFile(home / "err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string field(const test::RecordedRequest& request, const std::string& name) {
        for (const auto& part :
             test::parseMultipart(request.header("Content-Type"), request.body)) {
            if (part.name == name) {
                return part.body;
            }
        }
        return "<absent>";
    }

    test::LoopbackServer server;
    test::TempDir home;
    std::string out;
    std::string err;
};

TEST_F(ServiceVerbsTest, SignInUploadAndSignOut) {
    EXPECT_EQ(run("login --email me@example.com", "wrong\n"), 1);
    EXPECT_NE(err.find("incorrect"), std::string::npos) << err;

    ASSERT_EQ(run("login --email me@example.com", "secret\n"), 0) << err;
    EXPECT_EQ(out, "Signed in as cli_user\n");
    EXPECT_EQ(field(server.requests()[1], "email"), "me@example.com");

    // A regular account: the staff options are dropped, as the upload window hides them.
    ASSERT_EQ(run("upload " + (home / "clip.mp4").string() +
                  " --clip --title Hello --tags a,b --rating pg --private"),
              0)
        << err;
    EXPECT_EQ(out, "http://web.test/gifs/xyz\n");
    auto upload = server.requests().back();
    EXPECT_EQ(upload.path, "/v1/upload/video");
    EXPECT_EQ(field(upload, "access_token"), "TK");
    EXPECT_EQ(field(upload, "title"), "Hello");
    EXPECT_EQ(field(upload, "tags"), "pindlereelcatch,a,b");
    EXPECT_EQ(field(upload, "rating"), "");
    EXPECT_EQ(field(upload, "is_hidden"), "<absent>");
    EXPECT_EQ(field(upload, "file").size(), 10000u);

    ASSERT_EQ(run("logout"), 0) << err;
    EXPECT_EQ(out, "Signed out.\n");
    ASSERT_EQ(run("upload " + (home / "clip.mp4").string() + " --title Ignored"), 0) << err;
    EXPECT_EQ(out, "http://web.test/gifs/anon\n");
    upload = server.requests().back();
    EXPECT_EQ(upload.path, "/v1/upload");
    EXPECT_EQ(field(upload, "access_token"), "<absent>");
    EXPECT_EQ(field(upload, "title"), "<absent>");

    EXPECT_EQ(run("upload " + (home / "none.mp4").string()), 1);
    EXPECT_NE(err.find("cannot read"), std::string::npos) << err;
    EXPECT_EQ(run("upload " + (home / "clip.mp4").string() + " --rating x"), 2);
}

// Whether text holds a byte a terminal acts on: C0 but the line feed, DEL, C1 (as UTF-8).
bool hasControlCharacters(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F ||
            (byte == 0xC2 && i + 1 < text.size() &&
             static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
             static_cast<unsigned char>(text[i + 1]) <= 0x9F)) {
            return true;
        }
    }
    return false;
}

TEST_F(ServiceVerbsTest, ServerTextIsPrintedWithoutControlCharacters) {
    // A title escape, colours, DEL and a C1 control sequence around ordinary UTF-8 text; the
    // avatar address ends up in a warning.
    server.route(
        "GET", "/v1/user/profile",
        test::CannedReply{200, "application/json",
                          "{\"data\":{\"username\":\"\\u001b]0;owned\\u0007Zo\\u00eb"
                          "\\u001b[31m_\\u007f\\u009b2J\\ud83c\\udf9e\",\"avatar_url\":\"" +
                              server.url() + "/img/\\u001b[2Ja.png\"}}"});
    ASSERT_EQ(run("login --email me@example.com", "secret\n"), 0) << err;
    EXPECT_EQ(out, "Signed in as Zo\u00eb_\U0001F39E\n");
    EXPECT_FALSE(hasControlCharacters(err)) << err;

    server.route(
        "POST", "/v1/upload/video",
        test::CannedReply{200, "application/json", "{\"data\":{\"id\":\"x\\u001b[2Jy\\u0085\"}}"});
    ASSERT_EQ(run("upload --clip " + (home / "clip.mp4").string()), 0) << err;
    EXPECT_EQ(out, "http://web.test/gifs/xy\n");

    // Failures quote the server too: here the type of its reply.
    server.route("POST", "/v1/user/login",
                 test::CannedReply{200, "text/html\x1b]0;owned\x07", "<html>"});
    EXPECT_EQ(run("login --email me@example.com", "secret\n"), 1);
    EXPECT_NE(err.find("got text/html"), std::string::npos) << err;
    EXPECT_FALSE(hasControlCharacters(err)) << err;
    server.route("POST", "/v1/upload/video",
                 test::CannedReply{200, "application/json", "{\"data\":\"\x7f\\u009b2J\"}"});
    EXPECT_EQ(run("upload --clip " + (home / "clip.mp4").string()), 1);
    EXPECT_NE(err.find("unexpected reply"), std::string::npos) << err;
    EXPECT_FALSE(hasControlCharacters(err)) << err;
}

TEST_F(ServiceVerbsTest, SignInIsNotSentOnToAnotherHost) {
    test::LoopbackServer elsewhere;
    elsewhere.route("POST", "/steal", test::CannedReply{200, "application/json", "{}"});
    test::CannedReply moved{307, "text/plain", ""};
    moved.headers = {{"Location", elsewhere.url() + "/steal"}};
    server.route("POST", "/v1/user/login", moved);
    EXPECT_EQ(run("login --email me@example.com", "secret\n"), 1);
    EXPECT_NE(err.find("redirected the request to http://127.0.0.1"), std::string::npos) << err;
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST_F(ServiceVerbsTest, UnusablePathsToUploadEndInOneLine) {
    std::filesystem::create_symlink(home / "loop", home / "loop");
    std::filesystem::create_directories(home / "gone");
    std::string overlong = (home / std::string(5000, 'n')).string();
    for (const auto& [prelude, file] : std::vector<std::pair<std::string, std::string>>{
             {"", (home / "loop").string()},
             {"", overlong},
             {"", home.path().string()},
             // A relative name where the working folder has been removed.
             {"cd " + (home / "gone").string() + " && rmdir ../gone && ", "clip.mp4"}}) {
        EXPECT_EQ(run("upload " + file, "", prelude), 1) << file.substr(0, 80);
        EXPECT_EQ(err.rfind("pindle-capture upload: cannot read ", 0), 0u) << err.substr(0, 200);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err.substr(0, 200);
    }
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace pindle
