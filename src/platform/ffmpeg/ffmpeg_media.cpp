#include "platform/ffmpeg/ffmpeg_media.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <deque>
#include <memory>
#include <string>

#include "base/log.h"

namespace pindle::ffmpeg {

namespace {

constexpr const char* kTag = "media";
constexpr size_t kScalerPadding = 64;

struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ScaleContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using ScaleContextPtr = std::unique_ptr<SwsContext, ScaleContextDeleter>;

std::string errorText(int status) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(status, text, sizeof text);
    return std::string(text) + " (" + std::to_string(status) + ")";
}

Result<FormatContextPtr> openInput(const std::filesystem::path& file) {
    AVFormatContext* raw = nullptr;
    int status = avformat_open_input(&raw, file.c_str(), nullptr, nullptr);
    if (status < 0) {
        return Error{"cannot open " + file.string() + ": " + errorText(status)};
    }
    return FormatContextPtr(raw);
}

// A count of time_base units as a media time; invalid for AV_NOPTS_VALUE.
MediaTime mediaTime(int64_t units, AVRational timeBase) {
    if (units == AV_NOPTS_VALUE || timeBase.den <= 0 || timeBase.num <= 0) {
        return MediaTime::invalid();
    }
    if (timeBase.num == 1) {
        return MediaTime::make(units, timeBase.den);
    }
    int64_t value = 0;
    if (__builtin_mul_overflow(units, int64_t(timeBase.num), &value)) {
        return MediaTime::makeWithSeconds(double(units) * av_q2d(timeBase), timeBase.den);
    }
    return MediaTime::make(value, timeBase.den);
}

// The time in units of timeBase, rounded down.
int64_t streamUnits(const MediaTime& time, AVRational timeBase) {
    return av_rescale_q_rnd(time.value, AVRational{1, time.timescale}, timeBase,
                            AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
}

float frameRate(const AVStream* stream) {
    for (AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate}) {
        if (rate.num > 0 && rate.den > 0) {
            return float(av_q2d(rate));
        }
    }
    if (stream->nb_frames > 0 && stream->duration > 0 && stream->duration != AV_NOPTS_VALUE) {
        return float(double(stream->nb_frames) /
                     (double(stream->duration) * av_q2d(stream->time_base)));
    }
    return 0;
}

// Whether the container's headers leave out a fact about a video track, or state a picture
// size no movie the program reads may have. Either way the stream itself is then read: the
// size in a header is only a claim, the decoder's is the real one.
bool headersLackVideoFacts(const AVFormatContext* context) {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (!isAllowedPictureSize(stream->codecpar->width, stream->codecpar->height) ||
             stream->duration == AV_NOPTS_VALUE || frameRate(stream) <= 0)) {
            return true;
        }
    }
    return context->nb_streams == 0;
}

std::string pictureSizeError(const std::string& what, int64_t width, int64_t height) {
    return what + " of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels; a picture may have " + kPictureSizeLimits;
}

media::MovieInfo readInfo(const AVFormatContext* context) {
    media::MovieInfo info;
    const AVStream* firstVideo = nullptr;
    const AVStream* lastVideo = nullptr;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            continue;  // cover art, not a track of moving pictures
        }
        switch (stream->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                ++info.videoTrackCount;
                if (firstVideo == nullptr) {
                    firstVideo = stream;
                }
                lastVideo = stream;
                break;
            case AVMEDIA_TYPE_AUDIO:
                ++info.audioTrackCount;
                break;
            default:
                break;
        }
    }
    if (lastVideo != nullptr) {
        info.naturalSize =
            Size{double(lastVideo->codecpar->width), double(lastVideo->codecpar->height)};
        info.nominalFrameRate = frameRate(lastVideo);
    }
    if (firstVideo != nullptr) {
        info.duration = mediaTime(firstVideo->duration, firstVideo->time_base);
        if (!info.duration.isValid() && context->duration != AV_NOPTS_VALUE) {
            info.duration = MediaTime::make(context->duration, AV_TIME_BASE);
        }
        if (!info.duration.isValid()) {
            info.duration = MediaTime{};
        }
        if (firstVideo->nb_frames > 0) {
            info.frameCount = firstVideo->nb_frames;
        }
    }
    return info;
}

// A movie opened for decoding its first video track: the other tracks are discarded.
struct VideoInput {
    FormatContextPtr format;
    CodecContextPtr decoder;
    int streamIndex = -1;
};

