#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/notifications.h"
#include "capture/RCCaptureEngine.h"
#include "capture_fakes.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

// Records the delegate calls in the order the main queue delivered them.
class Recorder : public RCCaptureEngineDelegate {
public:
    void captureEngineDidStartCapturing(RCCaptureEngine&) override { calls.push_back("start"); }
    void captureEngineDidFailToStartCapturing(RCCaptureEngine&, const Error& error) override {
        calls.push_back("start failed");
        lastError = error.message;
    }
    void captureEngineDidFailWhileCapturing(RCCaptureEngine&, const Error& error) override {
        calls.push_back("capture failed");
        lastError = error.message;
    }
    void captureEngineDidStopCapturing(RCCaptureEngine&) override { calls.push_back("stop"); }
    void captureEngineDidOutputCapture(RCCaptureEngine&) override { calls.push_back("output"); }
    void captureEngineDidFailToOutputCapture(RCCaptureEngine&, const Error& error) override {
        calls.push_back("output failed");
        lastError = error.message;
    }
    size_t count(const std::string& call) const {
        return size_t(std::count(calls.begin(), calls.end(), call));
    }
    std::vector<std::string> calls;  // main thread only
    std::string lastError;
};

const std::vector<Screen> kTwoScreens = {
    {1, {{0, 0}, {1920, 1080}}, 1.0, "primary"},
    {2, {{1920, 0}, {1280, 1024}}, 1.0, "right"},
};

class ConcurrentCaptureEngine : public ::testing::Test {
protected:
    explicit ConcurrentCaptureEngine(std::chrono::microseconds frameInterval = 2ms)
        : files(dir.appDirectories()),
          store(files, center),
          writers(movies),
          screenCapture(std::make_shared<test::FakeScreenCapture>(kTwoScreens, frameInterval)) {}

    void makeEngine(std::string audioSource = "None") {
        RCCaptureEngineEnvironment environment;
        environment.screenCapture = screenCapture;
        environment.compressionSessionFactory = compression.factory();
        environment.movieWriterFactory = writers.factory();
        environment.dataStore = &store;
        environment.fileManager = &files;
        environment.audioSource = [audioSource] { return audioSource; };
        engine = RCCaptureEngine::create(environment);
        engine->setDelegate(recorder);
    }

    // Runs the main queue until condition holds, looking at it at least every 5 ms (it may
    // change on other threads without a main-queue task).
    static bool waitFor(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!dispatch::runUntil(condition, 5ms)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
        }
        return true;
    }

    void TearDown() override {
        if (engine) {
            waitFor([&] { return !engine->isProcessing(); });
        }
        engine.reset();
        dispatch::drainMainQueue();
    }

    // Frame numbers of a movie's samples.
    static std::vector<int64_t> numbers(const std::vector<SampleBufferPtr>& samples) {
        std::vector<int64_t> out;
        for (const auto& sample : samples) {
            out.push_back(test::FakeCompression::frameNumber(*sample));
        }
        return out;
    }

    test::TempDir dir;
    RCFileManager files;
    NotificationCenter center;
    RCDataStore store;
    test::FakeMovies movies;
    test::FakeCompression compression;
    test::FakeMovieWriters writers;
    std::shared_ptr<test::FakeScreenCapture> screenCapture;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<RCCaptureEngine> engine;
};

class ConcurrentCaptureEngineWithoutFrames : public ConcurrentCaptureEngine {
protected:
    ConcurrentCaptureEngineWithoutFrames()
        : ConcurrentCaptureEngine(std::chrono::microseconds(0)) {}
};

TEST_F(ConcurrentCaptureEngineWithoutFrames, StopWithoutFramesSaysNothingWasRecorded) {
    makeEngine();
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return recorder->count("start") == 1; }));
    engine->stopCapturing();
    engine->stopCapturing();  // a second stop of the same capture does nothing
    ASSERT_TRUE(waitFor([&] { return recorder->count("output failed") == 1; }));
    waitFor([] { return false; }, 100ms);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"start", "stop", "output failed"}));
    EXPECT_EQ(recorder->lastError, "no frame was captured");
    EXPECT_EQ(store.recordingsCount(), 0u);
    EXPECT_FALSE(engine->isProcessing());
}

