// The application's windows and its global shortcut on a private X server.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "app/RCShortcutHelper.h"
#include "base/dispatch.h"
#include "capture/ui/RCCaptureWindow.h"
#include "editor/ui/RCEditorOptionsViewController.h"
#include "editor/ui/RCEditorPlayerView.h"
#include "editor/ui/RCEditorWindowController.h"
#include "library/RCFileManager.h"
#include "movie_fixtures.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/qt/qt_layers.h"
#include "platform/x11/x11_keyboard.h"
#include "qt_test_support.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

std::string gDisplay;

// Runs a command on the test's X server and waits for it.
int runOnDisplay(const std::string& command) {
    return std::system(("DISPLAY=" + gDisplay + " " + command + " >/dev/null 2>&1").c_str());
}

using test::waitFor;

// Processes Qt events for a moment, for checks that nothing happened.
void settle() {
    auto until = std::chrono::steady_clock::now() + 400ms;
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

TEST(X11Keyboard, GlobalShortcutFiresWithAndWithoutNumLock) {
    auto defaults = makeMemoryDefaults();
    RCShortcutHelper::install(std::shared_ptr<Defaults>(std::move(defaults)),
                              qt::makeX11KeyboardLayout(), qt::makeX11GlobalHotKey());
    uint32_t g = RCShortcutHelper::charToKeyCode("g");
    ASSERT_NE(g, 0u);
    EXPECT_EQ(RCShortcutHelper::keyCodeToString(g), "g");
    EXPECT_NE(RCShortcutHelper::charToKeyCode("7"), 0u);

    int presses = 0;
    RCShortcutHelper::setShortcutAction([&] { ++presses; });
    RCShortcutHelper::setShortcut(RCShortcut{g, modifier::kCommand});
    ASSERT_TRUE(RCShortcutHelper::isShortcutBound());
    EXPECT_EQ(RCShortcutHelper::getShortcutString(), "Ctrl+Alt+G");

    ASSERT_EQ(runOnDisplay("xdotool key ctrl+alt+g"), 0);
    EXPECT_TRUE(waitFor([&] { return presses == 1; })) << presses;
    ASSERT_EQ(runOnDisplay("xdotool key Num_Lock key ctrl+alt+g key Num_Lock"), 0);
    EXPECT_TRUE(waitFor([&] { return presses == 2; })) << presses;
    ASSERT_EQ(runOnDisplay("xdotool key Caps_Lock key ctrl+alt+g key Caps_Lock"), 0);
    EXPECT_TRUE(waitFor([&] { return presses == 3; })) << presses;
    // The same key without the modifiers is not taken.
    ASSERT_EQ(runOnDisplay("xdotool key g key alt+g"), 0);
    settle();
    EXPECT_EQ(presses, 3);

    RCShortcutHelper::clearShortcut();
    ASSERT_EQ(runOnDisplay("xdotool key ctrl+alt+g"), 0);
    settle();
    EXPECT_EQ(presses, 3);
    RCShortcutHelper::install(nullptr, nullptr, nullptr);
}

// A window that counts the presses it gets.
class Target : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

TEST(CaptureWindowOnX11, RegionIsAHoleThatPassesClicksThrough) {
    test::TempDir home;
    RCFileManager files(home.appDirectories());
    RCUserSettings settings(makeMemoryDefaults(), files);
    Target below;
    below.setGeometry(0, 0, 1200, 900);
    below.show();
    RCCaptureWindowView* view = nullptr;
    ui::RCCaptureWindow window(settings, nullptr);
    view = &window;
    window.showWindow();
    ASSERT_TRUE(waitFor([&] { return window.isVisible() && below.isVisible(); }));
    EXPECT_EQ(view->captureViewFrame().size, (Size{640, 320}));

    QRect hole = window.geometry().adjusted(
        ui::RCCaptureWindow::kBorder, ui::RCCaptureWindow::kTitleBarHeight,
        -ui::RCCaptureWindow::kBorder, -ui::RCCaptureWindow::kControlStripHeight);
    QPoint inside = hole.center();
    ASSERT_EQ(runOnDisplay("xdotool mousemove " + std::to_string(inside.x()) + " " +
                           std::to_string(inside.y()) + " click 1"),
              0);
    EXPECT_TRUE(waitFor([&] { return below.presses == 1; }));
    // The control strip is the window's own.
    QPoint strip(hole.center().x(), hole.bottom() + 20);
    ASSERT_EQ(runOnDisplay("xdotool mousemove " + std::to_string(strip.x()) + " " +
                           std::to_string(strip.y()) + " click 1"),
              0);
    settle();
    EXPECT_EQ(below.presses, 1);

    // Global coordinates: the region's top edge lies where the desktop puts it.
    Rect frame = view->captureViewFrame();
    EXPECT_DOUBLE_EQ(frame.minX(), hole.x());
    EXPECT_DOUBLE_EQ(frame.maxY(), 900 - hole.y());
}

// What the preview shows, as the screen shows it.
QImage shownPicture(QWidget& view) {
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Processes Qt events for duration.
void runEventsFor(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(2ms);
    }
}

TEST(EditorPreviewOnX11, ShowsTheMoviePlayingAndHoldsStillWhenPaused) {
    ffmpeg::installMovieOpener();
    test::TempDir home;
    auto movie = home / "moving.mp4";
    ASSERT_TRUE(test::makeTestMovie(movie, {.width = 320, .height = 240, .fps = 30, .seconds = 3}));
    std::unique_ptr<ui::RCEditorPlayerView> view(
        ui::makeEditorPlayerView(RCRecording::recordingWithURL(movie), nullptr));
    view->resize(320, 240);
    view->show();
    view->setMuted(true);
    view->play();
    ASSERT_TRUE(waitFor([&] { return view->isPlaying() && view->currentTime().seconds() > 0.1; }));

    // Playing: the picture changes from one moment to the next, and it is the movie, not a
    // black view.
    QImage before = shownPicture(*view);
    int changes = 0;
    for (int i = 0; i < 5; ++i) {
        runEventsFor(120ms);
        QImage now = shownPicture(*view);
        changes += now != before;
        before = now;
    }
    EXPECT_EQ(changes, 5);
    EXPECT_NE(before.pixel(160, 120), before.pixel(10, 10));

    // Paused: the same picture however long one looks.
    view->pause();
    EXPECT_FALSE(view->isPlaying());
    runEventsFor(150ms);
    QImage paused = shownPicture(*view);
    runEventsFor(400ms);
    EXPECT_EQ(shownPicture(*view), paused);
    view->stop();
    EXPECT_FALSE(view->isPlaying());
}

TEST(EditorPreviewOnX11, DrawsACaptionOnlyInsideItsTimeRange) {
    ffmpeg::installMovieOpener();
    qt::installLayerRenderer();
    test::TempDir home;
    auto movie = home / "blue.mp4";
    ASSERT_TRUE(test::makeTestMovie(
        movie,
        {.width = 320, .height = 240, .fps = 30, .seconds = 4, .source = "color=c=0x204060"}));
    RCRecordingPtr recording = RCRecording::recordingWithURL(movie);
    // A white caption from 1.0 s to 2.0 s of the recording, with a normal loop trimmed
    // to start at 0.5 s: the preview follows the recording's times, not the output's.
    auto caption = std::make_shared<RCTimedCaption>();
    caption->videoDimensions = Size{320, 240};
    caption->videoDuration = recording->duration();
    caption->text = "HELLO";
    caption->startTime = MediaTime::makeWithSeconds(1.0, 600);
    caption->endTime = MediaTime::makeWithSeconds(2.0, 600);
    caption->setCenterPosition(Point{160, 120});
    recording->editParameters()->captions().push_back(caption);
    recording->editParameters()->setTrimmedStartTime(MediaTime::makeWithSeconds(0.5, 600));

    std::unique_ptr<ui::RCEditorPlayerView> view(ui::makeEditorPlayerView(recording, nullptr));
    view->resize(320, 240);
    view->show();
    view->reloadLayers();
    auto whitePixels = [&] {
        QImage picture = shownPicture(*view);
        int count = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                QRgb p = picture.pixel(x, y);
                count += qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
            }
        }
        return count;
    };
    auto shownAt = [&](double seconds) {
        view->seekExactly(MediaTime::makeWithSeconds(seconds, 600));
        runEventsFor(300ms);
        return whitePixels();
    };
    EXPECT_EQ(shownAt(0.7), 0);
    EXPECT_GT(shownAt(1.5), 50);
    EXPECT_EQ(shownAt(2.5), 0);
    // Taken away and the layers rebuilt: gone from the frame it was on.
    recording->editParameters()->captions().clear();
    view->reloadLayers();
    EXPECT_EQ(shownAt(1.5), 0);
}

