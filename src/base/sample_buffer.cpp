#include "base/sample_buffer.h"

namespace pindle {

std::shared_ptr<PixelBuffer> PixelBuffer::make420v(int width, int height) {
    auto buffer = std::make_shared<PixelBuffer>();
    buffer->reset420v(width, height);
    return buffer;
}

void PixelBuffer::reset420v(int w, int h) {
    pixelFormat = kPixelFormat420v;
    width = w;
    height = h;
    const size_t lumaSize = size_t(w) * h;
    storage.resize(lumaSize + lumaSize / 2);
    strides[0] = w;
    strides[1] = w;
    planes[0] = storage.data();
    planes[1] = storage.data() + lumaSize;
}

std::string fourCCString(uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (24 - 8 * i)) & 0xff);
        text[i] = (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

}  // namespace pindle