Result<VideoInput> openVideoInput(const std::filesystem::path& file) {
    auto input = openInput(file);
    if (!input) {
        return input.error();
    }
    VideoInput video;
    video.format = std::move(*input);
    AVFormatContext* format = video.format.get();
    if (headersLackVideoFacts(format)) {
        avformat_find_stream_info(format, nullptr);
    }
    const AVCodec* codec = nullptr;
    video.streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    // The first video track, as the movie's facts describe it.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            video.streamIndex = int(i);
            codec = avcodec_find_decoder(stream->codecpar->codec_id);
            break;
        }
    }
    if (video.streamIndex < 0 || codec == nullptr) {
        return Error{file.string() + " has no decodable video track"};
    }
    AVStream* stream = format->streams[video.streamIndex];
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        format->streams[i]->discard =
            int(i) == video.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    video.decoder.reset(avcodec_alloc_context3(codec));
    if (!video.decoder) {
        return Error{"out of memory"};
    }
    int status = avcodec_parameters_to_context(video.decoder.get(), stream->codecpar);
    if (status >= 0) {
        video.decoder->thread_count = 0;
        video.decoder->pkt_timebase = stream->time_base;
        status = avcodec_open2(video.decoder.get(), codec, nullptr);
    }
    if (status < 0) {
        PINDLE_LOG_ERROR(kTag, "avcodec_open2 failed %d", status);
        return Error{"cannot open the video decoder: " + errorText(status)};
    }
    return video;
}

// A new reference to the part of frame inside crop: FFmpeg moves the plane pointers, no
// pixel is copied. Odd offsets are kept (the chroma of subsampled formats then starts at
// the sample that covers the first pixel).
Result<FramePtr> croppedView(const AVFrame* frame, const CropRect& crop) {
    if (!cropFitsInside(crop, Size{double(frame->width), double(frame->height)})) {
        return Error{"the crop " + formatCropRect(crop) + " is not inside the " +
                     std::to_string(frame->width) + "x" + std::to_string(frame->height) +
                     " picture"};
    }
    FramePtr view(av_frame_alloc());
    if (!view || av_frame_ref(view.get(), frame) < 0) {
        return Error{"cannot crop the video frame: out of memory"};
    }
    view->crop_left = size_t(crop.x);
    view->crop_top = size_t(crop.y);
    view->crop_right = size_t(frame->width - crop.maxX());
    view->crop_bottom = size_t(frame->height - crop.maxY());
    if (int status = av_frame_apply_cropping(view.get(), AV_FRAME_CROP_UNALIGNED); status < 0) {
        return Error{"cannot crop the video frame: " + errorText(status)};
    }
    return view;
}

// Converts decoded pictures to RGBA images, keeping its scaler between pictures of one size.
class ImageConverter {
public:
    // Exact: full chroma interpolation, without which the colour of thin coloured lines and
    // text edges is taken from the neighbouring pixel, which is visible in exported GIFs;
    // pictures made smaller are filtered with Lanczos, which keeps small text sharper than
    // bicubic filtering. Fast: the scaler's fast path, for pictures shown for a moment on a
    // display.
    enum class Quality { Exact, Fast };

    explicit ImageConverter(Quality quality = Quality::Exact) : quality_(quality) {}

    Result<ImagePtr> convert(const AVFrame* frame, int width, int height) {
        int flags = SWS_BILINEAR;
        if (quality_ == Quality::Exact) {
            const bool smaller = width < frame->width || height < frame->height;
            flags = (smaller ? SWS_LANCZOS : SWS_BICUBIC) | SWS_FULL_CHR_H_INT;
        }
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame->width, frame->height,
                                           AVPixelFormat(frame->format), width, height,
                                           AV_PIX_FMT_RGBA, flags, nullptr, nullptr, nullptr));
        if (!scaler_) {
            PINDLE_LOG_ERROR(kTag, "sws_getCachedContext failed for format %d", frame->format);
            return Error{"cannot convert the video frame's pixel format"};
        }
        int colorspace =
            frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : int(frame->colorspace);
        const int* coefficients = sws_getCoefficients(colorspace);
        sws_setColorspaceDetails(scaler_.get(), coefficients,
                                 frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        std::shared_ptr<Image> image = reusableImage(width, height);
        if (!image) {
            image = std::make_shared<Image>();
            image->width = width;
            image->height = height;
            image->stride = width * 4;
            // swscale writes whole SIMD blocks and may run a few bytes past the last row.
            image->pixels.resize(size_t(width) * size_t(height) * 4 + kScalerPadding);
            if (pooled_.size() < poolSize_) {
                pooled_.push_back(image);
            }
        }
        uint8_t* planes[4] = {image->pixels.data(), nullptr, nullptr, nullptr};
        int strides[4] = {image->stride, 0, 0, 0};
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        return ImagePtr(std::move(image));
    }

    // Keeps up to count of the images it makes and writes the next pictures into those no
    // one else holds any more, instead of setting aside fresh memory for each.
    void reuseImages(size_t count) { poolSize_ = count; }

