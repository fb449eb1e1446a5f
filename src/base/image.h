#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace pindle {

// A picture in memory: rows of 8-bit R, G, B, A samples (straight alpha), top row first.
// stride is the distance between rows in bytes (at least width * 4).
//
// Images handed between threads travel as std::shared_ptr<const Image>.
struct Image {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> pixels;

    Image() = default;
    // A transparent image of the given size with tightly packed rows.
    Image(int w, int h) : width(w), height(h), stride(w * 4), pixels(size_t(w) * h * 4, 0) {}

    bool isEmpty() const { return width <= 0 || height <= 0; }
    uint8_t* row(int y) { return pixels.data() + size_t(y) * stride; }
    const uint8_t* row(int y) const { return pixels.data() + size_t(y) * stride; }
};

using ImagePtr = std::shared_ptr<const Image>;

// The largest picture the program makes or reads: 16384 pixels a side and 64 Mpixel in all.
// Sizes that come from files are checked against it before memory is set aside for them.
constexpr int kMaximumPictureSide = 16384;
constexpr int64_t kMaximumPicturePixels = int64_t(64) * 1024 * 1024;

inline bool isAllowedPictureSize(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaximumPictureSide &&
           height <= kMaximumPictureSide && width * height <= kMaximumPicturePixels;
}

// The limits in words, for messages.
constexpr const char* kPictureSizeLimits = "at most 16384 pixels a side and 64 Mpixel in all";
static_assert(kMaximumPictureSide == 16384 && kMaximumPicturePixels == 64 << 20,
              "kPictureSizeLimits names the limits");

}  // namespace pindle
