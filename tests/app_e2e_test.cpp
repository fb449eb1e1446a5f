// The desktop program as a user drives it, on a private X server with a plain window
// manager: first launch, the global shortcut, quit rules and deleting from the strip.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/RCShortcutHelper.h"
#include "app/ui/RCGIFCollectionWindow.h"
#include "base/dispatch.h"
#include "capture/ui/RCCaptureWindow.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/qt/qt_defaults.h"
#include "test_support.h"
#include "xvfb_support.h"

#ifndef PINDLE_CAPTURE_PROGRAM
#error "PINDLE_CAPTURE_PROGRAM names the program under test"
#endif

namespace pindle {
namespace {

using namespace std::chrono_literals;
using ui::RCCaptureWindow;

// X key code of "g" in the server's default US layout.
constexpr uint32_t kKeyG = 42;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

class Desktop {
public:
    Desktop() {
        if (!xvfb_.isRunning()) {
            return;
        }
        if (std::system("command -v openbox >/dev/null 2>&1") == 0) {
            wm_ = spawn({"openbox"}, {});
            // A window mapped while the manager is still starting may never be managed:
            // programs start once it has announced itself, as on a running desktop.
            eventually(
                [&] {
                    return run("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") !=
                           std::string::npos;
                },
                10s);
        }
    }
    ~Desktop() {
        if (wm_ > 0) {
            kill(wm_, SIGTERM);
            waitpid(wm_, nullptr, 0);
        }
    }
    bool isRunning() const { return xvfb_.isRunning(); }
    const std::string& display() const { return xvfb_.display(); }

    // Runs a command on this display; its standard output.
    std::string run(const std::string& command) const {
        std::string line = "DISPLAY=" + display() + " " + command + " 2>/dev/null";
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

    pid_t spawn(const std::vector<std::string>& argv,
                const std::vector<std::string>& environment) const {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("DISPLAY", display().c_str(), 1);
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

private:
    test::Xvfb xvfb_{"1280x900x24"};
    pid_t wm_ = -1;
};

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

class Program {
public:
    Program(const Desktop& desktop, const std::filesystem::path& home) : desktop_(desktop) {
        pid_ = desktop.spawn({PINDLE_CAPTURE_PROGRAM},
                             {"PINDLE_CAPTURE_HOME=" + home.string(), "QT_QPA_PLATFORM=xcb"});
    }
    ~Program() {
        if (running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    bool running() {
        if (exited_) {
            return false;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            status_ = status;
            return false;
        }
        return true;
    }
    int exitStatus() const { return status_; }

    // The capture window, once mapped.
    std::optional<Geometry> window() const {
        std::string id;
        eventually(
            [&] {
                std::istringstream found(
                    desktop_.run("xdotool search --onlyvisible --name '^Pindle Capture$'"));
                return static_cast<bool>(found >> id);
            },
            30s);
        if (id.empty()) {
            return std::nullopt;
        }
        std::istringstream shell(desktop_.run("xdotool getwindowgeometry --shell " + id));
        Geometry g;
        std::string line;
        while (std::getline(shell, line)) {
            auto eq = line.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            int value = std::atoi(line.c_str() + eq + 1);
            std::string key = line.substr(0, eq);
            if (key == "X")
                g.x = value;
            if (key == "Y")
                g.y = value;
            if (key == "WIDTH")
                g.width = value;
            if (key == "HEIGHT")
                g.height = value;
        }
        return g;
    }

    bool terminate(std::chrono::milliseconds wait) {
        kill(pid_, SIGTERM);
        return eventually([&] { return !running(); }, wait);
    }

private:
    const Desktop& desktop_;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

constexpr int kLibraryHeight = ui::RCGIFCollectionWindow::kCellSize + 8;

std::vector<RCRecordingPtr> storedRecordings(const test::TempDir& home) {
    RCFileManager files(home.appDirectories());
    NotificationCenter center;
    RCDataStore store(files, center);
    return store.allRecordings();
}

TEST(DesktopProgram, ShortcutCaptureQuitRulesAndDeletingFromTheStrip) {
    Desktop desktop;
    ASSERT_TRUE(desktop.isRunning());
    ffmpeg::installMovieOpener();
    test::TempDir home;

    {  // First launch: the default region.
        Program program(desktop, home.path());
        auto window = program.window();
        ASSERT_TRUE(window) << (program.running() ? "running, no window" : "exited");
        EXPECT_EQ(window->width, 640 + 2 * RCCaptureWindow::kBorder);
        EXPECT_EQ(window->height, 320 + RCCaptureWindow::kTitleBarHeight +
                                      RCCaptureWindow::kControlStripHeight + kLibraryHeight);
        ASSERT_TRUE(program.terminate(5s));
        EXPECT_TRUE(WIFEXITED(program.exitStatus()) && WEXITSTATUS(program.exitStatus()) == 0);
    }
    {  // The user picks Ctrl+Alt+G (what the gear menu stores).
        auto defaults = qt::makeSettingsFileDefaults(home / "settings.ini");
        defaults->setData(RCShortcutHelper::kDefaultsKey,
                          RCShortcutHelper::archiveShortcut({kKeyG, modifier::kCommand}));
        ASSERT_TRUE(defaults->synchronize());
    }

    Program program(desktop, home.path());
    auto window = program.window();
    ASSERT_TRUE(window);
    std::filesystem::path temporary = home / ("tmp-" + std::to_string(program.pid()));
    desktop.run("xdotool key ctrl+alt+g");
    std::this_thread::sleep_for(2500ms);
    // Quit while capturing is refused.
    kill(program.pid(), SIGTERM);
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(program.running());
    desktop.run("xdotool key ctrl+alt+g");

    std::vector<RCRecordingPtr> recordings;
    ASSERT_TRUE(eventually(
        [&] {
            recordings = storedRecordings(home);
            return recordings.size() == 1 && recordings[0]->isReady();
        },
        45s));
    RCRecordingPtr recording = recordings[0];
    std::filesystem::path movie = recording->url();
    EXPECT_TRUE(std::filesystem::exists(movie));
    EXPECT_GE(recording->duration().seconds(), 1.5);
    EXPECT_EQ(recording->dimensions(), (Size{640, 320}));
    ASSERT_NE(recording->thumbnail(), nullptr);

    // Quit afterwards: the store is saved and the temporary folder removed.
    ASSERT_TRUE(std::filesystem::exists(temporary));
    ASSERT_TRUE(program.terminate(10s));
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(storedRecordings(home).size(), 1u);

    // Deleting from the strip removes the recording and its movie.
    Program again(desktop, home.path());
    window = again.window();
    ASSERT_TRUE(window);
    int stripTop = window->height - kLibraryHeight;
    int x = window->x + 4 + ui::RCGIFCollectionWindow::kCellSize -
            ui::RCGIFCollectionWindow::kDeleteButtonWidth / 2;
    int y = window->y + stripTop + 4 + 5 + ui::RCGIFCollectionWindow::kDeleteButtonHeight / 2;
    desktop.run("xdotool mousemove " + std::to_string(x - 30) + " " + std::to_string(y + 20));
    std::this_thread::sleep_for(300ms);
    desktop.run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
    std::this_thread::sleep_for(300ms);
    desktop.run("xdotool click 1");
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(movie); }, 5s));
    EXPECT_TRUE(eventually([&] { return storedRecordings(home).empty(); }, 5s));
    EXPECT_TRUE(again.terminate(5s));
}

}  // namespace
}  // namespace pindle
