#include <fcntl.h>
#include <gif_lib.h>
#include <libimagequant.h>
#include <omp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/atomic_file.h"
#include "base/log.h"
#include "platform/imageio/imageio_internal.h"

namespace pindle::imageio {
namespace {

constexpr const char* kTag = "gif";

// A pixel whose colour moved by at most this much on every channel since it was last
// written counts as unchanged and is left to show through. Any change counts: the noise of
// a lossy intermediate movie is dealt with by the slack below, which compares with what the
// GIF shows, so slow fades cannot creep.
constexpr int kUnchangedTolerance = 0;

// libimagequant: speed 1 (best) .. 10 (fastest). Below 4 palettes improve little for the
// time they take. Frames that redraw much of the picture (scrolling, video; see
// qualityTarget) are most of the work of such clips and are shown briefly: a faster search
// (6) costs them little (on video about 0.001 of SSIM for a third less time; 8 loses
// visibly on scrolling text at 1280 wide).
constexpr int kQuantiserSpeed = 4;
constexpr int kRedrawQuantiserSpeed = 6;
// Light dithering: smooth gradients without the noise that full dithering spreads over
// flat areas and text edges, which costs bytes and structure.
constexpr float kDitheringLevel = 0.25f;

// The colour budget. A frame that changes a small part of the picture (a dialog, a menu, a
// pointer) gets up to 256 colours: what it draws stays on screen for many frames. A frame
// that redraws much of the picture (scrolling, video) stops adding colours at a quality
// target (0-100) that rises as pictures get smaller, where every pixel carries more of the
// picture: 90 at 1280 x 720 and above, about 94 at 480 x 270, 97 at 320 x 180.
constexpr int kSmallChangePercent = 15;
constexpr double kLargePictureArea = 1280.0 * 720.0;
constexpr int kLargePictureQuality = 90;
constexpr double kQualityPerHalving = 1.75;
constexpr int kSmallestPictureQuality = 98;

int qualityTarget(int width, int height, int64_t changedPixels) {
    if (changedPixels * 100 < int64_t(width) * height * kSmallChangePercent) {
        return 100;
    }
    const double halvings = std::log2(kLargePictureArea / (double(width) * height));
    const int target =
        kLargePictureQuality + int(std::lround(kQualityPerHalving * std::max(0.0, halvings)));
    return std::min(target, kSmallestPictureQuality);
}

// A changed pixel is still left transparent when the colour already shown is about as close
// to its new colour as the palette's colour would be: the squared distance (summed over the
// channels) may be larger by the slack. That is kBaseSlack for frames that redraw much of
// the picture (see qualityTarget) and half of it for small changes, plus a part that grows
// with the frame's noise level, more slowly beyond kNoiseSlackCap. Pixels that would barely
// change cost no bytes, and the grain of camera-like content is not redrawn in every frame,
// also at small sizes where scaling has averaged part of it away. The error stays bounded,
// since it is measured against what the GIF shows.
constexpr int kBaseSlack = 20;
constexpr int kNoiseSlack = 25;
constexpr int kNoiseSlackCap = 4;
constexpr int kHeavyNoiseSlack = 2;

struct LiqAttrDeleter {
    void operator()(liq_attr* attr) const { liq_attr_destroy(attr); }
};
struct LiqImageDeleter {
    void operator()(liq_image* image) const { liq_image_destroy(image); }
};
struct LiqResultDeleter {
    void operator()(liq_result* result) const { liq_result_destroy(result); }
};
struct ColorMapDeleter {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using ColorMapPtr = std::unique_ptr<ColorMapObject, ColorMapDeleter>;

// The smallest GIF colour table (a power of two, at least 2 entries) for count colours.
int colorTableSize(int count) {
    int size = 2;
    while (size < count) {
        size *= 2;
    }
    return size;
}

struct ChangedArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool isEmpty() const { return width <= 0 || height <= 0; }
};

// One frame's changed area with its palette and colour indices, ready for the LZW coder.
struct QuantisedFrame {
    ChangedArea area;
    int delay = 0;
    std::vector<GifColorType> colors;  // a power of two entries
    int transparentIndex = NO_TRANSPARENT_COLOR;
    std::vector<uint8_t> indices;  // area.width * area.height
    std::vector<uint8_t> rgba;     // the area's source colours
    // Per pixel, 0 where the pixel did not change (left to show through unless a run of
    // one colour through it compresses better), 255 where it did; empty when every pixel
    // changed.
    std::vector<uint8_t> changedMask;
    int slack = 0;      // see kBaseSlack
    std::string error;  // set when the colours could not be chosen
};

// Chooses the palette of one area and maps the area to it. The palette is chosen from the
// changed pixels only (importance 0 for the others). Every frame but the first keeps an
// index past the palette for pixels left to show through, which the frame declares
// transparent. Independent of every other frame, so frames are quantised side by side.
QuantisedFrame quantise(ChangedArea area, std::vector<uint8_t> rgba,
                        std::vector<uint8_t> importance, bool anyUnchanged, bool firstFrame,
                        int delay, int slack, int quality, int speed) {
    // Frames are quantised side by side on worker threads already: libimagequant's own
    // OpenMP team on top of that only adds threads that spin waiting for work.
    omp_set_num_threads(1);
    QuantisedFrame out;
    out.area = area;
    out.delay = delay;
    out.slack = slack;
    std::unique_ptr<liq_attr, LiqAttrDeleter> attr(liq_attr_create());
    liq_set_speed(attr.get(), speed);
    liq_set_quality(attr.get(), 0, quality);
    liq_set_max_colors(attr.get(), firstFrame ? 256 : 255);
    std::unique_ptr<liq_image, LiqImageDeleter> image(
        liq_image_create_rgba(attr.get(), rgba.data(), area.width, area.height, 0));
    if (image && anyUnchanged) {
        liq_image_set_importance_map(image.get(), importance.data(), importance.size(),
                                     LIQ_COPY_PIXELS);
    }
    liq_result* rawResult = nullptr;
    if (!image || liq_image_quantize(image.get(), attr.get(), &rawResult) != LIQ_OK) {
        out.error = "cannot choose the colours of a GIF frame";
        return out;
    }
    std::unique_ptr<liq_result, LiqResultDeleter> result(rawResult);
    liq_set_dithering_level(result.get(), kDitheringLevel);
    out.indices.resize(size_t(area.width) * area.height);
    if (liq_write_remapped_image(result.get(), image.get(), out.indices.data(),
                                 out.indices.size()) != LIQ_OK) {
        out.error = "cannot map a GIF frame to its colours";
        return out;
    }
    const liq_palette* palette = liq_get_palette(result.get());
    int count = int(palette->count);
    out.colors.assign(size_t(colorTableSize(count + (firstFrame ? 0 : 1))), GifColorType{0, 0, 0});
    for (int i = 0; i < count; ++i) {
        out.colors[i] =
            GifColorType{palette->entries[i].r, palette->entries[i].g, palette->entries[i].b};
    }
    if (!firstFrame) {
        out.transparentIndex = count;
    }
    if (anyUnchanged) {
        out.changedMask = std::move(importance);
    }
    out.rgba = std::move(rgba);
    return out;
}

class GiflibGifWriter final : public GifWriter {
public:
    GiflibGifWriter(std::filesystem::path file, FileReplacement replacement, GifFileType* gif,
                    int width, int height)
        : file_(std::move(file)),
          replacement_(std::move(replacement)),
          gif_(gif),
          width_(width),
          height_(height),
          lastWritten_(size_t(width) * height * 3, 0),
          shown_(size_t(width) * height * 3, 0) {}

