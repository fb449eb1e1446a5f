#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "base/atomic_file.h"
#include "base/dispatch.h"
#include "capture/RCH264Encoder.h"
#include "movie_probe.h"
#include "platform/ffmpeg/ffmpeg_compression.h"
#include "platform/ffmpeg/ffmpeg_movie_writer.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

// A picture with a diagonal gradient that shifts with frameNumber.
PixelBufferPtr syntheticFrame(int width, int height, int frameNumber) {
    auto frame = PixelBuffer::make420v(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame->planes[0][y * frame->strides[0] + x] =
                uint8_t(16 + ((x + y + frameNumber * 5) % 200));
        }
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width; ++x) {
            frame->planes[1][y * frame->strides[1] + x] = uint8_t(128 + ((x + frameNumber) % 32));
        }
    }
    return frame;
}

class Collector : public RCH264EncoderDelegate {
public:
    void encoder(RCH264Encoder&, const SampleBufferPtr& sample) override {
        std::lock_guard lock(mutex);
        samples.push_back(sample);
        threads.push_back(std::this_thread::get_id());
    }
    std::mutex mutex;  // guards samples and threads
    std::vector<SampleBufferPtr> samples;
    std::vector<std::thread::id> threads;
};

MediaTime frameTime(int i) {
    return MediaTime::make(5'000'000'000 + i * 16'666'667LL, 1'000'000'000);
}

std::vector<SampleBufferPtr> encode(int frames, double width, double height,
                                    RCH264EncoderOptions options) {
    auto collector = std::make_shared<Collector>();
    RCH264Encoder encoder(width, height, options, ffmpeg::makeCompressionSession);
    encoder.setDelegate(collector);
    for (int i = 0; i < frames; ++i) {
        encoder.encodeFrameWithPixelBuffer(syntheticFrame(encoder.width(), encoder.height(), i),
                                           frameTime(i));
    }
    encoder.completeFrames();
    std::lock_guard lock(collector->mutex);
    return collector->samples;
}

TEST(H264Encoder, EveryFrameIsAKeyFrameWithItsTimeFromTheEncoderThread) {
    auto collector = std::make_shared<Collector>();
    RCH264EncoderOptions options;
    options.maxKeyFrameInterval = 30;  // forced key frames win over the interval
    options.pixelBufferAttributes = kPixelFormat420v;
    options.averageBitRate = 4'000'000;
    RCH264Encoder encoder(302.9, 200.0, options, ffmpeg::makeCompressionSession);
    ASSERT_TRUE(encoder.isValid());
    EXPECT_EQ(encoder.width(), 302);
    encoder.setDelegate(collector);
    for (int i = 0; i < 12; ++i) {
        encoder.encodeFrameWithPixelBuffer(syntheticFrame(302, 200, i), frameTime(i));
    }
    encoder.encodeFrameWithPixelBuffer(syntheticFrame(300, 200, 0), frameTime(99));  // wrong size
    encoder.completeFrames();

    std::lock_guard lock(collector->mutex);
    ASSERT_EQ(collector->samples.size(), 12u);
    for (size_t i = 0; i < collector->samples.size(); ++i) {
        const auto& sample = *collector->samples[i];
        EXPECT_TRUE(sample.isKeyFrame) << i;
        EXPECT_EQ(sample.presentationTimeStamp, frameTime(int(i))) << i;
        EXPECT_EQ(sample.duration, MediaTime::make(1, 60));
        EXPECT_NE(collector->threads[i], std::this_thread::get_id());
        ASSERT_NE(sample.formatDescription, nullptr);
        EXPECT_EQ(sample.formatDescription, collector->samples[0]->formatDescription);
    }
    const auto& format = *collector->samples[0]->formatDescription;
    EXPECT_EQ(format.mediaSubType, kCodecH264);
    EXPECT_EQ(format.width, 302);
    EXPECT_EQ(format.height, 200);
    ASSERT_EQ(format.parameterSets.size(), 2u);
    EXPECT_EQ(format.parameterSets[0][0] & 0x1f, 7);  // SPS
    EXPECT_EQ(format.parameterSets[1][0] & 0x1f, 8);  // PPS
}

