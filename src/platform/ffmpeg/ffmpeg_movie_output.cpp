#include "platform/ffmpeg/ffmpeg_movie_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/atomic_file.h"
#include "base/log.h"
#include "platform/ffmpeg/descriptor_io.h"

namespace pindle::ffmpeg {
namespace {

constexpr const char* kTag = "movie-writer";
// Presentation times are kept at this resolution (a multiple of every usual frame rate's
// frame length: 24, 25, 30, 50, 60 per second and their NTSC variants in 1/1001 steps).
constexpr AVRational kTimeBase{1, 90000};
// Frames from one key frame of a delivery movie to the next at most, as x264 does by
// default. Players seek by decoding from the key frame before the wanted time, and more key
// frames make screen recordings much larger (a 640x360 8 s clip at 30 per second: 0.79 MB
// with one every 60 frames, 0.69 MB every 120, 0.65 MB every 250).
constexpr int kDeliveryKeyFrameInterval = 250;

std::string avError(int status) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(status, text, sizeof text);
    return text;
}

struct FormatOutputDeleter {
    void operator()(AVFormatContext* context) const {
        closeDescriptorOutput(&context->pb);
        avformat_free_context(context);
    }
};
struct FormatInputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using OutputPtr = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;
using InputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleDeleter>;

int64_t toUnits(MediaTime time, AVRational base) {
    return av_rescale_rnd(time.value, base.den, int64_t(time.timescale) * base.num,
                          AV_ROUND_NEAR_INF);
}

Result<InputPtr> openInput(const std::filesystem::path& file) {
    AVFormatContext* raw = nullptr;
    int status = avformat_open_input(&raw, file.c_str(), nullptr, nullptr);
    if (status < 0) {
        return Error{"cannot open " + file.string() + ": " + avError(status)};
    }
    InputPtr input(raw);
    if ((status = avformat_find_stream_info(input.get(), nullptr)) < 0) {
        return Error{"cannot read " + file.string() + ": " + avError(status)};
    }
    return input;
}

// An MP4 muxer writing the replacement's new version through its descriptor (the file may
// have no name to open).
Result<OutputPtr> openOutput(const FileReplacement& replacement) {
    AVFormatContext* raw = nullptr;
    int status = avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr);
    if (status < 0 || raw == nullptr) {
        return Error{"cannot make an MP4 muxer: " + avError(status)};
    }
    OutputPtr output(raw);
    output->pb = openDescriptorOutput(replacement.descriptor());
    if (output->pb == nullptr) {
        return Error{"cannot create " + replacement.destination().string() + ": out of memory"};
    }
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    return output;
}

// Writes out what the muxer still holds and puts the file in its destination's place.
Status closeAndCommit(OutputPtr& output, FileReplacement& replacement) {
    int status = closeDescriptorOutput(&output->pb);
    output.reset();
    if (status < 0) {
        return Error{"cannot write " + replacement.destination().string() + ": " + avError(status)};
    }
    return replacement.commit();
}

// Refuses a size no picture may have before anything is set aside for it.
Status checkMovieSize(int width, int height) {
    if (!isAllowedPictureSize(width, height)) {
        return Error{"a movie cannot be " + std::to_string(width) + "x" + std::to_string(height) +
                     " pixels (" + kPictureSizeLimits + ")"};
    }
    return Ok{};
}

// Adds a stream copying an input stream's codec and returns it.
AVStream* addCopiedStream(AVFormatContext* output, const AVStream* source) {
    AVStream* stream = avformat_new_stream(output, nullptr);
    if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, source->codecpar) < 0) {
        return nullptr;
    }
    stream->codecpar->codec_tag = 0;
    stream->time_base = source->time_base;
    return stream;
}

// Copies the packets of [start, start + duration) of the input's first audio stream to the
// output's stream, moved to start at zero.
Status copyAudioRange(AVFormatContext* input, int audioIndex, AVFormatContext* output,
                      AVStream* outStream, MediaTime start, MediaTime duration) {
    AVStream* inStream = input->streams[audioIndex];
    int64_t startUnits = toUnits(start, inStream->time_base);
    int64_t endUnits =
        duration.isNumeric() ? toUnits(start + duration, inStream->time_base) : INT64_MAX;
    av_seek_frame(input, audioIndex, startUnits, AVSEEK_FLAG_BACKWARD);
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(input, packet.get()) >= 0) {
        if (packet->stream_index != audioIndex || packet->pts == AV_NOPTS_VALUE ||
            packet->pts < startUnits) {
            av_packet_unref(packet.get());
            continue;
        }
        if (packet->pts >= endUnits) {
            av_packet_unref(packet.get());
            break;
        }
        packet->pts -= startUnits;
        packet->dts = packet->pts;
        av_packet_rescale_ts(packet.get(), inStream->time_base, outStream->time_base);
        packet->stream_index = outStream->index;
        packet->pos = -1;
        int status = av_interleaved_write_frame(output, packet.get());
        if (status < 0) {
            return Error{"cannot write audio: " + avError(status)};
        }
    }
    return Ok{};
}

class FfmpegMovieWriter final : public media::MovieWriter {
public:
    FfmpegMovieWriter(std::filesystem::path file, media::MovieWriterSettings settings)
        : file_(std::move(file)), settings_(std::move(settings)) {}

