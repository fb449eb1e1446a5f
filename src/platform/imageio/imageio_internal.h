#pragma once

#include <filesystem>
#include <memory>

#include "platform/image_output.h"

namespace pindle::imageio {

Result<std::unique_ptr<GifWriter>> createGifWriter(const std::filesystem::path& file, int width,
                                                   int height);
Status writeJPEGFile(const Image& image, const std::filesystem::path& file);

}  // namespace pindle::imageio
