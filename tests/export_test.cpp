#include <gtest/gtest.h>

#include <algorithm>

#include <sys/wait.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "base/dispatch.h"
#include "decoded_media.h"
#include "editor/RCBatchExport.h"
#include "editor/RCGIFFileSizeEstimator.h"
#include "editor/RCGIFGenerator.h"
#include "editor/RCMovieOperations.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_output.h"
#include "platform/imageio/imageio.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

// Estimates answer on a global queue; this lets a main queue that waits look again.
void wakeMainQueue() {
    dispatch::mainQueue()->async([] {});
}

MediaTime seconds(double value) {
    return MediaTime::makeWithSeconds(value, 600);
}

// Index of the source frame that image shows (the closest picture), among the frames
// [from, to) of the source.
size_t closestFrame(const test::DecodedMovie& source, const Image& image, size_t from = 0,
                    size_t to = SIZE_MAX) {
    size_t best = 0;
    double bestDifference = 1e9;
    for (size_t i = from; i < std::min(to, source.frames.size()); ++i) {
        double difference = test::meanAbsoluteDifference(source.frames[i].image, image);
        if (difference < bestDifference) {
            bestDifference = difference;
            best = i;
        }
    }
    return best;
}

// A movie from the program's own writer: frame i is a flat colour of its own, shown from
// times[i] (seconds); the last lasts until end. Intermediate movies are all key frames,
// delivery movies have one now and then.
bool writeMovie(const std::filesystem::path& file, const std::vector<double>& times, double end,
                media::EncodingQuality quality,
                std::optional<media::AudioRange> audio = std::nullopt) {
    media::MovieWriterSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.quality = quality;
    settings.audio = std::move(audio);
    auto writer = media::movieOutput()->makeWriter(file, settings);
    if (!writer) {
        return false;
    }
    for (size_t i = 0; i < times.size(); ++i) {
        Image image(64, 48);
        for (size_t p = 0; p < image.pixels.size(); p += 4) {
            image.pixels[p] = uint8_t(i * 8);
            image.pixels[p + 1] = uint8_t(255 - i * 8);
            image.pixels[p + 2] = uint8_t(i * 37);
            image.pixels[p + 3] = 255;
        }
        if (!(*writer)->appendFrame(image, MediaTime::makeWithSeconds(times[i], 90000))) {
            return false;
        }
    }
    return (*writer)->finish(MediaTime::makeWithSeconds(end, 90000)).ok();
}

class ExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ffmpeg::installMovieOpener();
        media::setMovieOutput(ffmpeg::makeMovieOutput());
        setImageOutput(imageio::makeImageOutput());
        movies_ = new test::TempDir;
        // Recordings are all key frames; so are these.
        ASSERT_TRUE(test::makeTestMovie(clip(), 160, 120, 30, 4, true));
    }
    static void TearDownTestSuite() { delete movies_; }

    static std::filesystem::path clip() { return *movies_ / "clip4s.mp4"; }

    // Runs an export and pumps the main queue until its completion arrives.
    Status run(const std::function<void(RCGIFGenerator::Completion)>& start,
               std::vector<float>* progress = nullptr) {
        std::atomic<bool> done = false;
        Status result = Error{"no completion"};
        start([&](Status status) {
            EXPECT_TRUE(dispatch::isMainThread());
            result = std::move(status);
            done = true;
        });
        EXPECT_TRUE(dispatch::runUntil([&] { return done.load(); }, 120s));
        (void)progress;
        return result;
    }

    std::shared_ptr<RCGIFGenerator> generatorFor(const std::filesystem::path& movie) {
        return std::make_shared<RCGIFGenerator>(RCRecording::recordingWithURL(movie), files_);
    }

    static test::TempDir* movies_;
    test::TempDir dir_;
    RCFileManager files_{dir_.appDirectories()};
};

test::TempDir* ExportTest::movies_ = nullptr;

