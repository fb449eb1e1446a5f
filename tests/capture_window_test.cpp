#include <gtest/gtest.h>

#include "base/dispatch.h"
#include "capture/RCCaptureEngine.h"
#include "capture/window/RCCaptureEngineBridge.h"
#include "capture/window/RCCaptureRegion.h"
#include "capture/window/RCCaptureWindowController.h"
#include "capture_fakes.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "settings/RCUserSettings.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

class FakeEngine : public RCCaptureEngineControl {
public:
    RCCaptureWindowController* delegate = nullptr;
    std::vector<Rect> starts;
    int stops = 0;
    int captureLasts = 0;
    bool processing = false;
    void setDelegate(RCCaptureWindowController* d) override { delegate = d; }
    void startCapturingFrame(const Rect& frame, const RCCaptureStartOptions&) override {
        starts.push_back(frame);
    }
    void stopCapturing() override { ++stops; }
    void outputCaptureResetBuffer(bool reset, std::function<void()>) override {
        EXPECT_FALSE(reset);
        ++captureLasts;
    }
    bool isProcessing() const override { return processing; }
};

// A window whose title bar is 30 and control strip 40 points high.
class FakeView : public RCCaptureWindowView {
public:
    Rect frame{{100, 100}, {200, 200}};
    std::vector<Rect> displays{{{0, 0}, {1920, 1080}}};
    std::string label;
    RCCaptureWindowAppearance appearance;
    bool timerRunning = false;
    Rect windowFrame() const override { return frame; }
    Rect captureViewFrame() const override {
        return {{frame.minX(), frame.minY() + 40}, {frame.width(), frame.height() - 70}};
    }
    void setWindowFrame(const Rect& f, bool) override { frame = f; }
    double chromeHeight() const override { return 70; }
    std::vector<Rect> displayFrames() const override { return displays; }
    void showDimensionsText(const std::string& text) override { label = text; }
    void applyAppearance(const RCCaptureWindowAppearance& a) override { appearance = a; }
    void captureLastButtonChanged(const RCCaptureLastButtonModel&) override {}
    void setCountdownTimerRunning(bool running) override { timerRunning = running; }
};

class CaptureWindow : public ::testing::Test {
protected:
    std::unique_ptr<RCCaptureWindowController> make(RCUserSettings& s) {
        auto e = std::make_unique<FakeEngine>();
        engine = e.get();
        auto controller = std::make_unique<RCCaptureWindowController>(
            s, std::move(e), NotificationCenter::defaultCenter(), [this] { return now; });
        controller->windowDidLoad(&view);
        return controller;
    }

    test::TempDir home;
    RCFileManager files{home.appDirectories()};
    std::shared_ptr<Defaults> defaults = makeMemoryDefaults();
    RCUserSettings settings{defaults, files};
    FakeView view;
    FakeEngine* engine = nullptr;
    double now = 1000;
};

TEST_F(CaptureWindow, FirstLaunchRegionThenSavedFrameOnLaterLaunches) {
    auto controller = make(settings);
    EXPECT_EQ(controller->captureFrame().size, (Size{640, 320}));
    EXPECT_EQ(view.label, "640 x 320");
    view.frame.origin = {300, 200};
    controller->captureSizeWindowDidSetSize({800, 450});
    Rect saved = view.frame;
    controller.reset();

    RCUserSettings later(defaults, files);
    ASSERT_FALSE(later.isFirstLaunch());
    view.frame = {{0, 0}, {100, 100}};
    controller = make(later);
    EXPECT_EQ(view.frame, saved);
    EXPECT_EQ(view.label, "800 x 450");

    // A saved frame on a display that is no longer there falls back to the default, with
    // the title bar on the display even when the window is taller than it.
    view.displays = {{{5000, 0}, {600, 300}}};
    controller = make(later);
    EXPECT_EQ(controller->captureFrame().size, (Size{640, 320}));
    EXPECT_EQ(view.frame.maxY(), 300);
    EXPECT_EQ(view.frame.minX(), 5000);
}

