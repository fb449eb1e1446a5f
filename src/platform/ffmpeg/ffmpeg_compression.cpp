#include "platform/ffmpeg/ffmpeg_compression.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "base/dispatch.h"
#include "base/log.h"
#include "platform/ffmpeg/ffmpeg_error.h"

namespace pindle::ffmpeg {
namespace {

constexpr const char* kTag = "h264";
// Frames a session holds before encodeFrame() waits: enough to overlap grabbing and
// encoding, few enough that a slow encoder makes the capture drop frames instead of
// piling them up.
constexpr size_t kMaxPendingFrames = 4;
// Encoder clock: microseconds. x264 gets its frame rate separately (60).
constexpr AVRational kTimeBase{1, 1'000'000};

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// The NAL units of an Annex B byte stream, without start codes.
std::vector<std::vector<uint8_t>> nalUnits(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> units;
    size_t i = 0;
    auto startCodeAt = [&](size_t at) {
        return at + 3 <= size && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1;
    };
    while (i < size && !startCodeAt(i)) {
        ++i;
    }
    while (i < size) {
        i += 3;
        size_t end = i;
        while (end < size && !startCodeAt(end)) {
            ++end;
        }
        size_t last = end;
        while (last > i && data[last - 1] == 0) {
            --last;  // trailing zero of a four-byte start code
        }
        if (last > i) {
            units.emplace_back(data + i, data + last);
        }
        i = end;
    }
    return units;
}

class Session final : public CompressionSession {
public:
    Session(int width, int height, OutputCallback callback, X264Settings settings)
        : width_(width),
          height_(height),
          callback_(std::move(callback)),
          settings_(std::move(settings)) {}

    ~Session() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    Status setMaxKeyFrameInterval(int frames) override {
        maxKeyFrameInterval_ = frames;
        return Ok{};
    }
    Status setMaxKeyFrameIntervalDuration(double seconds) override {
        maxKeyFrameIntervalSeconds_ = seconds;
        return Ok{};
    }
    Status setPixelBufferPixelFormat(uint32_t pixelFormat) override {
        if (pixelFormat != kPixelFormat420v) {
            return Error{"pixel format " + fourCCString(pixelFormat) + " is not supported"};
        }
        return Ok{};
    }
    Status setAverageBitRate(int64_t bitsPerSecond) override {
        bitRate_ = bitsPerSecond;
        return Ok{};
    }

    Status prepareToEncodeFrames() override {
        if (context_) {
            return Ok{};
        }
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (codec == nullptr) {
            return Error{"the libx264 encoder is not available in this FFmpeg"};
        }
        std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(codec));
        context->width = width_;
        context->height = height_;
        context->pix_fmt = AV_PIX_FMT_NV12;
        context->color_range = AVCOL_RANGE_MPEG;
        context->time_base = kTimeBase;
        context->framerate = AVRational{60, 1};
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        context->max_b_frames = 0;
        context->thread_count = 0;
        if (bitRate_) {
            context->bit_rate = *bitRate_;
        }
        int keyInterval = maxKeyFrameInterval_.value_or(0);
        if (maxKeyFrameIntervalSeconds_) {
            const int byDuration = std::max(1, int(*maxKeyFrameIntervalSeconds_ * 60));
            keyInterval = keyInterval > 0 ? std::min(keyInterval, byDuration) : byDuration;
        }
        if (keyInterval > 0) {
            context->gop_size = keyInterval;
        }
        av_opt_set(context->priv_data, "preset", settings_.preset.c_str(), 0);
        if (!settings_.tune.empty()) {
            av_opt_set(context->priv_data, "tune", settings_.tune.c_str(), 0);
        }
        av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
        if (const int error = avcodec_open2(context.get(), codec, nullptr); error < 0) {
            return Error{"opening the H.264 encoder failed: " + errorText(error)};
        }
        auto format = std::make_shared<FormatDescription>();
        format->mediaType = kMediaTypeVideo;
        format->mediaSubType = kCodecH264;
        format->width = width_;
        format->height = height_;
        format->extradata.assign(context->extradata, context->extradata + context->extradata_size);
        for (auto& unit : nalUnits(context->extradata, size_t(context->extradata_size))) {
            const int type = unit.empty() ? 0 : (unit[0] & 0x1f);
            if (type == 7 || type == 8) {
                format->parameterSets.push_back(std::move(unit));
            }
        }
        format_ = std::move(format);
        context_ = std::move(context);
        thread_ = std::thread([this] { run(); });
        return Ok{};
    }

    Status encodeFrame(PixelBufferPtr frame, MediaTime presentationTime, MediaTime duration,
                       bool forceKeyFrame) override {
        if (!context_) {
            return Error{"the encoder was not prepared"};
        }
        if (!frame || frame->pixelFormat != kPixelFormat420v || frame->width != width_ ||
            frame->height != height_) {
            return Error{"the frame is not a " + std::to_string(width_) + "x" +
                         std::to_string(height_) + " 420v picture"};
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return pending_.size() < kMaxPendingFrames || stopping_; });
        if (stopping_) {
            return Error{"the encoder is shutting down"};
        }
        pending_.push_back(Pending{std::move(frame), presentationTime, duration, forceKeyFrame});
        changed_.notify_all();
        return Ok{};
    }

    void completeFrames() override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return (pending_.empty() && !busy_) || stopping_; });
    }

