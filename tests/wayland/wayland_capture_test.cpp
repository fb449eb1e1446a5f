// The program recording through a real Wayland desktop: headless sway, PipeWire,
// WirePlumber, the desktop portal and its wlroots backend, started by tests/wayland/rig.sh.
// The program runs as the rig's unprivileged user; the tests read what it wrote.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../decoded_media.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kRigDir = std::getenv("PINDLE_RIG_DIR") ? std::getenv("PINDLE_RIG_DIR") : "";
const std::string kRigUser = "pindle-rig";

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// A program home the rig's user can write, fresh for each test.
fs::path makeHome(const std::string& name) {
    fs::path home = kRigDir / "run" / ("test-home-" + name);
    fs::remove_all(home);
    fs::create_directories(home);
    const passwd* user = getpwnam(kRigUser.c_str());
    EXPECT_NE(user, nullptr);
    if (user != nullptr) {
        EXPECT_EQ(chown(home.c_str(), user->pw_uid, user->pw_gid), 0);
    }
    return home;
}

// pindle-capture with args, as the rig's user on its desktop; environment holds extra
// NAME=VALUE words.
ProgramRun runProgram(const fs::path& home, const std::string& args,
                      const std::string& environment = {}) {
    const fs::path out = home.parent_path() / (home.filename().string() + ".out");
    const fs::path err = home.parent_path() / (home.filename().string() + ".err");
    const std::string command = std::string(PINDLE_RIG_SCRIPT) +
                                " run env PINDLE_CAPTURE_HOME=" + home.string() + " " +
                                environment + " " + PINDLE_CAPTURE_BINARY + " " + args + " >" +
                                out.string() + " 2>" + err.string();
    ProgramRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

std::vector<fs::path> recordingsIn(const std::string& out) {
    std::vector<fs::path> movies;
    const std::regex line("recording (\\S+\\.mp4): ");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
         ++it) {
        movies.emplace_back((*it)[1].str());
    }
    return movies;
}

std::vector<fs::path> moviesIn(const fs::path& home) {
    std::vector<fs::path> movies;
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
        if (entry.path().extension() == ".mp4") {
            movies.push_back(entry.path());
        }
    }
    return movies;
}

int timesAsked() {
    const std::string log = readFile(kRigDir / "run" / "chooser.log");
    return int(std::count(log.begin(), log.end(), '\n'));
}

// The rig's moving picture: a red block sweeping right over a blue field. Of a frame's middle
// row: the block's left edge, or -1 where it is not in the frame; -2 when more pixels than
// the block's blended edges are neither (garbage, black, or the colour channels swapped).
int blockPosition(const pindle::Image& image) {
    const uint8_t* row = image.row(image.height / 2);
    int left = -1;
    int neither = 0;
    for (int x = 0; x < image.width; ++x) {
        const int r = row[x * 4];
        const int b = row[x * 4 + 2];
        if (r > b + 30) {
            if (left < 0) {
                left = x;
            }
        } else if (b <= r + 30) {
            ++neither;
        }
    }
    return neither > 4 ? -2 : left;
}

class WaylandCapture : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kRigDir.empty()) << "PINDLE_RIG_DIR is not set";
        fs::remove(kRigDir / "run" / "chooser-answer");
    }
    void TearDown() override { fs::remove(kRigDir / "run" / "chooser-answer"); }
};

TEST_F(WaylandCapture, MovingContentBecomesAMovieOfTheEvenCropWithACaptureLastOnTheWay) {
    const fs::path home = makeHome("moving");
    const int askedBefore = timesAsked();
    ProgramRun run =
        runProgram(home, "record --region 100,50,401,301 --seconds 3 --capture-last-at 2");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(timesAsked(), askedBefore + 1) << "the screen chooser is asked once";
    EXPECT_NE(readFile(home / "settings.ini").find("WaylandScreenCastRestoreToken="),
              std::string::npos);

    const auto movies = recordingsIn(run.out);
    ASSERT_EQ(movies.size(), 2u) << run.out;  // the capture-last, then the whole capture
    const auto last = pindle::test::decodeMedia(movies[0]);
    ASSERT_TRUE(last.error.empty()) << last.error;
    EXPECT_EQ(last.width, 400);
    EXPECT_GE(last.frames.size(), 100u);

    const auto movie = pindle::test::decodeMedia(movies[1]);
    ASSERT_TRUE(movie.error.empty()) << movie.error;
    EXPECT_EQ(movie.width, 400);
    EXPECT_EQ(movie.height, 300);
    // The compositor sends frames only when the picture changes; the movie still has the
    // capture's rate.
    EXPECT_GE(movie.frames.size(), 160u);

    std::set<int> positions;
    int forward = 0;
    int backward = 0;
    int previous = -1;
    for (const auto& frame : movie.frames) {
        const int position = blockPosition(frame.image);
        ASSERT_NE(position, -2) << "a frame at " << frame.seconds << " s is not the picture";
        if (position < 0) {
            previous = -1;
            continue;
        }
        positions.insert(position);
        if (previous >= 0) {
            forward += position > previous;
            backward += position < previous;
        }
        previous = position;
    }
    EXPECT_GE(positions.size(), 5u) << "the block shows, moving";
    EXPECT_GT(forward, 4 * std::max(1, backward)) << "frames are in the order they were shown";
}

