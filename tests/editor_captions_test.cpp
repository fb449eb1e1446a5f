#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "editor/RCEditorCaptions.h"
#include "fake_movies.h"
#include "platform/layers.h"

namespace pindle {
namespace {

using test::FakeMovies;

// A player on a hand-moved clock: records the seeks the tab asks for.
class FakePlayback final : public RCCaptionsPlayback {
public:
    bool playing = true;
    MediaTime time = MediaTime::zero();
    std::vector<double> seeks;

    bool isPlaying() const override { return playing; }
    MediaTime currentTime() const override { return time; }
    void pause() override { playing = false; }
    void resume() override { playing = true; }
    void seekExactly(MediaTime to) override {
        time = to;
        seeks.push_back(to.seconds());
    }
};

// Measures every text as 200 x 60 points; nothing is drawn.
class MeasuringRenderer final : public LayerRenderer {
public:
    Size measureText(const std::string&, const TextStyle&) override { return Size{200, 60}; }
    LayerRaster drawText(const std::string&, const TextStyle&, const LayerShadow&, Size,
                         double) override {
        return {};
    }
    LayerRaster drawShape(const ShapeStyle&, Size, double) override { return {}; }
    Result<Image> loadImage(const std::filesystem::path&) override { return Error{"none"}; }
    Image scaledImage(const Image& image, int, int) override { return image; }
};

struct EditorCaptions : ::testing::Test {
    FakeMovies movies;
    FakePlayback player;
    int saves = 0;
    int styleShown = 0, styleShownKey = 0, styleClosed = 0;

    EditorCaptions() { setLayerRenderer(std::make_shared<MeasuringRenderer>()); }
    ~EditorCaptions() override { setLayerRenderer(nullptr); }

