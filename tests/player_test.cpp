// The looping preview player's rules, on a fake clock with frames that are ready at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "editor/RCEditorCaptions.h"
#include "editor/RCLoopingAVPlayer.h"
#include "fake_movies.h"

namespace pindle {
namespace {

using Clock = MoviePlayer::Clock;
using test::FakeMovies;

MediaTime seconds(double value) {
    return MediaTime::makeWithSeconds(value, 600);
}

// Frames at 10 per second, each a 1 × 1 image whose red sample is its number.
class InstantFrames final : public FrameSupply {
public:
    explicit InstantFrames(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            times_.push_back(MediaTime::make(int64_t(i) * 60, 600));
        }
    }
    const std::vector<MediaTime>& frameTimes() const override { return times_; }
    void setPlan(const PlaybackPlan& plan) override { plans.push_back(plan); }
    std::optional<ImagePtr> take(PlaybackStep step) override {
        if (holdBack) {
            return std::nullopt;
        }
        auto image = std::make_shared<Image>(1, 1);
        image->pixels[0] = uint8_t(step.index);
        return ImagePtr(image);
    }
    std::vector<PlaybackPlan> plans;
    bool holdBack = false;

private:
    std::vector<MediaTime> times_;
};

struct Shown {
    int index;
    double at;  // seconds on the fake clock since the test started
    friend bool operator==(const Shown&, const Shown&) = default;
};

class PlayerTest : public ::testing::Test, public RCPlayerFrameSink {
protected:
    PlayerTest() {
        movies.add("/movies/five.mp4", FakeMovies::video(320, 240, 5.0, 10));
        recording = RCRecording::recordingWithURL("/movies/five.mp4");
    }

    MoviePlayer::Environment environment() {
        MoviePlayer::Environment environment;
        environment.now = [this] { return clock; };
        environment.wakeAt = [this](Clock::time_point at, std::function<void()> tick) {
            wakes.push_back({std::max(at, clock), std::move(tick)});
        };
        environment.makeFrameSupply = [this](const media::MoviePtr&, std::function<void()>) {
            auto supply = std::make_unique<InstantFrames>(50);
            frames = supply.get();
            return supply;
        };
        return environment;
    }

    std::unique_ptr<RCLoopingAVPlayer> makePlayer(std::shared_ptr<RCRecording> with) {
        auto player = std::make_unique<RCLoopingAVPlayer>(std::move(with), environment());
        player->setFrameSink(this);
        return player;
    }

    // Runs the wake-ups due until the clock reads `until` seconds.
    void runFor(double duration) {
        auto until = clock + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(duration));
        while (true) {
            auto next = std::min_element(wakes.begin(), wakes.end(),
                                         [](auto& a, auto& b) { return a.first < b.first; });
            if (next == wakes.end() || next->first > until) {
                break;
            }
            clock = std::max(clock, next->first);
            auto tick = std::move(next->second);
            wakes.erase(next);
            tick();
        }
        clock = until;
    }

    void showFrame(const ImagePtr& image, MediaTime time) override {
        EXPECT_EQ(image->pixels[0], uint8_t(std::lround(time.seconds() * 10)));
        shown.push_back({image->pixels[0], std::chrono::duration<double>(clock - start).count()});
    }

    std::vector<int> shownIndexes() const {
        std::vector<int> indexes;
        for (const auto& frame : shown) {
            indexes.push_back(frame.index);
        }
        return indexes;
    }

