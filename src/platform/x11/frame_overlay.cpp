#include "platform/x11/frame_overlay.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace pindle::x11 {
namespace {

// source over destination for one pixel; sa and the channels of s are premultiplied.
inline uint32_t over(uint32_t d, uint32_t s) {
    const uint32_t sa = s >> 24;
    if (sa == 0) {
        return d;
    }
    const uint32_t inverse = 255 - sa;
    uint32_t out = 0xff000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t sc = (s >> shift) & 0xff;
        const uint32_t dc = (d >> shift) & 0xff;
        const uint32_t c = std::min<uint32_t>(255, sc + (dc * inverse + 127) / 255);
        out |= c << shift;
    }
    return out;
}

inline uint32_t premultiplied(uint32_t r, uint32_t g, uint32_t b, double alpha) {
    const auto a = uint32_t(std::lround(std::clamp(alpha, 0.0, 1.0) * 255));
    return (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
}

}  // namespace

void drawPremultipliedImage(PixelImage image, const uint32_t* source, int sourceWidth,
                            int sourceHeight, int left, int top) {
    const int x0 = std::max(0, left);
    const int y0 = std::max(0, top);
    const int x1 = std::min(image.width, left + sourceWidth);
    const int y1 = std::min(image.height, top + sourceHeight);
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = image.pixels + std::ptrdiff_t(y) * image.strideWords;
        const uint32_t* sourceRow = source + std::ptrdiff_t(y - top) * sourceWidth;
        for (int x = x0; x < x1; ++x) {
            row[x] = over(row[x], sourceRow[x - left]);
        }
    }
}

void drawClickMark(PixelImage image, int x, int y, double strength) {
    const int r = kClickMarkRadius;
    const uint32_t fill = premultiplied(255, 214, 10, 0.55 * strength);
    const uint32_t rim = premultiplied(200, 120, 0, 0.9 * strength);
    for (int py = std::max(0, y - r); py < std::min(image.height, y + r + 1); ++py) {
        uint32_t* row = image.pixels + std::ptrdiff_t(py) * image.strideWords;
        for (int px = std::max(0, x - r); px < std::min(image.width, x + r + 1); ++px) {
            const double distance = std::hypot(px - x, py - y);
            if (distance <= r - 3) {
                row[px] = over(row[px], fill);
            } else if (distance <= r) {
                row[px] = over(row[px], rim);
            }
        }
    }
}

}  // namespace pindle::x11