struct CountingDelegate : RCEditorWindowDelegate {
    int closes = 0;
    void editorWindowControllerWillClose(RCEditorWindowControl*) override { ++closes; }
};

TEST(EditorWindowOnX11, PlaybackMarkerFollowsThePlayerInsideTheTrim) {
    ffmpeg::installMovieOpener();
    test::TempDir home;
    auto movie = home / "moving.mp4";
    ASSERT_TRUE(test::makeTestMovie(movie, {.width = 320, .height = 240, .fps = 30, .seconds = 4}));
    RCRecordingPtr recording = RCRecording::recordingWithURL(movie);
    recording->editParameters()->setTrimmedStartTime(MediaTime::makeWithSeconds(1.0, 600));
    recording->editParameters()->setTrimmedEndTime(MediaTime::makeWithSeconds(2.0, 600));
    CountingDelegate delegate;
    RCEditorEnvironment environment;
    ui::RCEditorWindowController editor(recording, delegate, environment, nullptr);
    editor.showWindow();
    auto* options = editor.findChild<ui::RCEditorOptionsViewController*>("editorOptions");
    ASSERT_NE(options, nullptr);
    const RCRangeSlider& slider = options->model().slider();

    // Over two loops of the one-second window, the marker takes many places, all between the
    // knobs (a quarter and a half of the movie).
    std::set<double> places;
    auto until = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        places.insert(slider.playbackMarker());
    }
    EXPECT_GT(places.size(), 20u);
    EXPECT_GE(*places.begin(), 0.25 - 1e-6);
    EXPECT_LE(*places.rbegin(), 0.5 + 1e-6);
    EXPECT_TRUE(editor.playerView()->isPlaying());
    editor.close();
}

