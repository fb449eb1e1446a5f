#include "capture/window/RCCaptureRegion.h"

#include <algorithm>

namespace pindle::capture_region {

Rect intersection(const Rect& a, const Rect& b) {
    double x0 = std::max(a.minX(), b.minX());
    double y0 = std::max(a.minY(), b.minY());
    double x1 = std::min(a.maxX(), b.maxX());
    double y1 = std::min(a.maxY(), b.maxY());
    if (x1 <= x0 || y1 <= y0) {
        return Rect{};
    }
    return Rect{{x0, y0}, {x1 - x0, y1 - y0}};
}

double intersectionArea(const Rect& a, const Rect& b) {
    Rect common = intersection(a, b);
    return common.width() * common.height();
}

std::optional<Rect> frameForCapture(const Rect& region, const std::vector<Rect>& displays) {
    Point centre{region.midX(), region.midY()};
    for (const Rect& display : displays) {
        if (display.contains(centre)) {
            return region;
        }
    }
    const Rect* best = nullptr;
    double bestArea = 0;
    for (const Rect& display : displays) {
        double area = intersectionArea(region, display);
        if (area > bestArea) {
            bestArea = area;
            best = &display;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return intersection(region, *best);
}

Size evenRegionWindowSize(Size proposed, double chromeWidth, double chromeHeight) {
    Size size = proposed;
    if (static_cast<long>(size.width - chromeWidth) % 2 != 0) {
        size.width -= 1;
    }
    if (static_cast<long>(size.height - chromeHeight) % 2 != 0) {
        size.height -= 1;
    }
    return size;
}

}  // namespace pindle::capture_region