TEST_F(ConcurrentCaptureEngineWithoutFrames, MovieHoldsTheNewestThirtySecondsOfTheRing) {
    makeEngine();
    // 1800 frames 1/30 s apart span 60 s; the movie takes the newest 30 s of them, from a
    // key frame: frame 900 is not one, so it starts at 901.
    auto format = std::make_shared<FormatDescription>();
    format->mediaType = kMediaTypeVideo;
    format->mediaSubType = kCodecH264;
    for (int64_t i = 0; i < 1800; ++i) {
        auto sample = std::make_shared<SampleBuffer>();
        sample->formatDescription = format;
        sample->presentationTimeStamp = MediaTime::make(1000 + i, 30);
        sample->isKeyFrame = i != 900;
        sample->data.resize(8);
        std::memcpy(sample->data.data(), &i, 8);
        engine->appendToBuffer(sample);
    }
    engine->outputCaptureResetBuffer(false, nullptr);
    ASSERT_TRUE(waitFor([&] { return recorder->count("output") == 1; }));
    const auto written = writers.movies();
    ASSERT_EQ(written.size(), 1u);
    const auto& samples = written.begin()->second;
    const auto frames = numbers(samples);
    ASSERT_EQ(frames.size(), 899u);
    EXPECT_EQ(frames.front(), 901);
    EXPECT_EQ(frames.back(), 1799) << "the newest frame is in the movie";
    EXPECT_TRUE(samples.front()->isKeyFrame);
    EXPECT_EQ(writers.sessionStart(written.begin()->first), MediaTime::make(1000 + 901, 30))
        << "the movie's times start at its first frame";
    EXPECT_EQ(engine->bufferedFrameCount(), 1800) << "a capture-last keeps the ring";
}

TEST_F(ConcurrentCaptureEngine, CaptureLastKeepsCapturingAndTheStopMovieHoldsTheOlderFramesToo) {
    makeEngine();
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return engine->bufferedFrameCount() >= 20; }));
    writers.holdFinishing = true;
    engine->outputCaptureResetBuffer(false, nullptr);
    EXPECT_TRUE(engine->isProcessing());
    writers.holdFinishing = false;
    ASSERT_TRUE(waitFor([&] { return recorder->count("output") == 1; }));
    const auto afterFirst = engine->statistics().framesDelivered;
    ASSERT_TRUE(waitFor([&] { return engine->statistics().framesDelivered >= afterFirst + 20; }))
        << "capturing stopped after a capture-last";
    engine->stopCapturing();
    ASSERT_TRUE(waitFor([&] { return recorder->count("output") == 2; }));

    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"start", "output", "stop", "output"}));
    ASSERT_EQ(store.recordingsCount(), 2u);
    for (const auto& recording : store.allRecordings()) {
        EXPECT_TRUE(recording->isReady());
        EXPECT_EQ(recording->dimensions(), (Size{320, 240}));
    }
    const auto first = numbers(writers.movies()[store.recordingAtIndex(0)->url().string()]);
    const auto second = numbers(writers.movies()[store.recordingAtIndex(1)->url().string()]);
    ASSERT_GE(first.size(), 20u);
    ASSERT_GE(second.size(), first.size() + 20);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), second.begin()))
        << "the stop's movie starts with the frames of the capture-last movie";
    EXPECT_EQ(engine->bufferedFrameCount(), 0) << "a stop resets the ring";
    EXPECT_FALSE(engine->isProcessing());
}

