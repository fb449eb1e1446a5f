#include <gtest/gtest.h>

#include "base/dispatch.h"
#include "base/log.h"
#include "library/RCFileManager.h"
#include "loopback_server.h"
#include "platform/curl/curl_transport.h"
#include "service/RCPINDLEAPIHelper.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

const std::string kAvatarBytes = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(5000, 'a');

class AccountNetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        http::setTransport(curl::makeTransport());
        ServiceEndpoints at;
        at.api = server.url();
        at.web = "http://web.test";
        service = std::make_unique<RCPINDLEAPIHelper>(at, [this] {
            return PINDLEAccount{settings->pindleAccessToken().value_or(""),
                                 settings->isPINDLEStaff()};
        });
        settings = std::make_unique<RCUserSettings>(store, files, center);
        settings->setServiceClient(service.get());
        server.route("GET", "/img/me.png", test::CannedReply{200, "image/png", kAvatarBytes});
        loginToken = center.addObserver(RCUserSettings::kPINDLELoginNotification, nullptr,
                                        [this](const Notification& note) {
                                            EXPECT_EQ(note.sender, settings.get());
                                            events.push_back("login");
                                        });
        logoutToken =
            center.addObserver(RCUserSettings::kPINDLELogoutNotification, nullptr,
                               [this](const Notification&) { events.push_back("logout"); });
    }

    void profileReply(const std::string& data) {
        server.route("GET", "/v1/user/profile",
                     test::CannedReply{200, "application/json", "{\"data\":" + data + "}"});
    }

    // Signs in and waits until the completion or the failure has run, then lets queued
    // notifications through.
    bool signIn(const std::string& token) {
        bool done = false;
        bool completed = false;
        settings->pindleLoginWithAccessToken(
            token,
            [&] {
                events.push_back("completion");
                completed = done = true;
            },
            [&](const std::string& reason) {
                failure = reason;
                done = true;
            });
        EXPECT_TRUE(dispatch::runUntil([&] { return done; }, 20s));
        dispatch::drainMainQueue();
        return completed;
    }

    test::LoopbackServer server;
    test::TempDir home;
    RCFileManager files{home.appDirectories()};
    std::shared_ptr<Defaults> store = makeMemoryDefaults();
    NotificationCenter center;
    std::unique_ptr<RCPINDLEAPIHelper> service;
    std::unique_ptr<RCUserSettings> settings;
    NotificationCenter::Token loginToken;
    NotificationCenter::Token logoutToken;
    std::vector<std::string> events;
    std::string failure;
};

TEST_F(AccountNetworkTest, SignInStoresTheProfileAndAvatarThenAnnouncesAndSaves) {
    profileReply("{\"username\":\"gif_maker\",\"avatar_url\":\"" + server.url() +
                 "/img/me.png?size=2\",\"is_staff\":true}");
    ASSERT_TRUE(signIn("T1")) << failure;
    // The notification is delivered after the completion has returned.
    EXPECT_EQ(events, (std::vector<std::string>{"completion", "login"}));
    EXPECT_EQ(server.requests().front().queryItems()["access_token"], "T1");
    EXPECT_EQ(settings->pindleUsername(), "gif_maker");
    EXPECT_TRUE(settings->isPINDLEStaff());
    auto avatar = settings->pindleAvatarURL();
    EXPECT_EQ(avatar.parent_path(), files.applicationSupportDirectoryURL());
    EXPECT_EQ(avatar.extension(), ".png");
    EXPECT_EQ(test::readFile(avatar), kAvatarBytes);
    // Saved: a later start is signed in.
    RCUserSettings later(store, files, center);
    EXPECT_EQ(later.pindleAccessToken(), "T1");
    EXPECT_EQ(later.pindleUsername(), "gif_maker");
    EXPECT_EQ(later.pindleAvatarURL(), avatar);
    EXPECT_EQ(settings->pindleChannelURL(), "http://web.test/channel/gif_maker");

    settings->pindleLogout();
    dispatch::drainMainQueue();
    EXPECT_EQ(events.back(), "logout");
    EXPECT_FALSE(settings->isLoggedIntoPINDLE());
    EXPECT_FALSE(settings->pindleUsername().has_value());
    EXPECT_FALSE(settings->isPINDLEStaff());
    EXPECT_TRUE(settings->pindleAvatarURL().empty());
    EXPECT_FALSE(std::filesystem::exists(avatar));
    EXPECT_FALSE(settings->pindleChannelURL().has_value());
    EXPECT_FALSE(RCUserSettings(store, files, center).isLoggedIntoPINDLE());
}