    static std::vector<int> range(int from, int to) {
        std::vector<int> values;
        for (int i = from; from <= to ? i <= to : i >= to; i += from <= to ? 1 : -1) {
            values.push_back(i);
        }
        return values;
    }
    static std::vector<int> joined(std::initializer_list<std::vector<int>> parts) {
        std::vector<int> all;
        for (const auto& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

    FakeMovies movies;
    std::shared_ptr<RCRecording> recording;
    Clock::time_point start = Clock::time_point{} + std::chrono::hours(1);
    Clock::time_point clock = start;
    std::vector<std::pair<Clock::time_point, std::function<void()>>> wakes;
    InstantFrames* frames = nullptr;
    std::vector<Shown> shown;
};

// Window 1–3 s of a 5-second movie at 10 frames per second: frames 10 to 29.
TEST_F(PlayerTest, LoopTypesPlayTheWindowInTheirOrderOnTime) {
    struct Case {
        int64_t loopType;
        std::vector<int> expected;  // the first 50 frames shown
    };
    const Case cases[] = {
        {0, joined({range(10, 29), range(10, 29), range(10, 19)})},
        {1, joined({range(29, 10), range(29, 10), range(29, 20)})},
        {2, joined({range(10, 29), range(29, 10), range(10, 19)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loopType);
        shown.clear();
        start = clock;
        auto player = makePlayer(recording);
        player->setReversePlaybackEndTime(seconds(1));
        player->setForwardPlaybackEndTime(seconds(3));
        player->setLoopType(c.loopType);
        player->play();
        runFor(4.95);
        ASSERT_EQ(shownIndexes(), c.expected);
        // One frame every tenth of a second, on the dot, also across the loop's turns.
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_NEAR(shown[i].at, 0.1 * double(i), 1e-6) << "frame " << i;
        }
        EXPECT_EQ(player->statistics().framesLate, 0u);
        EXPECT_TRUE(player->isPlaying());
    }
}

TEST_F(PlayerTest, PingPongTurnsAtEachEndOfTheWindow) {
    auto player = makePlayer(recording);
    player->setReversePlaybackEndTime(seconds(1));
    player->setForwardPlaybackEndTime(seconds(3));
    player->setLoopType(2);
    player->play();
    EXPECT_EQ(player->rate(), 1);
    runFor(1.0);
    EXPECT_EQ(player->currentTime(), seconds(2));
    runFor(1.5);  // turned at 3 s: now playing backward, at 2.5 s
    EXPECT_EQ(player->rate(), -1);
    EXPECT_EQ(player->currentTime(), seconds(2.5));
    runFor(2.0);  // turned at 1 s again
    EXPECT_EQ(player->rate(), 1);
    EXPECT_EQ(player->currentTime(), seconds(1.5));
}

TEST_F(PlayerTest, LoopTypeChangeWhilePlayingRestartsFromItsEnd) {
    auto player = makePlayer(recording);
    player->setReversePlaybackEndTime(seconds(1));
    player->setForwardPlaybackEndTime(seconds(3));
    player->play();
    runFor(0.55);
    player->setLoopType(1);
    EXPECT_EQ(player->rate(), -1);
    EXPECT_EQ(player->currentTime(), seconds(3));
    runFor(0.25);
    EXPECT_EQ(shownIndexes(), joined({range(10, 15), range(29, 27)}));

    // Stopped, a new loop type waits for play().
    player->pause();
    player->setLoopType(0);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(player->loopType(), 0);
}

TEST_F(PlayerTest, CaptionsTabPauseAndResumeContinueWhereAndHowItPlayed) {
    auto player = makePlayer(recording);
    player->setReversePlaybackEndTime(seconds(1));
    player->setForwardPlaybackEndTime(seconds(3));
    player->setLoopType(1);
    player->play();
    runFor(0.55);
    RCLoopingPlayerPlayback playback(*player);
    playback.pause();
    MediaTime pausedAt = playback.currentTime();
    EXPECT_LT(pausedAt, seconds(3));
    runFor(1);
    EXPECT_FALSE(playback.isPlaying());
    playback.resume();  // not back to the start of the loop, and still backward
    EXPECT_EQ(player->rate(), -1);
    EXPECT_EQ(player->currentTime(), pausedAt);
    playback.seekExactly(seconds(2));
    EXPECT_EQ(player->currentTime(), seconds(2));
}

TEST_F(PlayerTest, WithoutRecordingOrWithAnUnknownLoopTypePlayDoesNothing) {
    auto empty = makePlayer(nullptr);
    empty->play();
    EXPECT_FALSE(empty->isPlaying());
    EXPECT_FALSE(empty->hasCurrentItem());

    auto player = makePlayer(recording);
    player->setLoopType(7);
    player->play();
    runFor(1);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_TRUE(shown.empty() || shown.size() == 1);  // at most the first frame, paused

    // Playing by rate with an unknown loop type stops at the end of the window.
    player->setForwardPlaybackEndTime(seconds(0.5));
    player->setRate(1);
    runFor(1);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), seconds(0.5));
}

TEST_F(PlayerTest, SeeksShowTheExactFrameAndReportTheTime) {
    auto player = makePlayer(recording);
    std::vector<MediaTime> reported;
    int token = player->addPeriodicTimeObserver(seconds(0.5),
                                                [&](MediaTime time) { reported.push_back(time); });
    // Between two frames: the one on screen then; on a frame's time: that frame.
    for (auto [time, frame] :
         {std::pair{2.35, 23}, std::pair{2.4, 24}, std::pair{0.0, 0}, std::pair{4.99, 49}}) {
        player->seekToTime(seconds(time));
        runFor(0.01);
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().index, frame) << time;
        EXPECT_EQ(reported.back(), seconds(time));
    }
    // Seeking to the frame on screen shows it again.
    size_t count = shown.size();
    player->seekToTime(seconds(4.99));
    runFor(0.01);
    EXPECT_EQ(shown.size(), count + 1);

