// Signing in, uploading and sharing from the desktop program as a user does it, on a private
// X server with a window manager, against the service and a Facebook sign-in page of our own
// on loopback. Setting PINDLE_SCREENSHOTS to a folder saves pictures of the windows there.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "decoded_media.h"
#include "loopback_server.h"
#include "test_support.h"
#include "xvfb_support.h"

#ifndef PINDLE_CAPTURE_PROGRAM
#error "PINDLE_CAPTURE_PROGRAM names the program under test"
#endif

namespace pindle {
namespace {

using namespace std::chrono_literals;

using test::eventually;

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    int right() const { return x + width; }
    int bottom() const { return y + height; }
};

// A desktop of its own: Xvfb, openbox, and the program with a home, a log and the service
// on loopback.
class Session {
public:
    explicit Session(const std::string& serverURL) {
        if (!xvfb_.isRunning()) {
            return;
        }
        wm_ = spawn({"openbox"}, {}, {});
        eventually(
            [&] {
                return run("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") !=
                       std::string::npos;
            },
            10s);
        // What the desktop opens addresses with: a script that writes them down.
        std::filesystem::create_directories(bin_.path());
        test::writeFile(bin_ / "xdg-open",
                        "#!/bin/sh\necho \"$1\" >> " + (bin_ / "opened.txt").string() + "\n");
        std::filesystem::permissions(bin_ / "xdg-open", std::filesystem::perms::owner_all);
        environment_ = {
            "PINDLE_CAPTURE_HOME=" + home_.path().string(),
            "PINDLE_API_URL=" + serverURL,
            "PINDLE_UPLOAD_URL=" + serverURL,
            "PINDLE_WEB_URL=" + serverURL,
            "PINDLE_MEDIA_URL=" + serverURL,
            "PINDLE_FACEBOOK_GRAPH_URL=" + serverURL,
            "PINDLE_FACEBOOK_URL=" + serverURL,
            "PATH=" + bin_.path().string() + ":" + std::string(std::getenv("PATH")),
            "QT_QPA_PLATFORM=xcb",
            "BROWSER=",
            // The web view's Chromium runs as root here: its sandbox is off for the test only.
            "QTWEBENGINE_DISABLE_SANDBOX=1",
            "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu",
        };
    }
    ~Session() {
        stopProgram();
        if (wm_ > 0) {
            kill(wm_, SIGTERM);
            waitpid(wm_, nullptr, 0);
        }
    }
    bool isRunning() const { return xvfb_.isRunning(); }
    const std::string& display() const { return xvfb_.display(); }
    const test::TempDir& home() const { return home_; }
    std::filesystem::path opened() const { return bin_ / "opened.txt"; }
    const std::filesystem::path& log() const { return log_; }

    std::string run(const std::string& command) const {
        std::string line = "DISPLAY=" + xvfb_.display() + " " + command + " 2>/dev/null";
        std::string output;
        if (FILE* pipe = popen(line.c_str(), "r")) {
            char buffer[256];
            while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
                output += buffer;
            }
            pclose(pipe);
        }
        return output;
    }
    // The program's command-line verb with input on standard input; its exit status.
    int verb(const std::string& args, const std::string& input = "") const {
        std::string command = "printf '%s' '" + input + "' | env DISPLAY=" + xvfb_.display();
        for (const std::string& entry : environment_) {
            command += " '" + entry + "'";
        }
        command += " " PINDLE_CAPTURE_PROGRAM " " + args + " >/dev/null 2>>" + log_.string();
        return WEXITSTATUS(std::system(command.c_str()));
    }

    void startProgram() { program_ = spawn({PINDLE_CAPTURE_PROGRAM}, environment_, log_); }
    void stopProgram() {
        if (program_ > 0) {
            kill(program_, SIGTERM);
            if (!eventually([&] { return waitpid(program_, nullptr, WNOHANG) == program_; }, 10s)) {
                kill(program_, SIGKILL);
                waitpid(program_, nullptr, 0);
            }
            program_ = -1;
        }
    }
    pid_t program() const { return program_; }