TEST_F(ExportTest, PingPongGIFRunsForwardThenBackwardAndLastsTheClipsTime) {
    auto generator = generatorFor(clip());
    RCExportOptions options;
    options.width = 160;
    options.height = 120;
    options.startTime = seconds(1);
    options.endTime = seconds(3);
    options.loopType = 2;
    options.fps = 15;

    // The intermediate movie: 4 s, forward 1-3 s, then backward 3-1 s.
    auto movie = dir_ / "pingpong.mp4";
    ASSERT_TRUE(run([&](auto done) { generator->makeVideo(movie, options, nullptr, done); }).ok());
    test::DecodedMovie source = test::decodeMedia(clip());
    test::DecodedMovie composed = test::decodeMedia(movie);
    ASSERT_EQ(composed.error, "");
    ASSERT_EQ(composed.frames.size(), 120u);
    EXPECT_NEAR(composed.frames.back().seconds + composed.frames.back().durationSeconds, 4.0, 0.01);
    for (size_t k : {0u, 30u, 59u, 60u, 90u, 119u}) {
        size_t expected = k < 60 ? 30 + k : 89 - (k - 60);
        EXPECT_EQ(closestFrame(source, composed.frames[k].image), expected) << "frame " << k;
        EXPECT_NEAR(composed.frames[k].seconds, double(k) / 30, 0.002);
    }

    std::vector<float> progress;
    auto gif = dir_ / "pingpong.gif";
    std::atomic<bool> done = false;
    Status result = Error{"no completion"};
    generator->makeGIF(
        gif, options, [&](float p) { progress.push_back(p); },
        [&](Status status) {
            result = status;
            done = true;
        });
    ASSERT_TRUE(dispatch::runUntil([&] { return done.load(); }, 120s));
    ASSERT_TRUE(result.ok()) << result.error().message;
    test::DecodedMovie decoded = test::decodeMedia(gif);
    ASSERT_EQ(decoded.frames.size(), 60u);
    double total = 0;
    for (const auto& frame : decoded.frames) {
        total += frame.durationSeconds;
    }
    EXPECT_NEAR(total, 4.0, 1e-9);
    // GIF frame 10 is at 10/15 s: source time 1 + 2/3 s (frame 50). Frame 40 is 2/3 s into
    // the backward half, which starts with the last frame before 3 s (89): frame 69.
    EXPECT_EQ(closestFrame(source, decoded.frames[10].image), 50u);
    EXPECT_EQ(closestFrame(source, decoded.frames[40].image), 69u);
    std::string bytes = test::readFile(gif);
    EXPECT_NE(bytes.find(std::string("NETSCAPE2.0\x03\x01\x00\x00", 15)), std::string::npos);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_FLOAT_EQ(progress.back(), 1.0f);
    EXPECT_TRUE(files_.tempFiles().empty()) << "intermediate movies are deleted";
}

TEST_F(ExportTest, GIFRateIsCappedAndTooShortClipsEndWithAnError) {
    auto generator = generatorFor(clip());
    RCExportOptions options;
    options.startTime = seconds(0);
    options.endTime = seconds(1);
    options.loopType = 0;
    options.fps = 60;
    auto gif = dir_ / "hd.gif";
    ASSERT_TRUE(run([&](auto done) { generator->makeGIF(gif, options, nullptr, done); }).ok());
    test::DecodedMovie decoded = test::decodeMedia(gif);
    EXPECT_EQ(decoded.frames.size(), 30u);

    // Without a rate the movie's own (30) is used.
    auto sampled = dir_ / "own-rate.gif";
    ASSERT_TRUE(run([&](auto done) {
                    generator->convertVideo(clip(), sampled, RCExportOptions{}, nullptr, done);
                }).ok());
    EXPECT_EQ(test::decodeMedia(sampled).frames.size(), 120u);

    options.endTime = MediaTime::make(1, 20);  // 0.05 s: less than one frame at 15 per second
    options.fps = 15;
    auto empty = dir_ / "empty.gif";
    Status result = run([&](auto done) { generator->makeGIF(empty, options, nullptr, done); });
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(std::filesystem::exists(empty));
}

TEST_F(ExportTest, UnchangedSizeIsACopyAndOtherSizesKeepEveryFrameTime) {
    auto generator = generatorFor(clip());
    RCExportOptions options;
    options.startTime = seconds(1);
    options.endTime = seconds(2);
    auto copy = dir_ / "copy.mp4";
    ASSERT_TRUE(run([&](auto done) { generator->makeVideo(copy, options, nullptr, done); }).ok());
    test::DecodedMovie source = test::decodeMedia(clip());
    test::DecodedMovie copied = test::decodeMedia(copy);
    ASSERT_EQ(copied.frames.size(), 30u);
    for (size_t k = 0; k < copied.frames.size(); ++k) {
        // Copied, not re-encoded: the very same pictures.
        ASSERT_EQ(test::meanAbsoluteDifference(copied.frames[k].image, source.frames[30 + k].image),
                  0.0);
    }

    options.width = 96;
    options.height = 72;
    auto resized = dir_ / "resized.mp4";
    ASSERT_TRUE(
        run([&](auto done) { generator->makeVideo(resized, options, nullptr, done); }).ok());
    test::DecodedMovie small = test::decodeMedia(resized);
    EXPECT_EQ(small.width, 96);
    EXPECT_EQ(small.height, 72);
    ASSERT_EQ(small.frames.size(), 30u);
    for (size_t k = 0; k < small.frames.size(); ++k) {
        EXPECT_NEAR(small.frames[k].seconds, copied.frames[k].seconds, 1e-4);
    }
}

