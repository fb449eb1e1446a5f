#include "platform/ffmpeg/ffmpeg_movie_writer.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <atomic>
#include <mutex>
#include <optional>

#include "base/atomic_file.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "platform/ffmpeg/descriptor_io.h"
#include "platform/ffmpeg/ffmpeg_error.h"

namespace pindle::ffmpeg {
namespace {

constexpr const char* kTag = "movie-writer";
// Track timescale: a 1/60 s frame is 1000 ticks.
constexpr AVRational kTrackTimeBase{1, 60000};

class Writer;

class VideoInput final : public MovieWriterInput {
public:
    explicit VideoInput(std::weak_ptr<Writer> writer) : writer_(std::move(writer)) {}
    bool appendSampleBuffer(const SampleBufferPtr& sample) override;
    bool isReadyForMoreMediaData() const override;
    void setExpectsMediaDataInRealTime(bool) override {}

private:
    std::weak_ptr<Writer> writer_;
};

class Writer final : public MovieWriter, public std::enable_shared_from_this<Writer> {
public:
    explicit Writer(std::filesystem::path url) : url_(std::move(url)) {}

    ~Writer() override {
        if (context_ != nullptr) {
            closeDescriptorOutput(&context_->pb);
            avformat_free_context(context_);
        }
    }

    Result<std::shared_ptr<MovieWriterInput>> addInput(
        uint32_t mediaType, std::optional<AudioOutputSettings> outputSettings,
        FormatDescriptionPtr sourceFormatHint) override {
        std::lock_guard lock(mutex_);
        if (mediaType != kMediaTypeVideo || outputSettings) {
            return Error{"this writer stores unchanged video tracks only"};
        }
        if (video_) {
            return Error{"this writer stores one video track"};
        }
        if (status_ != Status::Unknown) {
            return Error{"tracks are added before writing starts"};
        }
        format_ = std::move(sourceFormatHint);
        video_ = std::make_shared<VideoInput>(weak_from_this());
        return std::shared_ptr<MovieWriterInput>(video_);
    }

    bool startWriting() override {
        std::lock_guard lock(mutex_);
        if (status_ != Status::Unknown) {
            return false;
        }
        const std::string path = url_.string();
        // Held until the movie is complete: a library loaded meanwhile by another process
        // sees that the movie is being written, and one loaded after a crash that it is not.
        // The file takes its name once it is locked and holds its header (writeHeader), so
        // that nobody finds it unlocked or empty.
        if (auto fileLock = FileLock::createLocked(url_)) {
            inUse_.emplace(std::move(*fileLock));
        } else {
            return fail(fileLock.error().message);
        }
        if (int error = avformat_alloc_output_context2(&context_, nullptr, "mp4", nullptr);
            error < 0) {
            return fail("cannot make an MP4 muxer: " + errorText(error));
        }
        context_->pb = openDescriptorOutput(inUse_->descriptor());
        if (context_->pb == nullptr) {
            return fail("cannot open " + path + ": out of memory");
        }
        context_->flags |= AVFMT_FLAG_CUSTOM_IO;
        status_ = Status::Writing;
        return format_ == nullptr || writeHeader(format_);
    }

    void startSessionAtSourceTime(MediaTime startTime) override {
        std::lock_guard lock(mutex_);
        sessionStart_ = startTime;
    }

    void finishWriting(std::function<void()> completion) override {
        auto self = shared_from_this();
        dispatch::globalQueue(dispatch::Priority::High)
            ->async([self, completion = std::move(completion)] {
                self->finish();
                if (completion) {
                    completion();
                }
            });
    }

    Status status() const override {
        std::lock_guard lock(mutex_);
        return status_;
    }

    std::string errorDescription() const override {
        std::lock_guard lock(mutex_);
        return error_;
    }

    const std::filesystem::path& outputURL() const override { return url_; }

