#include <gtest/gtest.h>

#include <ctime>

#include "editor/RCEditorOptions.h"
#include "editor/RCGIFFileSizeEstimator.h"
#include "fake_movies.h"

namespace pindle {
namespace {

using test::FakeMovies;

struct EditorOptions : ::testing::Test {
    FakeMovies movies;
    int saves = 0;

    RCRecordingPtr recording(double seconds, double width = 1280, double height = 720) {
        std::string file = "/movies/editor-" + std::to_string(seconds);
        movies.add(file, FakeMovies::video(width, height, seconds, 60));
        return RCRecording::recordingWithURL(file);
    }
    RCEditorOptionsModel model(const RCRecordingPtr& recording) {
        return RCEditorOptionsModel(recording, [this] { ++saves; });
    }
};

TEST_F(EditorOptions, TrimSliderKeepsHalfASecondAndMovesTheBandOnlyInsideTheRange) {
    auto options = model(recording(10));
    RCRangeSlider& slider = options.slider();
    EXPECT_DOUBLE_EQ(slider.minimumGap(), 0.05);
    EXPECT_DOUBLE_EQ(slider.lowerValue(), 0);
    EXPECT_DOUBLE_EQ(slider.upperValue(), 1);

    struct Step {
        RCRangeSlider::Part part;
        double d, lower, upper;
    };
    using P = RCRangeSlider::Part;
    const Step steps[] = {
        {P::band, -0.1, 0, 1},  // at the lower limit the band does not move at all
        {P::band, 0.1, 0, 1},   // nor past the upper limit
        {P::upperKnob, -0.6, 0, 0.4},
        {P::band, 0.3, 0.3, 0.7},
        {P::band, -0.35, 0.3, 0.7},      // would pass the lower limit: neither knob moves
        {P::lowerKnob, 0.9, 0.65, 0.7},  // stops at the minimum gap
        {P::upperKnob, -0.5, 0.65, 0.7},
        {P::lowerKnob, -2, 0, 0.7},  // stops at the minimum
        {P::upperKnob, 5, 0, 1},     // and at the maximum
    };
    for (const Step& step : steps) {
        slider.drag(step.part, step.d);
        EXPECT_NEAR(slider.lowerValue(), step.lower, 1e-9) << int(step.part) << " by " << step.d;
        EXPECT_NEAR(slider.upperValue(), step.upper, 1e-9) << int(step.part) << " by " << step.d;
    }
    // 40 pixels of a 400-pixel track is a tenth of the range.
    EXPECT_DOUBLE_EQ(slider.valueDelta(40, 400), 0.1);

    slider.drag(P::lowerKnob, 0.25);
    slider.drag(P::upperKnob, -0.25);
    EXPECT_NEAR(options.trimmedStartTime().seconds(), 2.5, 1e-6);
    EXPECT_NEAR(options.trimmedEndTime().seconds(), 7.5, 1e-6);
    options.setPlaybackTime(MediaTime::makeWithSeconds(4, 600));
    EXPECT_NEAR(slider.playbackMarker(), 0.4, 1e-9);
}

TEST_F(EditorOptions, MenusMapCodesToItemsBothWays) {
    struct Row {
        const RCOptionMenu& menu;
        int (*indexOf)(int64_t);
        std::vector<std::pair<int64_t, int>> codeToIndex;
    };
    const Row rows[] = {
        {loopTypeMenu(), loopTypeMenuIndex, {{0, 0}, {1, 1}, {2, 2}, {3, 0}, {-1, 0}}},
        {resizeMenu(), resizeMenuIndex, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 0}}},
        {frameRateMenu(), frameRateMenuIndex, {{0, 0}, {3, 1}, {1, 2}, {2, 3}, {7, 0}}},
    };
    for (const Row& row : rows) {
        for (auto [code, index] : row.codeToIndex) {
            EXPECT_EQ(row.indexOf(code), index) << row.menu.key << " code " << code;
            if (index != 0 || code == 0) {
                EXPECT_EQ(row.menu.codeAtIndex(index), code) << row.menu.key;
            }
        }
    }
    EXPECT_STREQ(frameRateMenu().items[2].label, "High");
    EXPECT_STREQ(loopTypeMenu().items[2].label, "Ping-Pong");
    EXPECT_STREQ(resizeMenu().items[3].label, "320px");
}