TEST_F(AccountNetworkTest, IncompleteProfileKeepsTheTokenButCompletesNothing) {
    profileReply("{\"username\":\"\",\"avatar_url\":\"" + server.url() + "/img/me.png\"}");
    EXPECT_FALSE(signIn("T2"));
    EXPECT_FALSE(failure.empty());
    EXPECT_TRUE(events.empty());  // no completion, no notification
    EXPECT_TRUE(settings->isLoggedIntoPINDLE());
    EXPECT_FALSE(settings->pindleUsername().has_value());
    EXPECT_FALSE(store->contains("pindleAccessToken"));  // not saved by this sequence

    // A failed avatar download writes no file, yet the sign-in completes; no staff flag
    // in the reply counts as false.
    profileReply("{\"username\":\"u\",\"avatar_url\":\"" + server.url() + "/img/gone.jpg\"}");
    failure.clear();
    ASSERT_TRUE(signIn("T3")) << failure;
    EXPECT_EQ(settings->pindleAvatarURL().extension(), ".jpg");
    EXPECT_FALSE(std::filesystem::exists(settings->pindleAvatarURL()));
    EXPECT_FALSE(settings->isPINDLEStaff());
    EXPECT_EQ(store->stringForKey("pindleAccessToken"), "T3");
}

TEST_F(AccountNetworkTest, SignOutDuringTheAvatarDownloadWins) {
    // The avatar reply is held until the user has signed out.
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    server.route("GET", "/img/slow.png", [&](const test::RecordedRequest&) {
        entered = true;
        while (!release) {
            std::this_thread::sleep_for(5ms);
        }
        return test::CannedReply{200, "image/png", kAvatarBytes};
    });
    profileReply("{\"username\":\"u\",\"avatar_url\":\"" + server.url() +
                 "/img/slow.png\",\"is_staff\":true}");
    bool done = false;
    settings->pindleLoginWithAccessToken(
        "T4", [&] { done = true; }, [&](const std::string&) { done = true; });
    // The server's thread sets the flag without waking the main queue: poll it.
    for (int round = 0; round < 2000 && !entered; ++round) {
        dispatch::runUntil([&] { return entered.load(); }, 10ms);
    }
    ASSERT_TRUE(entered);
    settings->pindleLogout();
    release = true;
    ASSERT_TRUE(dispatch::runUntil([&] { return done; }, 20s));
    dispatch::drainMainQueue();
    EXPECT_EQ(events, (std::vector<std::string>{"logout"}));
    EXPECT_FALSE(settings->isLoggedIntoPINDLE());
    EXPECT_FALSE(settings->isPINDLEStaff());
    EXPECT_TRUE(settings->pindleAvatarURL().empty());
    EXPECT_TRUE(std::filesystem::is_empty(files.applicationSupportDirectoryURL()));
}

TEST_F(AccountNetworkTest, AvatarsAreHeldToTheirSizeAndAPlainFileName) {
    test::CannedReply endless{200, "image/png", kAvatarBytes};
    endless.stream = std::string(256 * 1024, 'a');
    server.route("GET", "/img/endless.png", endless);
    profileReply("{\"username\":\"u\",\"avatar_url\":\"" + server.url() + "/img/endless.png\"}");
    std::vector<std::string> lines;
    log::setSink([&](log::Level, const std::string&, const std::string& message) {
        lines.push_back(message);
    });
    bool completed = signIn("T5");
    log::setSink(nullptr);
    ASSERT_TRUE(completed) << failure;
    EXPECT_FALSE(std::filesystem::exists(settings->pindleAvatarURL()));
    EXPECT_TRUE(std::filesystem::is_empty(files.applicationSupportDirectoryURL()));
    bool reported = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("the server's reply is larger than 20 MiB") != std::string::npos;
    });
    EXPECT_TRUE(reported);

    // The server names the file's extension: one that is no plain short word is left out.
    std::string odd = "/img/me." + std::string(300, 'x');
    server.route("GET", odd, test::CannedReply{200, "image/png", kAvatarBytes});
    profileReply("{\"username\":\"u\",\"avatar_url\":\"" + server.url() + odd + "\"}");
    ASSERT_TRUE(signIn("T6")) << failure;
    EXPECT_LT(settings->pindleAvatarURL().filename().string().size(), 64u);
    EXPECT_EQ(test::readFile(settings->pindleAvatarURL()), kAvatarBytes);
}

}  // namespace
}  // namespace pindle