    // An unfinished movie goes with replacement_; the destination is untouched.
    ~FfmpegMovieWriter() override {
        encoder_.reset();
        output_.reset();
    }

    Status open() {
        if (Status size = checkMovieSize(settings_.width, settings_.height); !size) {
            return size;
        }
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (codec == nullptr) {
            return Error{"the H.264 encoder libx264 is not available"};
        }
        auto replacement = FileReplacement::begin(file_);
        if (!replacement) {
            return replacement.error();
        }
        replacement_.emplace(std::move(*replacement));
        auto output = openOutput(*replacement_);
        if (!output) {
            return output.error();
        }
        output_ = std::move(output.value());

        bool intermediate = settings_.quality == media::EncodingQuality::Intermediate;
        // H.264 4:2:0 needs even sides; odd ones are rounded up and the picture stretched
        // by that one pixel.
        width_ = intermediate ? settings_.width : (settings_.width + 1) & ~1;
        height_ = intermediate ? settings_.height : (settings_.height + 1) & ~1;
        encoder_.reset(avcodec_alloc_context3(codec));
        encoder_->width = width_;
        encoder_->height = height_;
        encoder_->pix_fmt = intermediate ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
        encoder_->time_base = kTimeBase;
        if (settings_.nominalFrameRate > 0) {
            encoder_->framerate = av_d2q(settings_.nominalFrameRate, 100000);
        }
        encoder_->colorspace = colorspace_;
        encoder_->color_range = AVCOL_RANGE_MPEG;
        // Movies the program reads again are all key frames. Delivery files have B-frames
        // as x264's preset picks them (a screen clip then takes about a third of the bytes);
        // their packets leave the encoder in decoding order.
        if (intermediate) {
            encoder_->max_b_frames = 0;
            encoder_->gop_size = 1;
        } else {
            encoder_->gop_size = kDeliveryKeyFrameInterval;
        }
        encoder_->thread_count = 0;
        if (output_->oformat->flags & AVFMT_GLOBALHEADER) {
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        AVDictionary* options = nullptr;
        av_dict_set(&options, "preset", intermediate ? "ultrafast" : "veryfast", 0);
        av_dict_set(&options, "crf", intermediate ? "4" : "18", 0);
        int status = avcodec_open2(encoder_.get(), codec, &options);
        av_dict_free(&options);
        if (status < 0) {
            return Error{"cannot start the H.264 encoder: " + avError(status)};
        }
        stream_ = avformat_new_stream(output_.get(), nullptr);
        avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
        stream_->time_base = kTimeBase;
        if (settings_.nominalFrameRate > 0) {
            stream_->avg_frame_rate = encoder_->framerate;
        }

        InputPtr audioInput;
        AVStream* audioStream = nullptr;
        int audioIndex = -1;
        if (settings_.audio) {
            auto input = openInput(settings_.audio->source);
            if (input) {
                audioIndex =
                    av_find_best_stream(input->get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
                if (audioIndex >= 0) {
                    audioInput = std::move(input.value());
                    audioStream = addCopiedStream(output_.get(), audioInput->streams[audioIndex]);
                }
            }
        }
        if ((status = avformat_write_header(output_.get(), nullptr)) < 0) {
            return Error{"cannot write the movie header: " + avError(status)};
        }
        // Audio goes first: the muxer holds it until the video catches up, which costs
        // little since audio is small.
        if (audioStream != nullptr) {
            Status copied = copyAudioRange(audioInput.get(), audioIndex, output_.get(), audioStream,
                                           settings_.audio->start, settings_.audio->duration);
            if (!copied) {
                return copied;
            }
        }
        frame_.reset(av_frame_alloc());
        frame_->format = encoder_->pix_fmt;
        frame_->width = width_;
        frame_->height = height_;
        if ((status = av_frame_get_buffer(frame_.get(), 0)) < 0) {
            return Error{"out of memory for a video frame"};
        }
        packet_.reset(av_packet_alloc());
        return Ok{};
    }

    Status appendFrame(const Image& image, MediaTime presentationTime) override {
        if (finished_) {
            return Error{"the movie is already finished"};
        }
        if (image.isEmpty() || !presentationTime.isNumeric()) {
            return Error{"no picture or no time for a movie frame"};
        }
        int64_t pts = toUnits(presentationTime, kTimeBase);
        if (framesIn_ > 0 && pts <= lastPts_) {
            return Error{"movie frames out of order at " + presentationTime.description()};
        }
        scaler_.reset(sws_getCachedContext(
            scaler_.release(), image.width, image.height, AV_PIX_FMT_RGBA, width_, height_,
            AVPixelFormat(encoder_->pix_fmt), SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!scaler_) {
            return Error{"cannot convert a picture for the H.264 encoder"};
        }
        int status = av_frame_make_writable(frame_.get());
        if (status < 0) {
            return Error{"out of memory for a video frame"};
        }
        const uint8_t* src[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
        int srcStride[4] = {image.stride, 0, 0, 0};
        sws_scale(scaler_.get(), src, srcStride, 0, image.height, frame_->data, frame_->linesize);
        return encode(frame_.get(), pts);
    }

    // Pictures already in the encoder's pixel format and size (pixelFormat(), width(),
    // height()) skip the conversion; pts is in 1/90000 s.
    Status appendPicture(const AVFrame* picture, int64_t pts) {
        if (finished_) {
            return Error{"the movie is already finished"};
        }
        if (picture->format != encoder_->pix_fmt || picture->width != width_ ||
            picture->height != height_) {
            return Error{"a picture the H.264 encoder cannot take as it is"};
        }
        if (framesIn_ > 0 && pts <= lastPts_) {
            return Error{"movie frames out of order"};
        }
        FramePtr frame(av_frame_clone(picture));
        if (!frame) {
            return Error{"out of memory for a video frame"};
        }
        return encode(frame.get(), pts);
    }

    // The colour matrix the file declares, for pictures given in it; set before open().
    void setColorspace(AVColorSpace colorspace) { colorspace_ = colorspace; }
    AVPixelFormat pixelFormat() const { return AVPixelFormat(encoder_->pix_fmt); }
    int width() const { return width_; }
    int height() const { return height_; }

    Status finish(MediaTime endTime) override {
        if (finished_) {
            return Error{"the movie is already finished"};
        }
        if (framesIn_ == 0) {
            return Error{"the movie has no frames"};
        }
        int64_t end = endTime.isNumeric() ? toUnits(endTime, kTimeBase) : -1;
        if (end <= lastPts_) {
            end = lastPts_ + std::max<int64_t>(lastDuration_, 1);
        }
        durations_[lastPts_] = end - lastPts_;
        avcodec_send_frame(encoder_.get(), nullptr);
        if (Status drained = drainEncoder(); !drained) {
            return drained;
        }
        if (encoded_.size() != 1 || durations_.size() != 1 ||
            durations_.count(encoded_.front()->pts) == 0) {
            return Error{"the H.264 encoder lost a frame"};
        }
        if (Status written = writeLastPacket(end); !written) {
            return written;
        }
        int status = av_write_trailer(output_.get());
        if (status < 0) {
            return Error{"cannot finish " + file_.string() + ": " + avError(status)};
        }
        finished_ = true;
        return closeAndCommit(output_, *replacement_);
    }

private:
    Status encode(AVFrame* frame, int64_t pts) {
        frame->pts = pts;
        if (framesIn_ > 0) {
            lastDuration_ = pts - lastPts_;
            durations_[lastPts_] = lastDuration_;
        }
        lastPts_ = pts;
        ++framesIn_;
        int status = avcodec_send_frame(encoder_.get(), frame);
        if (status < 0) {
            return Error{"the H.264 encoder refused a frame: " + avError(status)};
        }
        return drainEncoder();
    }

    // Takes the encoded packets, which come in decoding order, and writes them in that
    // order, each once its own frame's duration is known: a frame lasts until the next one
    // appended (the last until the end given to finish()). The muxer ends the movie at the
    // latest pts plus duration of its packets, so every packet carries its own frame's
    // duration rather than the time to the next packet. The newest packet is kept back:
    // the last one of the movie is written by finish().
    Status drainEncoder() {
        int status;
        while ((status = avcodec_receive_packet(encoder_.get(), packet_.get())) == 0) {
            PacketPtr packet(av_packet_alloc());
            if (!packet) {
                return Error{"out of memory for an encoded frame"};
            }
            av_packet_move_ref(packet.get(), packet_.get());
            encoded_.push_back(std::move(packet));
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
            return Error{"the H.264 encoder failed: " + avError(status)};
        }
        while (encoded_.size() > 1) {
            auto duration = durations_.find(encoded_.front()->pts);
            if (duration == durations_.end()) {
                break;
            }
            Status written = writePacket(encoded_.front().get(), duration->second);
            durations_.erase(duration);
            encoded_.pop_front();
            if (!written) {
                return written;
            }
        }
        return Ok{};
    }

    // Demuxers take a track's length as the shorter of its presentation length (the latest
    // pts plus duration, which the muxer also writes in the edit list) and the sum of its
    // samples' decoding intervals, which ends at the last packet's dts plus duration. With
    // reordered frames decoding runs firstDelay_ ahead of presentation, so the last packet
    // (in decoding order) ends firstDelay_ before the movie does: the sum is then the
    // movie's length, as without reordering. Should that packet be shown more than
    // firstDelay_ after its dts, the dts moves up so that it is not shown past the end.
    Status writeLastPacket(int64_t end) {
        AVPacket* packet = encoded_.front().get();
        if (packet->dts == AV_NOPTS_VALUE || framesOut_ == 0) {
            packet->dts = packet->pts;
        }
        int64_t delay = framesOut_ == 0 ? 0 : firstDelay_;
        packet->dts = std::max(packet->dts, packet->pts - delay);
        int64_t duration = end - delay - packet->dts;
        durations_.clear();
        Status written = writePacket(packet, duration);
        encoded_.clear();
        return written;
    }

    Status writePacket(AVPacket* packet, int64_t duration) {
        packet->duration = std::max<int64_t>(duration, 1);
        if (packet->dts == AV_NOPTS_VALUE) {
            packet->dts = packet->pts;
        }
        if (framesOut_++ == 0) {
            firstDelay_ = packet->pts - packet->dts;
        }
        packet->stream_index = stream_->index;
        av_packet_rescale_ts(packet, kTimeBase, stream_->time_base);
        int status = av_interleaved_write_frame(output_.get(), packet);
        if (status < 0) {
            PINDLE_LOG_ERROR(kTag, "av_interleaved_write_frame failed %d", status);
            return Error{"cannot write " + file_.string() + ": " + avError(status)};
        }
        return Ok{};
    }

    std::filesystem::path file_;
    std::optional<FileReplacement> replacement_;  // what is written until finish()
    media::MovieWriterSettings settings_;
    AVColorSpace colorspace_ = AVCOL_SPC_SMPTE170M;
    int width_ = 0;
    int height_ = 0;
    OutputPtr output_;
    CodecPtr encoder_;
    AVStream* stream_ = nullptr;
    FramePtr frame_;
    PacketPtr packet_;
    // Encoded packets in decoding order, waiting for their frame's duration.
    std::deque<PacketPtr> encoded_;
    // Durations of the frames appended and not yet written, by pts.
    std::map<int64_t, int64_t> durations_;
    ScalePtr scaler_;
    int64_t framesIn_ = 0;
    int64_t lastPts_ = 0;
    int64_t lastDuration_ = 1;
    int64_t framesOut_ = 0;
    // How long before its presentation the first packet is decoded (pts - dts), 0 without
    // reordered frames.
    int64_t firstDelay_ = 0;
    bool finished_ = false;
};

// One video frame of a movie as its packet tells it, without decoding.
struct SourceFrame {
    int64_t pts = 0;
    int64_t duration = 0;
    bool key = false;
};

// A movie's video frames in presentation order and the end of its video, in the track's
// time base.
struct TrackIndex {
    std::vector<SourceFrame> frames;
    int64_t end = 0;
};

Result<TrackIndex> indexTrack(AVFormatContext* in, int videoIndex) {
    const AVStream* stream = in->streams[videoIndex];
    TrackIndex index;
    av_seek_frame(in, videoIndex, stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time,
                  AVSEEK_FLAG_BACKWARD);
    PacketPtr packet(av_packet_alloc());
    int status;
    while ((status = av_read_frame(in, packet.get())) >= 0) {
        if (packet->stream_index == videoIndex && packet->pts != AV_NOPTS_VALUE) {
            index.frames.push_back({packet->pts, std::max<int64_t>(packet->duration, 0),
                                    (packet->flags & AV_PKT_FLAG_KEY) != 0});
        }
        av_packet_unref(packet.get());
    }
    if (status != AVERROR_EOF) {
        return Error{"cannot read the video: " + avError(status)};
    }
    if (index.frames.empty()) {
        return Error{"the video has no frames"};
    }
    std::sort(index.frames.begin(), index.frames.end(),
              [](const SourceFrame& a, const SourceFrame& b) { return a.pts < b.pts; });
    const SourceFrame& last = index.frames.back();
    index.end = last.pts + std::max<int64_t>(last.duration, 1);
    if (stream->duration != AV_NOPTS_VALUE) {
        index.end = std::max(index.end, stream->duration);
    }
    return index;
}

// The reversed frames first..last that a reversed segment shows (reversed frame j shows
// source frame count - 1 - j from the time of source frame j), with the segment's range
// and place in the track's time base.
struct ReversedPlan {
    size_t first = 0;
    size_t last = 0;
    int64_t start = 0;
    int64_t end = 0;
    int64_t at = 0;
};

// Source frames read into memory at a time while reversing.
constexpr size_t kReversedChunkFrames = 30;

Result<ReversedPlan> planReversed(const TrackIndex& index, const media::SegmentCopy& segment,
                                  AVRational base) {
    const std::vector<SourceFrame>& frames = index.frames;
    const size_t count = frames.size();
    ReversedPlan plan;
    plan.start = toUnits(segment.start, base);
    plan.end =
        segment.duration.isNumeric() ? toUnits(segment.start + segment.duration, base) : index.end;
    plan.at = toUnits(segment.at, base);
    if (plan.end <= plan.start) {
        return Error{"an empty segment cannot be reversed"};
    }
    auto byPts = [](int64_t pts, const SourceFrame& f) { return pts < f.pts; };
    // The frame on screen at the start, and the last one starting before the end.
    auto after = std::upper_bound(frames.begin(), frames.end(), plan.start, byPts);
    plan.first = after == frames.begin() ? 0 : size_t(after - frames.begin()) - 1;
    auto reaching = std::lower_bound(frames.begin(), frames.end(), plan.end,
                                     [](const SourceFrame& f, int64_t pts) { return f.pts < pts; });
    plan.last = reaching == frames.begin() ? 0 : size_t(reaching - frames.begin()) - 1;
    plan.last = std::max(plan.last, plan.first);
    for (size_t j = plan.first; j <= plan.last; ++j) {
        if (!frames[count - 1 - j].key) {
            return Error{"the reversed range has frames that are not key frames"};
        }
    }
    return plan;
}

// Takes one packet of a segment: the source's packet (its pts still the source's) and
// the time and duration it has in the output, in the source's time base.
using WritePacket = std::function<Status(AVPacket*, int64_t pts, int64_t duration)>;

// Decodes the packets of segments, scales the pictures straight to the writer's size and
// pixel format, and encodes them at their output times. When every frame of the source is a
// key frame, a picture that the segments show again (a ping-pong's backward half) is kept,
// within a memory budget, instead of being decoded twice.
class SegmentDecoder {
public:
    SegmentDecoder(FfmpegMovieWriter& writer, AVRational base) : writer_(writer), base_(base) {}

    // index: the source's frames, when they were read (only segments read backwards show
    // pictures again).
    Status open(const AVCodecParameters* parameters, const std::optional<TrackIndex>& index,
                const std::vector<media::SegmentCopy>& segments) {
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        if (codec == nullptr) {
            return Error{"no decoder for the movie's video"};
        }
        decoder_.reset(avcodec_alloc_context3(codec));
        if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), parameters) < 0) {
            return Error{"out of memory"};
        }
        decoder_->thread_count = 0;
        decoder_->pkt_timebase = base_;
        int status = avcodec_open2(decoder_.get(), codec, nullptr);
        if (status < 0) {
            return Error{"cannot open the video decoder: " + avError(status)};
        }
        decoded_.reset(av_frame_alloc());
        keepPictures_ = index && std::all_of(index->frames.begin(), index->frames.end(),
                                             [](const SourceFrame& frame) { return frame.key; });
        if (keepPictures_) {
            countUses(*index, segments);
        }
        return Ok{};
    }

    Status put(AVPacket* packet, int64_t pts, int64_t duration) {
        int64_t sourcePts = packet->pts;
        int64_t outPts = av_rescale_q(pts, base_, kTimeBase);
        end_ = std::max(end_, pts + duration);
        auto uses = uses_.find(sourcePts);
        bool usedAgain = uses != uses_.end() && --uses->second > 0;
        if (uses != uses_.end() && uses->second <= 0) {
            uses_.erase(uses);
        }
        auto kept = kept_.find(sourcePts);
        if (kept != kept_.end()) {
            av_packet_unref(packet);
            // Pictures still in the decoder come first.
            if (Status drained = drainDecoder(); !drained) {
                return drained;
            }
            Status added = writer_.appendPicture(kept->second.get(), outPts);
            if (!usedAgain) {
                keptBytes_ -= pictureBytes();
                kept_.erase(kept);
            }
            return added;
        }
        packet->dts = AV_NOPTS_VALUE;
        waiting_.push_back({sourcePts, outPts, usedAgain});
        int status;
        while ((status = avcodec_send_packet(decoder_.get(), packet)) == AVERROR(EAGAIN)) {
            if (Status received = receive(); !received) {
                return received;
            }
        }
        av_packet_unref(packet);
        if (status < 0) {
            return Error{"cannot decode a video frame: " + avError(status)};
        }
        return receive();
    }

    // Takes the last pictures from the decoder.
    Status finish() { return drainDecoder(); }

    // The end of the last segment.
    MediaTime end() const {
        return MediaTime::make(av_rescale_q(end_, base_, kTimeBase), kTimeBase.den);
    }

private:
    struct Waiting {
        int64_t sourcePts;
        int64_t outPts;
        bool keep;
    };

    // How many times the segments show each source frame (only those shown more than once
    // are kept), counted as the segments are read: forward segments show the frames whose
    // display interval meets their range, reversed ones those their plan names.
    void countUses(const TrackIndex& index, const std::vector<media::SegmentCopy>& segments) {
        const std::vector<SourceFrame>& frames = index.frames;
        for (const media::SegmentCopy& segment : segments) {
            if (segment.reversed) {
                auto plan = planReversed(index, segment, base_);
                if (plan) {
                    for (size_t j = plan->first; j <= plan->last; ++j) {
                        ++uses_[frames[frames.size() - 1 - j].pts];
                    }
                }
                continue;
            }
            int64_t start = toUnits(segment.start, base_);
            int64_t end = segment.duration.isNumeric()
                              ? toUnits(segment.start + segment.duration, base_)
                              : INT64_MAX;
            for (const SourceFrame& frame : frames) {
                if (frame.pts < end && frame.pts + std::max<int64_t>(frame.duration, 1) > start) {
                    ++uses_[frame.pts];
                }
            }
        }
    }

    size_t pictureBytes() const {
        return size_t(
            av_image_get_buffer_size(writer_.pixelFormat(), writer_.width(), writer_.height(), 1));
    }

    Status receive() {
        int status;
        while ((status = avcodec_receive_frame(decoder_.get(), decoded_.get())) == 0) {
            Status shown = show(decoded_.get());
            av_frame_unref(decoded_.get());
            if (!shown) {
                return shown;
            }
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
            return Error{"cannot decode a video frame: " + avError(status)};
        }
        return Ok{};
    }

    // Empties the decoder and makes it ready for more packets.
    Status drainDecoder() {
        if (waiting_.empty()) {
            return Ok{};
        }
        avcodec_send_packet(decoder_.get(), nullptr);
        Status received = receive();
        avcodec_flush_buffers(decoder_.get());
        if (received && !waiting_.empty()) {
            return Error{"the decoder lost a frame"};
        }
        return received;
    }

    Status show(const AVFrame* frame) {
        if (waiting_.empty() || frame->best_effort_timestamp != waiting_.front().sourcePts) {
            return Error{"the decoder gave a frame out of order"};
        }
        Waiting next = waiting_.front();
        waiting_.pop_front();
        FramePtr picture(av_frame_alloc());
        if (!picture) {
            return Error{"out of memory for a video frame"};
        }
        picture->format = writer_.pixelFormat();
        picture->width = writer_.width();
        picture->height = writer_.height();
        if (av_frame_get_buffer(picture.get(), 0) < 0) {
            return Error{"out of memory for a video frame"};
        }
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame->width, frame->height,
                                           AVPixelFormat(frame->format), picture->width,
                                           picture->height, writer_.pixelFormat(), SWS_BICUBIC,
                                           nullptr, nullptr, nullptr));
        if (!scaler_) {
            return Error{"cannot scale the video frames"};
        }
        // Full-range pictures are brought to the video range the file declares.
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scaler_.get(), coefficients,
                                 frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0, coefficients, 0, 0,
                                 1 << 16, 1 << 16);
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, picture->data,
                  picture->linesize);
        if (next.keep && keptBytes_ + pictureBytes() <= kKeptPicturesBudget) {
            FramePtr copy(av_frame_clone(picture.get()));
            if (copy) {
                keptBytes_ += pictureBytes();
                kept_[next.sourcePts] = std::move(copy);
            }
        }
        return writer_.appendPicture(picture.get(), next.outPts);
    }

    static constexpr size_t kKeptPicturesBudget = size_t(256) * 1024 * 1024;

    FfmpegMovieWriter& writer_;
    AVRational base_;
    CodecPtr decoder_;
    FramePtr decoded_;
    ScalePtr scaler_;
    std::deque<Waiting> waiting_;
    bool keepPictures_ = false;
    std::map<int64_t, int> uses_;  // by source time: how many more times a frame is shown
    std::map<int64_t, FramePtr> kept_;
    size_t keptBytes_ = 0;
    int64_t end_ = 0;
};

