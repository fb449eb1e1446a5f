#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/capture.h"
#include "platform/defaults.h"

// Which screen-capture backend the program uses: Wayland's desktop portal and PipeWire when
// the session is a Wayland one whose portal offers screen casting, X11 otherwise;
// PINDLE_CAPTURE_BACKEND=x11|wayland forces one.
namespace pindle::cli {

struct CaptureBackendChoice {
    std::string name;    // "x11" or "wayland"
    std::string reason;  // why, in words for `doctor`
};

// An error when PINDLE_CAPTURE_BACKEND names no backend.
Result<CaptureBackendChoice> chooseCaptureBackend();

// The settings that keep the portal's restore token between runs.
void setCaptureSettings(std::shared_ptr<Defaults> settings);

// The chosen backend's platform.
std::unique_ptr<ScreenCapturePlatform> makeScreenCapture(const CaptureBackendChoice& choice);

// `pindle-capture doctor`: prints the backend and why, the portal's and PipeWire's versions
// and the displays the backend sees.
int runDoctor(const std::vector<std::string>& args);

}  // namespace pindle::cli
