#include <gtest/gtest.h>

#include "base/notifications.h"
#include "capture/RCCaptureEngine.h"
#include "decoded_media.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "movie_probe.h"
#include "platform/ffmpeg/ffmpeg_compression.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_writer.h"
#include "platform/x11/x11_capture.h"
#include "test_support.h"
#include "xvfb_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

class Events : public RCCaptureEngineDelegate {
public:
    void captureEngineDidStartCapturing(RCCaptureEngine&) override { ++started; }
    void captureEngineDidStopCapturing(RCCaptureEngine&) override { ++stopped; }
    void captureEngineDidOutputCapture(RCCaptureEngine&) override { ++outputs; }
    void captureEngineDidFailToOutputCapture(RCCaptureEngine&, const Error&) override {
        ++failures;
    }
    int started = 0, stopped = 0, outputs = 0, failures = 0;  // main thread only
};

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!dispatch::runUntil(condition, 5ms)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
    return true;
}

void expectAllKeyFramesOfSize(const test::MovieProbe& probe, int width, int height) {
    ASSERT_TRUE(probe.opened);
    EXPECT_EQ(probe.videoStreams, 1);
    EXPECT_EQ(probe.codec, "h264");
    EXPECT_EQ(probe.width, width);
    EXPECT_EQ(probe.height, height);
    ASSERT_FALSE(probe.ptsSeconds.empty());
    EXPECT_EQ(probe.decodedFrames, int(probe.ptsSeconds.size()));
    for (size_t i = 0; i < probe.ptsSeconds.size(); ++i) {
        EXPECT_TRUE(probe.keyFrames[i] && probe.idrFrames[i]) << "frame " << i;
        if (i > 0) {
            EXPECT_GT(probe.ptsSeconds[i], probe.ptsSeconds[i - 1]) << "frame " << i;
        }
    }
}

// A real capture on Xvfb: X11 grabs, libx264, the MP4 writer and the data store.
TEST(CaptureEndToEnd, CaptureLastDuringCaptureThenStopGiveTwoKeyFrameMovies) {
    test::Xvfb xvfb;
    ASSERT_TRUE(xvfb.isRunning());
    test::TempDir dir;
    RCFileManager files(dir.appDirectories());
    NotificationCenter center;
    RCDataStore store(files, center);
    ffmpeg::installMovieOpener();

    // 301.6 x 200.4 points, 80 up from the bottom of the 1920 x 1080 screen.
    const Rect region{{100, 80}, {301.6, 200.4}};
    test::MovingContent content(xvfb.display(), {100, 1080 - 281, 302, 201});
    ASSERT_TRUE(content.isShowing());

    RCCaptureEngineEnvironment environment;
    environment.screenCapture = x11::makeScreenCapturePlatform(xvfb.display());
    environment.compressionSessionFactory = ffmpeg::makeCompressionSession;
    environment.movieWriterFactory = ffmpeg::makeMovieWriter;
    environment.dataStore = &store;
    environment.fileManager = &files;
    auto engine = RCCaptureEngine::create(environment);
    auto events = std::make_shared<Events>();
    engine->setDelegate(events);

    ASSERT_TRUE(engine->startCapturingFrame(region, {}).ok());
    ASSERT_TRUE(waitFor([&] { return events->started == 1; }));
    ASSERT_TRUE(waitFor([&] { return engine->bufferedFrameCount() >= 20; }));
    engine->outputCaptureResetBuffer(false, nullptr);
    ASSERT_TRUE(waitFor([&] { return events->outputs == 1; }));
    const auto deliveredAtFirst = engine->statistics().framesDelivered;
    ASSERT_TRUE(waitFor([&] {
        return engine->statistics().framesDelivered >= deliveredAtFirst + 20;
    })) << "capturing did not go on after the capture-last";
    engine->stopCapturing();
    ASSERT_TRUE(waitFor([&] { return events->stopped == 1 && events->outputs == 2; }));
    EXPECT_EQ(events->failures, 0);
    EXPECT_FALSE(engine->isProcessing());

    ASSERT_EQ(store.recordingsCount(), 2u);
    const auto first = store.recordingAtIndex(0);
    const auto second = store.recordingAtIndex(1);
    for (const auto& recording : {first, second}) {
        EXPECT_TRUE(recording->isReady());
        EXPECT_EQ(recording->dimensions(), (Size{302, 200}));
        EXPECT_EQ(recording->url().parent_path(), files.documentDirectoryURL());
    }
    const auto firstMovie = test::probeMovie(first->url());
    const auto secondMovie = test::probeMovie(second->url());
    expectAllKeyFramesOfSize(firstMovie, 302, 200);
    expectAllKeyFramesOfSize(secondMovie, 302, 200);
    // The stop's movie holds the capture-last movie's frames and the newer ones.
    EXPECT_GE(secondMovie.ptsSeconds.size(), firstMovie.ptsSeconds.size() + 20);
    EXPECT_GT(second->duration().seconds(), first->duration().seconds());

    // Both movies start with the same frames: the capture-last movie's pictures, decoded,
    // open the stop's movie one for one. The content moves between captured frames, so a
    // movie starting a frame early or late shows other pictures.
    const auto firstFrames = test::decodeMedia(first->url());
    const auto secondFrames = test::decodeMedia(second->url(), firstFrames.frames.size());
    ASSERT_TRUE(firstFrames.error.empty()) << firstFrames.error;
    ASSERT_TRUE(secondFrames.error.empty()) << secondFrames.error;
    ASSERT_EQ(secondFrames.frames.size(), firstFrames.frames.size());
    ASSERT_GE(firstFrames.frames.size(), 20u);
    size_t changes = 0;
    for (size_t i = 0; i < firstFrames.frames.size(); ++i) {
        const Image& picture = firstFrames.frames[i].image;
        EXPECT_EQ(test::meanAbsoluteDifference(picture, secondFrames.frames[i].image), 0.0)
            << "frame " << i << " differs between the two movies";
        EXPECT_DOUBLE_EQ(firstFrames.frames[i].seconds, secondFrames.frames[i].seconds) << i;
        if (i > 0 && test::meanAbsoluteDifference(firstFrames.frames[i - 1].image, picture) > 1) {
            ++changes;
        }
    }
    EXPECT_DOUBLE_EQ(firstFrames.frames[0].seconds, 0.0);
    EXPECT_GE(changes, firstFrames.frames.size() / 2) << "the captured content hardly moves";
}

}  // namespace
}  // namespace pindle