class FfmpegMovieOutput final : public media::MovieOutput {
public:
    Result<std::unique_ptr<media::MovieWriter>> makeWriter(
        const std::filesystem::path& file, const media::MovieWriterSettings& settings) override {
        auto writer = std::make_unique<FfmpegMovieWriter>(file, settings);
        if (Status opened = writer->open(); !opened) {
            PINDLE_LOG_ERROR(kTag, "%s", opened.error().message.c_str());
            return opened.error();
        }
        return std::unique_ptr<media::MovieWriter>(std::move(writer));
    }

    Status copySegments(const std::filesystem::path& source,
                        const std::vector<media::SegmentCopy>& segments, bool withAudio,
                        const std::filesystem::path& file) override {
        return copy(source, segments, withAudio, file);
    }

    Status encodeSegments(const std::filesystem::path& source,
                          const std::vector<media::SegmentCopy>& segments,
                          const media::MovieWriterSettings& settings,
                          const std::filesystem::path& file,
                          const std::function<void(float)>& progress) override {
        return encode(source, segments, settings, file, progress);
    }

private:
    // A source opened for reading its video packets, with its reversed segments planned.
    struct Source {
        InputPtr input;
        int videoIndex = -1;
        std::optional<TrackIndex> index;
        std::vector<ReversedPlan> plans;