TEST_F(ExportTest, AudioOnlyWithNormalLoopAndWhenAsked) {
    auto generator = generatorFor(clip());
    RCExportOptions options;
    options.startTime = seconds(0);
    options.endTime = seconds(2);
    options.exportAudio = true;
    auto withAudio = dir_ / "audio.mp4";
    ASSERT_TRUE(
        run([&](auto done) { generator->makeVideo(withAudio, options, nullptr, done); }).ok());
    EXPECT_TRUE(test::decodeMedia(withAudio).hasAudio);

    options.loopType = 1;
    auto reversed = dir_ / "reversed.mp4";
    ASSERT_TRUE(
        run([&](auto done) { generator->makeVideo(reversed, options, nullptr, done); }).ok());
    EXPECT_FALSE(test::decodeMedia(reversed).hasAudio);

    // A new size keeps the sound too, whether the clip is encoded straight from the
    // recording or a movie is resized.
    options.loopType = 0;
    options.width = 80;
    options.height = 60;
    auto smaller = dir_ / "audio-smaller.mp4";
    ASSERT_TRUE(
        run([&](auto done) { generator->makeVideo(smaller, options, nullptr, done); }).ok());
    test::DecodedMovie small = test::decodeMedia(smaller);
    EXPECT_EQ(small.width, 80);
    EXPECT_TRUE(small.hasAudio);
    auto source = media::openMovie(clip());
    ASSERT_TRUE(source);
    auto resized = movie_operations::resizedAssetWithOutputURL(
        **source, dir_ / "resized.mp4", Size{80, 60}, media::EncodingQuality::Delivery);
    ASSERT_TRUE(resized) << resized.error().message;
    EXPECT_TRUE((*resized)->info().hasAudio());

    options.width.reset();
    options.height.reset();
    options.exportAudio = false;
    auto silent = dir_ / "silent.mp4";
    ASSERT_TRUE(run([&](auto done) { generator->makeVideo(silent, options, nullptr, done); }).ok());
    EXPECT_FALSE(test::decodeMedia(silent).hasAudio);
}

TEST_F(ExportTest, BatchWritesFourNamedFilesAtTheirSizes) {
    auto recording = RCRecording::recordingWithURL(clip());
    recording->editParameters()->setTrimmedStartTime(seconds(0.5));
    recording->editParameters()->setTrimmedEndTime(seconds(3.5));
    recording->editParameters()->setResizeValue(3);  // 320 wide, scaled up from 160
    auto generator = std::make_shared<RCGIFGenerator>(recording, files_);
    auto folder = dir_ / "batch";
    ASSERT_TRUE(run([&](auto done) {
                    exportBatch(generator, folder, RCExportOptions{}, nullptr, done);
                }).ok());
    test::DecodedMovie still = test::decodeMedia(folder / "Still JPG (320x240).jpg");
    test::DecodedMovie video = test::decodeMedia(folder / "Video MP4 (320x240).mp4");
    test::DecodedMovie small = test::decodeMedia(folder / "Small GIF (400x300).gif");
    test::DecodedMovie large = test::decodeMedia(folder / "Large GIF (320x240).gif");
    // The still is the frame itself, never enlarged.
    EXPECT_EQ(still.width, 160);
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
    EXPECT_EQ(video.frames.size(), 90u);
    EXPECT_EQ(small.width, 400);
    EXPECT_EQ(small.frames.size(), 10u);  // the first second at 10 per second
    EXPECT_EQ(large.width, 320);
    EXPECT_EQ(large.frames.size(), 45u);
    // An existing folder is not reused, and what it holds stays.
    EXPECT_FALSE(run([&](auto done) {
                     exportBatch(generator, folder, RCExportOptions{}, nullptr, done);
                 }).ok());
    EXPECT_EQ(test::decodeMedia(folder / "Large GIF (320x240).gif").frames.size(), 45u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              4);
}

TEST_F(ExportTest, ReversalInPassesKeepsFrameCountAndTimes) {
    EXPECT_EQ(
        movie_operations::reversalPasses(seconds(25)),
        (std::vector<movie_operations::TimeRange>{
            {seconds(20), seconds(25)}, {seconds(10), seconds(20)}, {seconds(0), seconds(10)}}));
    EXPECT_EQ(movie_operations::reversalPasses(seconds(9)).size(), 1u);

    // All key frames (copied backwards), and a key frame every 2.5 s (decoded): with whole
    // passes in memory, and passes read in pieces of 7 frames.
    struct Case {
        int keyFrameInterval;
        size_t budget;
    };
    for (Case c :
         {Case{1, movie_operations::kReversalMemoryBudget},
          Case{25, movie_operations::kReversalMemoryBudget}, Case{25, size_t(160 * 120 * 4 * 7)}}) {
        SCOPED_TRACE(testing::Message() << c.keyFrameInterval << " " << c.budget);
        auto longMovie = dir_ / "long.mp4";
        ASSERT_TRUE(test::makeTestMovie(longMovie, 160, 120, 10, 25, false, c.keyFrameInterval));
        auto movie = media::openMovie(longMovie);
        ASSERT_TRUE(movie.ok());
        test::DecodedMovie source = test::decodeMedia(longMovie);
        size_t budget = c.budget;
        auto output = dir_ / "long-reversed.mp4";
        auto reversed = movie_operations::reversedAssetWithOutputURL(
            **movie, output, media::EncodingQuality::Intermediate, budget);
        ASSERT_TRUE(reversed.ok()) << reversed.error().message;
        test::DecodedMovie copy = test::decodeMedia(output);
        ASSERT_EQ(source.frames.size(), 250u);
        ASSERT_EQ(copy.frames.size(), source.frames.size());
        for (size_t k = 0; k < copy.frames.size(); ++k) {
            ASSERT_NEAR(copy.frames[k].seconds, source.frames[k].seconds, 1e-4) << k;
        }
        for (size_t k = 0; k < 250; ++k) {
            size_t expected = 249 - k;
            EXPECT_EQ(closestFrame(source, copy.frames[k].image, expected < 3 ? 0 : expected - 3,
                                   expected + 4),
                      expected)
                << "frame " << k;
            EXPECT_LT(
                test::meanAbsoluteDifference(copy.frames[k].image, source.frames[expected].image),
                1.5);
        }
    }
}

