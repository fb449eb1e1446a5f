#include "capture/CaptureGeometry.h"

#include <algorithm>
#include <cmath>

namespace pindle::capture_geometry {
namespace {

double overlapArea(const Rect& a, const Rect& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return (w > 0 && h > 0) ? w * h : 0;
}

// Single-precision rounding (halves away from zero), then the lowest bit cleared.
double evenPoints(double length) {
    const auto rounded = int32_t(std::lround(float(length)));
    return double(rounded & ~int32_t(1));
}

}  // namespace

Point displayCentreOfFrame(const Rect& frame, const Rect& firstScreenFrame) {
    const Rect& p = firstScreenFrame;
    return Point{frame.minX() + 0.5 * frame.width(),
                 (p.minY() + p.height()) - (frame.minY() + frame.height() - 0.5 * frame.height())};
}

Result<Screen> screenForFrame(const Rect& frame, const std::vector<Screen>& screens,
                              const std::vector<DisplayID>& displaysUnderCentre) {
    if (screens.empty()) {
        return Error{"no display is attached"};
    }
    if (!(frame.width() > 0 && frame.height() > 0)) {
        return Error{"the capture region is empty"};
    }
    if (!displaysUnderCentre.empty()) {
        for (const Screen& screen : screens) {
            if (screen.displayID == displaysUnderCentre.front()) {
                return screen;
            }
        }
    }
    const Screen* best = nullptr;
    double bestArea = 0;
    for (const Screen& screen : screens) {
        const double area = overlapArea(frame, screen.frame);
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    if (best == nullptr) {
        return Error{"the capture region lies on no display"};
    }
    return *best;
}

Rect cropRectForFrame(const Rect& frame, const Rect& screen) {
    const double X = frame.minX(), Y = frame.minY();
    const double Sx = screen.minX(), Sy = screen.minY();
    double w = frame.width();
    double h = frame.height();
    if (X + frame.width() > Sx + screen.width()) {
        w = (Sx + screen.width()) - X;
    }
    if (Y + frame.height() > Sy + screen.height()) {
        h = (Sy + screen.height()) - Y;
    }
    if (Sx > X) {
        w = w - (Sx - X);
    }
    if (Sy > Y) {
        h = h - (Sy - Y);
    }
    const double x0 = std::max(X, Sx);
    const double y0 = std::max(Y, Sy);
    return Rect{{x0 - Sx, y0 - Sy}, {std::max(0.0, evenPoints(w)), std::max(0.0, evenPoints(h))}};
}

int32_t bitRateForCropSize(double width, double height) {
    const float area = float(width * height);
    const float perFrame = area * 11.4f;
    const double perSecond = double(perFrame) * 60.0;
    return int32_t(std::min(perSecond, kMaxBitRate));
}

}  // namespace pindle::capture_geometry