private:
    std::shared_ptr<Image> reusableImage(int width, int height) {
        for (auto& image : pooled_) {
            if (image.use_count() == 1 && image->width == width && image->height == height) {
                // The last holder's release happens before the picture is written over.
                std::atomic_thread_fence(std::memory_order_acquire);
                return image;
            }
        }
        return nullptr;
    }

    Quality quality_;
    ScaleContextPtr scaler_;
    size_t poolSize_ = 0;
    std::vector<std::shared_ptr<Image>> pooled_;
};

class FfmpegFrameReader final : public media::FrameReader {
public:
    static Result<std::unique_ptr<media::FrameReader>> open(
        const std::filesystem::path& file, const media::FrameReaderOptions& options) {
        auto reader = std::unique_ptr<FfmpegFrameReader>(new FfmpegFrameReader(options));
        if (auto status = reader->start(file); !status) {
            return status.error();
        }
        return std::unique_ptr<media::FrameReader>(std::move(reader));
    }

    Result<std::optional<media::Frame>> nextFrame() override {
        while (ready_.empty() && !finished_) {
            if (auto status = decodeMore(); !status) {
                finished_ = true;
                return status.error();
            }
        }
        if (ready_.empty()) {
            return std::optional<media::Frame>{};
        }
        media::Frame frame = std::move(ready_.front());
        ready_.pop_front();
        return std::optional<media::Frame>{std::move(frame)};
    }

private:
    explicit FfmpegFrameReader(const media::FrameReaderOptions& options) : options_(options) {}

    Status start(const std::filesystem::path& file) {
        auto input = openVideoInput(file);
        if (!input) {
            return input.error();
        }
        format_ = std::move(input->format);
        decoder_ = std::move(input->decoder);
        streamIndex_ = input->streamIndex;
        AVStream* stream = format_->streams[streamIndex_];
        int status = 0;
        timeBase_ = stream->time_base;
        startUnits_ = options_.start.isNumeric() ? streamUnits(options_.start, timeBase_) : 0;
        if (options_.end.isNumeric()) {
            endUnits_ = streamUnits(options_.end, timeBase_);
        }
        if (options_.start.isNumeric() && options_.start > MediaTime::zero()) {
            status = av_seek_frame(format_.get(), streamIndex_, startUnits_, AVSEEK_FLAG_BACKWARD);
            if (status < 0) {
                // Decoding from the beginning reaches the same frame, only later.
                PINDLE_LOG_DEBUG(kTag, "av_seek_frame failed %d", status);
                av_seek_frame(format_.get(), streamIndex_, 0, AVSEEK_FLAG_BACKWARD);
            }
        }
        packet_.reset(av_packet_alloc());
        ahead_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        held_.reset(av_frame_alloc());
        latest_.reset(av_frame_alloc());
        if (!packet_ || !ahead_ || !frame_ || !held_ || !latest_) {
            return Error{"out of memory"};
        }
        return Ok{};
    }

    // Feeds the decoder until at least one frame is ready or the movie ends.
    Status decodeMore() {
        while (true) {
            int status = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (status >= 0) {
                auto accepted = take(frame_.get());
                av_frame_unref(frame_.get());
                if (!accepted) {
                    return accepted;
                }
                if (!ready_.empty() || finished_) {
                    return Ok{};
                }
                continue;
            }
            if (status == AVERROR_EOF) {
                if (auto taken = takeLast(); !taken) {
                    return taken;
                }
                finished_ = true;
                return flushHeld();
            }
            if (status != AVERROR(EAGAIN)) {
                PINDLE_LOG_ERROR(kTag, "avcodec_receive_frame failed %d", status);
                return Error{"cannot decode a video frame: " + errorText(status)};
            }
            auto packet = nextPacket();
            if (!packet) {
                return packet.error();
            }
            if (*packet == nullptr) {
                avcodec_send_packet(decoder_.get(), nullptr);
                continue;
            }
            // A packet not needed is still given to the decoder, which reads its headers and
            // skips its pictures: leaving it out would break the decoder's frame numbering.
            decoder_->skip_frame = skipping_ ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
            status = avcodec_send_packet(decoder_.get(), *packet);
            if (status < 0 && status != AVERROR(EAGAIN)) {
                PINDLE_LOG_WARNING(kTag, "avcodec_send_packet failed %d", status);
            }
            av_packet_unref(*packet);
        }
    }

