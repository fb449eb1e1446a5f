// The desktop program as a user drives it, on a private X server with a plain window
// manager: first launch, the global shortcut, quit rules, deleting from the strip, and the
// editor's trim, loop, size and save.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/RCShortcutHelper.h"
#include "app/ui/RCGIFCollectionWindow.h"
#include "base/dispatch.h"
#include "capture/ui/RCCaptureWindow.h"
#include "capture/window/RCCaptureWindowController.h"
#include "decoded_media.h"
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

using test::eventually;

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

    // errors, when given, receives the program's standard error (its log).
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                const std::filesystem::path& errors = {}) const {
        pid_t pid = fork();
        if (pid == 0) {
            if (!errors.empty()) {
                int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
                if (fd >= 0) {
                    dup2(fd, STDERR_FILENO);
                    close(fd);
                }
            }
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
    // log: a file for the program's log, outside its home.
    Program(const Desktop& desktop, const std::filesystem::path& home,
            const std::filesystem::path& log)
        : desktop_(desktop), log_(log) {
        pid_ = desktop.spawn({PINDLE_CAPTURE_PROGRAM},
                             {"PINDLE_CAPTURE_HOME=" + home.string(), "QT_QPA_PLATFORM=xcb"}, log_);
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

    // Lines of the program's log holding text.
    int logLines(const std::string& text) const {
        std::ifstream in(log_);
        int count = 0;
        for (std::string line; std::getline(in, line);) {
            count += line.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    // The last line of the program's log holding text; empty when none does.
    std::string lastLogLine(const std::string& text) const {
        std::ifstream in(log_);
        std::string last;
        for (std::string line; std::getline(in, line);) {
            if (line.find(text) != std::string::npos) {
                last = line;
            }
        }
        return last;
    }
    // Waits until the log holds count lines with text.
    bool waitForLog(const std::string& text, int count = 1,
                    std::chrono::milliseconds timeout = 30s) const {
        return eventually([&] { return logLines(text) >= count; }, timeout);
    }

private:
    const Desktop& desktop_;
    const std::filesystem::path log_;
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

// The clock a frame of the recording shows, or -1 when it does not show the pattern: every
// pixel (but those next to an edge between two colours, which compression blurs) must be the
// pattern's, so neither the capture window's frame nor anything else may appear.
int64_t clockShownIn(const Image& frame) {
    const int codeHeight = frame.height / 2;
    auto colourAt = [&](int x, int y) {
        const uint8_t* p = frame.row(y) + size_t(x) * 4;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    auto near = [](std::array<int, 3> colour, uint32_t expected) {
        const int rgb[3] = {int(expected >> 16) & 0xff, int(expected >> 8) & 0xff,
                            int(expected) & 0xff};
        for (int i = 0; i < 3; ++i) {
            if (std::abs(colour[size_t(i)] - rgb[i]) > 64) {
                return false;
            }
        }
        return true;
    };
    using Pattern = test::ClockPattern;
    uint32_t value = 0;
    for (int bit = 0; bit < Pattern::kBits; ++bit) {
        const int x = (2 * bit + 1) * frame.width / (2 * Pattern::kBits);
        const bool one = colourAt(x, codeHeight / 2)[0] > 128;
        value = (value << 1) | (one ? 1u : 0u);
        const int x0 = bit * frame.width / Pattern::kBits;
        const int x1 = (bit + 1) * frame.width / Pattern::kBits;
        for (int y = 0; y < codeHeight - 4; ++y) {
            for (int px = (bit == 0 ? 0 : x0 + 4); px < (bit == Pattern::kBits - 1 ? x1 : x1 - 4);
                 ++px) {
                if (!near(colourAt(px, y), one ? Pattern::kOne : Pattern::kZero)) {
                    return -1;
                }
            }
        }
    }
    for (int y = codeHeight + 4; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (!near(colourAt(x, y), Pattern::kBackground)) {
                return -1;
            }
        }
    }
    return value;
}

TEST(DesktopProgram, ShortcutCaptureQuitRulesAndDeletingFromTheStrip) {
    Desktop desktop;
    ASSERT_TRUE(desktop.isRunning());
    ffmpeg::installMovieOpener();
    test::TempDir home;
    test::TempDir logs;

    Geometry first;
    {  // First launch: the default region.
        Program program(desktop, home.path(), logs / "first.txt");
        auto window = program.window();
        ASSERT_TRUE(window) << (program.running() ? "running, no window" : "exited");
        EXPECT_EQ(window->width, 640 + 2 * RCCaptureWindow::kBorder);
        EXPECT_EQ(window->height, 320 + RCCaptureWindow::kTitleBarHeight +
                                      RCCaptureWindow::kControlStripHeight + kLibraryHeight);
        first = *window;
        ASSERT_TRUE(program.waitForLog("capture window shown"));
        ASSERT_TRUE(program.terminate(5s));
        EXPECT_TRUE(WIFEXITED(program.exitStatus()) && WEXITSTATUS(program.exitStatus()) == 0);
        // A signed-out user's ordinary start and quit is nothing to warn about.
        EXPECT_EQ(program.logLines("] warning:"), 0);
        EXPECT_EQ(program.logLines("] error:"), 0);
    }
    {  // The user picks Ctrl+Alt+G (what the gear menu stores).
        auto defaults = qt::makeSettingsFileDefaults(home / "settings.ini");
        defaults->setData(RCShortcutHelper::kDefaultsKey,
                          RCShortcutHelper::archiveShortcut({kKeyG, modifier::kCommand}));
        ASSERT_TRUE(defaults->synchronize());
    }

    // A clock under the region, below the window: the recording must show the clock, and
    // nothing of the window around the region.
    test::ClockPattern clock(
        desktop.display(),
        {first.x + RCCaptureWindow::kBorder, first.y + RCCaptureWindow::kTitleBarHeight, 640, 320},
        24);
    ASSERT_TRUE(clock.isShowing());

    Program program(desktop, home.path(), logs / "second.txt");
    auto window = program.window();
    ASSERT_TRUE(window);
    ASSERT_EQ(window->x, first.x) << "the window did not come back where it was";
    ASSERT_EQ(window->y, first.y);
    ASSERT_TRUE(program.waitForLog("capture window shown; shortcut bound"));
    {
        // The window lies above the clock: its frame around the region covers the clock's
        // margin, so a capture reaching past the region would show it.
        const int holeX = first.x + RCCaptureWindow::kBorder;
        const int holeY = first.y + RCCaptureWindow::kTitleBarHeight;
        const uint32_t outline = test::rootPixel(desktop.display(), holeX - 1, holeY + 200);
        const uint32_t region = test::rootPixel(desktop.display(), holeX + 1, holeY + 200);
        EXPECT_NE(outline, test::ClockPattern::kBackground) << std::hex << outline;
        EXPECT_EQ(region, test::ClockPattern::kBackground) << std::hex << region;
    }
    std::filesystem::path temporary = home / ("tmp-" + std::to_string(program.pid()));
    const int64_t pressedStart = clock.now();
    desktop.run("xdotool key ctrl+alt+g");
    ASSERT_TRUE(program.waitForLog("capturing 640x320 points"));
    // Quit while capturing is refused.
    kill(program.pid(), SIGTERM);
    ASSERT_TRUE(program.waitForLog("quit refused", 1, 10s));
    ASSERT_TRUE(program.running());
    // About three seconds of recording.
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::max<int64_t>(0, 3000 - (clock.now() - pressedStart))));
    const int64_t pressedStop = clock.now();
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
    EXPECT_EQ(recording->dimensions(), (Size{640, 320}));
    ASSERT_NE(recording->thumbnail(), nullptr);

    // Every frame shows the clock under the region. The clocks of the first and the last
    // frame give the time recorded, as the screen showed it; the movie lasts as long, to
    // within 5 % (the frames carry the times they were grabbed at, and the clock is a few
    // milliseconds behind at most).
    const auto decoded = test::decodeMedia(movie);
    ASSERT_TRUE(decoded.error.empty()) << decoded.error;
    ASSERT_GE(decoded.frames.size(), 2u);
    std::vector<int64_t> shown;
    for (size_t i = 0; i < decoded.frames.size(); ++i) {
        shown.push_back(clockShownIn(decoded.frames[i].image));
        ASSERT_GE(shown.back(), 0) << "frame " << i << " does not show the clock alone";
        if (i > 0) {
            EXPECT_GT(shown[i], shown[i - 1]) << "frame " << i;
        }
    }
    EXPECT_GE(shown.front(), pressedStart) << "a frame from before the start";
    EXPECT_LE(shown.back(), pressedStop + 1000) << "a frame from long after the stop";
    const double frameSeconds = decoded.frames.back().durationSeconds;
    const double recorded = double(shown.back() - shown.front()) / 1000 + frameSeconds;
    EXPECT_GE(recorded, 2.5);
    EXPECT_NEAR(recording->duration().seconds(), recorded, 0.05 * recorded);
    EXPECT_NEAR(decoded.durationSeconds, recorded, 0.05 * recorded);

    // Quit afterwards: the store is saved and the temporary folder removed.
    ASSERT_TRUE(std::filesystem::exists(temporary));
    ASSERT_TRUE(program.terminate(10s));
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(storedRecordings(home).size(), 1u);

    // Deleting from the strip removes the recording and its movie. The pointer moves into
    // the cell and onto its delete button, then clicks: the program takes those events in
    // order, so nothing needs to settle between them.
    Program again(desktop, home.path(), logs / "third.txt");
    window = again.window();
    ASSERT_TRUE(window);
    ASSERT_TRUE(again.waitForLog("capture window shown"));
    int stripTop = window->height - kLibraryHeight;
    int x = window->x + 4 + ui::RCGIFCollectionWindow::kCellSize -
            ui::RCGIFCollectionWindow::kDeleteButtonWidth / 2;
    int y = window->y + stripTop + 4 + 5 + ui::RCGIFCollectionWindow::kDeleteButtonHeight / 2;
    desktop.run("xdotool mousemove " + std::to_string(x - 30) + " " + std::to_string(y + 20) +
                " mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(movie); }, 5s));
    EXPECT_TRUE(eventually([&] { return storedRecordings(home).empty(); }, 5s));
    EXPECT_TRUE(again.terminate(5s));
}

// A capture that finds the disk full ends with the reason in the window, not with a quiet
// loss or a message about something else; the partial movie is removed and the library
// loads afterwards. The program's whole home is a small tmpfs (needs root to mount).
TEST(DesktopProgram, ACaptureOnAFullDiskSaysSoAndTheLibraryStillLoads) {
    test::TempDir home;
    test::TempDir logs;
    if (std::system(("mount -t tmpfs -o size=4m tmpfs '" + home.path().string() + "' 2>/dev/null")
                        .c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs";
    }
    struct Unmount {
        std::filesystem::path folder;
        ~Unmount() { (void)std::system(("umount '" + folder.string() + "'").c_str()); }
    } unmount{home.path()};
    Desktop desktop;
    ASSERT_TRUE(desktop.isRunning());
    ffmpeg::installMovieOpener();
    {  // A first launch, which clears the shortcut; then the user picks one.
        Program first(desktop, home.path(), logs / "first.txt");
        ASSERT_TRUE(first.waitForLog("capture window shown"));
        ASSERT_TRUE(first.terminate(5s));
        auto defaults = qt::makeSettingsFileDefaults(home / "settings.ini");
        defaults->setData(RCShortcutHelper::kDefaultsKey,
                          RCShortcutHelper::archiveShortcut({kKeyG, modifier::kCommand}));
        ASSERT_TRUE(defaults->synchronize());
    }
    Program program(desktop, home.path(), logs / "log.txt");
    ASSERT_TRUE(program.window());
    ASSERT_TRUE(program.waitForLog("capture window shown; shortcut bound"));
    desktop.run("xdotool key ctrl+alt+g");
    ASSERT_TRUE(program.waitForLog("capturing "));
    std::this_thread::sleep_for(1500ms);
    ASSERT_NE(
        std::system(
            ("dd if=/dev/zero of='" + (home / "filler").string() + "' bs=1k 2>/dev/null").c_str()),
        0)
        << "the disk did not fill";
    desktop.run("xdotool key ctrl+alt+g");

    ASSERT_TRUE(program.waitForLog("a capture could not be saved"));
    // The library saves on the same disk fail too, and may be reported later: the reason the
    // capture was lost stays what the window says.
    std::this_thread::sleep_for(1s);
    const std::string shown = program.lastLogLine("status shown: ");
    EXPECT_NE(shown.find(std::string("status shown: ") + RCCaptureWindowController::kDiskFullText),
              std::string::npos)
        << shown;
    ASSERT_TRUE(program.terminate(10s));

    std::filesystem::remove(home / "filler");
    RCFileManager files(home.appDirectories());
    NotificationCenter center;
    RCDataStore store(files, center);
    EXPECT_TRUE(store.loadStatus().ok()) << store.loadStatus().error().message;
    EXPECT_EQ(store.recordingsCount(), 0u);
    for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
        EXPECT_NE(entry.path().extension(), ".mp4") << "the partial movie stayed";
    }
}

// The window's geometry, once a visible window with exactly that name is mapped.
std::optional<Geometry> windowNamed(const Desktop& desktop, const std::string& name) {
    std::string id;
    eventually(
        [&] {
            std::istringstream found(
                desktop.run("xdotool search --onlyvisible --name '^" + name + "$'"));
            return static_cast<bool>(found >> id);
        },
        15s);
    if (id.empty()) {
        return std::nullopt;
    }
    std::istringstream shell(desktop.run("xdotool getwindowgeometry --shell " + id));
    Geometry g;
    for (std::string line; std::getline(shell, line);) {
        auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        int value = std::atoi(line.c_str() + eq + 1);
        std::string key = line.substr(0, eq);
        for (auto [label, field] : {std::pair{"X", &g.x}, std::pair{"Y", &g.y},
                                    std::pair{"WIDTH", &g.width}, std::pair{"HEIGHT", &g.height}}) {
            if (key == label) {
                *field = value;
            }
        }
    }
    return g;
}

std::string at(int x, int y) {
    return " mousemove " + std::to_string(x) + " " + std::to_string(y);
}

TEST(DesktopProgram, EditorTrimsLoopsResizesAndSavesGIFMovieAndBatch) {
    Desktop desktop;
    ASSERT_TRUE(desktop.isRunning());
    ffmpeg::installMovieOpener();
    test::TempDir home;
    test::TempDir logs;
    test::TempDir outputs;

    Program program(desktop, home.path(), logs / "log.txt");
    auto window = program.window();
    ASSERT_TRUE(window);
    ASSERT_TRUE(program.waitForLog("capture window shown"));
    // Moving content under the region, so that the frames differ over time.
    test::ClockPattern clock(desktop.display(),
                             {window->x + RCCaptureWindow::kBorder,
                              window->y + RCCaptureWindow::kTitleBarHeight, 640, 320},
                             24);
    ASSERT_TRUE(clock.isShowing());

    // Record about three seconds with the red button.
    const int buttonX = window->x + 24;
    const int buttonY = window->y + RCCaptureWindow::kTitleBarHeight + 320 +
                        RCCaptureWindow::kControlStripHeight / 2;
    desktop.run("xdotool" + at(buttonX, buttonY) + " click 1");
    ASSERT_TRUE(program.waitForLog("capturing 640x320 points"));
    std::this_thread::sleep_for(3s);
    desktop.run("xdotool" + at(buttonX, buttonY) + " click 1");
    ASSERT_TRUE(program.waitForLog("movie written"));
    ASSERT_TRUE(eventually(
        [&] {
            auto recordings = storedRecordings(home);
            return recordings.size() == 1 && recordings[0]->isReady();
        },
        30s));

    // Open it from the strip: the editor comes up in front, wholly on the screen.
    const int cell = ui::RCGIFCollectionWindow::kCellSize;
    desktop.run("xdotool" +
                at(window->x + 4 + cell / 3,
                   window->y + window->height - kLibraryHeight + 4 + cell * 2 / 3) +
                " click 1");
    auto editor = windowNamed(desktop, "Editor — Pindle Capture");
    ASSERT_TRUE(editor) << "no editor window";
    // The window manager may still be placing it: its controls are found from where it
    // settles.
    eventually(
        [&] {
            std::this_thread::sleep_for(200ms);
            auto settled = windowNamed(desktop, "Editor — Pindle Capture");
            bool still = settled && settled->x == editor->x && settled->y == editor->y &&
                         settled->width == editor->width && settled->height == editor->height;
            if (settled) {
                editor = settled;
            }
            return still;
        },
        5s);
    EXPECT_GE(editor->x, 0);
    EXPECT_GE(editor->y, 0);
    EXPECT_LE(editor->x + editor->width, 1280);
    EXPECT_LE(editor->y + editor->height, 900);

    // The Options tab lies at the bottom of the window, under the preview, which takes
    // the rest: its controls are found from the window's bottom edge.
    const int bottom = editor->y + editor->height;
    const int trackStart = editor->x + 16 + 12;
    const int trackEnd = editor->x + editor->width - 16 - 12;
    const int quarter = (trackEnd - trackStart) / 4;
    const int sliderY = bottom - 179;
    const int menusY = bottom - 122;
    // Drag each knob a quarter of the track inwards, the second once the first has landed
    // in the library.
    const double recorded = storedRecordings(home)[0]->duration().seconds();
    auto trimmed = [&](bool end) {
        auto recordings = storedRecordings(home);
        auto parameters = recordings.empty() ? nullptr : recordings[0]->editParameters();
        if (!parameters) {
            return end ? recorded : 0.0;
        }
        return (end ? parameters->trimmedEndTime() : parameters->trimmedStartTime()).seconds();
    };
    desktop.run("xdotool" + at(trackStart - 6, sliderY) + " mousedown 1" +
                at(trackStart + quarter / 2, sliderY) + at(trackStart - 6 + quarter, sliderY) +
                " mouseup 1");
    ASSERT_TRUE(eventually([&] { return trimmed(false) > recorded / 8; }, 10s))
        << "the lower knob did not move";
    desktop.run("xdotool" + at(trackEnd + 6, sliderY) + " mousedown 1" +
                at(trackEnd - quarter / 2, sliderY) + at(trackEnd + 6 - quarter, sliderY) +
                " mouseup 1");
    ASSERT_TRUE(eventually([&] { return trimmed(true) < recorded * 7 / 8; }, 10s))
        << "the upper knob did not move";
    // Loop: "Ping-Pong", two below "Normal"; size: "320px", three below "Original".
    desktop.run("xdotool" + at(editor->x + 60, menusY) + " click 1");
    std::this_thread::sleep_for(400ms);
    desktop.run("xdotool key Down Down Return");
    std::this_thread::sleep_for(300ms);
    desktop.run("xdotool" + at(editor->x + editor->width / 2, menusY) + " click 1");
    std::this_thread::sleep_for(400ms);
    desktop.run("xdotool key Down Down Down Return");

    // The choices are in the library at once.
    RCRecordingPtr stored;
    ASSERT_TRUE(eventually(
        [&] {
            auto recordings = storedRecordings(home);
            stored = recordings.empty() ? nullptr : recordings[0];
            return stored && stored->editParameters()->resizeValue() == kResize320;
        },
        10s));
    auto parameters = stored->editParameters();
    EXPECT_EQ(parameters->loopType(), kLoopTypePingPong);
    const double duration = stored->duration().seconds();
    EXPECT_NEAR(parameters->trimmedStartTime().seconds(), duration / 4, duration / 20);
    EXPECT_NEAR(parameters->trimmedEndTime().seconds(), duration * 3 / 4, duration / 20);

    // Save as GIF through the dialog (GIF is the first format the dialog offers).
    desktop.run("xdotool" + at(editor->x + editor->width / 3, bottom - 52) + " click 1");
    ASSERT_TRUE(windowNamed(desktop, "Save")) << "no save dialog";
    std::this_thread::sleep_for(300ms);
    std::filesystem::path gif = outputs / "edited.gif";
    desktop.run("xdotool key ctrl+a type '" + (outputs / "edited").string() + "'");
    desktop.run("xdotool key Return");
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(gif); }, 30s));
    test::DecodedMovie decoded;
    ASSERT_TRUE(eventually(
        [&] {
            decoded = test::decodeMedia(gif);
            return decoded.error.empty() && !decoded.frames.empty();
        },
        10s));
    EXPECT_EQ(decoded.width, 320);
    EXPECT_EQ(decoded.height, 160);
    const size_t frames = decoded.frames.size();
    EXPECT_NEAR(double(frames), double(stored->editedFrameCount()), 1.0);
    for (const auto& frame : decoded.frames) {
        EXPECT_NEAR(frame.durationSeconds, 1.0 / 15, 0.011);
    }
    // Ping-pong: the clock under the region runs forwards through the first half of the
    // frames and backwards through the second.
    std::vector<int64_t> shown;
    for (const auto& frame : decoded.frames) {
        shown.push_back(clockShownIn(frame.image));
        ASSERT_GE(shown.back(), 0) << "frame " << shown.size() - 1 << " does not show the clock";
    }
    const size_t turn = size_t(std::max_element(shown.begin(), shown.end()) - shown.begin());
    EXPECT_NEAR(double(turn), double(frames) / 2, 1.0);
    for (size_t i = 1; i < frames; ++i) {
        if (i <= turn) {
            EXPECT_GT(shown[i], shown[i - 1]) << "frame " << i;
        } else {
            EXPECT_LT(shown[i], shown[i - 1]) << "frame " << i;
        }
    }

    // The same as MP4, then as a batch folder: the dialog's file type list picks the format
    // (Home and End on the list, which Tab reaches from the file name).
    const double seconds = stored->editedDuration().seconds();
    auto saveAs = [&](const std::string& chooseType, const std::filesystem::path& path) {
        std::this_thread::sleep_for(2500ms);  // "SAVED" goes back to "SAVE AS..."
        desktop.run("xdotool" + at(editor->x + editor->width / 3, bottom - 52) + " click 1");
        ASSERT_TRUE(windowNamed(desktop, "Save")) << "no save dialog";
        std::this_thread::sleep_for(300ms);
        desktop.run("xdotool key Tab " + chooseType + " shift+Tab ctrl+a type '" + path.string() +
                    "'");
        desktop.run("xdotool key Return");
    };
    saveAs("Home Down", outputs / "edited");
    std::filesystem::path mp4 = outputs / "edited.mp4";
    ASSERT_TRUE(eventually(
        [&] {
            decoded = test::decodeMedia(mp4);
            return decoded.error.empty() && !decoded.frames.empty();
        },
        30s));
    EXPECT_EQ(decoded.width, 320);
    EXPECT_EQ(decoded.height, 160);
    EXPECT_NEAR(decoded.durationSeconds, seconds, 0.1);

    saveAs("End", outputs / "batch");
    std::filesystem::path batch = outputs / "batch";
    const char* const files[] = {"Still JPG (320x160).jpg", "Video MP4 (320x160).mp4",
                                 "Small GIF (400x200).gif", "Large GIF (320x160).gif"};
    for (const char* file : files) {
        EXPECT_TRUE(eventually([&] { return std::filesystem::exists(batch / file); }, 30s)) << file;
    }
    EXPECT_TRUE(program.terminate(10s));
}

// Caption pixels of the two colours the captions test uses, over the moving content's red,
// blue and white.
bool isYellow(const uint8_t* p) {
    return p[0] > 200 && p[1] > 190 && p[2] > 30 && p[2] < 160;
}
bool isGreen(const uint8_t* p) {
    return p[0] < 100 && p[1] > 190 && p[2] > 90 && p[2] < 220;
}

struct PixelCount {
    int topLeft = 0;  // in the top-left quarter of the frame
    int elsewhere = 0;
};

PixelCount countPixels(const Image& frame, bool (*matches)(const uint8_t*)) {
    PixelCount count;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (matches(frame.row(y) + size_t(x) * 4)) {
                ++(x < frame.width / 2 && y < frame.height / 2 ? count.topLeft : count.elsewhere);
            }
        }
    }
    return count;
}