        AVStream* video() const { return input->streams[videoIndex]; }
    };

    // Reversed segments are planned before anything is written, so that a source they
    // cannot be taken from fails at once.
    static Result<Source> openSource(const std::filesystem::path& file,
                                     const std::vector<media::SegmentCopy>& segments) {
        Source source;
        auto input = openInput(file);
        if (!input) {
            return input.error();
        }
        source.input = std::move(*input);
        AVFormatContext* in = source.input.get();
        source.videoIndex = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (source.videoIndex < 0) {
            return Error{file.string() + " has no video"};
        }
        // Audio is read through a context of its own; this one reads only the video.
        for (unsigned i = 0; i < in->nb_streams; ++i) {
            in->streams[i]->discard =
                int(i) == source.videoIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
        source.plans.resize(segments.size());
        for (size_t i = 0; i < segments.size(); ++i) {
            if (!segments[i].reversed) {
                continue;
            }
            if (!source.index) {
                auto read = indexTrack(in, source.videoIndex);
                if (!read) {
                    return read.error();
                }
                source.index = std::move(*read);
            }
            auto plan = planReversed(*source.index, segments[i], source.video()->time_base);
            if (!plan) {
                return plan.error();
            }
            source.plans[i] = *plan;
        }
        return source;
    }

    // Hands write the packets of every segment in output order, with their output times.
    static Status produce(Source& source, const std::vector<media::SegmentCopy>& segments,
                          const WritePacket& write) {
        for (size_t i = 0; i < segments.size(); ++i) {
            Status done = segments[i].reversed ? copyReversed(source.input.get(), source.videoIndex,
                                                              *source.index, source.plans[i], write)
                                               : copyForward(source.input.get(), source.videoIndex,
                                                             segments[i], write);
            if (!done) {
                return done;
            }
        }
        return Ok{};
    }

    Status copy(const std::filesystem::path& file, const std::vector<media::SegmentCopy>& segments,
                bool withAudio, const std::filesystem::path& outputFile) {
        if (withAudio && !segments.empty() && segments.front().reversed) {
            return Error{"audio cannot be copied with a reversed segment"};
        }
        auto opened = openSource(file, segments);
        if (!opened) {
            return opened.error();
        }
        Source& source = *opened;
        AVFormatContext* in = source.input.get();
        AVStream* inVideo = source.video();
        AVRational base = inVideo->time_base;
        auto replacement = FileReplacement::begin(outputFile);
        if (!replacement) {
            return replacement.error();
        }
        auto output = openOutput(*replacement);
        if (!output) {
            return output.error();
        }
        AVFormatContext* out = output->get();
        AVStream* outVideo = addCopiedStream(out, inVideo);
        int audioIndex =
            withAudio ? av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) : -1;
        AVStream* outAudio =
            audioIndex >= 0 ? addCopiedStream(out, in->streams[audioIndex]) : nullptr;
        if (outVideo == nullptr || (audioIndex >= 0 && outAudio == nullptr)) {
            return Error{"cannot set up the copied streams"};
        }
        outVideo->avg_frame_rate = inVideo->avg_frame_rate;
        int status = avformat_write_header(out, nullptr);
        if (status < 0) {
            return Error{"cannot write the movie header: " + avError(status)};
        }
        if (outAudio != nullptr && !segments.empty()) {
            auto audioInput = openInput(file);
            if (!audioInput) {
                return audioInput.error();
            }
            Status audio = copyAudioRange(audioInput->get(), audioIndex, out, outAudio,
                                          segments.front().start, segments.front().duration);
            if (!audio) {
                return audio;
            }
        }
        Status produced =
            produce(source, segments, [&](AVPacket* packet, int64_t pts, int64_t duration) {
                packet->pts = pts;
                packet->dts = pts;
                packet->duration = duration;
                packet->stream_index = outVideo->index;
                packet->pos = -1;
                av_packet_rescale_ts(packet, base, outVideo->time_base);
                int written = av_interleaved_write_frame(out, packet);
                if (written < 0) {
                    return Status{
                        Error{"cannot write " + outputFile.string() + ": " + avError(written)}};
                }
                return Status{Ok{}};
            });
        if (!produced) {
            return produced;
        }
        if ((status = av_write_trailer(out)) < 0) {
            return Error{"cannot finish " + outputFile.string() + ": " + avError(status)};
        }
        return closeAndCommit(*output, *replacement);
    }