TEST_F(ConcurrentCaptureEngine, CaptureLastRequestsDuringFastCaptureReadWholeRings) {
    makeEngine();
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {64, 64}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return engine->bufferedFrameCount() >= 5; }));
    for (int i = 0; i < 15; ++i) {
        engine->outputCaptureResetBuffer(false, nullptr);
        waitFor([] { return false; }, 7ms);
    }
    engine->stopCapturing();
    ASSERT_TRUE(waitFor([&] { return recorder->count("output") == 16; }, 30s));
    EXPECT_FALSE(engine->isProcessing());
    EXPECT_EQ(engine->inProcessingCount(), 0u);
    EXPECT_EQ(store.recordingsCount(), 16u);
    for (const auto& [path, samples] : writers.movies()) {
        const auto frames = numbers(samples);
        ASSERT_FALSE(frames.empty()) << path;
        EXPECT_EQ(frames.front(), 1) << "fewer than 1800 frames: every movie starts at the first";
        for (size_t i = 1; i < frames.size(); ++i) {
            ASSERT_EQ(frames[i], frames[i - 1] + 1) << "a movie read a ring in mid-write";
        }
    }
}

// A caller that waits until the engine is idle and then runs what the main queue holds (as
// the command line does) must learn how the movie ended: the announcements are queued while
// the job still counts as under way, and at most a task that wakes such a caller follows.
TEST_F(ConcurrentCaptureEngine, MovieOutcomeIsQueuedBeforeTheEngineTurnsIdle) {
    writers.failAfterAppends = 3;
    makeEngine();
    std::atomic<int> queuedWhileIdle{0};
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return engine->bufferedFrameCount() >= 10; }));
    dispatch::setMainQueueWakeup([&] {
        if (!engine->isProcessing()) {
            ++queuedWhileIdle;
        }
    });
    engine->stopCapturing();
    ASSERT_TRUE(waitFor([&] { return recorder->count("stop") == 1 && !engine->isProcessing(); }));
    dispatch::setMainQueueWakeup({});
    dispatch::drainMainQueue();
    EXPECT_EQ(recorder->count("output failed"), 1u);
    EXPECT_LE(queuedWhileIdle.load(), 1) << "the outcome was queued after the engine was idle";
}

