#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "library/RCRecording.h"
#include "movie_fixtures.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "test_support.h"

namespace pindle {
namespace {

struct Media : ::testing::Test {
    static void SetUpTestSuite() {
        ffmpeg::installMovieOpener();
        ASSERT_TRUE(test::makeTestMovie(dir().path() / "plain.mp4",
                                        {.width = 320, .height = 240, .fps = 30, .seconds = 2}));
        ASSERT_TRUE(test::makeTestMovie(
            dir().path() / "sound.mp4",
            {.width = 100, .height = 80, .fps = 10, .seconds = 1, .audio = true}));
        ASSERT_TRUE(test::makeTestMovie(dir().path() / "tall.mp4",
                                        {.width = 200, .height = 600, .fps = 25, .seconds = 0.4}));
        ASSERT_TRUE(test::makeTestMovie(
            dir().path() / "sparse-keys.mp4",
            {.width = 64, .height = 48, .fps = 30, .seconds = 2, .keyInterval = 12}));
        ASSERT_TRUE(test::makeTestMovie(dir().path() / "audio-only.m4a",
                                        {.seconds = 0.5, .audio = true, .video = false}));
    }
    static void TearDownTestSuite() { media::setMovieOpener({}); }
    static test::TempDir& dir() {
        static test::TempDir instance;
        return instance;
    }
    static std::filesystem::path movie(const char* name) { return dir().path() / name; }
};

TEST_F(Media, ReadsFactsFromTheHeaders) {
    auto plain = media::openMovie(movie("plain.mp4"));
    ASSERT_TRUE(plain) << plain.error().message;
    const media::MovieInfo& info = (*plain)->info();
    EXPECT_EQ(info.naturalSize, (Size{320, 240}));
    EXPECT_EQ(info.duration, MediaTime::make(2, 1));
    EXPECT_EQ(info.duration.timescale, 600);
    EXPECT_FLOAT_EQ(info.nominalFrameRate, 30);
    EXPECT_EQ(info.frameCount, 60);
    EXPECT_FALSE(info.hasAudio());

    auto sound = media::openMovie(movie("sound.mp4"));
    ASSERT_TRUE(sound);
    EXPECT_TRUE((*sound)->info().hasAudio());
    EXPECT_FLOAT_EQ((*sound)->info().nominalFrameRate, 10);

    auto audioOnly = media::openMovie(movie("audio-only.m4a"));
    ASSERT_TRUE(audioOnly);
    EXPECT_FALSE((*audioOnly)->info().hasVideo());
    EXPECT_EQ((*audioOnly)->info().naturalSize, (Size{0, 0}));

    EXPECT_FALSE(media::openMovie(movie("missing.mp4")));
    test::writeFile(movie("junk.mp4"), "this is no movie");
    EXPECT_FALSE(media::openMovie(movie("junk.mp4")));
}

TEST_F(Media, ReadsFramesOfATimeRange) {
    auto plain = media::openMovie(movie("plain.mp4"));
    ASSERT_TRUE(plain);
    media::FrameReaderOptions options;
    options.start = MediaTime::make(51, 100);  // between frames 15 (0.5 s) and 16
    options.end = MediaTime::make(1, 1);
    options.width = 64;
    options.height = 32;
    auto reader = (*plain)->makeFrameReader(options);
    ASSERT_TRUE(reader) << reader.error().message;
    std::vector<media::Frame> frames;
    while (true) {
        auto frame = (*reader)->nextFrame();
        ASSERT_TRUE(frame) << frame.error().message;
        if (!*frame) {
            break;
        }
        frames.push_back(**frame);
    }
    ASSERT_EQ(frames.size(), 15u);  // frames 15 to 29
    EXPECT_EQ(frames.front().presentationTime, MediaTime::make(1, 2));
    EXPECT_EQ(frames.back().presentationTime, MediaTime::make(29, 30));
    EXPECT_EQ(frames.front().duration, MediaTime::make(1, 30));
    EXPECT_EQ(frames.front().image->width, 64);
    EXPECT_EQ(frames.front().image->height, 32);
    // Decoded pictures differ from frame to frame and are opaque.
    EXPECT_NE(frames[0].image->pixels, frames[1].image->pixels);
    EXPECT_EQ(frames[0].image->row(10)[3], 255);

    // The same frame seeked to directly is the same picture.
    options.start = MediaTime::make(1, 2);
    options.end = MediaTime::make(16, 30);
    auto single = (*plain)->makeFrameReader(options);
    ASSERT_TRUE(single);
    auto first = (*single)->nextFrame();
    ASSERT_TRUE(first && *first);
    EXPECT_EQ((*first)->image->pixels, frames[0].image->pixels);
    auto end = (*single)->nextFrame();
    ASSERT_TRUE(end);
    EXPECT_FALSE(*end);
}

std::vector<media::Frame> readAll(const media::Movie& movie,
                                  const media::FrameReaderOptions& options) {
    std::vector<media::Frame> frames;
    auto reader = movie.makeFrameReader(options);
    EXPECT_TRUE(reader) << reader.error().message;
    while (reader) {
        auto frame = (*reader)->nextFrame();
        EXPECT_TRUE(frame) << frame.error().message;
        if (!frame || !*frame) {
            break;
        }
        frames.push_back(**frame);
    }
    return frames;
}

// The frame on screen at time: the last one starting at or before it.
const media::Frame* onScreen(const std::vector<media::Frame>& frames, MediaTime time) {
    const media::Frame* shown = nullptr;
    for (const auto& frame : frames) {
        if (frame.presentationTime <= time) {
            shown = &frame;
        }
    }
    return shown;
}

TEST_F(Media, ReadingAtASampleRateGivesTheFramesOnScreenAtEverySampleTime) {
    struct Case {
        const char* movie;
        float rate;
        MediaTime start;
        bool skipsDecoding;
    };
    for (const Case& c : {Case{"plain.mp4", 15, MediaTime::zero(), true},
                          Case{"plain.mp4", 7.f, MediaTime::make(1, 3), true},
                          Case{"plain.mp4", 12.5f, MediaTime::make(1, 4), true},
                          Case{"sparse-keys.mp4", 10, MediaTime::zero(), false}}) {
        SCOPED_TRACE(std::string(c.movie) + " at " + std::to_string(c.rate));
        auto opened = media::openMovie(movie(c.movie));
        ASSERT_TRUE(opened);
        media::FrameReaderOptions options;
        options.start = c.start;
        std::vector<media::Frame> every = readAll(**opened, options);
        options.sampleRate = c.rate;
        std::vector<media::Frame> sampled = readAll(**opened, options);
        ASSERT_FALSE(every.empty());
        for (int k = 0;; ++k) {
            MediaTime time =
                c.start + MediaTime::make(int64_t(std::ceil(k * 1e6 / c.rate)), 1000000);
            if (time >= (*opened)->info().duration) {
                break;
            }
            const media::Frame* expected = onScreen(every, time);
            const media::Frame* got = onScreen(sampled, time);
            ASSERT_TRUE(expected && got) << time.description();
            EXPECT_EQ(got->presentationTime, expected->presentationTime) << time.description();
            EXPECT_EQ(got->image->pixels, expected->image->pixels) << time.description();
        }
        // Frames of a movie of key frames that no sample shows are not decoded.
        if (c.skipsDecoding) {
            EXPECT_LT(sampled.size(), every.size() * 3 / 5);
        }
    }
}

TEST_F(Media, RecordingFromAMovie) {
    auto recording = RCRecording::recordingWithURL(movie("plain.mp4"));
    EXPECT_TRUE(recording->isReady());
    EXPECT_EQ(recording->dimensions(), (Size{320, 240}));
    EXPECT_EQ(recording->frameCount(), 60u);
    EXPECT_EQ(recording->editedEndTime(), MediaTime::make(2, 1));
    EXPECT_FALSE(recording->hasAudio());
    EXPECT_TRUE(RCRecording::recordingWithURL(movie("sound.mp4"))->hasAudio());

    // Thumbnails fit in 250 × 250 with the movie's aspect ratio and are never enlarged.
    ImagePtr thumbnail = recording->thumbnail();
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(thumbnail->width, 250);
    EXPECT_EQ(thumbnail->height, 188);
    EXPECT_EQ(recording->thumbnail(), thumbnail);  // made once
    auto tall = RCRecording::recordingWithURL(movie("tall.mp4"))->thumbnail();
    ASSERT_NE(tall, nullptr);
    EXPECT_EQ(tall->width, 83);
    EXPECT_EQ(tall->height, 250);
    auto small = RCRecording::recordingWithURL(movie("sound.mp4"))->thumbnail();
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->width, 100);
    EXPECT_EQ(small->height, 80);
    EXPECT_EQ(RCRecording::recordingWithURL(movie("audio-only.m4a"))->thumbnail(), nullptr);
}

}  // namespace
}  // namespace pindle