private:
    struct Pending {
        PixelBufferPtr frame;
        MediaTime pts;
        MediaTime duration;
        bool forceKeyFrame;
    };

    void run() {
        dispatch::setCurrentThreadName("pindle.h264");
        std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
        std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
        for (;;) {
            Pending next;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !pending_.empty() || stopping_; });
                if (pending_.empty()) {
                    break;
                }
                next = std::move(pending_.front());
                pending_.pop_front();
                busy_ = true;
            }
            changed_.notify_all();
            encode(next, packet.get(), frame.get());
            {
                std::lock_guard lock(mutex_);
                busy_ = false;
            }
            changed_.notify_all();
        }
        drain(packet.get());
    }

    void encode(const Pending& pending, AVPacket* packet, AVFrame* frame) {
        // One frame serves every picture; the encoder takes its own reference to the
        // buffer, and the frame lets go of its one when the picture has been sent.
        frame->format = AV_PIX_FMT_NV12;
        frame->width = width_;
        frame->height = height_;
        // The frame refers to the picture's planes; the picture lives until the encoder
        // lets go of the buffer.
        auto* owner = new PixelBufferPtr(pending.frame);
        frame->buf[0] = av_buffer_create(
            const_cast<uint8_t*>(pending.frame->storage.data()), pending.frame->storage.size(),
            [](void* opaque, uint8_t*) { delete static_cast<PixelBufferPtr*>(opaque); }, owner,
            AV_BUFFER_FLAG_READONLY);
        if (frame->buf[0] == nullptr) {
            delete owner;
            callback_(Error{"out of memory"}, nullptr);
            return;
        }
        for (int plane = 0; plane < 2; ++plane) {
            frame->data[plane] = pending.frame->planes[plane];
            frame->linesize[plane] = pending.frame->strides[plane];
        }
        const MediaTime clock = pending.pts.convertScale(kTimeBase.den);
        frame->pts = clock.value;
        if (frame->pts <= lastPts_) {
            frame->pts = lastPts_ + 1;  // x264 needs rising times
        }
        lastPts_ = frame->pts;
        frame->pict_type = pending.forceKeyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        times_[frame->pts] = {pending.pts, pending.duration};
        const int sent = avcodec_send_frame(context_.get(), frame);
        const int64_t pts = frame->pts;
        av_frame_unref(frame);
        if (sent < 0) {
            times_.erase(pts);
            callback_(Error{"encoding a frame failed: " + errorText(sent)}, nullptr);
            return;
        }
        receive(packet);
    }

    void drain(AVPacket* packet) {
        if (avcodec_send_frame(context_.get(), nullptr) >= 0) {
            receive(packet);
        }
    }

    void receive(AVPacket* packet) {
        for (;;) {
            const int got = avcodec_receive_packet(context_.get(), packet);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
                return;
            }
            if (got < 0) {
                callback_(Error{"encoding failed: " + errorText(got)}, nullptr);
                return;
            }
            auto sample = std::make_shared<SampleBuffer>();
            sample->formatDescription = format_;
            sample->isKeyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            sample->data.assign(packet->data, packet->data + packet->size);
            if (auto it = times_.find(packet->pts); it != times_.end()) {
                sample->presentationTimeStamp = it->second.first;
                sample->duration = it->second.second;
                times_.erase(it);
            } else {
                sample->presentationTimeStamp = MediaTime::make(packet->pts, kTimeBase.den);
                sample->duration = MediaTime::make(1, 60);
            }
            av_packet_unref(packet);
            callback_(Ok{}, std::move(sample));
        }
    }

    const int width_;
    const int height_;
    const OutputCallback callback_;
    const X264Settings settings_;
    std::optional<int> maxKeyFrameInterval_;
    std::optional<double> maxKeyFrameIntervalSeconds_;
    std::optional<int64_t> bitRate_;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context_;
    FormatDescriptionPtr format_;

    std::mutex mutex_;  // guards pending_, busy_, stopping_
    std::condition_variable changed_;
    std::deque<Pending> pending_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;

    // Encoder thread only: the caller's times by encoder clock value.
    std::map<int64_t, std::pair<MediaTime, MediaTime>> times_;
    int64_t lastPts_ = INT64_MIN;
};

}  // namespace

// At the capture's bit rates every frame is an IDR frame with plenty of bits, and the
// presets differ little in picture: on screen content all decode at over 70 dB PSNR (luma),
// and on grainy photographic content at 1920x1080, where the bit-rate ceiling bites, they
// lie within 0.5 dB of each other. ultrafast costs a quarter of veryfast's CPU there.
// zerolatency is needed in any case: without it x264 holds frames back in its look-ahead,
// which a capture-last request would miss.
X264Settings captureX264Settings() {
    return {"ultrafast", "zerolatency"};
}

Result<std::unique_ptr<CompressionSession>> makeCompressionSession(
    int width, int height, uint32_t codecType, CompressionSession::OutputCallback callback) {
    return makeCompressionSessionWithSettings(width, height, codecType, std::move(callback),
                                              captureX264Settings());
}

Result<std::unique_ptr<CompressionSession>> makeCompressionSessionWithSettings(
    int width, int height, uint32_t codecType, CompressionSession::OutputCallback callback,
    X264Settings settings) {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() == AV_LOG_INFO) {
            av_log_set_level(AV_LOG_ERROR);  // x264's statistics are not for our users
        }
    });
    if (codecType != kCodecH264) {
        return Error{"codec " + fourCCString(codecType) + " is not supported"};
    }
    if (width < 2 || height < 2 || width % 2 != 0 || height % 2 != 0) {
        return Error{"H.264 frames need an even size of at least 2x2, not " +
                     std::to_string(width) + "x" + std::to_string(height)};
    }
    return std::unique_ptr<CompressionSession>(
        std::make_unique<Session>(width, height, std::move(callback), std::move(settings)));
}

}  // namespace pindle::ffmpeg