TEST(EditorWindowOnX11, OpensBesideTheCaptureWindowFollowsCapturesAndSavesOnClose) {
    test::TempDir home;
    RCRecordingPtr recording = RCRecording::recordingWithURL(home / "missing.mp4");
    QWidget anchor;
    anchor.setGeometry(20, 200, 480, 400);
    anchor.show();
    CountingDelegate delegate;
    int saves = 0;
    RCEditorEnvironment environment;
    environment.isCapturing = [] { return true; };
    environment.saveEdits = [&](const RCRecordingPtr&) { ++saves; };
    environment.captureStartNotification = "test.captureStarted";
    environment.captureStopNotification = "test.captureStopped";
    ui::RCEditorWindowController editor(recording, delegate, environment, &anchor);
    editor.showWindow();
    ASSERT_TRUE(waitFor([&] { return editor.isVisible(); }));

    // Beside the capture window, not over it, wholly on the screen, and kept in front of
    // it by the window manager.
    QRect frame = editor.frameGeometry();
    ASSERT_NE(editor.windowHandle(), nullptr);
    EXPECT_EQ(editor.windowHandle()->transientParent(), anchor.windowHandle());
    EXPECT_FALSE(frame.intersects(anchor.frameGeometry())) << frame.x() << "," << frame.y();
    EXPECT_TRUE(QRect(0, 0, 1200, 900).contains(frame)) << frame.x() << "," << frame.y();
    EXPECT_TRUE(editor.optionsViewIsShowing());

    // Opened during a capture: above other windows until the capture stops.
    EXPECT_TRUE(editor.windowFlags() & Qt::WindowStaysOnTopHint);
    NotificationCenter::defaultCenter().post("test.captureStopped", nullptr);
    EXPECT_TRUE(waitFor(
        [&] { return !(editor.windowFlags() & Qt::WindowStaysOnTopHint) && editor.isVisible(); }));
    NotificationCenter::defaultCenter().post("test.captureStarted", nullptr);
    EXPECT_TRUE(waitFor([&] { return bool(editor.windowFlags() & Qt::WindowStaysOnTopHint); }));

    // The space bar plays and pauses the captions preview, and only in the Captions tab.
    int toggles = 0;
    editor.setCaptionsView(new QWidget, [&] { ++toggles; });
    editor.activateWindow();
    auto pressSpace = [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
        QApplication::sendEvent(&editor, &press);
    };
    pressSpace();
    EXPECT_EQ(toggles, 0);
    editor.findChild<QAbstractButton*>("captionsTab")->click();
    EXPECT_TRUE(editor.captionsViewIsShowing());
    pressSpace();
    EXPECT_EQ(toggles, 1);
    editor.findChild<QAbstractButton*>("optionsTab")->click();
    pressSpace();
    EXPECT_EQ(toggles, 1);

    // The title bar's close button: the library hears of it and the edit is saved.
    auto* close = editor.findChild<QAbstractButton*>("closeButton");
    ASSERT_NE(close, nullptr);
    close->click();
    EXPECT_EQ(delegate.closes, 1);
    EXPECT_GE(saves, 1);
    EXPECT_TRUE(waitFor([&] { return !editor.isVisible(); }));
}

}  // namespace
}  // namespace pindle

// A private X server (its number chosen by Xvfb) and one QApplication on it.
int main(int argc, char** argv) {
    return pindle::test::runWidgetTests(argc, argv, "1200x900x24", [] {
        pindle::gDisplay = std::getenv("DISPLAY");
        return true;
    });
}