    Status encode(const std::filesystem::path& file,
                  const std::vector<media::SegmentCopy>& segments,
                  const media::MovieWriterSettings& settings,
                  const std::filesystem::path& outputFile,
                  const std::function<void(float)>& progress) {
        auto opened = openSource(file, segments);
        if (!opened) {
            return opened.error();
        }
        Source& source = *opened;
        AVStream* inVideo = source.video();
        FfmpegMovieWriter writer(outputFile, settings);
        // The pictures keep their colour values; the file says how to read them.
        if (inVideo->codecpar->color_space != AVCOL_SPC_UNSPECIFIED) {
            writer.setColorspace(inVideo->codecpar->color_space);
        }
        if (Status ready = writer.open(); !ready) {
            return ready;
        }
        SegmentDecoder decoder(writer, inVideo->time_base);
        if (Status ready = decoder.open(inVideo->codecpar, source.index, segments); !ready) {
            return ready;
        }
        double total = 0;
        for (const auto& segment : segments) {
            if (segment.duration.isNumeric()) {
                total = std::max(total, (segment.at + segment.duration).seconds());
            }
        }
        double timeBase = av_q2d(inVideo->time_base);
        Status produced =
            produce(source, segments, [&](AVPacket* packet, int64_t pts, int64_t duration) {
                if (progress && total > 0) {
                    progress(float(std::clamp(double(pts) * timeBase / total, 0.0, 1.0)));
                }
                return decoder.put(packet, pts, duration);
            });
        if (!produced) {
            return produced;
        }
        if (Status drained = decoder.finish(); !drained) {
            return drained;
        }
        return writer.finish(decoder.end());
    }