TEST_F(ExportTest, ReversingAPartGivesThatPartOfTheReversedMovieFromZero) {
    for (int keyFrameInterval : {1, 25}) {
        SCOPED_TRACE(keyFrameInterval);
        auto longMovie = dir_ / "long.mp4";
        ASSERT_TRUE(test::makeTestMovie(longMovie, 160, 120, 10, 25, false, keyFrameInterval));
        auto movie = media::openMovie(longMovie);
        ASSERT_TRUE(movie.ok());
        test::DecodedMovie source = test::decodeMedia(longMovie);
        ASSERT_EQ(source.frames.size(), 250u);
        // Reversed frames 120 (on screen at 12.0 s, shown from zero) to 173 show source frames
        // 129 down to 76, which lie on both sides of a 10-second pass; decoded in pieces of 7
        // frames.
        auto output = dir_ / "part-reversed.mp4";
        auto reversed = movie_operations::reversedPartWithOutputURL(
            **movie, output,
            {MediaTime::makeWithSeconds(12.0, 1000), MediaTime::makeWithSeconds(17.35, 1000)},
            media::EncodingQuality::Intermediate, size_t(160 * 120 * 4 * 7));
        ASSERT_TRUE(reversed.ok()) << reversed.error().message;
        EXPECT_NEAR((*reversed)->info().duration.seconds(), 5.4, 1e-3);
        test::DecodedMovie copy = test::decodeMedia(output);
        ASSERT_EQ(copy.frames.size(), 54u);
        for (size_t k = 0; k < copy.frames.size(); ++k) {
            EXPECT_NEAR(copy.frames[k].seconds, 0.1 * double(k), 1e-4) << k;
            size_t expected = 129 - k;
            EXPECT_EQ(closestFrame(source, copy.frames[k].image, expected - 3, expected + 4),
                      expected)
                << "frame " << k;
        }
    }
}

TEST_F(ExportTest, PingPongAndReverseOfKeyFrameMoviesAreCopiesOthersAreReEncoded) {
    test::DecodedMovie source = test::decodeMedia(clip());
    ASSERT_EQ(source.frames.size(), 120u);
    auto generator = generatorFor(clip());
    RCExportOptions options;
    options.startTime = seconds(1.5);
    options.endTime = seconds(2.5);
    options.loopType = 2;
    auto pingPong = dir_ / "copied-pingpong.mp4";
    ASSERT_TRUE(
        run([&](auto done) { generator->makeVideo(pingPong, options, nullptr, done); }).ok());
    test::DecodedMovie copied = test::decodeMedia(pingPong);
    ASSERT_EQ(copied.frames.size(), 60u);
    for (size_t k = 0; k < 60; ++k) {
        // The recording's own pictures, not encoded again: frames 45 to 74 and back.
        size_t expected = k < 30 ? 45 + k : 74 - (k - 30);
        ASSERT_EQ(
            test::meanAbsoluteDifference(copied.frames[k].image, source.frames[expected].image),
            0.0)
            << "frame " << k;
        EXPECT_NEAR(copied.frames[k].seconds, double(k) / 30, 1e-3);
        EXPECT_NEAR(copied.frames[k].durationSeconds, 1.0 / 30, 1e-3);
    }
    options.loopType = 1;
    auto reverse = dir_ / "copied-reverse.mp4";
    ASSERT_TRUE(
        run([&](auto done) { generator->makeVideo(reverse, options, nullptr, done); }).ok());
    test::DecodedMovie backwards = test::decodeMedia(reverse);
    ASSERT_EQ(backwards.frames.size(), 30u);
    for (size_t k = 0; k < 30; ++k) {
        ASSERT_EQ(
            test::meanAbsoluteDifference(backwards.frames[k].image, source.frames[74 - k].image),
            0.0)
            << "frame " << k;
    }
    EXPECT_TRUE(files_.tempFiles().empty());

    // A delivery movie has few key frames: the same export decodes and encodes again.
    std::vector<double> times;
    for (int i = 0; i < 30; ++i) {
        times.push_back(i / 15.0);
    }
    auto sparse = dir_ / "sparse-keys.mp4";
    ASSERT_TRUE(writeMovie(sparse, times, 2.0, media::EncodingQuality::Delivery));
    test::DecodedMovie sparseSource = test::decodeMedia(sparse);
    ASSERT_EQ(sparseSource.frames.size(), 30u);
    options.startTime = seconds(0.4);
    options.endTime = seconds(1.4);
    options.loopType = 2;
    auto encoded = dir_ / "encoded-pingpong.mp4";
    ASSERT_TRUE(run([&](auto done) {
                    generatorFor(sparse)->makeVideo(encoded, options, nullptr, done);
                }).ok());
    test::DecodedMovie pingPonged = test::decodeMedia(encoded);
    ASSERT_EQ(pingPonged.frames.size(), 30u);
    for (size_t k = 0; k < 30; ++k) {
        size_t expected = k < 15 ? 6 + k : 20 - (k - 15);
        EXPECT_EQ(closestFrame(sparseSource, pingPonged.frames[k].image), expected) << k;
        EXPECT_NEAR(pingPonged.frames[k].seconds, double(k) / 15, 1e-3);
    }
    EXPECT_TRUE(files_.tempFiles().empty());
}

