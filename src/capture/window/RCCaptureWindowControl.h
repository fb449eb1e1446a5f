#pragma once

namespace pindle {

// The capture window as the application drives it: shown at launch, minimised and restored,
// started and stopped by the global shortcut, and asked whether a quit may go ahead.
class RCCaptureWindowControl {
public:
    virtual ~RCCaptureWindowControl() = default;
    virtual void showWindow() = 0;
    virtual bool isMiniaturized() const = 0;
    virtual void miniaturize() = 0;
    virtual void deminiaturize() = 0;
    virtual void toggleCapture() = 0;
    // Saves the ring's last seconds while capturing, as the capture-last button does.
    virtual void captureLast() = 0;
    // Capturing, or a movie still being written.
    virtual bool isBusy() const = 0;
    virtual void openGearMenu() = 0;
};

}  // namespace pindle
