#pragma once

namespace pindle {

// A colour in the sRGB colour space: components from 0 to 1, straight (not premultiplied)
// alpha.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static constexpr Color white() { return Color{1, 1, 1, 1}; }
    static constexpr Color black(double alpha = 1) { return Color{0, 0, 0, alpha}; }

    friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace pindle