TEST_F(CaptureWindow, SizeSheetResizeKeepsTopEdgeAndDragKeepsRegionEven) {
    auto controller = make(settings);
    double top = view.frame.maxY();
    controller->captureSizeWindowDidSetSize({300, 100});
    EXPECT_EQ(view.frame.maxY(), top);
    EXPECT_EQ(view.frame.size, (Size{300, 170}));

    EXPECT_EQ(controller->windowWillResize({301.7, 171.2}), (Size{300.7, 170.2}));
    EXPECT_EQ(controller->windowWillResize({302, 172}), (Size{302, 172}));
}

TEST_F(CaptureWindow, StateMachineDelayShortStopAndElapsedTime) {
    auto controller = make(settings);
    int started = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        RCCaptureWindowController::kStartCaptureNotification, controller.get(),
        [&](const Notification&) { ++started; });

    controller->toggleCapture();
    EXPECT_EQ(controller->captureState(), RCCaptureStateStarting);
    EXPECT_TRUE(controller->isBusy());
    EXPECT_TRUE(view.appearance.dimmedGlassFrame.has_value());
    EXPECT_FALSE(view.appearance.resizable);
    EXPECT_TRUE(engine->starts.empty());  // the engine starts 0.1 s later
    controller->toggleCapture();          // ignored while starting
    ASSERT_TRUE(dispatch::runUntil([&] { return !engine->starts.empty() && started == 1; }, 2s));
    EXPECT_EQ(engine->starts[0], controller->captureFrame());

    controller->captureEngineDidStartCapturing();
    EXPECT_EQ(controller->captureState(), RCCaptureStateCapturing);
    EXPECT_TRUE(view.timerRunning);

    // A stop within a second of the start is ignored: two quick clicks leave it running.
    now += 0.5;
    controller->toggleCapture();
    EXPECT_EQ(controller->captureState(), RCCaptureStateCapturing);
    EXPECT_EQ(engine->stops, 0);

    now += 0.25;
    controller->countdownTick();
    EXPECT_EQ(controller->captureLastButton().title(), "0.8s");
    controller->captureLastButtonClicked();  // not full yet: no effect
    EXPECT_EQ(engine->captureLasts, 0);
    now = 1030;
    controller->countdownTick();
    EXPECT_EQ(controller->captureLastButton().title(), "Capture last 30.0s");
    EXPECT_TRUE(controller->captureLastButton().isBlinking());
    controller->captureLastButtonClicked();
    controller->captureLastButtonClicked();
    EXPECT_EQ(engine->captureLasts, 2);
    EXPECT_EQ(controller->captureState(), RCCaptureStateCapturing);

    controller->toggleCapture();
    EXPECT_EQ(controller->captureState(), RCCaptureStateStopping);
    EXPECT_EQ(engine->stops, 1);
    EXPECT_FALSE(view.timerRunning);
    EXPECT_FALSE(view.appearance.dimmedGlassFrame.has_value());
    EXPECT_EQ(controller->captureLastButton().elapsedTime(), 0);
    controller->toggleCapture();  // ignored while stopping
    EXPECT_EQ(engine->stops, 1);

    engine->processing = true;  // the movie is still being written
    controller->captureEngineDidStopCapturing();
    EXPECT_EQ(controller->captureState(), RCCaptureStateIdle);
    EXPECT_TRUE(controller->isBusy());
    engine->processing = false;
    EXPECT_FALSE(controller->isBusy());
    EXPECT_EQ(view.appearance, RCCaptureWindowAppearance{});
}

TEST_F(CaptureWindow, AFailedLibrarySaveShowsAsAStatus) {
    auto controller = make(settings);
    // A folder where the store file goes: no save can replace it.
    std::filesystem::create_directory(
        files.makeDocumentFileWithName(RCDataStore::kArchiveFileName));
    RCDataStore store(files, NotificationCenter::defaultCenter());
    store.addRecording(RCRecording::recordingWithURL(files.makeDocumentFileWithName("A.mp4")));
    EXPECT_TRUE(dispatch::runUntil([&] { return view.label == "Library not saved"; }, 5s))
        << view.label;
}

