#pragma once

#include <memory>
#include <string>

#include "platform/capture.h"
#include "platform/defaults.h"

namespace pindle::wayland {

// Screen capture on a Wayland desktop: the outputs from wl_output and xdg-output, a monitor
// shared through the desktop portal's screen-cast interface, its PipeWire stream read from
// shared memory (or mapped DMA-BUF), cropped and converted to 420v with libswscale.
//
// The portal asks the user once which screen to share; the token it hands back to skip the
// question next time is kept in settings under kRestoreTokenKey. settings may be null.
std::unique_ptr<ScreenCapturePlatform> makeScreenCapturePlatform(
    std::shared_ptr<Defaults> settings);

inline constexpr const char* kRestoreTokenKey = "WaylandScreenCastRestoreToken";

// The PipeWire library's version, as loaded.
std::string pipeWireVersion();

}  // namespace pindle::wayland
