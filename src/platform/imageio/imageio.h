#pragma once

#include <memory>

#include "platform/image_output.h"

namespace pindle::imageio {

// GIF writing with libimagequant palettes and giflib's LZW coder; JPEG with libjpeg-turbo.
std::shared_ptr<ImageOutput> makeImageOutput();

}  // namespace pindle::imageio
