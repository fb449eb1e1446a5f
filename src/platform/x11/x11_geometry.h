#pragma once

#include <string>
#include <vector>

#include "platform/capture.h"

// The arithmetic between X11 root-window pixels (origin top-left, y down) and the program's
// global screen coordinates (points, origin bottom-left of the primary display, y up).
namespace pindle::x11 {

// A rectangle of root-window pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// One RandR monitor.
struct Monitor {
    DisplayID displayID = 0;
    PixelRect pixels;
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

// The size in pixels of the frames delivered for a crop: its size in points, rounded, made
// even; at least 2 x 2.
PixelRect outputSizeForCrop(const Rect& crop);

// Pixels per point for an Xft.dpi resource value: 1 at 96 dots per inch, never below 1.
double scaleFactorForDpi(double dpi);

}  // namespace pindle::x11
