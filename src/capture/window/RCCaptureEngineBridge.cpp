#include "capture/window/RCCaptureEngineBridge.h"

#include "base/dispatch.h"
#include "capture/RCCaptureEngine.h"

namespace pindle {

// The engine's delegate; it holds the controller until the bridge lets go of it.
class RCCaptureEngineBridge::Forwarder : public RCCaptureEngineDelegate {
public:
    RCCaptureWindowController* controller = nullptr;

    void captureEngineDidStartCapturing(RCCaptureEngine&) override {
        if (controller) {
            controller->captureEngineDidStartCapturing();
        }
    }
    void captureEngineDidFailToStartCapturing(RCCaptureEngine&, const Error& error) override {
        if (controller) {
            controller->captureEngineDidFailToStartCapturing(error.message);
        }
    }
    void captureEngineDidFailWhileCapturing(RCCaptureEngine&, const Error& error) override {
        if (controller) {
            controller->captureEngineDidFailWhileCapturing(error.message);
        }
    }
    void captureEngineDidStopCapturing(RCCaptureEngine&) override {
        if (controller) {
            controller->captureEngineDidStopCapturing();
        }
    }
    void captureEngineDidOutputCapture(RCCaptureEngine&) override {
        if (controller) {
            controller->captureEngineDidOutputCapture();
        }
    }
    void captureEngineDidFailToOutputCapture(RCCaptureEngine&, const Error& error) override {
        if (controller) {
            controller->captureEngineDidFailToOutputCapture(error.message);
        }
    }
};

RCCaptureEngineBridge::RCCaptureEngineBridge(std::shared_ptr<RCCaptureEngine> engine,
                                             double pointsPerWindowPoint)
    : engine_(std::move(engine)),
      scale_(pointsPerWindowPoint > 0 ? pointsPerWindowPoint : 1.0),
      forwarder_(std::make_shared<Forwarder>()) {
    engine_->setDelegate(forwarder_);
}

RCCaptureEngineBridge::~RCCaptureEngineBridge() {
    forwarder_->controller = nullptr;
}

void RCCaptureEngineBridge::setDelegate(RCCaptureWindowController* controller) {
    forwarder_->controller = controller;
}

void RCCaptureEngineBridge::startCapturingFrame(const Rect& frame,
                                                const RCCaptureStartOptions& options) {
    Rect scaled{{frame.minX() * scale_, frame.minY() * scale_},
                {frame.width() * scale_, frame.height() * scale_}};
    RCCaptureOptions engineOptions;
    engineOptions.captureCursor = options.captureCursor;
    engineOptions.captureMouseClicks = options.captureMouseClicks;
    Status started = engine_->startCapturingFrame(scaled, engineOptions);
    if (!started) {
        // Reported like the engine's own reports: later, on the main queue.
        std::weak_ptr<Forwarder> forwarder = forwarder_;
        std::string message = started.error().message;
        dispatch::mainQueue()->async([forwarder, message] {
            if (auto living = forwarder.lock(); living && living->controller) {
                living->controller->captureEngineDidFailToStartCapturing(message);
            }
        });
    }
}

void RCCaptureEngineBridge::stopCapturing() {
    engine_->stopCapturing();
}

void RCCaptureEngineBridge::outputCaptureResetBuffer(bool reset, std::function<void()> completion) {
    engine_->outputCaptureResetBuffer(reset, std::move(completion));
}

bool RCCaptureEngineBridge::isProcessing() const {
    return engine_->isProcessing();
}

}  // namespace pindle