TEST_F(CaptureWindow, RegionOffEveryDisplayDoesNotStart) {
    auto controller = make(settings);
    view.frame.origin = {-3000, 100};
    controller->startCapture();
    EXPECT_EQ(controller->captureState(), RCCaptureStateIdle);
    EXPECT_EQ(view.label, "Off screen");
    EXPECT_FALSE(view.appearance.dimmedGlassFrame.has_value());
    ASSERT_TRUE(dispatch::runUntil([&] { return view.label == "640 x 320"; }, 3s));
}

// A real engine over the stand-ins of capture_fakes.h, which can be told to fail.
struct FakeBackedEngine {
    explicit FakeBackedEngine(RCFileManager& files) : store(files, center), writers(movies) {
        RCCaptureEngineEnvironment environment;
        environment.screenCapture = screens;
        environment.compressionSessionFactory = compression.factory();
        environment.movieWriterFactory = writers.factory();
        environment.dataStore = &store;
        environment.fileManager = &files;
        engine = RCCaptureEngine::create(environment);
    }
    // Waits until controller shows a capture that has buffered a few frames.
    bool isCapturingFor(const RCCaptureWindowController& controller) {
        return dispatch::runUntil(
            [&] {
                return controller.captureState() == RCCaptureStateCapturing &&
                       engine->bufferedFrameCount() >= 5;
            },
            std::chrono::seconds(5));
    }
    NotificationCenter center;
    RCDataStore store;
    test::FakeMovies movies;
    test::FakeCompression compression;
    test::FakeMovieWriters writers;
    std::shared_ptr<test::FakeScreenCapture> screens = std::make_shared<test::FakeScreenCapture>(
        std::vector<Screen>{{1, {{0, 0}, {1920, 1080}}, 1.0, "primary"}});
    std::shared_ptr<RCCaptureEngine> engine;
};

// The window driving a real engine over failing stand-ins: a capture that cannot start or
// cannot encode ends with a short status, and the window is idle again, free to quit and to
// start anew.
TEST_F(CaptureWindow, FailedStartOrEncodingReturnsTheWindowToIdleWithAStatus) {
    FakeBackedEngine real(files);
    auto& compression = real.compression;
    RCCaptureWindowController controller(
        settings, std::make_unique<RCCaptureEngineBridge>(real.engine, 1.0),
        NotificationCenter::defaultCenter(), [this] { return now; });
    controller.windowDidLoad(&view);
    auto idleWith = [&](const std::string& label) {
        return dispatch::runUntil(
            [&] {
                return controller.captureState() == RCCaptureStateIdle && view.label == label &&
                       !controller.isBusy();
            },
            5s);
    };

    *real.screens->failToStart = true;
    controller.toggleCapture();
    ASSERT_EQ(controller.captureState(), RCCaptureStateStarting);
    ASSERT_TRUE(idleWith("Cannot record")) << "the session did not start";
    EXPECT_EQ(view.appearance, RCCaptureWindowAppearance{});

    *real.screens->failToStart = false;
    compression.failToPrepare = "invalid width x height";
    controller.toggleCapture();
    ASSERT_TRUE(idleWith("Cannot record")) << "the encoder refused the size";
    EXPECT_EQ(view.appearance, RCCaptureWindowAppearance{});

    compression.failToPrepare.reset();
    compression.failAfterFrames = 5;
    controller.toggleCapture();
    ASSERT_TRUE(idleWith("Recording failed")) << "the encoder failed while capturing";
    EXPECT_EQ(view.appearance, RCCaptureWindowAppearance{});
    EXPECT_FALSE(view.timerRunning);
    ASSERT_TRUE(dispatch::runUntil([&] { return real.store.recordingsCount() == 1; }, 5s))
        << "the frames encoded before the failure are saved";

    compression.failAfterFrames.reset();
    controller.toggleCapture();
    ASSERT_TRUE(real.isCapturingFor(controller));
    now += 2;
    controller.toggleCapture();
    ASSERT_TRUE(dispatch::runUntil([&] { return real.store.recordingsCount() == 2; }, 5s));
    ASSERT_TRUE(dispatch::runUntil([&] { return !controller.isBusy(); }, 5s));
}

