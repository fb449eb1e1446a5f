#include "platform/media.h"

#include <cmath>
#include <mutex>

namespace pindle::media {

namespace {

std::mutex gOpenerMutex;  // guards gOpener
MovieOpener gOpener;

// Reads on from the last frame given when the next one is asked for; otherwise opens a new
// reader at the frame asked for.
class ReaderFrameSource final : public FrameSource {
public:
    ReaderFrameSource(const Movie& movie, std::vector<MediaTime> times)
        : movie_(movie), times_(std::move(times)) {}

    const std::vector<MediaTime>& frameTimes() const override { return times_; }

    Result<Frame> frame(size_t index, Size maximumSize) override {
        if (index >= times_.size()) {
            return Error{"no frame " + std::to_string(index) + " in " + movie_.path().string()};
        }
        if (!reader_ || index != nextIndex_ || maximumSize != size_) {
            FrameReaderOptions options;
            options.start = times_[index];
            options.width = int(maximumSize.width);
            options.height = int(maximumSize.height);
            options.fitInside = true;
            auto reader = movie_.makeFrameReader(options);
            if (!reader) {
                reader_.reset();
                return reader.error();
            }
            reader_ = std::move(*reader);
            size_ = maximumSize;
        }
        auto frame = reader_->nextFrame();
        if (!frame || !*frame) {
            reader_.reset();
            if (!frame) {
                return frame.error();
            }
            return Error{"no frame " + std::to_string(index) + " in " + movie_.path().string()};
        }
        nextIndex_ = index + 1;
        return std::move(**frame);
    }

private:
    const Movie& movie_;
    std::vector<MediaTime> times_;
    std::unique_ptr<FrameReader> reader_;
    size_t nextIndex_ = 0;
    Size size_;
};

}  // namespace

Result<std::unique_ptr<FrameSource>> Movie::makeFrameSource() const {
    auto times = presentationTimes();
    if (!times) {
        return times.error();
    }
    return std::unique_ptr<FrameSource>(std::make_unique<ReaderFrameSource>(*this, *times));
}

void setMovieOpener(MovieOpener opener) {
    std::lock_guard lock(gOpenerMutex);
    gOpener = std::move(opener);
}

bool hasMovieOpener() {
    std::lock_guard lock(gOpenerMutex);
    return bool(gOpener);
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

Result<Image> Movie::copyImageAtTime(MediaTime time, Size maximumSize,
                                     std::optional<CropRect> crop) const {
    FrameReaderOptions options;
    options.crop = crop;
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