    int logLines(const std::string& text) const {
        std::ifstream in(log_);
        int count = 0;
        for (std::string line; std::getline(in, line);) {
            count += line.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    bool waitForLog(const std::string& text, int count = 1,
                    std::chrono::milliseconds timeout = 30s) const {
        return eventually([&] { return logLines(text) >= count; }, timeout);
    }

    // A visible window whose name is exactly name.
    std::optional<Box> window(const std::string& name,
                              std::chrono::milliseconds timeout = 15s) const {
        std::optional<Box> found;
        eventually(
            [&] {
                std::istringstream ids(run("xdotool search --onlyvisible --name '^" + name + "$'"));
                std::string id;
                if (!(ids >> id)) {
                    return false;
                }
                // xwininfo gives where the window's content is on the screen, below the
                // window manager's frame.
                std::istringstream info(run("xwininfo -id " + id));
                Box box;
                for (std::string line; std::getline(info, line);) {
                    auto colon = line.find(':');
                    if (colon == std::string::npos) {
                        continue;
                    }
                    int value = std::atoi(line.c_str() + colon + 1);
                    std::string key = line.substr(0, colon);
                    for (auto [label, field] :
                         {std::pair{"  Absolute upper-left X", &box.x},
                          std::pair{"  Absolute upper-left Y", &box.y},
                          std::pair{"  Width", &box.width}, std::pair{"  Height", &box.height}}) {
                        if (key == label) {
                            *field = value;
                        }
                    }
                }
                found = box;
                return box.width > 0;
            },
            timeout);
        return found;
    }
    // The window once the window manager has stopped moving it.
    std::optional<Box> settledWindow(const std::string& name) const {
        std::optional<Box> box = window(name);
        eventually(
            [&] {
                std::this_thread::sleep_for(200ms);
                auto again = window(name, 1s);
                bool still = again && box && again->x == box->x && again->y == box->y &&
                             again->width == box->width && again->height == box->height;
                box = again;
                return still;
            },
            5s);
        return box;
    }

    QImage screen() const {
        auto file = home_ / "screen.png";
        run("import -window root " + file.string());
        return QImage(QString::fromStdString(file.string()));
    }
    // The centre of the pixels inside box of the colour (within 24 per channel).
    std::optional<std::pair<int, int>> find(const Box& box, QRgb colour) const {
        QImage image = screen();
        long sumX = 0, sumY = 0, count = 0;
        for (int y = std::max(0, box.y); y < std::min(image.height(), box.bottom()); ++y) {
            for (int x = std::max(0, box.x); x < std::min(image.width(), box.right()); ++x) {
                QRgb pixel = image.pixel(x, y);
                if (std::abs(qRed(pixel) - qRed(colour)) <= 24 &&
                    std::abs(qGreen(pixel) - qGreen(colour)) <= 24 &&
                    std::abs(qBlue(pixel) - qBlue(colour)) <= 24) {
                    sumX += x;
                    sumY += y;
                    ++count;
                }
            }
        }
        if (count < 20) {
            return std::nullopt;
        }
        return std::make_pair(int(sumX / count), int(sumY / count));
    }
    void click(int x, int y) const {
        run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
            " sleep 0.2 click 1");
    }
    bool clickColour(const Box& box, QRgb colour) const {
        auto at = find(box, colour);
        if (at) {
            click(at->first, at->second);
        }
        return bool(at);
    }
    void screenshot(const std::string& name, const Box& box) const {
        const char* folder = std::getenv("PINDLE_SCREENSHOTS");
        if (folder == nullptr || *folder == '\0') {
            return;
        }
        run("import -window root -crop " + std::to_string(box.width) + "x" +
            std::to_string(box.height) + "+" + std::to_string(box.x) + "+" + std::to_string(box.y) +
            " +repage " + (std::filesystem::path(folder) / name).string());
    }

    // The capture window, its gear button and its gear menu.
    std::optional<Box> openGearMenu() const {
        auto capture = window("Pindle Capture");
        if (!capture) {
            return std::nullopt;
        }
        // In front of the editor, which may lie over it.
        run("xdotool search --onlyvisible --name '^Pindle Capture$' windowactivate --sync");
        click(capture->right() - 30, capture->y + 30 + 320 + 23);
        return window("Settings", 5s);
    }

private:
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                const std::filesystem::path& errors) const {
        pid_t pid = fork();
        if (pid == 0) {
            if (!errors.empty()) {
                int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
                dup2(fd, STDERR_FILENO);
                close(fd);
            }
            setenv("DISPLAY", xvfb_.display().c_str(), 1);
            for (const std::string& entry : environment) {
                putenv(strdup(entry.c_str()));
            }
            std::vector<char*> args;
            for (const std::string& arg : argv) {
                args.push_back(const_cast<char*>(arg.c_str()));
            }
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        return pid;
    }

    test::Xvfb xvfb_{"1920x1080x24"};
    test::TempDir home_;
    test::TempDir bin_;
    std::filesystem::path log_ = bin_ / "log.txt";
    std::vector<std::string> environment_;
    pid_t wm_ = -1;
    pid_t program_ = -1;
};

constexpr QRgb kLoginPurple = 0x8e4df0;
constexpr QRgb kIncorrectRed = 0xe83f4a;
constexpr QRgb kConfirmPurple = 0x5b34a0;
constexpr QRgb kFacebookBlue = 0x3b5998;
constexpr QRgb kRedditOrange = 0xff4500;
constexpr QRgb kAvatarGreen = 0x20c040;

std::string avatarPNG() {
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(kAvatarGreen));
    auto file = std::filesystem::temp_directory_path() / "pindle-e2e-avatar.png";
    image.save(QString::fromStdString(file.string()));
    return test::readFile(file);
}

