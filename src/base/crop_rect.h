#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/geometry.h"

namespace pindle {

// A rectangle of whole pixels: x and y count from the top-left corner, right and down
// (unlike the y-up geometry of geometry.h). Of a screen, of a screen-cast stream, a size at
// the origin, or the part of a picture that a crop keeps.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int maxX() const { return x + width; }
    int maxY() const { return y + height; }
    Size size() const { return Size{double(width), double(height)}; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The part of a picture that is kept.
using CropRect = PixelRect;

// "X,Y,W,H".
std::string formatCropRect(const CropRect& rect);
// Four whole numbers separated by commas, x and y at least 0, width and height at least 1;
// none for anything else.
std::optional<CropRect> parseCropRect(std::string_view text);

// Whether rect lies inside a picture of the given size.
bool cropFitsInside(const CropRect& rect, Size picture);

// The part of rect inside a picture of the given size; none when nothing of it is left, or
// when it keeps the whole picture (no crop at all).
std::optional<CropRect> clampedCrop(const std::optional<CropRect>& rect, Size picture);

}  // namespace pindle
