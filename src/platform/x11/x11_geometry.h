#pragma once

#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/capture_backend.h"

// The arithmetic between X11 root-window pixels (origin top-left, y down) and the program's
// global screen coordinates (points, origin bottom-left of the primary display, y up).
namespace pindle::x11 {

// One RandR monitor.
struct Monitor {
    DisplayID displayID = 0;
    PixelRect pixels;  // root-window pixels
    bool primary = false;
    std::string name;
};

// The screens of the monitors: the primary monitor first (else the first one), the others in
// their order, each frame in global coordinates at scale pixels per point.
std::vector<Screen> screensForMonitors(const std::vector<Monitor>& monitors, double scale);

// The monitors holding a point given in points from the primary monitor's top-left corner,
// y down.
std::vector<DisplayID> monitorsContaining(const std::vector<Monitor>& monitors, Point point,
                                          double scale);

// The root pixels to grab for a crop rectangle given relative to the monitor's bottom-left
// corner in points, y up; kept inside the monitor. Empty when nothing of the crop is on it.
PixelRect grabRectForCrop(const PixelRect& monitor, const Rect& crop, double scale);

// Pixels per point for an Xft.dpi resource value: 1 at 96 dots per inch, never below 1.
double scaleFactorForDpi(double dpi);

}  // namespace pindle::x11
