#include "platform/x11/x11_geometry.h"

#include <algorithm>
#include <cmath>

namespace pindle::x11 {
namespace {

const Monitor* primaryMonitor(const std::vector<Monitor>& monitors) {
    for (const Monitor& monitor : monitors) {
        if (monitor.primary) {
            return &monitor;
        }
    }
    return monitors.empty() ? nullptr : &monitors.front();
}

}  // namespace

std::vector<Screen> screensForMonitors(const std::vector<Monitor>& monitors, double scale) {
    std::vector<Screen> screens;
    const Monitor* primary = primaryMonitor(monitors);
    if (primary == nullptr) {
        return screens;
    }
    const PixelRect& p = primary->pixels;
    auto screenOf = [&](const Monitor& m) {
        Screen screen;
        screen.displayID = m.displayID;
        screen.name = m.name;
        screen.backingScaleFactor = scale;
        screen.frame = Rect{{(m.pixels.x - p.x) / scale,
                             ((p.y + p.height) - (m.pixels.y + m.pixels.height)) / scale},
                            {m.pixels.width / scale, m.pixels.height / scale}};
        return screen;
    };
    screens.push_back(screenOf(*primary));
    for (const Monitor& monitor : monitors) {
        if (&monitor != primary) {
            screens.push_back(screenOf(monitor));
        }
    }
    return screens;
}

std::vector<DisplayID> monitorsContaining(const std::vector<Monitor>& monitors, Point point,
                                          double scale) {
    std::vector<DisplayID> found;
    const Monitor* primary = primaryMonitor(monitors);
    if (primary == nullptr) {
        return found;
    }
    const double x = primary->pixels.x + point.x * scale;
    const double y = primary->pixels.y + point.y * scale;
    for (const Monitor& m : monitors) {
        if (x >= m.pixels.x && x < m.pixels.x + m.pixels.width && y >= m.pixels.y &&
            y < m.pixels.y + m.pixels.height) {
            found.push_back(m.displayID);
        }
    }
    return found;
}

PixelRect grabRectForCrop(const PixelRect& monitor, const Rect& crop, double scale) {
    const auto left = double(monitor.x) + crop.minX() * scale;
    const auto top = double(monitor.y + monitor.height) - crop.maxY() * scale;
    const auto right = left + crop.width() * scale;
    const auto bottom = top + crop.height() * scale;
    const int x0 = std::max(monitor.x, int(std::lround(left)));
    const int y0 = std::max(monitor.y, int(std::lround(top)));
    const int x1 = std::min(monitor.x + monitor.width, int(std::lround(right)));
    const int y1 = std::min(monitor.y + monitor.height, int(std::lround(bottom)));
    if (x1 <= x0 || y1 <= y0) {
        return PixelRect{};
    }
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

double scaleFactorForDpi(double dpi) {
    if (!(dpi > 0)) {
        return 1.0;
    }
    // Quarter steps, as desktops offer them (120 dpi is 1.25).
    return std::max(1.0, std::round(dpi / 96.0 * 4.0) / 4.0);
}

}  // namespace pindle::x11