    // Reads the next packet of the video track into into; false at the end of the movie.
    Result<bool> readVideoPacket(AVPacket* into) {
        while (true) {
            int status = av_read_frame(format_.get(), into);
            if (status == AVERROR_EOF) {
                return false;
            }
            if (status < 0) {
                PINDLE_LOG_ERROR(kTag, "av_read_frame failed %d", status);
                return Error{"cannot read the movie: " + errorText(status)};
            }
            if (into->stream_index == streamIndex_) {
                return true;
            }
            av_packet_unref(into);
        }
    }

    // The next video packet to decode, null at the end. The reader looks one packet ahead:
    // when the next packet is a key frame, the current one is needed by no later frame, and
    // its picture is skipped (skipping_) if it would be on screen at no sample time.
    Result<AVPacket*> nextPacket() {
        if (!aheadRead_) {
            aheadRead_ = true;
            auto read = readVideoPacket(ahead_.get());
            if (!read) {
                return read.error();
            }
            aheadAtEnd_ = !*read;
        }
        if (!aheadAtEnd_) {
            av_packet_unref(packet_.get());
            av_packet_move_ref(packet_.get(), ahead_.get());
            auto read = readVideoPacket(ahead_.get());
            if (!read) {
                return read.error();
            }
            aheadAtEnd_ = !*read;
            skipping_ = !aheadAtEnd_ && canSkip(*packet_, *ahead_);
            return packet_.get();
        }
        return nullptr;
    }

    // Whether the decoder gives frames in another order than their packets come: frames
    // are then shown until the next one decoded, whatever the packets say.
    bool reordered() const {
        return decoder_->has_b_frames > 0 ||
               format_->streams[streamIndex_]->codecpar->video_delay > 0;
    }

    bool canSkip(const AVPacket& packet, const AVPacket& next) const {
        // Movies with reordered frames (known by the decoder, or by packets decoded before
        // their presentation time) are read whole: there the next packet is not the next
        // picture, and each frame's duration comes from the next frame decoded.
        if (options_.sampleRate <= 0 || (next.flags & AV_PKT_FLAG_KEY) == 0 || reordered() ||
            packet.pts == AV_NOPTS_VALUE || next.pts == AV_NOPTS_VALUE || next.pts <= packet.pts ||
            packet.dts != packet.pts || next.dts != next.pts) {
            return false;
        }
        // Shown from packet.pts until next.pts. A sample within a nanosecond of next.pts
        // counts as at next.pts, where it shows the next frame: sample times are exact or
        // rounded up to the nanosecond, and this absorbs the rounding of the doubles. Before
        // packet.pts the margin is wider and only ever keeps a frame.
        double rate = options_.sampleRate;
        double origin = options_.start.isNumeric() ? options_.start.seconds() : 0;
        double from = double(packet.pts) * av_q2d(timeBase_) - 1e-6 - origin;
        double to = double(next.pts) * av_q2d(timeBase_) - origin;
        double firstSample = std::max(0.0, std::ceil(from * rate)) / rate;
        return firstSample >= to - 1e-9;
    }

    int64_t timestamp(const AVFrame* frame) const {
        return frame->best_effort_timestamp == AV_NOPTS_VALUE ? nextPts_
                                                              : frame->best_effort_timestamp;
    }