// The index of the writeMovie frame an image shows, told by its colour.
int writtenFrameIndex(const Image& image) {
    const uint8_t* pixel = image.row(image.height / 2) + (image.width / 2) * 4;
    return int(std::lround(pixel[0] / 8.0));
}

TEST_F(ExportTest, ResizedPingPongIsEncodedStraightFromTheRecordingWhenItCan) {
    std::vector<double> times;
    for (int i = 0; i < 30; ++i) {
        times.push_back(i / 15.0);
    }
    RCExportOptions options;
    options.startTime = seconds(0.4);
    options.endTime = seconds(1.4);
    options.loopType = 2;
    options.width = 32;
    options.height = 24;
    for (auto quality : {media::EncodingQuality::Intermediate, media::EncodingQuality::Delivery}) {
        bool allKeys = quality == media::EncodingQuality::Intermediate;
        SCOPED_TRACE(allKeys ? "all key frames" : "few key frames");
        auto file = dir_ / "steady.mp4";
        ASSERT_TRUE(writeMovie(file, times, 2.0, quality));

        // Frames 6 to 20 forward and back, decoded once each when every frame is a key
        // frame; otherwise through a composed movie that is then resized.
        media::MovieWriterSettings small;
        small.width = 32;
        small.height = 24;
        media::SegmentCopy forward{seconds(0.4), seconds(1), MediaTime::zero(), false};
        media::SegmentCopy backward{seconds(0.6), seconds(1), seconds(1), true};
        auto direct = dir_ / (allKeys ? "direct.mp4" : "never.mp4");
        std::vector<float> progress;
        EXPECT_EQ(media::movieOutput()
                      ->encodeSegments(file, {forward, backward}, small, direct,
                                       [&](float value) { progress.push_back(value); })
                      .ok(),
                  allKeys);
        EXPECT_EQ(std::filesystem::exists(direct), allKeys);
        if (allKeys) {
            // Progress goes up steadily through both halves.
            ASSERT_GE(progress.size(), 20u);
            EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
            EXPECT_LT(progress.front(), 0.1f);
            EXPECT_GT(progress.back(), 0.9f);
            EXPECT_LE(progress.back(), 1.0f);
        }

        auto output = dir_ / "small-pingpong.mp4";
        ASSERT_TRUE(run([&](auto done) {
                        generatorFor(file)->makeVideo(output, options, nullptr, done);
                    }).ok());
        test::DecodedMovie movie = test::decodeMedia(output);
        EXPECT_EQ(movie.width, 32);
        ASSERT_EQ(movie.frames.size(), 30u);
        for (size_t k = 0; k < 30; ++k) {
            int expected = k < 15 ? 6 + int(k) : 20 - int(k - 15);
            EXPECT_EQ(writtenFrameIndex(movie.frames[k].image), expected) << k;
            EXPECT_NEAR(movie.frames[k].seconds, double(k) / 15, 1e-3) << k;
        }
        EXPECT_NEAR(movie.frames.back().seconds + movie.frames.back().durationSeconds, 2.0, 1e-3);
        EXPECT_TRUE(files_.tempFiles().empty());
    }
}