    bool append(const SampleBufferPtr& sample) {
        std::lock_guard lock(mutex_);
        if (status_ != Status::Writing) {
            return false;
        }
        if (!sample || sample->mediaType() != kMediaTypeVideo ||
            sample->mediaSubType() != kCodecH264 || sample->data.empty()) {
            error_ = "the sample is no encoded H.264 video";
            return false;  // the sample is refused, the file is still good
        }
        if (!headerWritten_ && !writeHeader(sample->formatDescription)) {
            return false;
        }
        MediaTime start = sessionStart_.isNumeric() ? sessionStart_ : MediaTime::zero();
        const MediaTime relative =
            (sample->presentationTimeStamp - start).convertScale(kTrackTimeBase.den);
        if (!relative.isNumeric()) {
            error_ = "the sample has no presentation time";
            return false;
        }
        int64_t pts = av_rescale_q(relative.value, kTrackTimeBase, stream_->time_base);
        if (pts <= lastPts_) {
            error_ = "the sample's presentation time does not rise";
            return false;
        }
        AVPacket* packet = av_packet_alloc();
        packet->data = const_cast<uint8_t*>(sample->data.data());
        packet->size = int(sample->data.size());
        packet->stream_index = stream_->index;
        packet->pts = pts;
        packet->dts = pts;
        const MediaTime duration =
            sample->duration.isNumeric() ? sample->duration : MediaTime::make(1, 60);
        packet->duration = av_rescale_q(duration.convertScale(kTrackTimeBase.den).value,
                                        kTrackTimeBase, stream_->time_base);
        if (sample->isKeyFrame) {
            packet->flags |= AV_PKT_FLAG_KEY;
        }
        const int error = av_write_frame(context_, packet);
        av_packet_free(&packet);
        if (error < 0) {
            return fail("writing a sample failed: " + errorText(error));
        }
        lastPts_ = pts;
        ++samplesWritten_;
        return true;
    }

    bool isReady() const {
        std::lock_guard lock(mutex_);
        return status_ == Status::Writing;
    }

private:
    // mutex_ held.
    bool writeHeader(const FormatDescriptionPtr& format) {
        if (!format || format->mediaSubType != kCodecH264 || format->width <= 0) {
            return fail("the video track has no H.264 format description");
        }
        stream_ = avformat_new_stream(context_, nullptr);
        if (stream_ == nullptr) {
            return fail("cannot add a video track");
        }
        AVCodecParameters* parameters = stream_->codecpar;
        parameters->codec_type = AVMEDIA_TYPE_VIDEO;
        parameters->codec_id = AV_CODEC_ID_H264;
        parameters->width = format->width;
        parameters->height = format->height;
        parameters->color_range = AVCOL_RANGE_MPEG;
        if (!format->extradata.empty()) {
            parameters->extradata = static_cast<uint8_t*>(
                av_mallocz(format->extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            std::copy(format->extradata.begin(), format->extradata.end(), parameters->extradata);
            parameters->extradata_size = int(format->extradata.size());
        }
        stream_->time_base = kTrackTimeBase;
        stream_->avg_frame_rate = AVRational{60, 1};
        if (int error = avformat_write_header(context_, nullptr); error < 0) {
            return fail("cannot write the movie header: " + errorText(error));
        }
        avio_flush(context_->pb);
        if (context_->pb->error < 0) {
            return fail("cannot write the movie header: " + errorText(context_->pb->error));
        }
        if (pindle::Status named = inUse_->publish(); !named) {
            return fail(named.error().message);
        }
        headerWritten_ = true;
        return true;
    }

    void finish() {
        std::lock_guard lock(mutex_);
        if (status_ != Status::Writing) {
            return;
        }
        if (!headerWritten_ || samplesWritten_ == 0) {
            fail("no sample was written");
            return;
        }
        if (int error = av_write_trailer(context_); error < 0) {
            fail("cannot finish the movie: " + errorText(error));
            return;
        }
        if (int error = closeDescriptorOutput(&context_->pb); error < 0) {
            fail("cannot close the movie: " + errorText(error));
            return;
        }
        inUse_.reset();
        status_ = Status::Completed;
    }

    // mutex_ held. Always false.
    bool fail(std::string why) {
        status_ = Status::Failed;
        error_ = std::move(why);
        PINDLE_LOG_ERROR(kTag, "%s: %s", url_.c_str(), error_.c_str());
        return false;
    }

    const std::filesystem::path url_;
    mutable std::mutex mutex_;  // guards everything below
    Status status_ = Status::Unknown;
    std::string error_;
    AVFormatContext* context_ = nullptr;
    AVStream* stream_ = nullptr;
    FormatDescriptionPtr format_;
    std::shared_ptr<VideoInput> video_;
    MediaTime sessionStart_ = MediaTime::invalid();
    bool headerWritten_ = false;
    int64_t lastPts_ = INT64_MIN;
    uint64_t samplesWritten_ = 0;
    std::optional<FileLock> inUse_;  // a lock on the movie file while it is written
};

bool VideoInput::appendSampleBuffer(const SampleBufferPtr& sample) {
    auto writer = writer_.lock();
    return writer && writer->append(sample);
}

bool VideoInput::isReadyForMoreMediaData() const {
    auto writer = writer_.lock();
    return writer && writer->isReady();
}

}  // namespace

std::shared_ptr<MovieWriter> makeMovieWriter(const std::filesystem::path& url,
                                             MovieFileType fileType) {
    (void)fileType;  // MPEG-4 is the only type
    return std::make_shared<Writer>(url);
}

}  // namespace pindle::ffmpeg