    // Takes a decoded frame with its duration. The packets of reordered frames tell no
    // duration of the frame itself, so such a frame waits for the next one.
    Status take(AVFrame* frame) {
        if (!reordered() && !hasLatest_) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
            int64_t duration = frame->duration;
#else
            int64_t duration = frame->pkt_duration;
#endif
            return accept(frame, timestamp(frame), duration);
        }
        int64_t pts = timestamp(frame);
        bool pastEnd = endUnits_ && pts >= *endUnits_;
        if (hasLatest_) {
            hasLatest_ = false;
            auto accepted = accept(latest_.get(), latestPts_, pts - latestPts_);
            av_frame_unref(latest_.get());
            if (!accepted || finished_) {
                return accepted;
            }
        }
        if (pastEnd) {
            return accept(frame, pts, 0);
        }
        av_frame_move_ref(latest_.get(), frame);
        latestPts_ = pts;
        nextPts_ = pts + 1;
        hasLatest_ = true;
        return Ok{};
    }

    // Takes the frame still waiting once the decoder is empty: it lasts until the end of the
    // track.
    Status takeLast() {
        if (!hasLatest_) {
            return Ok{};
        }
        hasLatest_ = false;
        const AVStream* stream = format_->streams[streamIndex_];
        int64_t duration = 0;
        if (stream->duration != AV_NOPTS_VALUE) {
            int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
            duration = start + stream->duration - latestPts_;
        }
        auto accepted = accept(latest_.get(), latestPts_, duration);
        av_frame_unref(latest_.get());
        return accepted;
    }

    // Decides what to do with one decoded frame shown from pts for duration (0 or less:
    // unknown): hold it while it may still be the frame on screen at the start time,
    // deliver it, or end the range.
    Status accept(AVFrame* frame, int64_t pts, int64_t duration) {
        nextPts_ = pts + std::max<int64_t>(duration, 1);
        if (endUnits_ && pts >= *endUnits_) {
            finished_ = true;
            return flushHeld();
        }
        if (pts < startUnits_) {
            // Converted only if no later frame starts at or before the start time.
            av_frame_unref(held_.get());
            av_frame_move_ref(held_.get(), frame);
            heldPts_ = pts;
            heldDuration_ = duration;
            hasHeld_ = true;
            return Ok{};
        }
        if (pts == startUnits_) {
            hasHeld_ = false;
        } else if (auto status = flushHeld(); !status) {
            return status;
        }
        auto converted = convert(frame, pts, duration);
        if (!converted) {
            return converted.error();
        }
        ready_.push_back(std::move(*converted));
        return Ok{};
    }

    Status flushHeld() {
        if (!hasHeld_) {
            return Ok{};
        }
        hasHeld_ = false;
        auto converted = convert(held_.get(), heldPts_, heldDuration_);
        av_frame_unref(held_.get());
        if (!converted) {
            return converted.error();
        }
        ready_.push_back(std::move(*converted));
        return Ok{};
    }

    Result<media::Frame> convert(const AVFrame* decoded, int64_t pts, int64_t duration) {
        const AVFrame* frame = decoded;
        FramePtr cropped;
        if (options_.crop) {
            auto view = croppedView(decoded, *options_.crop);
            if (!view) {
                return view.error();
            }
            cropped = std::move(*view);
            frame = cropped.get();
        }
        int width = frame->width;
        int height = frame->height;
        if (!isAllowedPictureSize(width, height)) {
            return Error{pictureSizeError("a decoded picture", width, height)};
        }
        if (options_.width > 0 && options_.height > 0) {
            if (options_.fitInside) {
                Size fitted =
                    media::fitInside(Size{double(width), double(height)},
                                     Size{double(options_.width), double(options_.height)});
                width = int(fitted.width);
                height = int(fitted.height);
            } else {
                width = options_.width;
                height = options_.height;
            }
            if (!isAllowedPictureSize(width, height)) {
                return Error{pictureSizeError("pictures scaled to a size", width, height)};
            }
        }
        auto image = converter_.convert(frame, width, height);
        if (!image) {
            return image.error();
        }
        media::Frame result;
        result.image = std::move(*image);
        result.presentationTime = mediaTime(pts, timeBase_);
        result.duration = duration > 0 ? mediaTime(duration, timeBase_) : MediaTime::invalid();
        return result;
    }

    media::FrameReaderOptions options_;
    FormatContextPtr format_;
    CodecContextPtr decoder_;
    PacketPtr packet_;
    PacketPtr ahead_;  // the packet after packet_, read to decide whether packet_ is needed
    bool aheadRead_ = false;
    bool aheadAtEnd_ = false;
    bool skipping_ = false;  // packet_'s picture is not needed
    FramePtr frame_;
    ImageConverter converter_;
    int streamIndex_ = -1;
    AVRational timeBase_{1, 1};
    int64_t startUnits_ = 0;
    std::optional<int64_t> endUnits_;
    int64_t nextPts_ = 0;
    FramePtr held_;  // the last frame before the start time, not yet converted
    bool hasHeld_ = false;
    int64_t heldPts_ = 0;
    int64_t heldDuration_ = 0;
    FramePtr latest_;  // of reordered frames, the last decoded, waiting for the next
    bool hasLatest_ = false;
    int64_t latestPts_ = 0;
    std::deque<media::Frame> ready_;
    bool finished_ = false;
};

