#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>

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

    // Runs the program with args and input on standard input; returns the exit status.
    int run(const std::string& args, const std::string& input = "") {
        test::writeFile(home / "in.txt", input);
        std::string command = "env PINDLE_CAPTURE_HOME=" + (home / "home").string() +
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

}  // namespace
}  // namespace pindle