TEST(DesktopProgram, CaptionsTabAddsStylesPlacesTimesAndReordersCaptions) {
    Desktop desktop;
    ASSERT_TRUE(desktop.isRunning());
    ffmpeg::installMovieOpener();
    test::TempDir home;
    test::TempDir logs;
    test::TempDir outputs;

    Program program(desktop, home.path(), logs / "log.txt");
    auto window = program.window();
    ASSERT_TRUE(window);
    ASSERT_TRUE(program.waitForLog("capture window shown"));
    // Moving content under the region while recording; it goes away afterwards, as it would
    // lie over the editor.
    auto content = std::make_unique<test::MovingContent>(
        desktop.display(),
        test::MovingContent::PixelArea{window->x + RCCaptureWindow::kBorder,
                                       window->y + RCCaptureWindow::kTitleBarHeight, 640, 320});
    ASSERT_TRUE(content->isShowing());
    const int buttonX = window->x + 24;
    const int buttonY = window->y + RCCaptureWindow::kTitleBarHeight + 320 +
                        RCCaptureWindow::kControlStripHeight / 2;
    desktop.run("xdotool" + at(buttonX, buttonY) + " click 1");
    ASSERT_TRUE(program.waitForLog("capturing 640x320 points"));
    std::this_thread::sleep_for(4s);
    desktop.run("xdotool" + at(buttonX, buttonY) + " click 1");
    ASSERT_TRUE(program.waitForLog("movie written"));
    content.reset();
    ASSERT_TRUE(eventually(
        [&] {
            auto recordings = storedRecordings(home);
            return recordings.size() == 1 && recordings[0]->isReady();
        },
        30s));
    const int cell = ui::RCGIFCollectionWindow::kCellSize;
    desktop.run("xdotool" +
                at(window->x + 4 + cell / 3,
                   window->y + window->height - kLibraryHeight + 4 + cell * 2 / 3) +
                " click 1");
    auto editor = windowNamed(desktop, "Editor — Pindle Capture");
    ASSERT_TRUE(editor) << "no editor window";
    eventually(
        [&] {
            std::this_thread::sleep_for(200ms);
            auto settled = windowNamed(desktop, "Editor — Pindle Capture");
            bool still = settled && settled->x == editor->x && settled->y == editor->y &&
                         settled->width == editor->width && settled->height == editor->height;
            if (settled) {
                editor = settled;
            }
            return still;
        },
        5s);

    // The tabs and the Captions tab's controls, found from the window's left and bottom edges
    // (the tab content lies at the bottom, under the preview).
    const int left = editor->x;
    const int bottom = editor->y + editor->height;
    const int tabsY = bottom - 248;
    const int firstRowY = bottom - 159;
    const int handleX = left + 23;
    const int trackStart = left + 248;
    const int trackEnd = left + editor->width - 54;
    const int track = trackEnd - trackStart;
    // The preview, and the movie fitted into it (640 x 320).
    const int previewLeft = left + 12;
    const int previewWidth = editor->width - 24;
    const int previewTop = editor->y + 34;
    const int previewHeight = bottom - 268 - previewTop;
    const double scale = std::min(previewWidth / 640.0, previewHeight / 320.0);
    const int centreX = previewLeft + previewWidth / 2;
    const int centreY = previewTop + previewHeight / 2;
    const int quarterX = centreX - int(640 * scale / 4);
    const int quarterY = centreY - int(320 * scale / 4);

    auto captions = [&] {
        auto recordings = storedRecordings(home);
        return recordings.empty() ? CaptionList() : recordings[0]->editParameters()->captions();
    };
    // Styles the active caption from the keyboard: text, then arrow keys on the palette, the
    // size menu and (past the font menu) the animation menu.
    auto style = [&](const std::string& keys) {
        desktop.run("xdotool search --onlyvisible --name '^Caption Style$' windowactivate --sync");
        std::this_thread::sleep_for(300ms);
        desktop.run("xdotool key ctrl+a type HI");
        desktop.run("xdotool key " + keys);
    };
    // Drags the selected caption from the preview's centre to the top-left quarter's centre.
    auto dragToQuarter = [&] {
        std::string moves = at(centreX, centreY) + " mousedown 1";
        for (int step = 1; step <= 8; ++step) {
            moves += at(centreX + (quarterX - centreX) * step / 8,
                        centreY + (quarterY - centreY) * step / 8) +
                     " sleep 0.03";
        }
        desktop.run("xdotool" + moves + " mouseup 1");
    };
    auto saveGIF = [&](const std::filesystem::path& path) {
        desktop.run("xdotool" + at(left + 52, tabsY) + " click 1");
        std::this_thread::sleep_for(300ms);
        desktop.run("xdotool" + at(left + editor->width / 3, bottom - 52) + " click 1");
        ASSERT_TRUE(windowNamed(desktop, "Save")) << "no save dialog";
        std::this_thread::sleep_for(300ms);
        desktop.run("xdotool key ctrl+a type '" + path.string() + "'");
        desktop.run("xdotool key Return");
    };

    // Captions tab, the placeholder's add button; white, "MD", "Default", "None" become
    // yellow, "XL" and "Drop".
    desktop.run("xdotool" + at(left + 140, tabsY) + " click 1");
    std::this_thread::sleep_for(300ms);
    desktop.run("xdotool" + at(left + editor->width / 2, bottom - 99) + " click 1");
    ASSERT_TRUE(windowNamed(desktop, "Caption Style")) << "no style window";
    style("Tab Right Tab Down Down Tab Tab Down Down Down Down");
    ASSERT_TRUE(eventually(
        [&] {
            auto list = captions();
            return list.size() == 1 && list[0]->text == "HI" &&
                   list[0]->animation->type == CaptionAnimationType::Drop;
        },
        10s));
    EXPECT_EQ(captions()[0]->size, CaptionSize::XL);
    EXPECT_EQ(captions()[0]->color, (Color{1.0, 243.0 / 255, 92.0 / 255, 1}));

    dragToQuarter();
    ASSERT_TRUE(eventually([&] { return captions()[0]->centerPosition().x < 200; }, 10s));
    EXPECT_NEAR(captions()[0]->centerPosition().x, 160, 12);
    EXPECT_NEAR(captions()[0]->centerPosition().y, 240, 12);

    // The row's knobs to a quarter and 85 % of the recording.
    const double duration = storedRecordings(home)[0]->duration().seconds();
    desktop.run("xdotool" + at(trackStart - 6, firstRowY) + " mousedown 1" +
                at(trackStart + track / 8, firstRowY) + at(trackStart - 6 + track / 4, firstRowY) +
                " mouseup 1");
    desktop.run("xdotool" + at(trackEnd + 6, firstRowY) + " mousedown 1" +
                at(trackEnd - track / 10, firstRowY) +
                at(trackEnd + 6 - track * 15 / 100, firstRowY) + " mouseup 1");
    ASSERT_TRUE(eventually([&] { return captions()[0]->endTime.seconds() < duration * 0.9; }, 10s));
    const double start = captions()[0]->startTime.seconds();
    const double end = captions()[0]->endTime.seconds();
    EXPECT_NEAR(start, duration / 4, duration / 25);
    EXPECT_NEAR(end, duration * 0.85, duration / 25);

    saveGIF(outputs / "placed");
    test::DecodedMovie decoded;
    ASSERT_TRUE(eventually(
        [&] {
            decoded = test::decodeMedia(outputs / "placed.gif");
            return decoded.error.empty() && !decoded.frames.empty();
        },
        30s));
    int shownFrames = 0;
    for (const auto& frame : decoded.frames) {
        PixelCount yellow = countPixels(frame.image, isYellow);
        double t = frame.seconds;
        if (t < start - 0.07 || t > end + 0.07) {
            EXPECT_EQ(yellow.topLeft + yellow.elsewhere, 0) << "at " << t << " s";
        } else if (t > start + 0.15 && t < end - 0.15) {
            ++shownFrames;
            EXPECT_GT(yellow.topLeft, 100) << "at " << t << " s";
            EXPECT_EQ(yellow.elsewhere, 0) << "at " << t << " s";
        }
    }
    EXPECT_GT(shownFrames, 10);

    // A green caption over it: later in the list, so drawn on top, until its row is dragged
    // above the first one.
    std::this_thread::sleep_for(2500ms);  // "SAVED" goes back to "SAVE AS..."
    desktop.run("xdotool" + at(left + 140, tabsY) + " click 1");
    std::this_thread::sleep_for(300ms);
    desktop.run("xdotool" + at(left + 160, bottom - 210) + " click 1");
    style("Tab Right Right Tab Down Down");
    ASSERT_TRUE(eventually(
        [&] {
            auto list = captions();
            return list.size() == 2 && list[1]->text == "HI" &&
                   list[1]->color == Color{0.0, 1.0, 0.6, 1};
        },
        10s));
    dragToQuarter();
    ASSERT_TRUE(eventually([&] { return captions()[1]->centerPosition().x < 200; }, 10s));
    std::string moves = at(handleX, firstRowY + 30) + " mousedown 1";
    for (int y = firstRowY + 26; y >= firstRowY - 12; y -= 4) {
        moves += at(handleX, y) + " sleep 0.05";
    }
    desktop.run("xdotool" + moves + " mouseup 1");
    ASSERT_TRUE(eventually(
        [&] {
            auto list = captions();
            return list.size() == 2 && list[0]->color == Color{0.0, 1.0, 0.6, 1};
        },
        10s))
        << "the row was not moved";

    saveGIF(outputs / "reordered");
    ASSERT_TRUE(eventually(
        [&] {
            decoded = test::decodeMedia(outputs / "reordered.gif");
            return decoded.error.empty() && !decoded.frames.empty();
        },
        30s));
    // Where both captions show, the yellow one, now last in the list, covers the green one.
    int checked = 0;
    for (const auto& frame : decoded.frames) {
        if (frame.seconds > start + 0.15 && frame.seconds < end - 0.15) {
            ++checked;
            EXPECT_GT(countPixels(frame.image, isYellow).topLeft,
                      4 * countPixels(frame.image, isGreen).topLeft + 50)
                << "at " << frame.seconds << " s";
        }
    }
    EXPECT_GT(checked, 10);
    EXPECT_TRUE(program.terminate(10s));
}

}  // namespace
}  // namespace pindle
