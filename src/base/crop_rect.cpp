#include "base/crop_rect.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace pindle {
namespace {

int pixels(double value) {
    if (!std::isfinite(value) || value <= 0) {
        return 0;
    }
    return int(std::min(std::floor(value), double(std::numeric_limits<int>::max() / 2)));
}

}  // namespace

std::string formatCropRect(const CropRect& rect) {
    return std::to_string(rect.x) + "," + std::to_string(rect.y) + "," +
           std::to_string(rect.width) + "," + std::to_string(rect.height);
}

std::optional<CropRect> parseCropRect(std::string_view text) {
    int values[4];
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at == end || *at != ',') {
                return std::nullopt;
            }
            ++at;
        }
        // from_chars takes no sign or space, so "-1" and " 1" are refused here.
        if (at == end || *at < '0' || *at > '9') {
            return std::nullopt;
        }
        auto [next, error] = std::from_chars(at, end, values[i]);
        if (error != std::errc{}) {
            return std::nullopt;
        }
        at = next;
    }
    if (at != end || values[2] < 1 || values[3] < 1 ||
        values[0] > std::numeric_limits<int>::max() - values[2] ||
        values[1] > std::numeric_limits<int>::max() - values[3]) {
        return std::nullopt;
    }
    return CropRect{values[0], values[1], values[2], values[3]};
}

bool cropFitsInside(const CropRect& rect, Size picture) {
    return rect.x >= 0 && rect.y >= 0 && rect.width > 0 && rect.height > 0 &&
           rect.maxX() <= pixels(picture.width) && rect.maxY() <= pixels(picture.height);
}

std::optional<CropRect> clampedCrop(const std::optional<CropRect>& rect, Size picture) {
    if (!rect) {
        return std::nullopt;
    }
    int width = pixels(picture.width);
    int height = pixels(picture.height);
    int left = std::clamp(rect->x, 0, width);
    int top = std::clamp(rect->y, 0, height);
    int right =
        std::clamp(int(std::min<long long>(static_cast<long long>(rect->x) + rect->width, width)),
                   left, width);
    int bottom =
        std::clamp(int(std::min<long long>(static_cast<long long>(rect->y) + rect->height, height)),
                   top, height);
    CropRect clamped{left, top, right - left, bottom - top};
    if (clamped.width <= 0 || clamped.height <= 0 || clamped == CropRect{0, 0, width, height}) {
        return std::nullopt;
    }
    return clamped;
}

}  // namespace pindle
