#include <cstddef>
#include <cstdio>

#include <unistd.h>

#include <jpeglib.h>

#include <csetjmp>
#include <filesystem>
#include <memory>
#include <string>

#include "base/atomic_file.h"
#include "platform/imageio/imageio.h"
#include "platform/imageio/imageio_internal.h"

namespace pindle::imageio {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onJpegError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

class ImageOutputImpl final : public ImageOutput {
public:
    Result<std::unique_ptr<GifWriter>> createGIF(const std::filesystem::path& file, int width,
                                                 int height) override {
        return createGifWriter(file, width, height);
    }
    Status writeJPEG(const Image& image, const std::filesystem::path& file) override {
        return writeJPEGFile(image, file);
    }
};

}  // namespace

Status writeJPEGFile(const Image& image, const std::filesystem::path& file) {
    if (image.isEmpty()) {
        return Error{"no picture to write to " + file.string()};
    }
    // Written beside file and put in its place when complete: a failure leaves whatever
    // file was there.
    auto replacement = FileReplacement::begin(file);
    if (!replacement) {
        return replacement.error();
    }
    int fd = replacement->duplicate();
    std::unique_ptr<std::FILE, FileCloser> out(::fdopen(fd, "wb"));
    if (!out) {
        ::close(fd);
        return Error{"cannot create " + file.string()};
    }
    jpeg_compress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onJpegError;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&info);
        return Error{"cannot write " + file.string() + ": " + errors.message};
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out.get());
    info.image_width = JDIMENSION(image.width);
    info.image_height = JDIMENSION(image.height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.row(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    bool written = std::fflush(out.get()) == 0 && !std::ferror(out.get());
    if (std::fclose(out.release()) != 0 || !written) {
        return Error{"cannot write " + file.string()};
    }
    return replacement->commit();
}

std::shared_ptr<ImageOutput> makeImageOutput() {
    return std::make_shared<ImageOutputImpl>();
}

}  // namespace pindle::imageio
