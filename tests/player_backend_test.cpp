// The preview player over FFmpeg, on movies made for the test: the frames it shows, their
// order and timing, against frames decoded independently.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "decoded_media.h"
#include "editor/RCLoopingAVPlayer.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The reference frame image is closest to.
size_t nearestFrame(const Image& image, const test::DecodedMovie& reference) {
    size_t best = 0;
    double bestDifference = std::numeric_limits<double>::max();
    for (size_t i = 0; i < reference.frames.size(); ++i) {
        double difference = test::meanAbsoluteDifference(image, reference.frames[i].image);
        if (difference < bestDifference) {
            best = i;
            bestDifference = difference;
        }
    }
    return best;
}

struct Shown {
    size_t index;  // of the reference frame the image is
    Clock::time_point at;
    MediaTime time;
};

class RecordingSink : public RCPlayerFrameSink {
public:
    explicit RecordingSink(const test::DecodedMovie& reference) : reference_(reference) {}
    void showFrame(const ImagePtr& image, MediaTime time) override {
        shown.push_back({nearestFrame(*image, reference_), Clock::now(), time});
    }
    std::vector<size_t> indexes() const {
        std::vector<size_t> values;
        for (const auto& frame : shown) {
            values.push_back(frame.index);
        }
        return values;
    }
    std::vector<Shown> shown;

private:
    const test::DecodedMovie& reference_;
};

std::vector<size_t> range(size_t from, size_t to) {
    std::vector<size_t> values;
    for (size_t i = from;; i = from <= to ? i + 1 : i - 1) {
        values.push_back(i);
        if (i == to) {
            return values;
        }
    }
}

class PlayerBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ffmpeg::installMovieOpener();
        directory_ = new test::TempDir();
        // Like a recording: every frame a key frame.
        ASSERT_TRUE(test::makeTestMovie(intraMovie(), 160, 120, 10, 3.0));
        // Like an imported movie: B-frames, a key frame every 24 frames.
        std::string command =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=160x120:rate=10 -t 6 "
            "-c:v libx264 -preset medium -bf 3 -g 24 -keyint_min 24 -sc_threshold 0 "
            "-pix_fmt yuv420p '" +
            gopMovie().string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static void TearDownTestSuite() {
        delete directory_;
        media::setMovieOpener({});
    }
    static std::filesystem::path intraMovie() { return directory_->path() / "intra.mp4"; }
    static std::filesystem::path gopMovie() { return directory_->path() / "gop.mp4"; }

    static test::TempDir* directory_;
};

test::TempDir* PlayerBackendTest::directory_ = nullptr;

TEST_F(PlayerBackendTest, FrameSourceGivesEachFrameInAnyOrder) {
    for (const auto& file : {intraMovie(), gopMovie()}) {
        SCOPED_TRACE(file.filename().string());
        auto reference = test::decodeMedia(file);
        ASSERT_TRUE(reference.error.empty()) << reference.error;
        auto movie = media::openMovie(file);
        ASSERT_TRUE(movie);
        // The backend's source, and the one every movie has over its frame readers.
        auto backend = (*movie)->makeFrameSource();
        auto readers = (*movie)->media::Movie::makeFrameSource();
        ASSERT_TRUE(backend) << backend.error().message;
        ASSERT_TRUE(readers) << readers.error().message;
        // Backward through the whole movie, then jumps back and forth.
        std::vector<size_t> order = range(reference.frames.size() - 1, 0);
        for (size_t index : {size_t(30), size_t(5), size_t(29), size_t(47), size_t(0)}) {
            order.push_back(index % reference.frames.size());
        }
        for (auto* source : {&*backend, &*readers}) {
            ASSERT_EQ((*source)->frameTimes().size(), reference.frames.size());
            for (size_t index : order) {
                auto frame = (*source)->frame(index, Size{});
                ASSERT_TRUE(frame) << index << ": " << frame.error().message;
                EXPECT_NEAR(frame->presentationTime.seconds(), reference.frames[index].seconds,
                            1e-6);
                EXPECT_EQ(nearestFrame(*frame->image, reference), index);
                EXPECT_LT(
                    test::meanAbsoluteDifference(*frame->image, reference.frames[index].image), 3.0)
                    << index;
            }
        }
    }
}

// Plays a 3-second movie at 10 frames per second in the window 0.5–2.0 s (frames 5 to 19).
TEST_F(PlayerBackendTest, EveryLoopTypeShowsEveryFrameOfTheWindowInOrderOnTime) {
    struct Case {
        std::filesystem::path file;
        int64_t loopType;
        std::vector<size_t> expected;
    };
    auto join = [](std::vector<size_t> a, const std::vector<size_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {intraMovie(), 0, join(range(5, 19), range(5, 19))},
        {intraMovie(), 1, join(range(19, 5), range(19, 5))},
        {intraMovie(), 2, join(range(5, 19), range(19, 5))},
        {gopMovie(), 1, join(range(19, 5), range(19, 5))},
        {gopMovie(), 2, join(range(5, 19), range(19, 5))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.filename().string() + " loop type " + std::to_string(c.loopType));
        auto reference = test::decodeMedia(c.file, 30);
        RecordingSink sink(reference);
        RCLoopingAVPlayer player(RCRecording::recordingWithURL(c.file));
        player.setFrameSink(&sink);
        player.setReversePlaybackEndTime(MediaTime::make(300, 600));
        player.setForwardPlaybackEndTime(MediaTime::make(1200, 600));
        player.setLoopType(c.loopType);
        player.play();
        ASSERT_TRUE(
            dispatch::runUntil([&] { return sink.shown.size() >= c.expected.size(); }, 10s));
        player.pause();
        EXPECT_EQ(sink.indexes(), c.expected);
        // Each frame a tenth of a second after the one before, give or take the machine.
        for (size_t i = 1; i < sink.shown.size(); ++i) {
            auto gap = std::chrono::duration<double>(sink.shown[i].at - sink.shown[i - 1].at);
            EXPECT_NEAR(gap.count(), 0.1, 0.05) << "frame " << i;
        }
        EXPECT_EQ(player.statistics().framesLate, 0u);
        EXPECT_EQ(player.statistics().framesSkipped, 0u);
    }
}

TEST_F(PlayerBackendTest, SeeksLandOnTheExactFrame) {
    for (const auto& file : {intraMovie(), gopMovie()}) {
        SCOPED_TRACE(file.filename().string());
        auto reference = test::decodeMedia(file, 30);
        RecordingSink sink(reference);
        RCLoopingAVPlayer player(RCRecording::recordingWithURL(file));
        player.setFrameSink(&sink);
        for (size_t index : {size_t(23), size_t(2), size_t(17), size_t(16), size_t(29)}) {
            // Half-way into the frame: that frame, not its neighbour.
            player.seekToTime(MediaTime::makeWithSeconds(double(index) / 10 + 0.05, 600));
            size_t before = sink.shown.size();
            ASSERT_TRUE(dispatch::runUntil([&] { return sink.shown.size() > before; }, 5s));
            EXPECT_EQ(sink.shown.back().index, index);
            EXPECT_EQ(sink.shown.back().time, MediaTime::makeWithSeconds(double(index) / 10, 600));
        }
    }
}

}  // namespace
}  // namespace pindle