TEST_F(EditorOptions, ChoicesWriteTheEditAtOnceAndTheInformationLineFollows) {
    auto clip = recording(10);
    auto options = model(clip);
    options.setTrimmedStartTime(MediaTime::makeWithSeconds(1.0, 600));
    options.setTrimmedEndTime(MediaTime::makeWithSeconds(3.5, 600));
    options.trimChanged();
    options.selectLoopTypeIndex(2);
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(clip->editParameters()->loopType(), kLoopTypePingPong);
    EXPECT_NEAR(clip->editParameters()->trimmedEndTime().seconds(), 3.5, 1e-6);
    RCEditorInfoLine line = editorInfoLine(*clip);
    EXPECT_EQ(line.duration, "5.0s");
    EXPECT_EQ(line.dimensions, "1280 x 720");
    EXPECT_EQ(line.frameRate, "15 fps");
    EXPECT_EQ(line.frameCount, "75");

    options.selectFrameRateIndex(1);  // "HD"
    options.selectResizeIndex(3);     // "320px"
    EXPECT_EQ(clip->editParameters()->frameRate(), kFrameRateHD);
    EXPECT_EQ(editorInfoLine(*clip).frameRate, "60 fps");
    EXPECT_EQ(editorInfoLine(*clip).dimensions, "320 x 180");

    // A new model (the editor opened again) shows the stored choices.
    auto reopened = model(clip);
    EXPECT_EQ(reopened.loopTypeIndex(), 2);
    EXPECT_EQ(reopened.frameRateIndex(), 1);
    EXPECT_EQ(reopened.resizeIndex(), 3);
    EXPECT_NEAR(reopened.trimmedStartTime().seconds(), 1.0, 1e-5);

    RCExportOptions gif = reopened.exportOptions(SaveFormat::gif);
    EXPECT_EQ(*gif.width, 320.0f);
    EXPECT_EQ(*gif.fps, 60.0f);
    EXPECT_EQ(*gif.loopType, kLoopTypePingPong);
    EXPECT_FALSE(gif.exportAudio.has_value());
    EXPECT_EQ(reopened.exportOptions(SaveFormat::mp4).exportAudio, false);
}

TEST_F(EditorOptions, SpeedShortensThePlaybackButNotTheFrameRate) {
    auto clip = recording(10, 640, 360);
    auto options = model(clip);
    options.setTrimmedStartTime(MediaTime::makeWithSeconds(1.0, 600));
    options.setTrimmedEndTime(MediaTime::makeWithSeconds(5.0, 600));
    options.trimChanged();
    uint64_t atNormalSpeed = RCGIFFileSizeEstimator::quickEstimateFileSize(*clip);
    EXPECT_EQ(playbackSpeedMenuLabels().at(size_t(options.playbackSpeedIndex())), "1\u00d7");

    options.selectPlaybackSpeedIndex(3);
    EXPECT_EQ(clip->editParameters()->playbackSpeed(), 2.0);
    RCEditorInfoLine line = editorInfoLine(*clip);
    EXPECT_EQ(line.duration, "2.0s");
    EXPECT_EQ(line.frameRate, "15 fps");
    EXPECT_EQ(line.frameCount, "30");
    EXPECT_NEAR(double(RCGIFFileSizeEstimator::quickEstimateFileSize(*clip)),
                double(atNormalSpeed) / 2, 2);
    EXPECT_EQ(*options.exportOptions(SaveFormat::gif).speed, 2.0);
    // The trim itself is the same pictures.
    EXPECT_NEAR(clip->editedDuration().seconds(), 4.0, 1e-5);
    EXPECT_EQ(model(clip).playbackSpeedIndex(), 3);

    options.selectPlaybackSpeedIndex(0);
    EXPECT_EQ(editorInfoLine(*clip).duration, "8.0s");
    // An index off the menu is 1x, as is a stored speed the menu does not offer.
    options.selectPlaybackSpeedIndex(9);
    EXPECT_EQ(clip->editParameters()->playbackSpeed(), 1.0);
    clip->editParameters()->setPlaybackSpeed(3.0);
    EXPECT_EQ(model(clip).selectedPlaybackSpeed(), 1.0);
}