    ~GiflibGifWriter() override {
        for (auto& frame : pending_) {
            frame.wait();
        }
        // The new version goes with the replacement; the destination is untouched.
        if (gif_ != nullptr) {
            int error = 0;
            EGifCloseFile(gif_, &error);
        }
    }

    int frameCount() const override { return frames_; }

    Status addFrame(const Image& frame, int delayCentiseconds) override {
        if (gif_ == nullptr) {
            return Error{"the GIF is already finished"};
        }
        if (frame.width != width_ || frame.height != height_) {
            return Error{"frame of " + std::to_string(frame.width) + "x" +
                         std::to_string(frame.height) + " added to a GIF of " +
                         std::to_string(width_) + "x" + std::to_string(height_)};
        }
        int delay = std::clamp(delayCentiseconds, 1, 0xffff);
        ChangedArea area = frames_ == 0 ? ChangedArea{0, 0, width_, height_} : changedArea(frame);
        Status written = Ok{};
        if (area.isEmpty()) {
            written = writeReady(0);
            if (written) {
                written = writeUnchangedFrame(delay);
            }
        } else {
            written = queueArea(frame, area, delay);
        }
        if (!written) {
            return written;
        }
        ++frames_;
        return Ok{};
    }

    Status finish() override {
        if (gif_ == nullptr) {
            return Error{"the GIF is already finished"};
        }
        if (Status written = writeReady(0); !written) {
            return written;
        }
        if (frames_ == 0) {
            int error = 0;
            EGifCloseFile(gif_, &error);
            gif_ = nullptr;
            return Error{"the GIF has no frames"};
        }
        int error = 0;
        int closed = EGifCloseFile(gif_, &error);
        gif_ = nullptr;
        if (closed != GIF_OK) {
            return Error{std::string("cannot finish the GIF: ") + GifErrorString(error)};
        }
        return replacement_.commit();
    }