TEST_F(ExportTest, ReversedFramesLastAsLongAsTheFramesWhoseTimesTheyTake) {
    const std::vector<double> times = {0, 0.1, 0.15, 0.4, 0.5, 0.9};
    const double end = 1.2;
    const size_t n = times.size();
    for (auto quality : {media::EncodingQuality::Intermediate, media::EncodingQuality::Delivery}) {
        bool allKeys = quality == media::EncodingQuality::Intermediate;
        SCOPED_TRACE(allKeys ? "all key frames, copied" : "few key frames, decoded");
        auto file = dir_ / "uneven.mp4";
        ASSERT_TRUE(writeMovie(file, times, end, quality));
        test::DecodedMovie source = test::decodeMedia(file);
        ASSERT_EQ(source.frames.size(), n);

        // Only a movie of key frames can be copied backwards.
        auto direct = dir_ / (allKeys ? "direct.mp4" : "never.mp4");
        media::SegmentCopy backwards;
        backwards.reversed = true;
        Status copied = media::movieOutput()->copySegments(file, {backwards}, false, direct);
        EXPECT_EQ(copied.ok(), allKeys);
        EXPECT_EQ(std::filesystem::exists(direct), allKeys);

        auto movie = media::openMovie(file);
        ASSERT_TRUE(movie.ok());
        auto output = dir_ / "uneven-reversed.mp4";
        ASSERT_TRUE(movie_operations::reversedAssetWithOutputURL(
                        **movie, output, media::EncodingQuality::Intermediate)
                        .ok());
        test::DecodedMovie reversed = test::decodeMedia(output);
        ASSERT_EQ(reversed.frames.size(), n);
        for (size_t j = 0; j < n; ++j) {
            const auto& frame = reversed.frames[j];
            EXPECT_NEAR(frame.seconds, times[j], 1e-4) << j;
            EXPECT_NEAR(frame.durationSeconds, (j + 1 < n ? times[j + 1] : end) - times[j], 1e-4)
                << j;
            EXPECT_EQ(closestFrame(source, frame.image), n - 1 - j) << j;
            if (allKeys) {
                EXPECT_EQ(test::meanAbsoluteDifference(frame.image, source.frames[n - 1 - j].image),
                          0.0);
            }
        }

        // From 0.12 to 0.7 s of the reversed movie: reversed frames 1 to 4 from zero, the
        // first cut short, the last lasting until the next one would start (0.9 s).
        auto partFile = dir_ / "uneven-part.mp4";
        auto part = movie_operations::reversedPartWithOutputURL(
            **movie, partFile, {seconds(0.12), seconds(0.7)}, media::EncodingQuality::Intermediate);
        ASSERT_TRUE(part.ok()) << part.error().message;
        test::DecodedMovie cut = test::decodeMedia(partFile);
        const std::vector<double> starts = {0, 0.03, 0.28, 0.38};
        const std::vector<double> lengths = {0.03, 0.25, 0.1, 0.4};
        ASSERT_EQ(cut.frames.size(), starts.size());
        for (size_t k = 0; k < starts.size(); ++k) {
            EXPECT_NEAR(cut.frames[k].seconds, starts[k], 1e-4) << k;
            EXPECT_NEAR(cut.frames[k].durationSeconds, lengths[k], 1e-4) << k;
            EXPECT_EQ(closestFrame(source, cut.frames[k].image), 4 - k) << k;
        }
    }
}

// Delivery movies store B-frames, whose packets come in decoding order; every frame still
// keeps the time and duration it was given, and the movie its length.
TEST_F(ExportTest, DeliveryMoviesWithBFramesKeepEveryFrameTimeAndTheirLength) {
    std::vector<double> even;
    for (int i = 0; i < 30; ++i) {
        even.push_back(i / 30.0);
    }
    // A recording's times: a 1/60 s schedule with frames dropped while busy, and a long
    // pause before the last frames.
    std::vector<double> dropped;
    for (int k : {0, 1, 2, 3, 5, 6, 8, 9, 10, 13, 14, 15, 16, 18, 19, 20, 22, 23, 24, 25, 27, 28}) {
        dropped.push_back(k / 60.0);
    }
    dropped.insert(dropped.end(), {0.7, 0.95, 1.0});
    struct Case {
        const char* name;
        std::vector<double> times;
        double end;
        bool audio;
    };
    for (const Case& c :
         {Case{"even", even, 1.0, false}, Case{"dropped frames", dropped, 1.1, false},
          Case{"one frame", {0}, 0.5, false}, Case{"with audio", dropped, 1.1, true}}) {
        SCOPED_TRACE(c.name);
        const size_t n = c.times.size();
        auto end = [&](size_t i) { return i + 1 < n ? c.times[i + 1] : c.end; };
        auto file = dir_ / "delivery.mp4";
        std::optional<media::AudioRange> audio;
        if (c.audio) {
            audio = media::AudioRange{clip(), seconds(1), seconds(2)};
        }
        ASSERT_TRUE(writeMovie(file, c.times, c.end, media::EncodingQuality::Delivery, audio));

        test::DecodedMovie decoded = test::decodeMedia(file);
        ASSERT_EQ(decoded.frames.size(), n);
        EXPECT_EQ(decoded.reordered, n > 1);
        EXPECT_EQ(decoded.hasAudio, c.audio);
        // The audio range is 2 s, give or take a packet.
        EXPECT_NEAR(decoded.durationSeconds, c.audio ? 2.0 : c.end, c.audio ? 0.03 : 1e-3);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_NEAR(decoded.frames[i].seconds, c.times[i], 1e-6) << i;
            EXPECT_NEAR(decoded.frames[i].durationSeconds, end(i) - c.times[i], 1e-6) << i;
            EXPECT_EQ(writtenFrameIndex(decoded.frames[i].image), int(i));
        }

        auto movie = media::openMovie(file);
        ASSERT_TRUE(movie.ok());
        EXPECT_NEAR((*movie)->info().duration.seconds(), c.end, 1e-6);
        EXPECT_EQ((*movie)->info().frameCount, int64_t(n));
        auto times = (*movie)->presentationTimes();
        ASSERT_TRUE(times.ok());
        ASSERT_EQ(times->size(), n);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_NEAR((*times)[i].seconds(), c.times[i], 1e-6) << i;
        }

        // A range read from between two frames starts with the frame on screen then, and
        // each frame read lasts until the next one, whether or not that is read; so does
        // every frame read at a sample rate.
        for (float rate : {0.f, 10.f}) {
            const size_t first = n / 2;
            const bool bounded = rate == 0 && n > 1;
            const size_t count = bounded ? n - 1 : n;
            media::FrameReaderOptions options;
            options.start = seconds(c.times[first] + (end(first) - c.times[first]) / 2);
            if (bounded) {
                options.end = seconds(c.times[n - 1]);
            }
            options.sampleRate = rate;
            auto reader = (*movie)->makeFrameReader(options);
            ASSERT_TRUE(reader.ok());
            for (size_t i = first;; ++i) {
                auto next = (*reader)->nextFrame();
                ASSERT_TRUE(next.ok());
                if (!next->has_value()) {
                    EXPECT_EQ(i, count);
                    break;
                }
                ASSERT_LT(i, count);
                const media::Frame& frame = **next;
                EXPECT_NEAR(frame.presentationTime.seconds(), c.times[i], 1e-6) << i;
                EXPECT_NEAR(frame.duration.seconds(), end(i) - c.times[i], 1e-6) << i;
                EXPECT_EQ(writtenFrameIndex(*frame.image), int(i));
            }
        }
    }
}