TEST_F(WaylandCapture, TheRestoreTokenStartsTheNextCaptureWithoutTheChooser) {
    const fs::path home = makeHome("restore");
    ASSERT_EQ(runProgram(home, "record --region 0,0,200,200 --seconds 1").status, 0);
    const int asked = timesAsked();
    const std::string token = readFile(home / "settings.ini");
    ASSERT_NE(token.find("WaylandScreenCastRestoreToken="), std::string::npos);

    ProgramRun second = runProgram(home, "record --region 0,0,200,200 --seconds 1");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(timesAsked(), asked);
    EXPECT_EQ(recordingsIn(second.out).size(), 1u);
}

TEST_F(WaylandCapture, ACancelledChooserOrNoPortalGivesAClearErrorAndNoRecording) {
    const fs::path home = makeHome("cancelled");
    std::ofstream(kRigDir / "run" / "chooser-answer") << "\n";
    ProgramRun cancelled = runProgram(home, "record --region 0,0,200,200 --seconds 1");
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_NE(cancelled.err.find("pindle-capture record: screen sharing was cancelled"),
              std::string::npos)
        << cancelled.err;
    EXPECT_TRUE(moviesIn(home).empty());

    ProgramRun noPortal = runProgram(home, "record --region 0,0,200,200 --seconds 1",
                                     "PINDLE_CAPTURE_BACKEND=wayland "
                                     "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus");
    EXPECT_EQ(noPortal.status, 1);
    EXPECT_NE(noPortal.err.find("pindle-capture record: cannot reach the session bus"),
              std::string::npos)
        << noPortal.err;
    EXPECT_TRUE(moviesIn(home).empty());
}

TEST_F(WaylandCapture, DoctorNamesTheWaylandBackendAndItsVersions) {
    const fs::path home = makeHome("doctor");
    ProgramRun run = runProgram(home, "doctor");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("capture backend: wayland"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("screen-cast portal: version 4"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"HEADLESS-1\": 1280x720 points at (0, 0)"), std::string::npos)
        << run.out;

    ProgramRun forced = runProgram(home, "doctor", "PINDLE_CAPTURE_BACKEND=x11");
    EXPECT_NE(forced.out.find("capture backend: x11 (PINDLE_CAPTURE_BACKEND=x11)"),
              std::string::npos)
        << forced.out;
}

}  // namespace

namespace {

// On a scaled desktop (the rig started with PINDLE_RIG_SCALE 2 or 1.5, its output 1280x720
// points) a region in points is read from the stream pixels under it: the movie shows what
// the screen shows there. The region holds the terminal window's bottom-right corner, an L
// of black around blue, so both axes are checked.
TEST(WaylandHiDPI, TheRegionIsTheSameAreaAsOnTheScreen) {
    const char* scaleText = std::getenv("PINDLE_RIG_SCALE");
    ASSERT_NE(scaleText, nullptr);
    const double scale = std::atof(scaleText);
    ASSERT_GT(scale, 1.0);
    const fs::path home = makeHome("hidpi");
    ProgramRun run = runProgram(home, "record --region 1180,700,100,20 --seconds 1");
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path shot = kRigDir / "run" / "test-hidpi.png";
    ASSERT_EQ(std::system((std::string(PINDLE_RIG_SCRIPT) + " run grim " + shot.string()).c_str()),
              0);
    const auto screen = pindle::test::decodeMedia(shot);
    ASSERT_TRUE(screen.error.empty()) << screen.error;
    ASSERT_EQ(screen.width, int(std::lround(1280 * scale)));
    ASSERT_EQ(screen.frames.size(), 1u);

    const auto movies = recordingsIn(run.out);
    ASSERT_EQ(movies.size(), 1u);
    const auto movie = pindle::test::decodeMedia(movies[0]);
    ASSERT_TRUE(movie.error.empty()) << movie.error;
    ASSERT_EQ(movie.width, 100);
    ASSERT_EQ(movie.height, 20);
    ASSERT_FALSE(movie.frames.empty());

    // Dark (the black around the window) or not (its blue field), point by point: the
    // movie's against the screen pixel at the point's centre. Points on an edge, whose
    // neighbouring pixels differ, may go either way.
    const pindle::Image& pixels = screen.frames.front().image;
    const pindle::Image& frame = movie.frames.back().image;
    auto darkOnScreen = [&](int px, int py) {
        px = std::clamp(px, 0, pixels.width - 1);
        py = std::clamp(py, 0, pixels.height - 1);
        return pixels.row(py)[px * 4 + 2] < 40;
    };
    int dark = 0;
    int mismatches = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 100; ++x) {
            const int px = int((1180 + x + 0.5) * scale);
            const int py = int((700 + y + 0.5) * scale);
            const bool expected = darkOnScreen(px, py);
            bool edge = false;
            for (int d = -2; d <= 2; ++d) {
                edge = edge || darkOnScreen(px + d, py) != expected ||
                       darkOnScreen(px, py + d) != expected;
            }
            dark += expected;
            if (!edge && (frame.row(y)[x * 4 + 2] < 40) != expected) {
                ++mismatches;
            }
        }
    }
    ASSERT_GT(dark, 100) << "the region holds the black around the window";
    ASSERT_LT(dark, 1900) << "and the window";
    EXPECT_EQ(mismatches, 0);
}

}  // namespace