    Status writeLoopExtension() {
        static const unsigned char kLoopForever[3] = {1, 0, 0};
        if (EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
            EGifPutExtensionBlock(gif_, 11, "NETSCAPE2.0") != GIF_OK ||
            EGifPutExtensionBlock(gif_, 3, kLoopForever) != GIF_OK ||
            EGifPutExtensionTrailer(gif_) != GIF_OK) {
            return giflibError("cannot write the loop extension");
        }
        return Ok{};
    }

private:
    Error giflibError(const char* what) const {
        return Error{std::string(what) + ": " + GifErrorString(gif_->Error)};
    }

    // The bounding box of the pixels that differ from what the GIF shows now. Also measures
    // the frame's noise level: the median change of all its pixels, 0 for screen content
    // where most of the picture stands still.
    ChangedArea changedArea(const Image& frame) {
        int minX = width_, minY = height_, maxX = -1, maxY = -1;
        std::array<int, 256> changes{};
        for (int y = 0; y < height_; ++y) {
            const uint8_t* src = frame.row(y);
            const uint8_t* shown = lastWritten_.data() + size_t(y) * width_ * 3;
            int rowMin = -1, rowMax = -1;
            for (int x = 0; x < width_; ++x, src += 4, shown += 3) {
                ++changes[size_t(change(src, shown))];
                if (differs(src, shown)) {
                    if (rowMin < 0) {
                        rowMin = x;
                    }
                    rowMax = x;
                }
            }
            if (rowMin >= 0) {
                minX = std::min(minX, rowMin);
                maxX = std::max(maxX, rowMax);
                minY = std::min(minY, y);
                maxY = y;
            }
        }
        int counted = 0;
        noise_ = 0;
        while (noise_ < 255 && (counted += changes[size_t(noise_)]) * 2 < width_ * height_) {
            ++noise_;
        }
        if (maxX < 0) {
            return {};
        }
        return ChangedArea{minX, minY, maxX - minX + 1, maxY - minY + 1};
    }

    // The largest change of one channel.
    static int change(const uint8_t* rgba, const uint8_t* rgb) {
        return std::max({std::abs(int(rgba[0]) - int(rgb[0])), std::abs(int(rgba[1]) - int(rgb[1])),
                         std::abs(int(rgba[2]) - int(rgb[2]))});
    }

    static bool differs(const uint8_t* rgba, const uint8_t* rgb) {
        return change(rgba, rgb) > kUnchangedTolerance;
    }

    static int squaredDistance(const uint8_t* rgba, int red, int green, int blue) {
        int r = rgba[0] - red, g = rgba[1] - green, b = rgba[2] - blue;
        return r * r + g * g + b * b;
    }