std::string part(const std::vector<test::FormPart>& parts, const std::string& name) {
    for (const auto& found : parts) {
        if (found.name == name) {
            return found.body;
        }
    }
    return "<absent>";
}

// The service: e-mail sign-in with one right password, a profile with an avatar, GIF uploads.
void routeService(test::LoopbackServer& server) {
    server.route("POST", "/v1/user/login", [](const test::RecordedRequest& request) {
        bool right = request.body.find("\r\n\r\nright-pass\r\n") != std::string::npos;
        return test::CannedReply{
            200, "application/json",
            std::string(R"({"data":{"access_token":")") + (right ? "svc-token" : "") + "\"}}"};
    });
    server.route("GET", "/v1/user/profile",
                 test::CannedReply{200, "application/json",
                                   R"({"data":{"username":"e2e_user","avatar_url":")" +
                                       server.url() + "/avatar.png\"}}"});
    server.route("GET", "/avatar.png", test::CannedReply{200, "image/png", avatarPNG()});
}

// A recording of moving content with a large yellow caption, made with the verbs.
bool makeRecording(Session& session) {
    test::MovingContent content(session.display(), {100, 100, 320, 240});
    return eventually([&] { return content.isShowing(); }, 5s) &&
           session.verb("record --region 100,100,320,240 --seconds 2") == 0 &&
           session.verb("caption 1 add --text HELLO --color yellow --size xl") == 0;
}

// Opens the recording in the editor and presses its upload button; the sheet that opens.
std::optional<Box> pressUpload(const Session& session, const std::string& sheet) {
    auto capture = session.window("Pindle Capture");
    if (!capture) {
        return std::nullopt;
    }
    session.click(capture->x + 40, capture->bottom() - 30);
    auto editor = session.settledWindow("Editor — Pindle Capture");
    if (!editor) {
        return std::nullopt;
    }
    const int inner = editor->width - 32 - 10;
    session.click(editor->x + 16 + inner * 3 / 4 + 10 + inner / 8, editor->bottom() - 34);
    return session.settledWindow(sheet);
}