TEST_F(ExportTest, FailedReversalOrResizeEndsTheExportWithoutAFile) {
    auto broken = dir_ / "vanishing.mp4";
    std::filesystem::copy_file(clip(), broken);
    auto generator = generatorFor(broken);
    std::filesystem::remove(broken);
    RCExportOptions options;
    options.loopType = 1;
    auto gif = dir_ / "never.gif";
    EXPECT_FALSE(run([&](auto done) { generator->makeGIF(gif, options, nullptr, done); }).ok());
    EXPECT_FALSE(std::filesystem::exists(gif));
    EXPECT_TRUE(files_.tempFiles().empty());

    // A size no movie can have makes the resize fail.
    auto readable = generatorFor(clip());
    RCExportOptions tiny;
    tiny.width = 0.2f;
    tiny.height = 0.2f;
    auto movie = dir_ / "never.mp4";
    EXPECT_FALSE(run([&](auto done) { readable->makeVideo(movie, tiny, nullptr, done); }).ok());
    EXPECT_FALSE(std::filesystem::exists(movie));
    EXPECT_TRUE(files_.tempFiles().empty());
}

TEST_F(ExportTest, EstimatorQuickFiguresAndOnlyTheNewestRequestAnswers) {
    auto movie = dir_ / "qvga.mp4";
    ASSERT_TRUE(test::makeTestMovie(movie, 320, 240, 10, 3));
    auto recording = RCRecording::recordingWithURL(movie);
    recording->editParameters()->setFrameRate(2);
    EXPECT_EQ(RCGIFFileSizeEstimator::quickEstimateFileSize(*recording), 2304000u);
    recording->editParameters()->setLoopType(2);
    EXPECT_EQ(RCGIFFileSizeEstimator::quickEstimateFileSize(*recording), 4608000u);
    recording->editParameters()->setLoopType(0);
    recording->editParameters()->setTrimmedEndTime(seconds(1));

    // Hold the queue so that both requests are waiting when the jobs start.
    auto queue = dispatch::makeSerialQueue("estimator-test");
    auto gate = std::make_shared<dispatch::Semaphore>(0);
    queue->async([gate] { gate->wait(); });
    auto estimator = std::make_unique<RCGIFFileSizeEstimator>(files_, queue);
    std::atomic<int> firstCalls = 0, secondCalls = 0;
    std::atomic<int64_t> size = -1;
    estimator->estimateFileSize(recording, [&](int64_t) { ++firstCalls; });
    estimator->estimateFileSize(recording, [&](int64_t bytes) {
        size = bytes;
        ++secondCalls;
        wakeMainQueue();
    });
    EXPECT_TRUE(estimator->isCalculating());
    gate->signal();
    ASSERT_TRUE(dispatch::runUntil([&] { return secondCalls > 0; }, 60s));
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(secondCalls, 1);
    EXPECT_GT(size, 1000);

    // A third request runs at once: the superseded job gave its turn back.
    std::atomic<int> thirdCalls = 0;
    auto started = std::chrono::steady_clock::now();
    estimator->estimateFileSize(recording, [&](int64_t) {
        ++thirdCalls;
        wakeMainQueue();
    });
    ASSERT_TRUE(dispatch::runUntil([&] { return thirdCalls > 0; }, 60s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

    // A GIF that cannot be made measures 0.
    recording->editParameters()->setTrimmedEndTime(MediaTime::make(1, 100));
    std::atomic<int64_t> failedSize = -1;
    estimator->estimateFileSize(recording, [&](int64_t bytes) {
        failedSize = bytes;
        wakeMainQueue();
    });
    ASSERT_TRUE(dispatch::runUntil([&] { return failedSize >= 0; }, 60s));
    EXPECT_EQ(failedSize, 0);
}

// The estimate is the size of the GIF that the same options make: the estimator makes that
// GIF itself, and its only freedom is the quantiser's (it gives the same bytes each time, so
// the band is 1 %). The quick figure counts one byte per pixel of every frame: an upper
// bound, near for noise (about 1.6 times the GIF, measured) and well above for screen-like
// pictures (about 9.5 times). Its band: the GIF lies between a twentieth of it and all of it.
TEST_F(ExportTest, SizeEstimatesAgreeWithTheGIFTheSameOptionsMake) {
    auto screen = dir_ / "screen.mp4";
    auto noise = dir_ / "noise.mp4";
    ASSERT_TRUE(test::makeTestMovie(screen, 320, 240, 30, 3));
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -f lavfi -i "
                           "color=c=gray:size=320x240:rate=30:duration=3,noise=alls=80:allf=t+u "
                           "-c:v libx264 -preset ultrafast -crf 12 -g 1 -pix_fmt yuv420p '" +
                           noise.string() + "'")
                              .c_str()),
              0);
    RCGIFFileSizeEstimator estimator(files_);
    for (const auto& movie : {screen, noise}) {
        for (int64_t rate : {0, 2}) {
            SCOPED_TRACE(movie.filename().string() + " at rate " + std::to_string(rate));
            auto recording = RCRecording::recordingWithURL(movie);
            recording->editParameters()->setFrameRate(rate);
            recording->editParameters()->setTrimmedStartTime(seconds(0.5));
            std::atomic<int64_t> estimate = -1;
            estimator.estimateFileSize(recording, [&](int64_t bytes) {
                estimate = bytes;
                wakeMainQueue();
            });
            ASSERT_TRUE(dispatch::runUntil([&] { return estimate >= 0; }, 120s));

            RCExportOptions options;
            options.width = recording->editedWidth();
            options.height = recording->editedHeight();
            options.startTime = recording->editedStartTime();
            options.endTime = recording->editedEndTime();
            options.loopType = recording->editParameters()->loopType();
            options.fps = recording->editedFPS();
            auto gif = dir_ / "measured.gif";
            auto generator = std::make_shared<RCGIFGenerator>(recording, files_);
            ASSERT_TRUE(
                run([&](auto done) { generator->makeGIF(gif, options, nullptr, done); }).ok());
            auto made = double(std::filesystem::file_size(gif));
            EXPECT_NEAR(double(estimate) / made, 1.0, 0.01);
            double quick = double(RCGIFFileSizeEstimator::quickEstimateFileSize(*recording));
            EXPECT_LE(made, quick);
            EXPECT_GE(made, quick / 20);
        }
    }
}

}  // namespace
}  // namespace pindle

