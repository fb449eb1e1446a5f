#include <gtest/gtest.h>

#include <set>

#include "fake_movies.h"
#include "library/RCRecording.h"

namespace pindle {
namespace {

using test::FakeMovies;

MediaTime seconds(double value) {
    return MediaTime::makeWithSeconds(value, 600);
}

struct Fixture : ::testing::Test {
    FakeMovies movies;

    std::shared_ptr<RCRecording> recording(double width, double height, double duration = 4,
                                           float fps = 30) {
        std::string file = "/movies/" + std::to_string(width) + "x" + std::to_string(height);
        movies.add(file, FakeMovies::video(width, height, duration, fps));
        return RCRecording::recordingWithURL(file);
    }
};

using Recording = Fixture;

TEST_F(Recording, SetsUpFromTheMovieFacts) {
    auto placeholder = std::make_shared<RCRecording>();
    EXPECT_FALSE(placeholder->isReady());
    EXPECT_EQ(placeholder->editParameters(), nullptr);
    EXPECT_EQ(placeholder->thumbnail(), nullptr);
    EXPECT_EQ(placeholder->thumbnailSize(), (Size{0, 0}));
    EXPECT_EQ(placeholder->editedFrameCount(), 0u);

    auto ready = recording(1280, 720, 4, 29.97f);
    EXPECT_TRUE(ready->isReady());
    EXPECT_EQ(ready->dimensions(), (Size{1280, 720}));
    EXPECT_EQ(ready->duration(), seconds(4));
    EXPECT_FLOAT_EQ(ready->FPS(), 29.97f);
    EXPECT_EQ(ready->frameCount(), 119u);  // 29.97 × 4 = 119.88, truncated
    EXPECT_EQ(ready->thumbnailSize(), (Size{250, 250}));
    // The trim range starts as the whole movie, and the output rate is the standard one.
    EXPECT_EQ(ready->editedStartTime(), MediaTime::zero());
    EXPECT_EQ(ready->editedEndTime(), seconds(4));
    EXPECT_EQ(ready->editedFPS(), 15.0f);
    EXPECT_EQ(ready->editedFrameCount(), 60u);
    auto again = RCRecording::recordingWithURL(ready->url());
    EXPECT_EQ(again->guid().size(), 36u);
    EXPECT_NE(again->guid(), ready->guid());
}

TEST_F(Recording, MissingMovieGivesAnEmptyReadyRecording) {
    auto empty = RCRecording::recordingWithURL("/movies/gone.mp4");
    EXPECT_TRUE(empty->isReady());
    EXPECT_EQ(empty->url(), "/movies/gone.mp4");
    EXPECT_EQ(empty->dimensions(), (Size{0, 0}));
    EXPECT_EQ(empty->FPS(), 0.0f);
    EXPECT_EQ(empty->frameCount(), 0u);
    EXPECT_FALSE(empty->hasAudio());
    EXPECT_EQ(empty->thumbnail(), nullptr);
    // No video: no ratio to keep, so the edited height is 0, never NaN or infinity.
    for (int64_t resize : {kResizeOriginal, kResize640, kResize480, kResize320}) {
        empty->editParameters()->setResizeValue(resize);
        EXPECT_EQ(empty->editedHeight(), 0.0f) << resize;
    }
    EXPECT_EQ(empty->editedFrameCount(), 0u);
    EXPECT_EQ(empty->editedDuration(), MediaTime::zero());
}

TEST_F(Recording, EditedSizeFollowsTheResizeCode) {
    auto wide = recording(1000, 600);
    wide->editParameters()->setResizeValue(kResize480);
    EXPECT_EQ(wide->editedWidth(), 480.0f);
    EXPECT_EQ(wide->editedHeight(), 288.0f);

    auto small = recording(400, 300);
    small->editParameters()->setResizeValue(kResize640);
    EXPECT_EQ(small->editedDimensions(), (Size{640, 480}));  // scaled up
    small->editParameters()->setResizeValue(kResize320);
    EXPECT_EQ(small->editedDimensions(), (Size{320, 240}));
    small->editParameters()->setResizeValue(7);  // unknown code: original size
    EXPECT_EQ(small->editedDimensions(), (Size{400, 300}));

    // The height is not rounded to whole pixels.
    auto odd = recording(333, 101);
    odd->editParameters()->setResizeValue(kResize320);
    EXPECT_FLOAT_EQ(odd->editedHeight(), float(101.0 / 333.0 * 320.0));
}

TEST_F(Recording, EditedTimingFollowsTrimLoopAndRate) {
    auto clip = recording(640, 480, 10);
    auto parameters = clip->editParameters();
    parameters->setTrimmedStartTime(seconds(1.0));
    parameters->setTrimmedEndTime(MediaTime::make(3500, 1000));  // another timescale
    parameters->setLoopType(kLoopTypePingPong);
    EXPECT_EQ(clip->editedDuration(), seconds(5.0));
    EXPECT_EQ(clip->editedFPS(), 15.0f);
    EXPECT_EQ(clip->editedFrameCount(), 75u);

    parameters->setLoopType(kLoopTypeReverse);
    EXPECT_EQ(clip->editedDuration(), seconds(2.5));
    EXPECT_EQ(clip->editedFrameCount(), 37u);  // 37.5 truncated

    const std::pair<int64_t, float> rates[] = {{0, 15}, {1, 23},  {2, 10},
                                               {3, 60}, {-1, 15}, {9, 15}};
    for (auto [code, fps] : rates) {
        parameters->setFrameRate(code);
        EXPECT_EQ(clip->editedFPS(), fps) << code;
    }
    // A reversed trim range (start after end) has no frames rather than a huge count.
    parameters->setTrimmedStartTime(seconds(4));
    parameters->setTrimmedEndTime(seconds(1));
    EXPECT_EQ(clip->editedFrameCount(), 0u);
}

TEST(EditParameters, CompareTrimInstantsCodesAndCaptions) {
    RCEditParameters a;
    RCEditParameters b;
    a.setTrimmedStartTime(MediaTime::make(600, 600));
    b.setTrimmedStartTime(MediaTime::make(1000, 1000));
    EXPECT_TRUE(a.isEqualToEditParameters(&b));
    b.setFrameRate(kFrameRateHD);
    b.setIsClip(true);
    EXPECT_TRUE(a.isEqualToEditParameters(&b));
    b.setLoopType(kLoopTypeReverse);
    EXPECT_FALSE(a.isEqualToEditParameters(&b));
    b.setLoopType(kLoopTypeNormal);

    a.captions().push_back(std::make_shared<RCTimedCaption>());
    EXPECT_FALSE(a.isEqualToEditParameters(&b));
    b.captions().push_back(std::make_shared<RCTimedCaption>());
    EXPECT_TRUE(a.isEqualToEditParameters(&b));
    b.captions()[0]->text = "hello";
    EXPECT_FALSE(a.isEqualToEditParameters(&b));

    // A missing record compares as a default one.
    RCEditParameters defaults;
    EXPECT_TRUE(defaults.isEqualToEditParameters(nullptr));
    EXPECT_FALSE(a.isEqualToEditParameters(nullptr));
}

TEST(EditParameters, CopyDoesNotShareCaptions) {
    RCEditParameters original;
    original.captions().push_back(std::make_shared<RCTimedCaption>());
    original.captions()[0]->animation =
        RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::Drop);
    auto copy = original.copy();
    EXPECT_TRUE(copy->isEqualToEditParameters(&original));
    copy->captions()[0]->text = "changed";
    copy->captions()[0]->animation->duration = 3;
    EXPECT_EQ(original.captions()[0]->text, "");
    EXPECT_EQ(original.captions()[0]->animation->duration, 0.1);
    EXPECT_NE(dynamic_cast<RCTimedCaptionDropAnimation*>(copy->captions()[0]->animation.get()),
              nullptr);
}

}  // namespace
}  // namespace pindle