// Yellow pixels (the caption's fill) in the middle frame of a movie.
int yellowPixels(const test::DecodedMovie& movie) {
    const Image& frame = movie.frames[movie.frames.size() / 2].image;
    int count = 0;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const uint8_t* p = frame.row(y) + size_t(x) * 4;
            count += (p[0] > 200 && p[1] > 200 && p[2] < 90) ? 1 : 0;
        }
    }
    return count;
}

TEST(UploadDesktop, EmailSignInUploadCopyShareAndSignOut) {
    test::LoopbackServer server;
    routeService(server);
    server.route("POST", "/v1/user/gifs", [](const test::RecordedRequest&) {
        test::CannedReply reply{200, "application/json", R"({"data":{"id":"gif42"}})"};
        reply.delay = 2500ms;  // long enough to see "PROCESSING..."
        return reply;
    });
    Session session(server.url());
    ASSERT_TRUE(session.isRunning());
    ASSERT_TRUE(makeRecording(session)) << test::readFile(session.log());
    session.startProgram();
    ASSERT_TRUE(session.waitForLog("capture window shown"));
    ASSERT_TRUE(session.waitForLog("account control shows the login button"));

    // The gear menu offers the sign-in; a wrong password shows "INCORRECT" for two seconds.
    auto menu = session.openGearMenu();
    ASSERT_TRUE(menu) << "no gear menu";
    if (auto capture = session.window("Pindle Capture")) {
        int right = std::max(capture->right(), menu->right()) + 8;
        int bottom = std::max(capture->bottom(), menu->bottom()) + 8;
        session.screenshot("gear-menu.png", {capture->x - 8, capture->y - 8, right - capture->x + 8,
                                             bottom - capture->y + 8});
    }
    ASSERT_TRUE(session.clickColour(*menu, kLoginPurple)) << "no login button in the gear menu";
    auto sheet = session.settledWindow("Log in to PINDLE");
    ASSERT_TRUE(sheet) << "no sign-in sheet";
    session.run("xdotool type --delay 20 me@example.org");
    session.run("xdotool key Tab type --delay 20 wrong");
    session.run("xdotool key Return");
    ASSERT_TRUE(session.waitForLog("login button shows \"INCORRECT\"", 1, 10s));
    // Below the logo, whose colours run from red to purple.
    EXPECT_TRUE(
        session.find({sheet->x, sheet->y + 110, sheet->width, sheet->height - 110}, kIncorrectRed))
        << "the button is not red";
    session.screenshot("sign-in-sheet.png", *sheet);
    ASSERT_TRUE(session.waitForLog("login button shows \"LOGIN\"", 1, 5s));
    session.run("xdotool type --delay 20 right-pass");
    session.run("xdotool key Return");
    ASSERT_TRUE(session.waitForLog("account control shows the signed-in user", 1, 15s));
    EXPECT_TRUE(eventually([&] { return !session.window("Log in to PINDLE", 200ms); }, 5s));

    // The gear menu shows the avatar now; it opens the account menu.
    menu = session.openGearMenu();
    ASSERT_TRUE(menu);
    EXPECT_FALSE(session.find(*menu, kLoginPurple)) << "the login button is still there";
    ASSERT_TRUE(session.clickColour({menu->x, menu->y, 80, 60}, kAvatarGreen)) << "no avatar";
    auto account = session.window("Account", 5s);
    ASSERT_TRUE(account) << "no account menu";
    session.screenshot("account-menu.png", *menu);
    session.run("xdotool key Escape");
    session.run("xdotool key Escape");

    // Upload with tags: the bar goes to "PROCESSING...", then the page address shows.
    auto upload = pressUpload(session, "Upload to PINDLE");
    ASSERT_TRUE(upload) << "no upload sheet";
    session.run("xdotool type --delay 20 cats,e2e");
    ASSERT_TRUE(session.clickColour(*upload, kConfirmPurple)) << "no upload button";
    ASSERT_TRUE(session.waitForLog("upload button shows \"PROCESSING...\"", 1, 60s));
    session.screenshot("upload-sheet-uploading.png", *upload);
    const std::string page = server.url() + "/gifs/gif42";
    ASSERT_TRUE(session.waitForLog("uploaded as " + page, 1, 20s));
    std::this_thread::sleep_for(500ms);
    session.screenshot("upload-sheet-success.png", *upload);

    // COPY puts the address on the clipboard.
    ASSERT_TRUE(session.clickColour(*upload, kConfirmPurple)) << "no COPY button";
    EXPECT_TRUE(
        eventually([&] { return session.run("xclip -o -selection clipboard") == page; }, 5s))
        << session.run("xclip -o -selection clipboard");
    // A share button hands its address to the desktop.
    ASSERT_TRUE(session.clickColour(*upload, kRedditOrange)) << "no Reddit button";
    EXPECT_TRUE(eventually(
        [&] {
            return test::readFile(session.opened()) ==
                   "https://www.reddit.com/submit?url=" + page + "\n";
        },
        5s))
        << test::readFile(session.opened());

    // The multipart body, field by field; the file is the edited movie, caption drawn.
    auto requests = server.requests();
    auto sent = std::find_if(requests.begin(), requests.end(),
                             [](const auto& request) { return request.path == "/v1/user/gifs"; });
    ASSERT_NE(sent, requests.end());
    auto parts = test::parseMultipart(sent->header("Content-Type"), sent->body);
    EXPECT_EQ(part(parts, "access_token"), "svc-token");
    EXPECT_EQ(part(parts, "tags"), "pindlereelcatch,cats,e2e");
    EXPECT_EQ(part(parts, "rating"), "");
    EXPECT_EQ(part(parts, "source_post_url"), "");
    EXPECT_EQ(part(parts, "creation_location"), "capture_upload_gif");
    EXPECT_EQ(part(parts, "title"), "<absent>");
    EXPECT_EQ(part(parts, "is_hidden"), "<absent>");
    auto file = std::find_if(parts.begin(), parts.end(),
                             [](const auto& found) { return found.name == "file"; });
    ASSERT_NE(file, parts.end());
    EXPECT_EQ(file->fileName, "file.mp4");
    test::writeFile(session.home() / "sent.mp4", file->body);
    auto movie = test::decodeMedia(session.home() / "sent.mp4");
    ASSERT_TRUE(movie.error.empty()) << movie.error;
    ASSERT_FALSE(movie.frames.empty());
    EXPECT_EQ(movie.width, 320);
    EXPECT_EQ(movie.height, 240);
    EXPECT_GT(yellowPixels(movie), 500) << "the caption is not in the uploaded movie";
    auto temporary = session.home() / ("tmp-" + std::to_string(session.program()));
    for (const auto& entry : std::filesystem::directory_iterator(temporary)) {
        EXPECT_NE(entry.path().extension(), ".mp4") << entry.path() << " left behind";
    }

    // Done, then sign out from the account menu: the login button is back.
    session.run("xdotool key Escape");
    menu = session.openGearMenu();
    ASSERT_TRUE(menu);
    ASSERT_TRUE(session.clickColour({menu->x, menu->y, 80, 60}, kAvatarGreen));
    account = session.window("Account", 5s);
    ASSERT_TRUE(account);
    session.click(account->x + account->width / 2, account->bottom() - 20);
    ASSERT_TRUE(session.waitForLog("account control shows the login button", 2, 5s));
    // The gear menu, still open, shows the login button at once.
    ASSERT_TRUE(session.window("Settings", 1s));
    EXPECT_TRUE(eventually([&] { return session.find(*menu, kLoginPurple).has_value(); }, 3s))
        << "no login button after signing out";
}