TEST_F(ConcurrentCaptureEngine, FailedMovieRemovesItsPlaceholderAndSaysWhy) {
    writers.failAfterAppends = 3;
    std::vector<std::string> logLines;
    std::mutex logMutex;
    log::setSink([&](log::Level, const std::string&, const std::string& message) {
        std::lock_guard lock(logMutex);
        logLines.push_back(message);
    });
    makeEngine();
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return engine->bufferedFrameCount() >= 10; }));
    engine->stopCapturing();
    // The engine goes idle just after it has queued the outcome.
    ASSERT_TRUE(waitFor([&] {
        return recorder->count("output failed") == 1 && !engine->isProcessing();
    })) << "the movie job did not end after its writer failed";
    log::setSink({});
    EXPECT_EQ(recorder->count("stop"), 1u);
    EXPECT_EQ(recorder->count("output"), 0u);
    EXPECT_NE(recorder->lastError.find(std::strerror(ENOSPC)), std::string::npos);
    EXPECT_EQ(store.recordingsCount(), 0u) << "a placeholder for a broken movie stays";
    ASSERT_EQ(writers.movies().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(writers.movies().begin()->first));
    bool said = false;
    for (const auto& line : logLines) {
        said = said || line.find(std::string("could not be written: writing a sample failed: ") +
                                 std::strerror(ENOSPC)) != std::string::npos;
    }
    EXPECT_TRUE(said);

    // A movie the writer finished that cannot be read back is no recording either.
    writers.failAfterAppends.reset();
    writers.unreadable = true;
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return engine->bufferedFrameCount() >= 10; }));
    engine->stopCapturing();
    ASSERT_TRUE(waitFor([&] { return recorder->count("output failed") == 2; }));
    EXPECT_EQ(recorder->count("output"), 0u);
    EXPECT_NE(recorder->lastError.find("cannot be read back"), std::string::npos);
    EXPECT_EQ(store.recordingsCount(), 0u);
    for (const auto& [path, samples] : writers.movies()) {
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(ConcurrentCaptureEngine, CaptureThatCannotStartOrEncodeSaysSoAndLeavesTheEngineReady) {
    // An encoder that refuses the size: the start is refused, nothing runs.
    compression.failToPrepare = "invalid width x height";
    makeEngine();
    auto refused = engine->startCapturingFrame({{100, 100}, {320, 240}}, {});
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("cannot be encoded"), std::string::npos);
    EXPECT_NE(refused.error().message.find("invalid width x height"), std::string::npos);
    EXPECT_EQ(engine->encoder(), nullptr);

    // A session that does not start.
    compression.failToPrepare.reset();
    makeEngine();
    *screenCapture->failToStart = true;
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return recorder->count("start failed") == 1; }));
    EXPECT_NE(recorder->lastError.find("cannot connect"), std::string::npos);
    EXPECT_FALSE(engine->isCapturing());

    // An encoder that fails after 10 frames ends the capture on its own; the frames it did
    // encode are saved. Neither failure left the engine unable to start again.
    *screenCapture->failToStart = false;
    compression.failAfterFrames = 10;
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return recorder->count("output") == 1; }));
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"start failed", "start", "capture failed",
                                                         "stop", "output"}));
    EXPECT_NE(recorder->lastError.find("ran out of memory"), std::string::npos);
    const auto written = writers.movies();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(numbers(written.begin()->second).size(), 10u);
    EXPECT_EQ(store.recordingsCount(), 1u);

    // A session that loses its display after 8 frames ends the capture the same way, and a
    // new start runs it again.
    compression.failAfterFrames.reset();
    *screenCapture->loseAfterFrames = 8;
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return recorder->count("output") == 2; }));
    EXPECT_EQ(recorder->count("capture failed"), 2u);
    EXPECT_NE(recorder->lastError.find("X display was lost"), std::string::npos);
    *screenCapture->loseAfterFrames = -1;
    ASSERT_TRUE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok());
    ASSERT_TRUE(waitFor([&] { return engine->bufferedFrameCount() >= 20; }));
    engine->stopCapturing();
    ASSERT_TRUE(waitFor([&] { return recorder->count("output") == 3; }));
    EXPECT_EQ(recorder->count("capture failed"), 2u);
}

TEST_F(ConcurrentCaptureEngine, RegionIsCapturedFromTheDisplayHoldingMostOrRefused) {
    makeEngine("Built-in Microphone");
    // Centre in the gap above the right screen's top edge; most of it on the right screen.
    ASSERT_TRUE(engine->startCapturingFrame({{1800, 950}, {600, 150}}, {true, true}).ok());
    ASSERT_TRUE(waitFor([&] { return recorder->count("start") == 1; }));
    ASSERT_NE(engine->activeInput(), nullptr);
    EXPECT_EQ(engine->activeInput()->displayID(), 2u);
    EXPECT_EQ(engine->activeInput()->cropRect(), (Rect{{0, 950}, {480, 74}}));
    EXPECT_TRUE(engine->activeInput()->capturesCursor());
    EXPECT_TRUE(engine->activeInput()->capturesMouseClicks());
    EXPECT_EQ(engine->circularBuffer()->capacity(), 4612) << "an audio source enlarges the ring";
    EXPECT_FALSE(engine->startCapturingFrame({{100, 100}, {320, 240}}, {}).ok())
        << "a second start while capturing";
    engine->stopCapturing();
    ASSERT_TRUE(waitFor([&] { return recorder->count("stop") == 1; }));

    auto refused = engine->startCapturingFrame({{5000, 5000}, {320, 240}}, {});
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("no display"), std::string::npos);
    EXPECT_FALSE(engine->startCapturingFrame({{100, 100}, {1.2, 240}}, {}).ok());
    waitFor([] { return false; }, 50ms);
    EXPECT_EQ(recorder->count("start"), 1u);
}

}  // namespace
}  // namespace pindle