    // While playing the observer reports every half second of playback.
    reported.clear();
    player->seekToTime(seconds(0));
    player->setRate(1);
    runFor(2.05);
    ASSERT_EQ(reported.size(), 5u);
    for (size_t i = 0; i < reported.size(); ++i) {
        EXPECT_NEAR(reported[i].seconds(), 0.5 * double(i), 1e-6);
    }
    player->removeTimeObserver(token);
    runFor(1);
    EXPECT_EQ(reported.size(), 5u);
}

TEST_F(PlayerTest, EndObserversHearEachEndOfTheWindow) {
    auto player = makePlayer(recording);
    player->setReversePlaybackEndTime(seconds(1));
    player->setForwardPlaybackEndTime(seconds(2));
    std::vector<std::pair<MediaTime, double>> ends;
    player->addEndObserver([&] { ends.push_back({player->currentTime(), player->rate()}); });
    player->setLoopType(2);
    player->play();
    runFor(3.5);
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_EQ(ends[0], std::pair(seconds(2), 0.0));
    EXPECT_EQ(ends[1], std::pair(seconds(1), 0.0));
    EXPECT_EQ(ends[2], std::pair(seconds(2), 0.0));
}

TEST_F(PlayerTest, FramesNotReadyInTimeAreSkippedOrShownLate) {
    auto player = makePlayer(recording);
    player->play();
    runFor(0.35);
    EXPECT_EQ(player->statistics().framesShown, 4u);
    // Frames 4 and 5 are not decoded in time: playing on, the player shows frame 6 on time.
    frames->holdBack = true;
    runFor(0.25);
    frames->holdBack = false;
    player->tick();  // as the supply does when a frame arrives
    EXPECT_EQ(shownIndexes(), joined({range(0, 3), {6}}));
    EXPECT_EQ(player->statistics().framesSkipped, 2u);
    EXPECT_EQ(player->statistics().framesLate, 0u);
    ASSERT_FALSE(frames->plans.empty());
    EXPECT_TRUE(frames->plans.back().playing);
    EXPECT_EQ(frames->plans.back().last, 49u);

    // Paused, the frame sought is shown whenever it comes: late after more than a frame.
    player->pause();
    frames->holdBack = true;
    player->seekToTime(seconds(3));
    runFor(0.15);
    frames->holdBack = false;
    player->tick();
    EXPECT_EQ(shown.back().index, 30);
    EXPECT_EQ(player->statistics().framesLate, 1u);
    EXPECT_FALSE(frames->plans.back().playing);
}

TEST_F(PlayerTest, PlayWaitsForTheFirstFrameBeforeTheClockRuns) {
    auto player = makePlayer(recording);
    player->setReversePlaybackEndTime(seconds(1));
    player->setForwardPlaybackEndTime(seconds(3));
    player->setLoopType(1);
    frames->holdBack = true;
    player->play();
    runFor(0.35);
    EXPECT_EQ(player->currentTime(), seconds(3));
    frames->holdBack = false;
    player->tick();  // as the supply does when the frame arrives
    runFor(0.25);
    EXPECT_EQ(shownIndexes(), range(29, 27));
    EXPECT_EQ(player->statistics().framesSkipped, 0u);
    EXPECT_EQ(player->currentTime(), seconds(2.75));
}