    RCRecordingPtr recording(double width = 640, double height = 480, double seconds = 10) {
        std::string file = "/movies/captions-" + std::to_string(width);
        movies.add(file, FakeMovies::video(width, height, seconds, 60));
        auto made = RCRecording::recordingWithURL(file);
        made->editParameters()->setTrimmedStartTime(MediaTime::make(1, 1));
        made->editParameters()->setTrimmedEndTime(MediaTime::make(8, 1));
        return made;
    }
    RCEditorCaptionsModel model(const RCRecordingPtr& recording) {
        RCCaptionsTabEvents events;
        events.showStyleWindow = [this](bool key) { ++(key ? styleShownKey : styleShown); };
        events.closeStyleWindow = [this] { ++styleClosed; };
        return RCEditorCaptionsModel(
            recording, &player, [this] { ++saves; }, events);
    }
    static std::vector<bool> selectedFlags(const RCEditorCaptionsModel& captions) {
        std::vector<bool> flags;
        for (const auto& caption : captions.captions()) {
            flags.push_back(caption->selected());
        }
        return flags;
    }
};

TEST_F(EditorCaptions, AddingWhilePlayingOrPaused) {
    auto captions = model(recording());
    captions.addCaption();  // playing: the whole trimmed range
    ASSERT_EQ(captions.numberOfRows(), 1);
    const auto& first = *captions.captions()[0];
    EXPECT_EQ(first.text, "Enter caption...");
    EXPECT_EQ(first.centerPosition(), (Point{320, 240}));
    EXPECT_EQ(first.startTime, MediaTime::make(1, 1));
    EXPECT_EQ(first.endTime, MediaTime::make(8, 1));
    EXPECT_EQ(first.videoDimensions, (Size{640, 480}));
    EXPECT_EQ(captions.activeCaptionIndex(), 0);
    EXPECT_TRUE(first.selected());
    EXPECT_EQ(styleShown, 1);  // the first caption shows the style window
    EXPECT_FALSE(captions.placeholderVisible());

    player.playing = false;
    player.time = MediaTime::make(2, 1);
    captions.addCaption();  // paused at 2.0 s, None animation: fully shown on that frame
    const auto& second = *captions.captions()[1];
    EXPECT_NEAR(second.startTime.seconds(), 1.9999, 1e-12);
    EXPECT_EQ(second.endTime, MediaTime::make(8, 1));
    EXPECT_EQ(captions.activeCaptionIndex(), 1);
    EXPECT_EQ(selectedFlags(captions), (std::vector<bool>{false, true}));
    EXPECT_EQ(styleShown, 1);  // only the first add shows it
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(captions.rowText(1), "Enter caption...");
}

TEST_F(EditorCaptions, DeletingMovingAndSelecting) {
    auto captions = model(recording());
    for (int i = 0; i < 3; ++i) {
        captions.addCaption();
        captions.setText("caption " + std::to_string(i));
    }
    EXPECT_EQ(captions.activeCaptionIndex(), 2);
    captions.deleteCaption(0);  // not the active row: its button is unusable
    EXPECT_EQ(captions.numberOfRows(), 3);
    captions.deleteCaption(2);  // the last of three: the second becomes active
    EXPECT_EQ(captions.numberOfRows(), 2);
    EXPECT_EQ(captions.activeCaptionIndex(), 1);
    EXPECT_EQ(selectedFlags(captions), (std::vector<bool>{false, true}));
    EXPECT_TRUE(captions.rowEnabled(1));
    EXPECT_FALSE(captions.rowEnabled(0));

    captions.selectRow(0);  // a row click also brings the style window to the keyboard
    EXPECT_EQ(captions.activeCaptionIndex(), 0);
    EXPECT_EQ(captions.styleCaption()->text, "caption 0");
    EXPECT_EQ(styleShownKey, 1);
    captions.deleteCaption(0);  // the next caption moves into the active index
    EXPECT_EQ(captions.activeCaptionIndex(), 0);
    EXPECT_EQ(captions.activeCaption()->text, "caption 1");
    captions.deleteCaption(0);  // the only one
    EXPECT_EQ(captions.activeCaptionIndex(), -1);
    EXPECT_EQ(captions.styleCaption(), nullptr);
    EXPECT_EQ(styleClosed, 1);
    EXPECT_FALSE(captions.styleWindowVisible());
    EXPECT_TRUE(captions.placeholderVisible());

    for (const char* text : {"a", "b", "c"}) {
        captions.addCaption();
        captions.setText(text);
    }
    EXPECT_FALSE(captions.validateDrop(0, 1, false));  // onto a row: refused
    EXPECT_TRUE(captions.validateDrop(0, 3, true));
    ASSERT_TRUE(captions.moveCaption(0, 2));  // index 0 to drop row 2 lands at index 1
    std::vector<std::string> order;
    for (const auto& caption : captions.captions()) {
        order.push_back(caption->text);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(captions.activeCaptionIndex(), 1);
    EXPECT_EQ(selectedFlags(captions), (std::vector<bool>{false, true, false}));
    ASSERT_TRUE(captions.moveCaption(2, 0));  // upwards: inserted at the drop row
    EXPECT_EQ(captions.activeCaption()->text, "c");
    EXPECT_EQ(captions.activeCaptionIndex(), 0);
}

TEST_F(EditorCaptions, RowTextStyleChoicesAndTabs) {
    auto captions = model(recording());
    captions.addCaption();
    EXPECT_TRUE(captions.textFieldClickSelectsAll());
    std::string sixty(60, 'x');
    sixty.replace(50, 5, "\xC3\xA9\xC3\xA9\xC3\xA9xx");  // multi-byte characters near the cut
    captions.setText(sixty);
    EXPECT_FALSE(captions.textFieldClickSelectsAll());
    EXPECT_EQ(captions.rowText(0), sixty.substr(0, 58) + "...");
    captions.setText(std::string(55, 'y'));
    EXPECT_EQ(captions.rowText(0), std::string(55, 'y'));

    captions.chooseSizeIndex(4);       // "XL"
    captions.chooseFontIndex(1);       // "Italicized"
    captions.chooseAnimationIndex(4);  // "Drop"
    captions.chooseColorIndex(1);      // yellow
    const auto& caption = *captions.activeCaption();
    EXPECT_EQ(caption.size, CaptionSize::XL);
    EXPECT_EQ(caption.fontName, "OpenSans-BoldItalic");
    EXPECT_EQ(caption.animation->type, CaptionAnimationType::Drop);
    EXPECT_EQ(caption.color, (Color{1.0, 243.0 / 255, 92.0 / 255, 1}));
    EXPECT_EQ(captions.styleSizeIndex(), 4);
    EXPECT_EQ(captions.styleAnimationIndex(), 4);
    EXPECT_EQ(captions.styleColorIndex(), 1);
    captions.chooseColorIndex(-1);
    EXPECT_EQ(caption.color, Color::white());

    captions.tabHidden();
    EXPECT_FALSE(captions.styleWindowVisible());
    EXPECT_FALSE(captions.editModeEnabled());
    // A new editor on the same recording: showing the tab activates the first caption.
    auto reopened = model(captions.recording());
    EXPECT_EQ(reopened.activeCaptionIndex(), -1);
    reopened.tabShown();
    EXPECT_EQ(reopened.activeCaptionIndex(), 0);
    EXPECT_TRUE(reopened.styleWindowVisible());
    EXPECT_TRUE(reopened.editModeEnabled());
    EXPECT_NEAR(reopened.trimStartFraction(), 0.1, 1e-9);
    EXPECT_NEAR(reopened.trimEndFraction(), 0.8, 1e-9);
}

TEST_F(EditorCaptions, RowRangeDragShowsTheCaptionThroughoutAndRestoresPlayback) {
    auto captions = model(recording());
    captions.addCaption();
    player.time = MediaTime::make(5, 1);
    int savesBefore = saves;
    using P = RCRangeSlider::Part;
    captions.rowRangeChanged(0, 0.3, 0.8, P::lowerKnob);
    EXPECT_FALSE(player.playing);
    EXPECT_FALSE(captions.playheadVisible());
    const auto& caption = *captions.captions()[0];
    EXPECT_EQ(caption.startTime, MediaTime::zero());  // visible on every frame meanwhile
    EXPECT_EQ(caption.endTime, MediaTime::make(10, 1));
    captions.rowRangeChanged(0, 0.3, 0.6, P::upperKnob);
    captions.rowRangeChanged(0, 0.2, 0.5, P::band);
    EXPECT_EQ(caption.startTime, MediaTime::zero());
    captions.rowRangeReleased(0, 0.2, 0.5);
    EXPECT_EQ(player.seeks, (std::vector<double>{3, 6, 2, 5}));  // back to where it was
    EXPECT_TRUE(player.playing);
    EXPECT_TRUE(captions.playheadVisible());
    EXPECT_FALSE(captions.rowRangeDragging());
    EXPECT_NEAR(caption.startTime.seconds(), 2, 1e-9);
    EXPECT_NEAR(caption.endTime.seconds(), 5, 1e-9);
    EXPECT_NEAR(captions.rowLowerValue(0), 0.2, 1e-9);
    EXPECT_EQ(saves, savesBefore + 1);

    // Paused before the drag: stays paused after it.
    player.playing = false;
    captions.rowRangeChanged(0, 0.1, 0.5, P::lowerKnob);
    captions.rowRangeReleased(0, 0.1, 0.5);
    EXPECT_FALSE(player.playing);

    captions.togglePlayPause();
    EXPECT_STREQ(captions.playButtonTitle(), "PAUSE");
    captions.togglePlayPause();
    EXPECT_STREQ(captions.playButtonTitle(), "PLAY");
    captions.dragPlayhead(0.5, 200);  // at the very edge: ignored
    captions.dragPlayhead(50, 200);
    EXPECT_DOUBLE_EQ(captions.playheadValue(), 0.25);
    captions.playbackTimeChanged(MediaTime::make(9, 1));  // not while dragged
    EXPECT_DOUBLE_EQ(captions.playheadValue(), 0.25);
    captions.endPlayheadDrag();
    captions.playbackTimeChanged(MediaTime::make(9, 1));
    EXPECT_DOUBLE_EQ(captions.playheadValue(), 0.9);
}

TEST_F(EditorCaptions, PreviewHitTestingAndDraggingFollowThePointer) {
    // A 1280 x 720 recording shown in a 640 x 480 view: drawn at 640 x 360, 60 points down,
    // two video pixels to the point whatever the output size.
    auto made = recording(1280, 720);
    made->editParameters()->setResizeValue(kResize320);
    auto captions = model(made);
    captions.setPreviewSize(Size{640, 480});
    EXPECT_EQ(captions.displayedRect(), (Rect{Point{0, 60}, Size{640, 360}}));
    EXPECT_DOUBLE_EQ(captions.playerScale(), 2);
    captions.tabShown();
    captions.addCaption();  // centred at (640, 360): the view's (320, 240)
    captions.addCaption();
    captions.captions()[1]->setCenterPosition(Point{200, 200});  // view (100, 320)
    ASSERT_EQ(captions.activeCaptionIndex(), 1);

    // The selected caption's 200 x 60 text grows by 40 and 20 on each side.
    EXPECT_EQ(captions.captionHitRect(1), (Rect{Point{60, 150}, Size{280, 100}}));
    EXPECT_EQ(captions.captionHitRect(0), (Rect{Point{540, 330}, Size{200, 60}}));
    // 30 points from the text (60 video pixels) is outside; 15 points is inside the outline.
    EXPECT_EQ(captions.previewMouseDown(Point{100, 320 - 30 - 15 - 2}), -1);
    EXPECT_EQ(captions.previewMouseDown(Point{100 + 50 + 15, 320}), 1);
    EXPECT_TRUE(captions.isDraggingCaption());
    captions.previewMouseUp();

    // A first click on an unselected caption only selects it; a second starts the drag.
    EXPECT_EQ(captions.previewMouseDown(Point{320, 240}), 0);
    EXPECT_FALSE(captions.isDraggingCaption());
    EXPECT_EQ(captions.activeCaptionIndex(), 0);
    EXPECT_EQ(styleShownKey, 0);  // a preview click does not raise the style window
    EXPECT_EQ(captions.previewMouseDown(Point{320, 240}), 0);
    EXPECT_TRUE(captions.isDraggingCaption());
    int savesBefore = saves;
    captions.previewMouseDragged(Point{220, 160});  // 100 left and 80 up on the screen
    captions.previewMouseDragged(Point{700, 10});   // outside the view: ignored
    captions.previewMouseUp();
    EXPECT_EQ(captions.captions()[0]->centerPosition(), (Point{440, 520}));
    EXPECT_EQ(saves, savesBefore + 1);

    // The same drag in a view twice as large moves the caption half as many video pixels,
    // the same distance on the screen.
    captions.setPreviewSize(Size{1280, 960});
    EXPECT_DOUBLE_EQ(captions.playerScale(), 1);
    captions.previewMouseDown(Point{440, 120 + 200});
    captions.previewMouseDragged(Point{540, 400});
    captions.previewMouseUp();
    EXPECT_EQ(captions.captions()[0]->centerPosition(), (Point{540, 440}));

    // Where captions overlap, a click picks the one drawn on top (later in the list), and the
    // selected one keeps its whole outline for dragging.
    captions.captions()[1]->setCenterPosition(Point{540, 440});  // view (540, 400)
    EXPECT_EQ(captions.previewMouseDown(Point{540, 400}), 0);
    EXPECT_TRUE(captions.isDraggingCaption());
    captions.previewMouseUp();
    captions.addCaption();  // the active one, away from the other two
    captions.captions()[2]->setCenterPosition(Point{1000, 100});
    EXPECT_EQ(captions.previewMouseDown(Point{540, 400}), 1);
    EXPECT_FALSE(captions.isDraggingCaption());
    EXPECT_EQ(captions.activeCaptionIndex(), 1);
}

}  // namespace
}  // namespace pindle