    Status writeControlBlock(int delay, int transparentIndex) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.UserInputFlag = false;
        control.DelayTime = delay;
        control.TransparentColor = transparentIndex;
        GifByteType bytes[4];
        size_t length = EGifGCBToExtension(&control, bytes);
        if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, int(length), bytes) != GIF_OK) {
            return giflibError("cannot write a frame's timing");
        }
        return Ok{};
    }

    // A frame identical to the one shown: one transparent pixel keeps the frame (and its
    // time) in the animation at almost no cost.
    Status writeUnchangedFrame(int delay) {
        GifColorType colors[2] = {{0, 0, 0}, {0, 0, 0}};
        ColorMapPtr map(GifMakeMapObject(2, colors));
        if (!writeControlBlock(delay, 0)) {
            return giflibError("cannot write a frame");
        }
        GifPixelType pixel = 0;
        if (EGifPutImageDesc(gif_, 0, 0, 1, 1, false, map.get()) != GIF_OK ||
            EGifPutLine(gif_, &pixel, 1) != GIF_OK) {
            return giflibError("cannot write a frame");
        }
        return Ok{};
    }

    // Prepares the changed area for quantising and hands it to a worker. The pixels it
    // writes are known now (exactly the changed ones), so the next frame can be compared
    // before this one is quantised.
    Status queueArea(const Image& frame, const ChangedArea& area, int delay) {
        std::vector<uint8_t> rgba(size_t(area.width) * area.height * 4);
        std::vector<uint8_t> importance(size_t(area.width) * area.height);
        bool anyUnchanged = false;
        int64_t changed = 0;
        for (int y = 0; y < area.height; ++y) {
            const uint8_t* src = frame.row(area.top + y) + size_t(area.left) * 4;
            uint8_t* shown = lastWritten_.data() + (size_t(area.top + y) * width_ + area.left) * 3;
            uint8_t* out = rgba.data() + size_t(y) * area.width * 4;
            uint8_t* weight = importance.data() + size_t(y) * area.width;
            for (int x = 0; x < area.width; ++x, src += 4, shown += 3, out += 4, ++weight) {
                out[0] = src[0];
                out[1] = src[1];
                out[2] = src[2];
                out[3] = 255;
                if (frames_ == 0 || differs(src, shown)) {
                    shown[0] = src[0];
                    shown[1] = src[1];
                    shown[2] = src[2];
                    *weight = 255;
                    ++changed;
                } else {
                    anyUnchanged = true;
                }
            }
        }
        // The first frame stays under everything that follows: it gets every colour.
        const int quality = frames_ == 0 ? 100 : qualityTarget(width_, height_, changed);
        const int speed = quality < 100 ? kRedrawQuantiserSpeed : kQuantiserSpeed;
        // A small change stays on screen for long: it gets half the base slack.
        const int beyond = std::max(0, noise_ - kNoiseSlackCap);
        const int slack = (quality < 100 ? kBaseSlack : kBaseSlack / 2) +
                          kNoiseSlack * std::min(noise_, kNoiseSlackCap) +
                          kHeavyNoiseSlack * beyond * beyond;
        pending_.push_back(std::async(std::launch::async, quantise, area, std::move(rgba),
                                      std::move(importance), anyUnchanged, frames_ == 0, delay,
                                      slack, quality, speed));
        return writeReady(maxInFlight_);
    }

    // Writes the oldest queued frames until at most keep are still being quantised.
    Status writeReady(size_t keep) {
        while (pending_.size() > keep) {
            QuantisedFrame frame = pending_.front().get();
            pending_.pop_front();
            if (!frame.error.empty()) {
                return Error{frame.error};
            }
            if (Status written = writeQuantised(frame); !written) {
                return written;
            }
        }
        return Ok{};
    }

    // Leaves the pixels that did not change, and those that would barely change,
    // transparent (see kBaseSlack), except where the pixel's palette colour continues the
    // colour of the pixel before it on the row and is as close to its source as what is
    // shown: LZW codes long runs of one index far more cheaply than runs broken by the
    // transparent index. Records what the GIF shows once the frame is written.
    void keepShownColours(QuantisedFrame& frame) {
        const ChangedArea& area = frame.area;
        const bool transparency = frame.transparentIndex != NO_TRANSPARENT_COLOR;
        for (int y = 0; y < area.height; ++y) {
            uint8_t* shown = shown_.data() + (size_t(area.top + y) * width_ + area.left) * 3;
            const uint8_t* src = frame.rgba.data() + size_t(y) * area.width * 4;
            uint8_t* index = frame.indices.data() + size_t(y) * area.width;
            const uint8_t* changed = frame.changedMask.empty()
                                         ? nullptr
                                         : frame.changedMask.data() + size_t(y) * area.width;
            int previous = -1;
            for (int x = 0; x < area.width; ++x, shown += 3, src += 4, ++index) {
                const GifColorType& colour = frame.colors[*index];
                if (transparency) {
                    const int toShown = squaredDistance(src, shown[0], shown[1], shown[2]);
                    const int toPalette =
                        squaredDistance(src, colour.Red, colour.Green, colour.Blue);
                    const bool keepShown = (changed != nullptr && changed[x] == 0) ||
                                           toShown <= toPalette + frame.slack;
                    const bool continuesRun = *index == previous && toPalette <= toShown;
                    if (keepShown && !continuesRun) {
                        *index = uint8_t(frame.transparentIndex);
                        previous = frame.transparentIndex;
                        continue;
                    }
                }
                previous = *index;
                shown[0] = colour.Red;
                shown[1] = colour.Green;
                shown[2] = colour.Blue;
            }
        }
    }

    Status writeQuantised(QuantisedFrame& frame) {
        keepShownColours(frame);
        ColorMapPtr map(GifMakeMapObject(int(frame.colors.size()), frame.colors.data()));
        if (!map) {
            return Error{"out of memory for a GIF colour table"};
        }
        if (Status control = writeControlBlock(frame.delay, frame.transparentIndex); !control) {
            return control;
        }
        const ChangedArea& area = frame.area;
        if (EGifPutImageDesc(gif_, area.left, area.top, area.width, area.height, false,
                             map.get()) != GIF_OK) {
            return giflibError("cannot write a frame");
        }
        for (int y = 0; y < area.height; ++y) {
            if (EGifPutLine(gif_, frame.indices.data() + size_t(y) * area.width, area.width) !=
                GIF_OK) {
                return giflibError("cannot write a frame");
            }
        }
        return Ok{};
    }

    std::filesystem::path file_;
    FileReplacement replacement_;  // the file written, put in file_'s place by finish()
    GifFileType* gif_;             // null once finished
    int width_;
    int height_;
    int frames_ = 0;
    // Source colour (RGB) of each pixel at the frame that last wrote it.
    std::vector<uint8_t> lastWritten_;
    // The colour (RGB) the GIF shows at each pixel after the frames written so far.
    std::vector<uint8_t> shown_;
    // The noise level of the frame last compared (see changedArea).
    int noise_ = 0;
    // Frames being quantised by workers, oldest first; written in this order.
    std::deque<std::future<QuantisedFrame>> pending_;
    const size_t maxInFlight_ = std::max(2u, std::thread::hardware_concurrency());
};

}  // namespace

