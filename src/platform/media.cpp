#include "platform/media.h"

#include <cmath>
#include <mutex>

namespace pindle::media {

namespace {

std::mutex gOpenerMutex;  // guards gOpener
MovieOpener gOpener;

}  // namespace

void setMovieOpener(MovieOpener opener) {
    std::lock_guard lock(gOpenerMutex);
    gOpener = std::move(opener);
}

Result<MoviePtr> openMovie(const std::filesystem::path& file) {
    MovieOpener opener;
    {
        std::lock_guard lock(gOpenerMutex);
        opener = gOpener;
    }
    if (!opener) {
        return Error{"no movie reader installed"};
    }
    return opener(file);
}

Size fitInside(Size size, Size bound) {
    if (size.width <= 0 || size.height <= 0) {
        return Size{};
    }
    double scale = 1.0;
    if (bound.width > 0 && size.width > bound.width) {
        scale = bound.width / size.width;
    }
    if (bound.height > 0 && size.height * scale > bound.height) {
        scale = bound.height / size.height;
    }
    if (scale >= 1.0) {
        return size;
    }
    return Size{std::max(1.0, std::round(size.width * scale)),
                std::max(1.0, std::round(size.height * scale))};
}

Result<Image> Movie::copyImageAtTime(MediaTime time, Size maximumSize) const {
    FrameReaderOptions options;
    options.start = time;
    options.width = int(maximumSize.width);
    options.height = int(maximumSize.height);
    options.fitInside = true;
    auto reader = makeFrameReader(options);
    if (!reader) {
        return reader.error();
    }
    auto frame = (*reader)->nextFrame();
    if (!frame) {
        return frame.error();
    }
    if (!*frame || !(*frame)->image) {
        return Error{"no frame at " + time.description() + " in " + path().string()};
    }
    return *(*frame)->image;
}

}  // namespace pindle::media
