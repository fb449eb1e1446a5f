#include "capture/window/RCCaptureWindowController.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "base/dispatch.h"
#include "base/log.h"
#include "capture/window/RCCaptureRegion.h"
#include "library/RCDataStore.h"
#include "settings/RCUserSettings.h"

namespace pindle {
namespace {

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool touchesAnyDisplay(const Rect& frame, const std::vector<Rect>& displays) {
    for (const Rect& display : displays) {
        if (capture_region::intersectionArea(frame, display) > 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

RCCaptureWindowController::RCCaptureWindowController(RCUserSettings& settings,
                                                     std::unique_ptr<RCCaptureEngineControl> engine,
                                                     NotificationCenter& center, Clock clock)
    : settings_(settings),
      engine_(std::move(engine)),
      center_(center),
      clock_(clock ? std::move(clock) : Clock(steadySeconds)) {
    if (engine_) {
        engine_->setDelegate(this);
    }
    librarySaveFailed_ = center_.addObserver(RCDataStore::kSaveFailedNotification, nullptr,
                                             [this](const Notification&) {
                                                 if (!showingCaptureFailure_) {
                                                     showStatusText("Library not saved");
                                                 }
                                             });
}

RCCaptureWindowController::~RCCaptureWindowController() {
    *alive_ = false;
    if (engine_) {
        engine_->setDelegate(nullptr);
    }
}

void RCCaptureWindowController::windowDidLoad(RCCaptureWindowView* view) {
    view_ = view;
    std::vector<Rect> displays = view_->displayFrames();
    std::optional<Rect> saved = settings_.isFirstLaunch() ? std::nullopt : savedFrame();
    if (saved && touchesAnyDisplay(*saved, displays)) {
        view_->setWindowFrame(*saved, false);
    } else {
        // First launch, or a saved frame on a display that is gone: the default region in
        // the middle of the primary display.
        Size size = kFirstLaunchRegionSize;
        Rect window = view_->windowFrame();
        double height = size.height + view_->chromeHeight();
        if (!displays.empty()) {
            const Rect& primary = displays.front();
            window.origin.x = std::round(primary.midX() - (size.width + view_->chromeWidth()) / 2);
            window.origin.y = std::round(primary.midY() - height / 2);
            // A window taller or wider than the display keeps its title bar on it.
            window.origin.y = std::min(window.origin.y, primary.maxY() - height);
            window.origin.x = std::max(window.origin.x, primary.minX());
        }
        window.size = {size.width + view_->chromeWidth(), height};
        view_->setWindowFrame(window, false);
    }
    captureState_ = RCCaptureStateIdle;
    appearance_ = RCCaptureWindowAppearance{};
    apply();
    updateCaptureDimensionsLabel();
}

Rect RCCaptureWindowController::captureFrame() const {
    return view_ ? view_->captureViewFrame() : Rect{};
}

void RCCaptureWindowController::setCaptureFrame(const Rect& frame, bool /*display*/, bool animate) {
    if (!view_) {
        return;
    }
    Rect window = view_->windowFrame();
    double height = frame.height() + view_->chromeHeight();
    // Global coordinates grow upwards: keeping the top edge moves the origin.
    window.origin.y = window.maxY() - height;
    window.size = {frame.width() + view_->chromeWidth(), height};
    view_->setWindowFrame(window, animate);
    windowDidMoveOrResize();
}

Size RCCaptureWindowController::windowWillResize(Size proposed) const {
    if (!view_) {
        return proposed;
    }
    return capture_region::evenRegionWindowSize(proposed, view_->chromeWidth(),
                                                view_->chromeHeight());
}

void RCCaptureWindowController::windowDidMoveOrResize() {
    updateCaptureDimensionsLabel();
    saveFrame();
}

std::string RCCaptureWindowController::dimensionsText() const {
    Rect frame = captureFrame();
    char text[64];
    std::snprintf(text, sizeof text, "%d x %d", static_cast<int>(frame.width()),
                  static_cast<int>(frame.height()));
    return text;
}

void RCCaptureWindowController::updateCaptureDimensionsLabel() {
    ++statusGeneration_;
    if (view_) {
        view_->showDimensionsText(dimensionsText());
    }
}

void RCCaptureWindowController::showStatusText(const std::string& text) {
    PINDLE_LOG_INFO("capture", "status shown: %s", text.c_str());
    unsigned generation = ++statusGeneration_;
    showingCaptureFailure_ = false;
    if (view_) {
        view_->showDimensionsText(text);
    }
    std::weak_ptr<bool> alive = alive_;
    dispatch::after(kStatusTextDuration, dispatch::mainQueue(), [this, alive, generation] {
        auto living = alive.lock();
        if (living && *living && generation == statusGeneration_) {
            showingCaptureFailure_ = false;
            updateCaptureDimensionsLabel();
        }
    });
}

void RCCaptureWindowController::saveFrame() {
    if (!view_) {
        return;
    }
    Rect frame = view_->windowFrame();
    std::ostringstream text;
    text << frame.minX() << ' ' << frame.minY() << ' ' << frame.width() << ' ' << frame.height();
    settings_.defaults().setString(kFrameDefaultsKey, text.str());
}

std::optional<Rect> RCCaptureWindowController::savedFrame() const {
    auto text = settings_.defaults().stringForKey(kFrameDefaultsKey);
    if (!text) {
        return std::nullopt;
    }
    std::istringstream in(*text);
    Rect frame;
    if (!(in >> frame.origin.x >> frame.origin.y >> frame.size.width >> frame.size.height) ||
        frame.width() <= 0 || frame.height() <= 0 || !std::isfinite(frame.minX()) ||
        !std::isfinite(frame.minY())) {
        return std::nullopt;
    }
    return frame;
}

void RCCaptureWindowController::apply() {
    if (view_) {
        view_->applyAppearance(appearance_);
    }
}

void RCCaptureWindowController::toggleCapture() {
    if (captureState_ == RCCaptureStateCapturing) {
        stopCapture();
    } else if (captureState_ == RCCaptureStateIdle) {
        startCapture();
    }
}

bool RCCaptureWindowController::isBusy() const {
    return isCapturing() || (engine_ && engine_->isProcessing());
}

void RCCaptureWindowController::startCapture() {
    if (captureState_ != RCCaptureStateIdle || !view_) {
        return;
    }
    if (!engine_) {
        showStatusText("Cannot record");
        return;
    }
    Rect region = captureFrame();
    std::optional<Rect> frame = capture_region::frameForCapture(region, view_->displayFrames());
    if (!frame) {
        PINDLE_LOG_WARNING("capture", "the capture region lies on no display; not starting");
        showStatusText("Off screen");
        return;
    }
    captureState_ = RCCaptureStateStarting;
    appearance_.movable = false;
    appearance_.captureViewVisible = false;
    appearance_.gearButtonVisible = false;
    appearance_.resizable = false;
    appearance_.dimmedGlassFrame = region;
    appearance_.titleBarVisible = false;
    apply();

    RCCaptureStartOptions options{settings_.captureMouseCursor(), settings_.captureMouseClicks()};
    std::weak_ptr<bool> alive = alive_;
    Rect target = *frame;
    dispatch::after(kStartDelay, dispatch::mainQueue(), [this, alive, target, options] {
        auto living = alive.lock();
        if (living && *living && engine_) {
            engine_->startCapturingFrame(target, options);
        }
    });
    const unsigned generation = ++startGeneration_;
    dispatch::after(kStartDelay + kStartTimeout, dispatch::mainQueue(), [this, alive, generation] {
        auto living = alive.lock();
        if (!living || !*living || generation != startGeneration_ ||
            captureState_ != RCCaptureStateStarting) {
            return;
        }
        if (engine_) {
            engine_->stopCapturing();  // in case it starts after all
        }
        captureEngineDidFailToStartCapturing("the capture did not start in time");
    });
    center_.post(kStartCaptureNotification, this);
}

void RCCaptureWindowController::captureEngineDidStartCapturing() {
    if (captureState_ != RCCaptureStateStarting) {
        return;
    }
    captureState_ = RCCaptureStateCapturing;
    captureStartTime_ = clock_();
    appearance_.recordButtonCapturing = true;
    appearance_.captureLastButtonVisible = true;
    apply();
    if (view_) {
        view_->setCountdownTimerRunning(true);
    }
}

void RCCaptureWindowController::countdownTick() {
    if (captureState_ != RCCaptureStateCapturing) {
        return;
    }
    if (captureLastButton_.setElapsedTime(clock_() - captureStartTime_) && view_) {
        view_->captureLastButtonChanged(captureLastButton_);
    }
}

void RCCaptureWindowController::stopCapture() {
    if (captureState_ != RCCaptureStateCapturing ||
        clock_() - captureStartTime_ < kShortestCaptureSeconds) {
        return;
    }
    if (engine_) {
        engine_->stopCapturing();
    }
    showStopping();
}

void RCCaptureWindowController::showStopping() {
    captureState_ = RCCaptureStateStopping;
    if (view_) {
        view_->setCountdownTimerRunning(false);
    }
    appearance_.dimmedGlassFrame.reset();
    appearance_.recordButtonCapturing = false;
    appearance_.gearButtonVisible = true;
    appearance_.captureLastButtonVisible = false;
    appearance_.resizable = true;
    apply();
    captureLastButton_.reset();
    if (view_) {
        view_->captureLastButtonChanged(captureLastButton_);
    }
    center_.post(kStopCaptureNotification, this);
}

void RCCaptureWindowController::captureEngineDidStopCapturing() {
    // Whatever state the window is in (the engine may stop on its own), a stopped engine
    // leaves it idle.
    if (view_) {
        view_->setCountdownTimerRunning(false);
    }
    captureState_ = RCCaptureStateIdle;
    appearance_ = RCCaptureWindowAppearance{};
    apply();
    if (captureLastButton_.elapsedTime() != 0) {
        captureLastButton_.reset();
        if (view_) {
            view_->captureLastButtonChanged(captureLastButton_);
        }
    }
}

void RCCaptureWindowController::captureEngineDidFailToStartCapturing(const std::string& message) {
    PINDLE_LOG_WARNING("capture", "recording did not start: %s", message.c_str());
    if (view_) {
        view_->setCountdownTimerRunning(false);
    }
    captureState_ = RCCaptureStateIdle;
    appearance_ = RCCaptureWindowAppearance{};
    apply();
    captureLastButton_.reset();
    if (view_) {
        view_->captureLastButtonChanged(captureLastButton_);
    }
    center_.post(kStopCaptureNotification, this);
    showStatusText("Cannot record");
}

void RCCaptureWindowController::captureEngineDidFailWhileCapturing(const std::string& message) {
    PINDLE_LOG_WARNING("capture", "recording ended: %s", message.c_str());
    if (captureState_ == RCCaptureStateCapturing || captureState_ == RCCaptureStateStarting) {
        showStopping();
    }
    showStatusText("Recording failed");
}

void RCCaptureWindowController::captureEngineDidFailToOutputCapture(const std::string& message) {
    PINDLE_LOG_WARNING("capture", "a capture could not be saved: %s", message.c_str());
    // A full disk is the one cause the user can do something about.
    const bool full = message.find(std::strerror(ENOSPC)) != std::string::npos ||
                      message.find(std::strerror(EDQUOT)) != std::string::npos;
    showStatusText(full ? kDiskFullText : "Not saved");
    showingCaptureFailure_ = true;
}

void RCCaptureWindowController::captureLastButtonClicked() {
    if (captureState_ != RCCaptureStateCapturing || !captureLastButton_.acceptsClicks() ||
        !engine_) {
        return;
    }
    engine_->outputCaptureResetBuffer(false, nullptr);
}

std::unique_ptr<RCCaptureSizeWindowController>
RCCaptureWindowController::makeCaptureSizeWindowController() {
    return std::make_unique<RCCaptureSizeWindowController>(
        captureFrame().size, settings_, [this](Size size) { captureSizeWindowDidSetSize(size); });
}

void RCCaptureWindowController::captureSizeWindowDidSetSize(Size size) {
    setCaptureFrame(Rect{captureFrame().origin, size}, true, true);
}

}  // namespace pindle