    static Status copyForward(AVFormatContext* in, int videoIndex,
                              const media::SegmentCopy& segment, const WritePacket& write) {
        AVRational base = in->streams[videoIndex]->time_base;
        int64_t start = toUnits(segment.start, base);
        int64_t end = segment.duration.isNumeric() ? toUnits(segment.start + segment.duration, base)
                                                   : INT64_MAX;
        int64_t at = toUnits(segment.at, base);
        // Seek to the key frame at or before the start, then keep the packets whose display
        // interval meets the range: the frame on screen at the start first. Each packet is
        // written once the next one tells how long it lasts.
        av_seek_frame(in, videoIndex, start, AVSEEK_FLAG_BACKWARD);
        PacketPtr packet(av_packet_alloc());
        PacketPtr pending(av_packet_alloc());
        bool havePending = false;
        int64_t pendingPts = 0;  // on the output's timeline
        bool first = true;
        bool havePrevious = false;
        int64_t previousPts = 0;
        while (av_read_frame(in, packet.get()) >= 0) {
            if (packet->stream_index != videoIndex || packet->pts == AV_NOPTS_VALUE) {
                av_packet_unref(packet.get());
                continue;
            }
            int64_t pts = packet->pts;
            // With B-frames the packets come in decoding order; the range cannot be cut
            // from them by time.
            if (havePrevious && pts <= previousPts) {
                return Error{"frames stored out of display order cannot be copied"};
            }
            previousPts = pts;
            havePrevious = true;
            int64_t packetEnd = pts + std::max<int64_t>(packet->duration, 1);
            if (pts >= end) {
                av_packet_unref(packet.get());
                break;
            }
            if (packetEnd <= start) {
                av_packet_unref(packet.get());
                continue;
            }
            if (first && !(packet->flags & AV_PKT_FLAG_KEY)) {
                return Error{"the range does not start on a key frame"};
            }
            first = false;
            int64_t outPts = std::max<int64_t>(pts - start, 0) + at;
            if (havePending) {
                if (Status written = write(pending.get(), pendingPts, outPts - pendingPts);
                    !written) {
                    return written;
                }
            }
            av_packet_move_ref(pending.get(), packet.get());
            pendingPts = outPts;
            havePending = true;
        }
        if (havePending) {
            int64_t segmentEnd = end == INT64_MAX
                                     ? pendingPts + std::max<int64_t>(pending->duration, 1)
                                     : end - start + at;
            segmentEnd = std::max(segmentEnd, pendingPts + 1);
            return write(pending.get(), pendingPts, segmentEnd - pendingPts);
        }
        return Ok{};
    }