// Frames by number, for a player. Frames asked for in order are decoded in order. A jump
// seeks to the key frame at or before the frame and decodes from there; in recordings every
// frame is a key frame, so that decodes the one frame. A step backward decodes the block of
// frames before it in one go and keeps them, so that playing backward seeks once a block
// (and through a long group of pictures decodes each group a few times instead of once per
// frame). Pictures are converted with the scaler's fast path: they are shown for a moment on
// a display, not written to a file.
class FfmpegFrameSource final : public media::FrameSource {
public:
    static Result<std::unique_ptr<media::FrameSource>> open(const std::filesystem::path& file) {
        auto source = std::unique_ptr<FfmpegFrameSource>(new FfmpegFrameSource);
        if (auto status = source->start(file); !status) {
            return status.error();
        }
        return std::unique_ptr<media::FrameSource>(std::move(source));
    }

    const std::vector<MediaTime>& frameTimes() const override { return times_; }

    Result<media::Frame> frame(size_t index, Size maximumSize) override {
        if (index >= units_.size()) {
            return Error{"no frame " + std::to_string(index) + " in the movie"};
        }
        bool forwardStep = lastAsked_ && index == *lastAsked_ + 1;
        bool backwardStep = lastAsked_ && index + 1 == *lastAsked_;
        lastAsked_ = index;
        if (maximumSize != size_) {
            kept_.clear();
            size_ = maximumSize;
        }
        for (const auto& kept : kept_) {
            if (kept.index == index) {
                return kept.frame;
            }
        }
        bool readOn =
            decoderAt_ && !drained_ && index > *decoderAt_ && index <= *decoderAt_ + kReadOnLimit;
        // Backward blocks grow from two frames, so that the first step back comes quickly.
        block_ = backwardStep ? std::min(kBackwardBlock, block_ * 2) : 1;
        if (!readOn) {
            size_t from = backwardStep ? index - std::min(index, block_ - 1) : index;
            if (auto status = seekBefore(from); !status) {
                return status.error();
            }
        }
        // Unless more frames follow at once, the decoder is drained after the frame's packet
        // instead of being fed the packets its threads would want first.
        drainAfter_ = forwardStep || reordered_ ? std::nullopt : std::optional(units_[index]);
        return decodeUntil(index);
    }

private:
    // Frames decoded in one go to step backward, and frames kept of the last decoding.
    static constexpr size_t kBackwardBlock = 12;
    static constexpr size_t kKeptFrames = 16;
    // A frame this far ahead is reached faster by reading on than by seeking.
    static constexpr size_t kReadOnLimit = 4;
    // Images written over once their holders let go: the kept frames, a player's queue of
    // frames decoded ahead and the frames on screen.
    static constexpr size_t kReusedImages = 40;

    struct KeptFrame {
        size_t index;
        media::Frame frame;
    };

    Status start(const std::filesystem::path& file) {
        auto input = openVideoInput(file);
        if (!input) {
            return input.error();
        }
        video_ = std::move(*input);
        AVStream* stream = video_.format->streams[video_.streamIndex];
        timeBase_ = stream->time_base;
        converter_.reuseImages(kReusedImages);
        packet_.reset(av_packet_alloc());
        decoded_.reset(av_frame_alloc());
        if (!packet_ || !decoded_) {
            return Error{"out of memory"};
        }
        // The frames and key frames, from the packets; nothing is decoded.
        int status;
        while ((status = av_read_frame(video_.format.get(), packet_.get())) >= 0) {
            if (packet_->stream_index == video_.streamIndex && packet_->pts != AV_NOPTS_VALUE) {
                units_.push_back(packet_->pts);
                if ((packet_->flags & AV_PKT_FLAG_KEY) != 0) {
                    keyUnits_.push_back(packet_->pts);
                }
            }
            av_packet_unref(packet_.get());
        }
        if (status != AVERROR_EOF) {
            return Error{"cannot read " + file.string() + ": " + errorText(status)};
        }
        // Packets come in decoding order; with reordered frames that is not display order.
        reordered_ = !std::is_sorted(units_.begin(), units_.end());
        std::sort(units_.begin(), units_.end());
        std::sort(keyUnits_.begin(), keyUnits_.end());
        if (keyUnits_.empty() && !units_.empty()) {
            keyUnits_.push_back(units_.front());
        }
        times_.reserve(units_.size());
        for (int64_t value : units_) {
            times_.push_back(mediaTime(value, timeBase_));
        }
        return Ok{};
    }