TEST(H264Encoder, AverageBitRateIsApplied) {
    auto bytes = [](const std::vector<SampleBufferPtr>& samples) {
        size_t total = 0;
        for (const auto& s : samples) {
            total += s->data.size();
        }
        return total;
    };
    RCH264EncoderOptions low, high;
    low.averageBitRate = 500'000;
    high.averageBitRate = 8'000'000;
    const auto lowSamples = encode(60, 320, 240, low);
    const auto highSamples = encode(60, 320, 240, high);
    ASSERT_EQ(lowSamples.size(), 60u);
    ASSERT_EQ(highSamples.size(), 60u);
    // One second of frames: about the bit rate, within what rate control allows.
    EXPECT_LT(bytes(lowSamples) * 8, 500'000u * 2);
    EXPECT_GT(bytes(highSamples), bytes(lowSamples) * 4);
}

TEST(MovieWriter, StoresEncodedSamplesAsAnAllKeyFrameMP4AndCompletesOnce) {
    test::TempDir dir;
    RCH264EncoderOptions options;
    options.averageBitRate = 2'000'000;
    const auto samples = encode(30, 320, 240, options);
    ASSERT_EQ(samples.size(), 30u);

    auto writer = ffmpeg::makeMovieWriter(dir / "movie.mp4", MovieFileType::MPEG4);
    auto input = writer->addInput(kMediaTypeVideo, std::nullopt, samples[0]->formatDescription);
    ASSERT_TRUE(input.ok());
    EXPECT_FALSE(writer->addInput(kMediaTypeAudio, AudioOutputSettings{}, nullptr).ok());
    ASSERT_TRUE(writer->startWriting());
    writer->startSessionAtSourceTime(samples[0]->presentationTimeStamp);
    for (const auto& sample : samples) {
        ASSERT_TRUE((*input)->isReadyForMoreMediaData());
        ASSERT_TRUE((*input)->appendSampleBuffer(sample));
    }
    // Locked while it is written, so that a library loaded meanwhile leaves it alone.
    EXPECT_TRUE(isFileLocked(dir / "movie.mp4"));
    std::atomic<int> completions{0};
    dispatch::Semaphore done;
    writer->finishWriting([&] {
        ++completions;
        done.signal();
    });
    ASSERT_TRUE(done.waitFor(10s));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(writer->status(), MovieWriter::Status::Completed) << writer->errorDescription();
    EXPECT_FALSE(isFileLocked(dir / "movie.mp4"));

    const auto probe = test::probeMovie(dir / "movie.mp4");
    ASSERT_TRUE(probe.opened);
    EXPECT_EQ(probe.videoStreams, 1);
    EXPECT_EQ(probe.otherStreams, 0);
    EXPECT_EQ(probe.codec, "h264");
    EXPECT_EQ(probe.width, 320);
    EXPECT_EQ(probe.height, 240);
    ASSERT_EQ(probe.ptsSeconds.size(), 30u);
    EXPECT_EQ(probe.decodedFrames, 30);
    EXPECT_NEAR(probe.ptsSeconds[0], 0.0, 1e-9);
    for (size_t i = 0; i < probe.ptsSeconds.size(); ++i) {
        EXPECT_TRUE(probe.keyFrames[i] && probe.idrFrames[i]) << i;
        if (i > 0) {
            EXPECT_NEAR(probe.ptsSeconds[i] - probe.ptsSeconds[i - 1], 1.0 / 60, 1e-4) << i;
        }
    }
}

TEST(MovieWriter, FailureIsReportedAndTheInputNeverBecomesReady) {
    test::TempDir dir;
    const auto samples = encode(2, 64, 64, {});
    ASSERT_EQ(samples.size(), 2u);
    auto writer =
        ffmpeg::makeMovieWriter(dir / "missing-folder" / "movie.mp4", MovieFileType::MPEG4);
    auto input = writer->addInput(kMediaTypeVideo, std::nullopt, samples[0]->formatDescription);
    ASSERT_TRUE(input.ok());
    EXPECT_FALSE(writer->startWriting());
    EXPECT_EQ(writer->status(), MovieWriter::Status::Failed);
    EXPECT_NE(writer->errorDescription(), "");
    EXPECT_FALSE((*input)->isReadyForMoreMediaData());
    EXPECT_FALSE((*input)->appendSampleBuffer(samples[0]));
    std::atomic<int> completions{0};
    dispatch::Semaphore done;
    writer->finishWriting([&] {
        ++completions;
        done.signal();
    });
    ASSERT_TRUE(done.waitFor(10s));
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(writer->status(), MovieWriter::Status::Failed);
}

}  // namespace
}  // namespace pindle