    // Writes the planned reversed frames, reading the source packets a few at a time from
    // the last one backwards.
    static Status copyReversed(AVFormatContext* in, int videoIndex, const TrackIndex& index,
                               const ReversedPlan& plan, const WritePacket& write) {
        const std::vector<SourceFrame>& frames = index.frames;
        const size_t count = frames.size();
        // Reversed frame j shows source frame count - 1 - j.
        auto outPts = [&](size_t j) {
            return std::max<int64_t>(frames[j].pts - plan.start, 0) + plan.at;
        };
        const size_t lowest = count - 1 - plan.last;
        size_t highest = count - 1 - plan.first;
        std::vector<PacketPtr> chunk;
        while (true) {
            size_t low = highest + 1 >= lowest + kReversedChunkFrames
                             ? std::max(lowest, highest + 1 - kReversedChunkFrames)
                             : lowest;
            if (Status read = readFrames(in, videoIndex, frames, low, highest, chunk); !read) {
                return read;
            }
            for (size_t k = highest + 1; k-- > low;) {
                size_t j = count - 1 - k;
                int64_t pts = outPts(j);
                int64_t until = j < plan.last ? outPts(j + 1) : plan.end - plan.start + plan.at;
                Status written =
                    write(chunk[k - low].get(), pts, std::max<int64_t>(until - pts, 1));
                if (!written) {
                    return written;
                }
            }
            if (low == lowest) {
                return Ok{};
            }
            highest = low - 1;
        }
    }