TEST(UploadDesktop, FacebookSignInHiddenThenWithTheCredentialsPage) {
    test::LoopbackServer server;
    routeService(server);
    std::atomic<bool> askForCredentials{false};
    const std::string success = server.url() + "/connect/login_success.html";
    server.route("GET", "/oauth/authorize", [&](const test::RecordedRequest&) {
        test::CannedReply reply{302, "text/html", ""};
        reply.headers = {{"Location", askForCredentials ? server.url() + "/login.php"
                                                        : success + "#access_token=FBQUIET&x=1"}};
        return reply;
    });
    server.route("GET", "/login.php",
                 test::CannedReply{200, "text/html",
                                   "<html><body><form method=post action=/login.php>"
                                   "<input name=email autofocus><input type=password name=pass>"
                                   "<input type=submit value='Log in'></form></body></html>"});
    server.route("POST", "/login.php", [&](const test::RecordedRequest&) {
        test::CannedReply reply{302, "text/html", ""};
        reply.headers = {{"Location", success + "#expires_in=60&access_token=FBTYPED"}};
        return reply;
    });
    server.route("GET", "/connect/login_success.html",
                 test::CannedReply{200, "text/html", "<html><body>Success</body></html>"});
    server.route("GET", "/me", test::CannedReply{200, "application/json", R"({"id":"1001"})"});
    server.route("POST", "/v1/user/login/facebook", [](const test::RecordedRequest& request) {
        bool known = request.body.find("\r\n\r\nFBQUIET\r\n") != std::string::npos ||
                     request.body.find("\r\n\r\nFBTYPED\r\n") != std::string::npos;
        return test::CannedReply{
            200, "application/json",
            std::string(R"({"data":{"access_token":")") + (known ? "svc-token" : "") + "\"}}"};
    });
    Session session(server.url());
    ASSERT_TRUE(session.isRunning());
    session.startProgram();
    ASSERT_TRUE(session.waitForLog("account control shows the login button"));

    auto signInWithFacebook = [&] {
        auto menu = session.openGearMenu();
        ASSERT_TRUE(menu);
        ASSERT_TRUE(session.clickColour(*menu, kLoginPurple));
        auto sheet = session.settledWindow("Log in to PINDLE");
        ASSERT_TRUE(sheet);
        ASSERT_TRUE(session.clickColour(*sheet, kFacebookBlue)) << "no Facebook button";
    };

    // Signed in to Facebook already: the web view's window never shows.
    signInWithFacebook();
    bool shown = false;
    ASSERT_TRUE(eventually(
        [&] {
            shown = shown || session.window("Log in with Facebook", 50ms).has_value();
            return session.logLines("account control shows the signed-in user") >= 1;
        },
        60s));
    EXPECT_FALSE(shown);
    EXPECT_EQ(session.logLines("Facebook asks for the user's credentials"), 0);

    // Sign out, then Facebook asks for the credentials: the window shows, the user fills it.
    auto menu = session.openGearMenu();
    ASSERT_TRUE(menu);
    ASSERT_TRUE(session.clickColour({menu->x, menu->y, 80, 60}, kAvatarGreen));
    auto account = session.window("Account", 5s);
    ASSERT_TRUE(account);
    session.click(account->x + account->width / 2, account->bottom() - 20);
    ASSERT_TRUE(session.waitForLog("account control shows the login button", 2, 5s));
    session.run("xdotool key Escape");
    askForCredentials = true;
    signInWithFacebook();
    auto facebook = session.settledWindow("Log in with Facebook");
    ASSERT_TRUE(facebook) << "the credentials page did not show";
    std::this_thread::sleep_for(500ms);
    session.click(facebook->x + 60, facebook->y + 16);
    session.run("xdotool type --delay 30 fb@example.org");
    session.run("xdotool key Tab type --delay 30 secret");
    session.screenshot("facebook-credentials.png", *facebook);
    session.run("xdotool key Return");
    ASSERT_TRUE(session.waitForLog("account control shows the signed-in user", 2, 30s)) << [&] {
        std::string all =
            waitpid(session.program(), nullptr, WNOHANG) == 0 ? "running\n" : "exited\n";
        for (const auto& request : server.requests()) {
            all += request.method + " " + request.target + "\n" + request.body + "\n";
        }
        return all;
    }();
    EXPECT_TRUE(eventually([&] { return !session.window("Log in with Facebook", 200ms); }, 5s));
    auto requests = server.requests();
    auto typed = std::find_if(requests.begin(), requests.end(), [](const auto& request) {
        return request.method == "POST" && request.path == "/login.php";
    });
    ASSERT_NE(typed, requests.end());
    EXPECT_NE(typed->body.find("email=fb%40example.org"), std::string::npos) << typed->body;
}

