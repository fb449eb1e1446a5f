#pragma once

#include <vector>

#include "base/result.h"
#include "platform/wayland/wayland_geometry.h"

namespace pindle::wayland {

// The outputs of the Wayland display named by $WAYLAND_DISPLAY: wl_output for modes and
// scales, xdg-output for the logical places. An error when the display cannot be reached.
Result<std::vector<Output>> queryOutputs();

}  // namespace pindle::wayland