    // Reads the packets of source frames low..high into chunk (in that order).
    static Status readFrames(AVFormatContext* in, int videoIndex,
                             const std::vector<SourceFrame>& frames, size_t low, size_t high,
                             std::vector<PacketPtr>& chunk) {
        chunk.clear();
        chunk.resize(high - low + 1);
        size_t found = 0;
        // The seek lands on the frame at or before the first one wanted; should it land
        // after it, the track is read again from its start.
        for (int64_t seekTo : {frames[low].pts, frames.front().pts}) {
            av_seek_frame(in, videoIndex, seekTo, AVSEEK_FLAG_BACKWARD);
            PacketPtr packet(av_packet_alloc());
            while (found < chunk.size() && av_read_frame(in, packet.get()) >= 0) {
                if (packet->stream_index != videoIndex || packet->pts == AV_NOPTS_VALUE ||
                    packet->pts < frames[low].pts) {
                    av_packet_unref(packet.get());
                    continue;
                }
                if (packet->pts > frames[high].pts) {
                    av_packet_unref(packet.get());
                    break;
                }
                auto at = std::lower_bound(
                    frames.begin() + ptrdiff_t(low), frames.begin() + ptrdiff_t(high) + 1,
                    packet->pts, [](const SourceFrame& f, int64_t pts) { return f.pts < pts; });
                PacketPtr& slot = chunk[size_t(at - frames.begin()) - low];
                if (at->pts == packet->pts && !slot) {
                    slot.reset(av_packet_alloc());
                    av_packet_move_ref(slot.get(), packet.get());
                    ++found;
                } else {
                    av_packet_unref(packet.get());
                }
            }
            if (found == chunk.size()) {
                return Ok{};
            }
        }
        return Error{"cannot read the frames to reverse"};
    }
};

}  // namespace

std::shared_ptr<media::MovieOutput> makeMovieOutput() {
    return std::make_shared<FfmpegMovieOutput>();
}

}  // namespace pindle::ffmpeg