TEST(UploadDesktop, FailuresShowUploadFailedAndAClosedSheetLetsTheUploadEnd) {
    test::LoopbackServer server;
    routeService(server);
    std::atomic<int> attempt{0};
    server.route("POST", "/v1/user/gifs", [&](const test::RecordedRequest&) {
        switch (attempt++) {
            case 0:
                return test::CannedReply{500, "application/json", R"({"error":"down"})"};
            case 1:
                return test::CannedReply{200, "application/json", R"({"data":{"name":"x"}})"};
            case 2: {
                test::CannedReply reply;
                reply.hangUp = true;
                return reply;
            }
            default: {
                test::CannedReply reply{200, "application/json", R"({"data":{"id":"late"}})"};
                reply.delay = 2s;
                return reply;
            }
        }
    });
    Session session(server.url());
    ASSERT_TRUE(session.isRunning());
    ASSERT_TRUE(makeRecording(session)) << test::readFile(session.log());
    ASSERT_EQ(session.verb("login --email me@example.org", "right-pass\n"), 0);
    session.startProgram();
    ASSERT_TRUE(session.waitForLog("account control shows the signed-in user"));

    auto upload = pressUpload(session, "Upload to PINDLE");
    ASSERT_TRUE(upload);
    auto temporary = session.home() / ("tmp-" + std::to_string(session.program()));
    const char* const expected[] = {
        "Issue uploading file: ", "File upload response not as expected: {\"data\":{\"name\"",
        "Issue uploading file: "};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(session.clickColour(*upload, kConfirmPurple)) << "attempt " << i;
        ASSERT_TRUE(session.waitForLog("upload button shows \"UPLOAD FAILED\"", i + 1, 60s))
            << "attempt " << i;
        EXPECT_TRUE(session.find(*upload, kIncorrectRed)) << "attempt " << i;
        EXPECT_GE(session.logLines(expected[i]), i == 2 ? 2 : 1) << "attempt " << i;
        ASSERT_TRUE(session.waitForLog("upload button shows \"UPLOAD\"", i + 1, 5s));
        for (const auto& entry : std::filesystem::directory_iterator(temporary)) {
            EXPECT_NE(entry.path().extension(), ".mp4") << entry.path() << " left behind";
        }
        // The form is unlocked: the tags field takes what the user types next.
        session.run("xdotool key End type --delay 20 t" + std::to_string(i));
    }
    EXPECT_EQ(attempt, 3);
    auto requests = server.requests();
    auto last = std::find_if(requests.rbegin(), requests.rend(),
                             [](const auto& request) { return request.path == "/v1/user/gifs"; });
    ASSERT_NE(last, requests.rend());
    EXPECT_NE(last->body.find("\r\n\r\npindlereelcatch,t0t1\r\n"), std::string::npos);

    // The sheet closed while the service still works on an upload: the upload ends without
    // it, the movie is deleted, and the editor goes on.
    ASSERT_TRUE(session.clickColour(*upload, kConfirmPurple));
    ASSERT_TRUE(session.waitForLog("upload button shows \"PROCESSING...\"", 1, 60s));
    session.run("xdotool key Escape");
    EXPECT_TRUE(eventually([&] { return !session.window("Upload to PINDLE", 200ms); }, 5s));
    ASSERT_TRUE(server.waitForRequests(requests.size() + 1, 10000));
    std::this_thread::sleep_for(3s);
    ASSERT_EQ(waitpid(session.program(), nullptr, WNOHANG), 0) << "the program ended";
    for (const auto& entry : std::filesystem::directory_iterator(temporary)) {
        EXPECT_NE(entry.path().extension(), ".mp4") << entry.path() << " left behind";
    }
    EXPECT_TRUE(pressUpload(session, "Upload to PINDLE")) << "the editor no longer uploads";
}

}  // namespace
}  // namespace pindle