namespace {

// The application on the Wayland desktop, its windows through XWayland, driven over the
// session bus as a key bound in the desktop's settings would.
class WaylandApp : public WaylandCapture {
protected:
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        WaylandCapture::TearDown();
    }

    void start(const fs::path& home) {
        log_ = home.parent_path() / (home.filename().string() + ".log");
        fs::remove(log_);
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDERR_FILENO);
            const std::string homeVariable = "PINDLE_CAPTURE_HOME=" + home.string();
            execl(PINDLE_RIG_SCRIPT, PINDLE_RIG_SCRIPT, "run", "env", homeVariable.c_str(),
                  PINDLE_CAPTURE_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    bool waitForLog(const std::string& text, std::chrono::seconds timeout = 20s) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (readFile(log_).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    bool stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        const bool ended = waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended;
    }

    pid_t pid_ = -1;
    fs::path log_;
};

TEST_F(WaylandApp, ToggleOverTheBusRecordsWhatLiesUnderTheWindowsRegion) {
    const fs::path home = makeHome("app");
    start(home);
    ASSERT_TRUE(waitForLog("capture window shown")) << readFile(log_);
    ASSERT_TRUE(waitForLog("remote control published"));

    ASSERT_EQ(runProgram(home, "toggle").status, 0);
    ASSERT_TRUE(waitForLog("capturing 640x320 points")) << readFile(log_);
    // Long enough for the terminal's block to cross the region, also at scale 2.
    std::this_thread::sleep_for(4s);
    ASSERT_EQ(runProgram(home, "toggle").status, 0);
    ASSERT_TRUE(waitForLog("movie written")) << readFile(log_);
    EXPECT_TRUE(stop());

    const auto movies = moviesIn(home);
    ASSERT_EQ(movies.size(), 1u);
    const auto movie = pindle::test::decodeMedia(movies[0]);
    ASSERT_TRUE(movie.error.empty()) << movie.error;
    EXPECT_EQ(movie.width, 640);
    EXPECT_EQ(movie.height, 320);
    ASSERT_GE(movie.frames.size(), 90u);
    // Neither the window's own pixels nor the dimming around the region are in the movie:
    // only the terminal's blue field and its red block, moving.
    std::set<int> positions;
    for (const auto& frame : movie.frames) {
        const int position = blockPosition(frame.image);
        ASSERT_NE(position, -2) << "a frame at " << frame.seconds << " s is not the picture";
        positions.insert(position);
    }
    EXPECT_GE(positions.size(), 3u);

    ProgramRun notRunning = runProgram(home, "toggle");
    EXPECT_EQ(notRunning.status, 1);
    EXPECT_NE(notRunning.err.find("pindle-capture toggle: Pindle Capture is not running"),
              std::string::npos)
        << notRunning.err;
}

}  // namespace

namespace {

TEST_F(WaylandApp, TheDesktopsGlobalShortcutTogglesRecordingThroughThePortal) {
    const fs::path home = makeHome("shortcut");
    start(home);
    ASSERT_TRUE(waitForLog("global shortcut bound through the desktop portal")) << readFile(log_);
    const std::string press = std::string(PINDLE_RIG_SCRIPT) + " press toggle-capture >/dev/null";

    ASSERT_EQ(std::system(press.c_str()), 0);
    ASSERT_TRUE(waitForLog("capturing 640x320 points")) << readFile(log_);
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(std::system(press.c_str()), 0);
    ASSERT_TRUE(waitForLog("movie written")) << readFile(log_);
    EXPECT_TRUE(stop());
    EXPECT_EQ(moviesIn(home).size(), 1u);
}

}  // namespace