// A capture lost to a full disk says so, and keeps saying so when the library save that
// fails on the same disk is reported after it.
TEST_F(CaptureWindow, ACaptureLostToAFullDiskSaysSoOverTheFailedLibrarySave) {
    // A folder where the store file goes: no save can replace it.
    std::filesystem::create_directory(
        files.makeDocumentFileWithName(RCDataStore::kArchiveFileName));
    FakeBackedEngine real(files);
    real.writers.failAfterAppends = 3;
    RCCaptureWindowController controller(settings,
                                         std::make_unique<RCCaptureEngineBridge>(real.engine, 1.0),
                                         real.center, [this] { return now; });
    controller.windowDidLoad(&view);
    controller.toggleCapture();
    ASSERT_TRUE(real.isCapturingFor(controller));
    now += 2;
    controller.toggleCapture();
    ASSERT_TRUE(dispatch::runUntil(
        [&] {
            return !controller.isBusy() && view.label == RCCaptureWindowController::kDiskFullText;
        },
        5s))
        << view.label;
    // The library saves that failed meanwhile are announced after the capture's failure.
    dispatch::runUntil([] { return false; }, 300ms);
    EXPECT_EQ(view.label, RCCaptureWindowController::kDiskFullText);
    EXPECT_EQ(real.store.recordingsCount(), 0u);
    // Later failures of the library alone are shown again once the status has reverted.
    ASSERT_TRUE(dispatch::runUntil([&] { return view.label == "640 x 320"; }, 4s)) << view.label;
    real.store.addRecording(RCRecording::recordingWithURL(files.makeDocumentFileWithName("A.mp4")));
    EXPECT_TRUE(dispatch::runUntil([&] { return view.label == "Library not saved"; }, 5s))
        << view.label;
}

// A start the display never answers is given up: the window is idle again and may quit;
// when the display answers after all, the engine is stopped and the window stays idle.
TEST_F(CaptureWindow, StartThatIsNeverAnsweredIsGivenUp) {
    FakeBackedEngine real(files);
    RCCaptureWindowController controller(
        settings, std::make_unique<RCCaptureEngineBridge>(real.engine, 1.0),
        NotificationCenter::defaultCenter(), [this] { return now; });
    controller.windowDidLoad(&view);

    *real.screens->hangOnStart = true;
    controller.toggleCapture();
    const auto timeout =
        RCCaptureWindowController::kStartDelay + RCCaptureWindowController::kStartTimeout + 2s;
    ASSERT_TRUE(dispatch::runUntil([&] { return controller.captureState() == RCCaptureStateIdle; },
                                   std::chrono::duration_cast<std::chrono::milliseconds>(timeout)));
    EXPECT_EQ(view.label, "Cannot record");
    EXPECT_FALSE(controller.isBusy());
    EXPECT_EQ(view.appearance, RCCaptureWindowAppearance{});

    // The display answers: the late start is stopped again, and a new one runs.
    *real.screens->hangOnStart = false;
    ASSERT_TRUE(dispatch::runUntil(
        [&] {
            if (controller.captureState() == RCCaptureStateIdle) {
                controller.toggleCapture();  // refused while the late start is being stopped
            }
            return controller.captureState() == RCCaptureStateCapturing;
        },
        5s));
    now += 2;
    controller.toggleCapture();
    ASSERT_TRUE(dispatch::runUntil(
        [&] { return controller.captureState() == RCCaptureStateIdle && !controller.isBusy(); },
        5s));
}

TEST(CaptureRegion, CentreOffDisplaysUsesTheDisplayHoldingMost) {
    std::vector<Rect> displays = {{{0, 0}, {1000, 800}}, {{1200, 0}, {1000, 800}}};
    Rect onFirst{{100, 100}, {300, 200}};
    EXPECT_EQ(capture_region::frameForCapture(onFirst, displays), onFirst);
    // Centre (1150, 300) falls in the gap; 250 of its width lie on the second display, 150
    // on the first.
    Rect inGap{{850, 200}, {600, 200}};
    EXPECT_EQ(capture_region::frameForCapture(inGap, displays), (Rect{{1200, 200}, {250, 200}}));
    EXPECT_EQ(capture_region::frameForCapture({{-500, -500}, {100, 100}}, displays), std::nullopt);
}

}  // namespace
}  // namespace pindle
