#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/notifications.h"
#include "capture/window/RCCaptureLastButtonModel.h"
#include "capture/window/RCCaptureSizeWindowController.h"

namespace pindle {

class RCUserSettings;
class RCCaptureWindowController;

enum RCCaptureState : int32_t {
    RCCaptureStateStopping = 0,
    RCCaptureStateIdle = 1,
    RCCaptureStateStarting = 2,
    RCCaptureStateCapturing = 3,
};

struct RCCaptureStartOptions {
    bool captureCursor = false;
    bool captureMouseClicks = false;
};

// The capture engine as the capture window drives it. Reports come back on the main queue
// through the controller's captureEngineDid... operations.
class RCCaptureEngineControl {
public:
    virtual ~RCCaptureEngineControl() = default;
    virtual void setDelegate(RCCaptureWindowController* controller) = 0;
    virtual void startCapturingFrame(const Rect& frame, const RCCaptureStartOptions& options) = 0;
    virtual void stopCapturing() = 0;
    virtual void outputCaptureResetBuffer(bool reset, std::function<void()> completion) = 0;
    virtual bool isProcessing() const = 0;
};

// What the window shows, as the controller decides it.
struct RCCaptureWindowAppearance {
    bool captureViewVisible = true;
    bool movable = true;
    bool resizable = true;  // the resize grip with it
    bool gearButtonVisible = true;
    bool titleBarVisible = true;
    bool recordButtonCapturing = false;
    bool captureLastButtonVisible = false;
    // The screen around the capture frame is dimmed while this is set.
    std::optional<Rect> dimmedGlassFrame;
    friend bool operator==(const RCCaptureWindowAppearance&,
                           const RCCaptureWindowAppearance&) = default;
};

// The capture window as its controller sees it. Frames are global screen coordinates; the
// window frame covers the title bar, the capture region and the control strip.
class RCCaptureWindowView {
public:
    virtual ~RCCaptureWindowView() = default;
    virtual Rect windowFrame() const = 0;
    // The capture view (the see-through region) in global coordinates.
    virtual Rect captureViewFrame() const = 0;
    virtual void setWindowFrame(const Rect& frame, bool animate) = 0;
    // Title bar plus control strip; the borders left and right of the region.
    virtual double chromeHeight() const = 0;
    virtual double chromeWidth() const { return 0; }
    virtual std::vector<Rect> displayFrames() const = 0;
    virtual void showDimensionsText(const std::string& text) = 0;
    virtual void applyAppearance(const RCCaptureWindowAppearance& appearance) = 0;
    virtual void captureLastButtonChanged(const RCCaptureLastButtonModel& model) = 0;
    virtual void setCountdownTimerRunning(bool running) = 0;
};

// Runs the capture window: its region and size, the capture states, the elapsed time, the
// capture-last action and the size sheet. Main thread only.
//
// States: 1 idle -> 2 starting (startCapture) -> 3 capturing (the engine's start report)
// -> 0 stopping (an accepted stopCapture, or the engine failing while capturing) -> 1 (the
// engine's stop report, in whatever state it finds the window). A start the engine cannot
// make goes from 2 back to 1. Each failure shows a short status on the size label.
class RCCaptureWindowController {
public:
    static constexpr const char* kStartCaptureNotification =
        "RCCaptureWindowStartCaptureNotification";
    static constexpr const char* kStopCaptureNotification =
        "RCCaptureWindowStopCaptureNotification";
    // The saved window frame, "x y width height" in global coordinates.
    static constexpr const char* kFrameDefaultsKey = "RCCaptureWindowFrame";
    static constexpr Size kFirstLaunchRegionSize{640, 320};
    static constexpr std::chrono::milliseconds kStartDelay{100};
    // A start the engine has not reported on by then is given up (a display that does not
    // answer): the window goes back to idle.
    static constexpr std::chrono::seconds kStartTimeout{5};
    static constexpr std::chrono::milliseconds kTickInterval{100};
    static constexpr double kShortestCaptureSeconds = 1.0;
    static constexpr std::chrono::seconds kStatusTextDuration{2};
    // The status of a capture that could not be saved because the disk is full.
    static constexpr const char* kDiskFullText = "Not saved: disk full";

    using Clock = std::function<double()>;  // seconds on a steady clock

    RCCaptureWindowController(RCUserSettings& settings,
                              std::unique_ptr<RCCaptureEngineControl> engine,
                              NotificationCenter& center = NotificationCenter::defaultCenter(),
                              Clock clock = {});
    ~RCCaptureWindowController();
    RCCaptureWindowController(const RCCaptureWindowController&) = delete;
    RCCaptureWindowController& operator=(const RCCaptureWindowController&) = delete;

    // The window is ready: size it (first launch) or restore its saved frame, and show the
    // idle state.
    void windowDidLoad(RCCaptureWindowView* view);

    Rect captureFrame() const;
    // Gives the capture region the frame's size; the window's top-left corner stays.
    void setCaptureFrame(const Rect& frame, bool display, bool animate);
    Size windowWillResize(Size proposed) const;
    void windowDidMoveOrResize();

    void toggleCapture();
    void startCapture();
    void stopCapture();
    bool isCapturing() const { return captureState_ != RCCaptureStateIdle; }
    bool isBusy() const;
    RCCaptureState captureState() const { return captureState_; }

    // Ignored unless the window is starting (a start given up on stops the engine again).
    void captureEngineDidStartCapturing();
    void captureEngineDidStopCapturing();
    void captureEngineDidOutputCapture() {}
    // The engine could not start (no display under the region, the X server gone): back to
    // idle, with a short status on the size label.
    void captureEngineDidFailToStartCapturing(const std::string& message);
    // Frames could not be encoded: the engine stops on its own (its stop report follows);
    // the window shows the capture as stopping, with a short status on the size label.
    void captureEngineDidFailWhileCapturing(const std::string& message);
    // A movie could not be written (or nothing was recorded); the engine has removed its
    // placeholder again.
    void captureEngineDidFailToOutputCapture(const std::string& message);

    // The repeating 0.1 s timer while capturing.
    void countdownTick();
    void captureLastButtonClicked();

    // The size sheet for the current region; a confirmed size resizes the region.
    std::unique_ptr<RCCaptureSizeWindowController> makeCaptureSizeWindowController();
    void captureSizeWindowDidSetSize(Size size);

    const RCCaptureLastButtonModel& captureLastButton() const { return captureLastButton_; }
    const RCCaptureWindowAppearance& appearance() const { return appearance_; }
    std::string dimensionsText() const;
    void updateCaptureDimensionsLabel();

private:
    void apply();
    // Capturing (or starting) -> stopping: the window shows the stop at once.
    void showStopping();
    void showStatusText(const std::string& text);
    void saveFrame();
    std::optional<Rect> savedFrame() const;

    RCUserSettings& settings_;
    std::unique_ptr<RCCaptureEngineControl> engine_;
    NotificationCenter& center_;
    Clock clock_;
    RCCaptureWindowView* view_ = nullptr;
    RCCaptureState captureState_ = RCCaptureStateIdle;
    double captureStartTime_ = 0;
    RCCaptureLastButtonModel captureLastButton_;
    RCCaptureWindowAppearance appearance_;
    // Delayed calls check it, so none runs after the controller is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    unsigned statusGeneration_ = 0;
    // A capture that could not be saved is what the status says until it reverts: a failed
    // library save that comes with it (the same full disk) does not replace it.
    bool showingCaptureFailure_ = false;
    // A library save that failed shows as a short status.
    NotificationCenter::Token librarySaveFailed_;
    unsigned startGeneration_ = 0;
};

}  // namespace pindle