    // The number of the frame shown at pts.
    size_t indexOf(int64_t pts) const {
        auto after = std::upper_bound(units_.begin(), units_.end(), pts);
        return after == units_.begin() ? 0 : size_t(after - units_.begin() - 1);
    }

    // Positions the demuxer on the key frame from which decoding reaches frame index.
    Status seekBefore(size_t index) {
        auto key = std::upper_bound(keyUnits_.begin(), keyUnits_.end(), units_[index]);
        key = key == keyUnits_.begin() ? key : key - 1;
        int status =
            av_seek_frame(video_.format.get(), video_.streamIndex, *key, AVSEEK_FLAG_BACKWARD);
        if (status < 0) {
            // Decoding from the beginning reaches the same frame, only later.
            PINDLE_LOG_DEBUG(kTag, "av_seek_frame failed %d", status);
            status = av_seek_frame(video_.format.get(), video_.streamIndex, keyUnits_[0],
                                   AVSEEK_FLAG_BACKWARD);
        }
        if (status < 0) {
            return Error{"cannot seek in the movie: " + errorText(status)};
        }
        avcodec_flush_buffers(video_.decoder.get());
        decoderAt_ = std::nullopt;
        drained_ = false;
        return Ok{};
    }

    // Decodes on until frame index comes out, keeping the last frames on the way.
    Result<media::Frame> decodeUntil(size_t index) {
        while (true) {
            int status = avcodec_receive_frame(video_.decoder.get(), decoded_.get());
            if (status >= 0) {
                int64_t pts = decoded_->best_effort_timestamp;
                size_t at =
                    pts == AV_NOPTS_VALUE ? (decoderAt_ ? *decoderAt_ + 1 : 0) : indexOf(pts);
                decoderAt_ = at;
                if (at + kKeptFrames <= index) {
                    av_frame_unref(decoded_.get());
                    continue;
                }
                auto kept = keep(at);
                // A frame the decoder left out is stood in for by the one after it.
                if (!kept || at >= index) {
                    return kept;
                }
                continue;
            }
            if (status == AVERROR_EOF || (status == AVERROR(EAGAIN) && drained_)) {
                return Error{"frame " + std::to_string(index) + " did not decode"};
            }
            if (status != AVERROR(EAGAIN)) {
                decoderAt_ = std::nullopt;
                return Error{"cannot decode a video frame: " + errorText(status)};
            }
            status = av_read_frame(video_.format.get(), packet_.get());
            if (status < 0 && status != AVERROR_EOF) {
                decoderAt_ = std::nullopt;
                return Error{"cannot read the movie: " + errorText(status)};
            }
            bool last = status == AVERROR_EOF;
            if (!last && packet_->stream_index == video_.streamIndex) {
                last = drainAfter_ && packet_->pts == *drainAfter_;
                status = avcodec_send_packet(video_.decoder.get(), packet_.get());
                if (status < 0 && status != AVERROR(EAGAIN)) {
                    PINDLE_LOG_WARNING(kTag, "avcodec_send_packet failed %d", status);
                }
            }
            av_packet_unref(packet_.get());
            if (last) {
                // Until the next seek the decoder gives out what it holds, then ends.
                avcodec_send_packet(video_.decoder.get(), nullptr);
                drained_ = true;
            }
        }
    }

    // Converts the decoded picture, frame index, and keeps it.
    Result<media::Frame> keep(size_t index) {
        int width = decoded_->width;
        int height = decoded_->height;
        if (!isAllowedPictureSize(width, height)) {
            return Error{pictureSizeError("a decoded picture", width, height)};
        }
        Size fitted = media::fitInside(Size{double(width), double(height)}, size_);
        auto image = converter_.convert(decoded_.get(), int(fitted.width), int(fitted.height));
        av_frame_unref(decoded_.get());
        if (!image) {
            return image.error();
        }
        media::Frame frame;
        frame.image = std::move(*image);
        frame.presentationTime = times_[index];
        frame.duration =
            index + 1 < times_.size() ? times_[index + 1] - times_[index] : MediaTime::invalid();
        if (kept_.size() == kKeptFrames) {
            kept_.pop_front();
        }
        kept_.push_back(KeptFrame{index, frame});
        return frame;
    }