namespace pindle {
namespace {

int runCommand(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ExportTest, CommandLineExportReportsSuccessAndFailure) {
    std::string program = std::string("PINDLE_CAPTURE_HOME='") + dir_.path().string() + "' " +
                          PINDLE_CAPTURE_BINARY + " export ";
    auto gif = dir_ / "cli.gif";
    EXPECT_EQ(runCommand(program + "'" + clip().string() + "' --to '" + gif.string() +
                         "' --start 1 --end 2 --size 320 --rate low > /dev/null"),
              0);
    test::DecodedMovie decoded = test::decodeMedia(gif);
    EXPECT_EQ(decoded.width, 320);
    EXPECT_EQ(decoded.frames.size(), 10u);

    auto empty = dir_ / "cli-empty.gif";
    EXPECT_EQ(runCommand(program + "'" + clip().string() + "' --to '" + empty.string() +
                         "' --start 1 --end 1.01 2> /dev/null"),
              1);
    EXPECT_FALSE(std::filesystem::exists(empty));
    EXPECT_EQ(runCommand(program + "'" + (dir_ / "missing.mp4").string() + "' --to '" +
                         empty.string() + "' 2> /dev/null"),
              1);
    EXPECT_EQ(runCommand(program + "'" + clip().string() + "' --loop sideways --to '" +
                         empty.string() + "' 2> /dev/null"),
              2);
}

}  // namespace
}  // namespace pindle