Result<std::unique_ptr<GifWriter>> createGifWriter(const std::filesystem::path& file, int width,
                                                   int height) {
    // The writer keeps two pictures' worth of colours: a size read from a damaged or hostile
    // file must not set aside gigabytes before the first frame.
    if (!isAllowedPictureSize(width, height)) {
        return Error{"a GIF cannot be " + std::to_string(width) + "x" + std::to_string(height) +
                     " pixels (" + kPictureSizeLimits + ")"};
    }
    // The GIF is written beside file and takes its place only when finished, so that a
    // failed export leaves whatever file was there. (giflib's own open would also create
    // the file readable by its owner only; this one has the usual permissions.)
    auto replacement = FileReplacement::begin(file);
    if (!replacement) {
        PINDLE_LOG_ERROR(kTag, "%s", replacement.error().message.c_str());
        return replacement.error();
    }
    int fd = replacement->duplicate();
    int error = 0;
    GifFileType* gif = EGifOpenFileHandle(fd, &error);
    if (gif == nullptr) {
        close(fd);
        PINDLE_LOG_ERROR(kTag, "cannot create %s: %s", file.c_str(), GifErrorString(error));
        return Error{"cannot create " + file.string() + ": " + GifErrorString(error)};
    }
    auto writer =
        std::make_unique<GiflibGifWriter>(file, std::move(*replacement), gif, width, height);
    EGifSetGifVersion(gif, true);
    if (EGifPutScreenDesc(gif, width, height, 8, 0, nullptr) != GIF_OK) {
        return Error{std::string("cannot write the GIF header: ") + GifErrorString(gif->Error)};
    }
    if (Status loop = writer->writeLoopExtension(); !loop) {
        return loop.error();
    }
    return std::unique_ptr<GifWriter>(std::move(writer));
}

}  // namespace pindle::imageio
