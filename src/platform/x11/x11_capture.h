#pragma once

#include <memory>
#include <string>

#include "platform/capture.h"

namespace pindle::x11 {

// Screen capture on an X server: RandR monitors for the display list, MIT-SHM grabs of the
// root window (plain GetImage where shared memory is not offered), the XFixes cursor image,
// click marks from XInput2 raw button events, and libswscale for the conversion to 420v.
//
// displayName is an X display such as ":3"; empty means $DISPLAY. screens() is empty when
// the server cannot be reached.
std::unique_ptr<ScreenCapturePlatform> makeScreenCapturePlatform(std::string displayName = {});

}  // namespace pindle::x11