// A movie of 30 frames in memory that counts what it decodes.
class CountingSource final : public media::FrameSource {
public:
    CountingSource() {
        for (int i = 0; i < 30; ++i) {
            times_.push_back(MediaTime::make(i * 60, 600));
        }
    }
    const std::vector<MediaTime>& frameTimes() const override { return times_; }
    Result<media::Frame> frame(size_t index, Size) override {
        auto image = std::make_shared<Image>(1, 1);
        image->pixels[0] = uint8_t(index);
        decoded.fetch_add(1);
        return media::Frame{image, times_[index], MediaTime::make(60, 600)};
    }
    std::atomic<int> decoded{0};

private:
    std::vector<MediaTime> times_;
};

TEST(DecodeAheadQueueTest, DecodesThePlanAheadWithinItsDepth) {
    auto owned = std::make_unique<CountingSource>();
    CountingSource* source = owned.get();
    std::mutex mutex;
    std::condition_variable arrived;
    int ready = 0;
    DecodeAheadQueue queue(std::move(owned), [&] {
        std::lock_guard lock(mutex);
        ++ready;
        arrived.notify_all();
    });
    // Waits for step, as a player does: take, and when it is not there, the wake-up.
    auto takeWhenReady = [&](PlaybackStep step) -> int {
        for (int attempt = 0; attempt < 100; ++attempt) {
            int before;
            {
                std::lock_guard lock(mutex);
                before = ready;
            }
            if (auto image = queue.take(step)) {
                return (*image)->pixels[0];
            }
            std::unique_lock lock(mutex);
            arrived.wait_for(lock, std::chrono::milliseconds(50), [&] { return ready > before; });
        }
        return -1;
    };
    auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };

    // Paused: only the frame sought.
    PlaybackPlan plan;
    plan.first = 10;
    plan.last = 12;
    plan.loopType = 2;
    plan.depth = 4;
    plan.head = {11, 1};
    queue.setPlan(plan);
    EXPECT_EQ(takeWhenReady({11, 1}), 11);
    settle();
    EXPECT_EQ(source->decoded.load(), 1);

    // Playing on from there: four ahead along the ping-pong, no more.
    plan.playing = true;
    plan.head = {12, 1};
    queue.setPlan(plan);
    EXPECT_EQ(takeWhenReady({12, 1}), 12);
    settle();
    EXPECT_EQ(source->decoded.load(), 2 + 4);
    EXPECT_EQ(takeWhenReady({12, -1}), 12);
    EXPECT_EQ(takeWhenReady({11, -1}), 11);

    // The same course from a step already decoded keeps the queue; another starts over.
    plan.head = {10, -1};
    queue.setPlan(plan);
    EXPECT_EQ(takeWhenReady({10, -1}), 10);
    int before = source->decoded.load();
    plan.loopType = 0;
    plan.head = {3, 1};
    queue.setPlan(plan);
    EXPECT_EQ(takeWhenReady({3, 1}), 3);
    EXPECT_EQ(takeWhenReady({4, 1}), 4);
    EXPECT_GE(source->decoded.load(), before + 2);
}

TEST(PlaybackPlanTest, StepsFollowTheLoopRules) {
    PlaybackPlan plan;
    plan.first = 10;
    plan.last = 12;
    struct Case {
        int64_t loopType;
        PlaybackStep from;
        std::optional<PlaybackStep> expected;
    };
    const Case cases[] = {
        {0, {11, 1}, PlaybackStep{12, 1}},   {0, {12, 1}, PlaybackStep{10, 1}},
        {1, {11, -1}, PlaybackStep{10, -1}}, {1, {10, -1}, PlaybackStep{12, -1}},
        {2, {12, 1}, PlaybackStep{12, -1}},  {2, {10, -1}, PlaybackStep{10, 1}},
        {5, {12, 1}, std::nullopt},
    };
    for (const auto& c : cases) {
        plan.loopType = c.loopType;
        EXPECT_EQ(stepAfter(plan, c.from), c.expected) << c.loopType << " " << c.from.index;
    }
}

}  // namespace
}  // namespace pindle
