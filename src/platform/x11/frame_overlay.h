#pragma once

#include <cstdint>

// Drawing the mouse pointer and click marks into a grabbed picture: 32-bit pixels, each a
// native-endian 0xAARRGGBB word (the alpha byte of the grab is ignored).
namespace pindle::x11 {

struct PixelImage {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int strideWords = 0;  // distance between rows, in pixels
};

// Composites a premultiplied ARGB picture (the XFixes cursor image) with its top-left
// corner at (left, top) of image; parts outside the image are clipped.
void drawPremultipliedImage(PixelImage image, const uint32_t* source, int sourceWidth,
                            int sourceHeight, int left, int top);

// A click mark centred at (x, y): a filled disc with a darker rim. strength from 0 to 1
// fades it out.
void drawClickMark(PixelImage image, int x, int y, double strength);

constexpr int kClickMarkRadius = 14;

}  // namespace pindle::x11