TEST_F(EditorOptions, SizeAndSaveButtonsGoThroughTheirStates) {
    RCSizeButton size;
    EXPECT_EQ(size.title(), "Calculate size");
    EXPECT_FALSE(size.beginEstimate(true));
    EXPECT_EQ(size.title(), "Calculate size");
    EXPECT_TRUE(size.beginEstimate(false));
    EXPECT_EQ(size.title(), "Processing...");
    size.finishEstimate(3'400'000);
    EXPECT_EQ(size.title(), "3.4 MB");
    size.finishEstimate(0);
    EXPECT_EQ(size.title(), "Calculate size");
    size.finishEstimate(1'234'567);
    size.invalidate();
    EXPECT_EQ(size.title(), "Calculate size");
    // An answer for an edit changed meanwhile is not shown.
    ASSERT_TRUE(size.beginEstimate(false));
    uint64_t asked = size.edit();
    size.invalidate();
    size.finishEstimate(2'000'000, asked);
    EXPECT_EQ(size.title(), "Calculate size");
    ASSERT_TRUE(size.beginEstimate(false));
    size.finishEstimate(2'000'000, size.edit());
    EXPECT_EQ(size.title(), "2.0 MB");

    const std::pair<int64_t, const char*> sizes[] = {{1, "1 byte"},
                                                     {999, "999 bytes"},
                                                     {45'300, "45 KB"},
                                                     {999'499, "999 KB"},
                                                     {999'500, "1.0 MB"},
                                                     {52'340'000, "52.3 MB"},
                                                     {1'250'000'000, "1.25 GB"}};
    for (auto [bytes, text] : sizes) {
        EXPECT_EQ(formatFileSize(bytes), text);
    }

    RCSaveButton save;
    EXPECT_EQ(save.title(), "SAVE AS...");
    save.beginSaving();
    save.setProgress(0.25f);
    EXPECT_EQ(save.title(), "SAVING...");
    EXPECT_DOUBLE_EQ(save.progressBarWidth(200), 50);
    save.finishSaving();
    EXPECT_EQ(save.title(), "SAVED");
    EXPECT_DOUBLE_EQ(save.progressBarWidth(200), 0);
    save.reset();
    EXPECT_EQ(save.state(), RCSaveButton::State::idle);
}

TEST_F(EditorOptions, SaveDialogFormatsAndTheLargeGIFBoundary) {
    struct Row {
        int64_t preferred;
        int index;
        SaveFormat format;
        const char* extension;
    };
    const Row rows[] = {{0, 0, SaveFormat::gif, "gif"},
                        {1, 1, SaveFormat::mp4, "mp4"},
                        {2, 2, SaveFormat::batch, ""},
                        {9, 2, SaveFormat::batch, ""}};
    for (const Row& row : rows) {
        RCSavePanelFileTypeView view(row.preferred);
        EXPECT_EQ(view.selectedIndex(), row.index);
        EXPECT_EQ(view.selectedSaveFormat(), row.format);
        EXPECT_EQ(view.allowedFileType(), row.extension);
        EXPECT_EQ(saveFormatForMenuItem(saveFormatMenuItem(row.format)), row.format);
    }
    EXPECT_EQ(
        RCSavePanelFileTypeView::menuItems(),
        (std::vector<std::string>{"GIF (*.gif)", "Video (*.mp4)", "Batch (*.mp4, *.gif, *.jpg)"}));
    EXPECT_EQ(savePathForFormat("/out/Dec-07", SaveFormat::gif), "/out/Dec-07.gif");
    EXPECT_EQ(savePathForFormat("/out/a.GIF", SaveFormat::gif), "/out/a.GIF");
    EXPECT_EQ(savePathForFormat("/out/a.gif", SaveFormat::mp4), "/out/a.gif.mp4");
    EXPECT_EQ(savePathForFormat("/out/Dec-07", SaveFormat::batch), "/out/Dec-07");
    // A name typed with the other format's extension makes that format.
    EXPECT_EQ(saveFormatForChosenPath("/out/a.MP4", SaveFormat::gif), SaveFormat::mp4);
    EXPECT_EQ(saveFormatForChosenPath("/out/a.gif", SaveFormat::batch), SaveFormat::gif);
    EXPECT_EQ(saveFormatForChosenPath("/out/a.v2", SaveFormat::batch), SaveFormat::batch);

    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 2;
    local.tm_isdst = -1;
    auto time = std::chrono::system_clock::from_time_t(std::mktime(&local));
    EXPECT_EQ(proposedSaveName(time), "Dec-07-2026 09-05-02");

    EXPECT_FALSE(needsLargeGIFWarning(50'000'000));
    EXPECT_TRUE(needsLargeGIFWarning(50'000'001));
    // A 1280 x 720 recording at HD rate crosses the boundary within a second.
    auto big = recording(10);
    big->editParameters()->setFrameRate(kFrameRateHD);
    EXPECT_TRUE(needsLargeGIFWarning(RCGIFFileSizeEstimator::quickEstimateFileSize(*big)));
}

TEST_F(EditorOptions, UploadsAreRefusedWhenTooLongOrSignedOut) {
    auto twenty = recording(20);
    auto thirtyOne = recording(31);
    EXPECT_EQ(checkUpload(*twenty, false), RCUploadCheck::needsSignIn);
    EXPECT_EQ(checkUpload(*twenty, true), RCUploadCheck::tooLongGIF);
    twenty->setIsClip(true);
    EXPECT_EQ(checkUpload(*twenty, true), RCUploadCheck::allowed);
    thirtyOne->setIsClip(true);
    EXPECT_EQ(checkUpload(*thirtyOne, true), RCUploadCheck::tooLongClip);
    auto fifteen = recording(15);
    EXPECT_EQ(checkUpload(*fifteen, true), RCUploadCheck::allowed);
    EXPECT_EQ(uploadRefusalText(RCUploadCheck::tooLongGIF).message,
              "PINDLE only supports uploads up to 15 seconds.");
    EXPECT_EQ(uploadRefusalText(RCUploadCheck::tooLongClip).message,
              "PINDLE only supports clip uploads up to 30 seconds.");
}

}  // namespace
}  // namespace pindle
