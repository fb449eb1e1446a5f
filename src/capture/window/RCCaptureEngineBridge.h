#pragma once

#include <memory>

#include "capture/window/RCCaptureWindowController.h"

namespace pindle {

class RCCaptureEngine;

// Drives the capture engine for the capture window: passes its region on and brings the
// engine's reports back to the window controller.
//
// pointsPerWindowPoint converts the window's coordinates to the engine's, for a desktop
// whose windows are scaled apart from the screen (a Qt scale factor, say).
class RCCaptureEngineBridge : public RCCaptureEngineControl {
public:
    RCCaptureEngineBridge(std::shared_ptr<RCCaptureEngine> engine, double pointsPerWindowPoint);
    ~RCCaptureEngineBridge() override;

    void setDelegate(RCCaptureWindowController* controller) override;
    void startCapturingFrame(const Rect& frame, const RCCaptureStartOptions& options) override;
    void stopCapturing() override;
    void outputCaptureResetBuffer(bool reset, std::function<void()> completion) override;
    bool isProcessing() const override;

    RCCaptureEngine& engine() { return *engine_; }

private:
    class Forwarder;
    std::shared_ptr<RCCaptureEngine> engine_;
    double scale_;
    std::shared_ptr<Forwarder> forwarder_;
};

}  // namespace pindle
