#include "platform/ffmpeg/descriptor_io.h"

extern "C" {
#include <libavformat/version.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace pindle::ffmpeg {
namespace {

constexpr int kBufferSize = 64 * 1024;

int descriptorOf(void* opaque) {
    return int(reinterpret_cast<intptr_t>(opaque));
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int writeAll(void* opaque, const uint8_t* data, int size) {
#else
int writeAll(void* opaque, uint8_t* data, int size) {
#endif
    const int fd = descriptorOf(opaque);
    int left = size;
    while (left > 0) {
        ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? AVERROR(errno) : AVERROR(EIO);
        }
        data += written;
        left -= int(written);
    }
    return size;
}

int64_t seekTo(void* opaque, int64_t offset, int whence) {
    const int fd = descriptorOf(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
    }
    off_t position = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

}  // namespace

AVIOContext* openDescriptorOutput(int fd) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer == nullptr) {
        return nullptr;
    }
    AVIOContext* output = avio_alloc_context(
        buffer, kBufferSize, 1, reinterpret_cast<void*>(intptr_t(fd)), nullptr, writeAll, seekTo);
    if (output == nullptr) {
        av_free(buffer);
    }
    return output;
}

int closeDescriptorOutput(AVIOContext** output) {
    if (*output == nullptr) {
        return 0;
    }
    avio_flush(*output);
    const int error = (*output)->error;
    av_freep(&(*output)->buffer);
    avio_context_free(output);
    return error < 0 ? error : 0;
}

}  // namespace pindle::ffmpeg