    VideoInput video_;
    AVRational timeBase_{1, 1};
    PacketPtr packet_;
    FramePtr decoded_;
    ImageConverter converter_{ImageConverter::Quality::Fast};
    std::vector<int64_t> units_;     // presentation times of the frames, in order
    std::vector<int64_t> keyUnits_;  // of the key frames, in order
    std::vector<MediaTime> times_;
    bool reordered_ = false;             // frames are decoded out of presentation order
    std::optional<size_t> lastAsked_;    // the frame asked for last
    std::optional<size_t> decoderAt_;    // the frame the decoder gave last
    std::optional<int64_t> drainAfter_;  // drain the decoder once this packet is in
    bool drained_ = false;               // the decoder is being drained or empty
    size_t block_ = 1;                   // frames decoded for the last step backward
    Size size_;
    std::deque<KeptFrame> kept_;
};

class FfmpegMovie final : public media::Movie {
public:
    FfmpegMovie(std::filesystem::path file, media::MovieInfo info)
        : path_(std::move(file)), info_(std::move(info)) {}

    const std::filesystem::path& path() const override { return path_; }
    const media::MovieInfo& info() const override { return info_; }

    Result<std::unique_ptr<media::FrameReader>> makeFrameReader(
        const media::FrameReaderOptions& options) const override {
        return FfmpegFrameReader::open(path_, options);
    }

    Result<std::unique_ptr<media::FrameSource>> makeFrameSource() const override {
        return FfmpegFrameSource::open(path_);
    }

    Result<std::vector<MediaTime>> presentationTimes() const override {
        auto input = openInput(path_);
        if (!input) {
            return input.error();
        }
        AVFormatContext* context = input->get();
        int index = -1;
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            const AVStream* stream = context->streams[i];
            if (index < 0 && stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
                index = int(i);
            } else {
                context->streams[i]->discard = AVDISCARD_ALL;
            }
        }
        if (index < 0) {
            return Error{path_.string() + " has no video track"};
        }
        AVRational timeBase = context->streams[index]->time_base;
        std::vector<int64_t> units;
        PacketPtr packet(av_packet_alloc());
        int status;
        while ((status = av_read_frame(context, packet.get())) >= 0) {
            if (packet->stream_index == index && packet->pts != AV_NOPTS_VALUE) {
                units.push_back(packet->pts);
            }
            av_packet_unref(packet.get());
        }
        if (status != AVERROR_EOF) {
            return Error{"cannot read " + path_.string() + ": " + errorText(status)};
        }
        // Packets come in decoding order; with reordered frames that is not display order.
        std::sort(units.begin(), units.end());
        std::vector<MediaTime> times;
        times.reserve(units.size());
        for (int64_t value : units) {
            times.push_back(mediaTime(value, timeBase));
        }
        return times;
    }

private:
    const std::filesystem::path path_;
    const media::MovieInfo info_;
};

}  // namespace

Result<media::MoviePtr> openMovie(const std::filesystem::path& file) {
    auto input = openInput(file);
    if (!input) {
        return input.error();
    }
    AVFormatContext* context = input->get();
    if (headersLackVideoFacts(context)) {
        int status = avformat_find_stream_info(context, nullptr);
        if (status < 0) {
            PINDLE_LOG_WARNING(kTag, "avformat_find_stream_info failed %d", status);
        }
    }
    media::MovieInfo info = readInfo(context);
    auto width = int64_t(info.naturalSize.width);
    auto height = int64_t(info.naturalSize.height);
    if (width > 0 && height > 0 && !isAllowedPictureSize(width, height)) {
        return Error{pictureSizeError(file.string() + " has pictures", width, height)};
    }
    return media::MoviePtr(std::make_shared<FfmpegMovie>(file, std::move(info)));
}

namespace {

// FFmpeg's own messages about a damaged file or a refused setting go to the program's log as
// debug lines: the failure itself reaches the user through the operation that met it, in one
// line, and FFmpeg's lines would otherwise land on standard error among a verb's report.
void logFFmpegMessage(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR || log::level() < log::Level::Debug) {
        return;
    }
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
    std::string text = line;
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    PINDLE_LOG_DEBUG("ffmpeg", "%s", text.c_str());
}

}  // namespace

void installMovieOpener() {
    av_log_set_level(AV_LOG_ERROR);
    av_log_set_callback(logFFmpegMessage);
    media::setMovieOpener(&openMovie);
}

}  // namespace pindle::ffmpeg
