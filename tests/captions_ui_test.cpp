// The editor's Captions tab as a user works it, in process on a private X server.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>

#include <chrono>
#include <functional>
#include <thread>

#include "editor/ui/RCCaptionStyleWindowController.h"
#include "editor/ui/RCCaptionTableCellView.h"
#include "editor/ui/RCColorPickerView.h"
#include "editor/ui/RCEditorCaptionsViewController.h"
#include "editor/ui/RCEditorOptionsViewController.h"
#include "editor/ui/RCEditorPlayerView.h"
#include "editor/ui/RCEditorWindowController.h"
#include "movie_fixtures.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/qt/qt_layers.h"
#include "qt_test_support.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

using test::waitFor;

void runEventsFor(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(2ms);
    }
}

struct NoDelegate : RCEditorWindowDelegate {
    void editorWindowControllerWillClose(RCEditorWindowControl*) override {}
};

// An editor on a 640 x 480 one-colour recording, showing its Captions tab.
class CaptionsTab : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ffmpeg::installMovieOpener();
        qt::installLayerRenderer();
        movieDir_ = new test::TempDir;
        ASSERT_TRUE(test::makeTestMovie(
            *movieDir_ / "blue.mp4",
            {.width = 640, .height = 480, .fps = 30, .seconds = 4, .source = "color=c=0x203070"}));
    }
    static void TearDownTestSuite() { delete movieDir_; }

    void SetUp() override {
        recording_ = RCRecording::recordingWithURL(*movieDir_ / "blue.mp4");
        environment_.saveEdits = [this](const RCRecordingPtr&) { ++saves_; };
        editor_ = std::make_unique<ui::RCEditorWindowController>(recording_, delegate_,
                                                                 environment_, nullptr);
        editor_->resize(900, 760);
        editor_->showWindow();
        editor_->findChild<QAbstractButton*>("captionsTab")->click();
        tab_ = editor_->captionsViewController();
        ASSERT_NE(tab_, nullptr);
        list_ = tab_->findChild<QListView*>("captionsTable");
        ASSERT_TRUE(waitFor([&] { return editor_->isVisible(); }));
    }
    void TearDown() override {
        editor_->close();
        editor_.reset();
    }

    const CaptionList& captions() const { return recording_->editParameters()->captions(); }
    ui::RCCaptionTableCellView* row(int at) const {
        auto* cell = qobject_cast<ui::RCCaptionTableCellView*>(
            list_->indexWidget(list_->model()->index(at, 0)));
        return cell;
    }
    void click(QWidget* widget, QPoint at = {}) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
    }
    void addCaptions(std::initializer_list<const char*> texts) {
        for (const char* text : texts) {
            click(tab_->findChild<QWidget*>("addCaptionButton"));
            tab_->model().setText(text);
        }
    }

    static test::TempDir* movieDir_;
    RCRecordingPtr recording_;
    NoDelegate delegate_;
    RCEditorEnvironment environment_;
    int saves_ = 0;
    std::unique_ptr<ui::RCEditorWindowController> editor_;
    ui::RCEditorCaptionsViewController* tab_ = nullptr;
    QListView* list_ = nullptr;
};
test::TempDir* CaptionsTab::movieDir_ = nullptr;

TEST_F(CaptionsTab, RowsComeAndGoWithThePlaceholderAndOnlyTheActiveRowIsUsable) {
    auto* placeholder = tab_->findChild<QWidget*>("captionsPlaceholder");
    EXPECT_TRUE(placeholder->isVisible());
    EXPECT_FALSE(list_->isVisible());

    click(tab_->findChild<QWidget*>("placeholderAddCaptionButton"));
    ASSERT_EQ(captions().size(), 1u);
    EXPECT_FALSE(placeholder->isVisible());
    EXPECT_TRUE(list_->isVisible());
    ASSERT_NE(tab_->styleWindow(), nullptr);
    EXPECT_TRUE(waitFor([&] { return tab_->styleWindow()->isVisible(); }));

    click(tab_->findChild<QWidget*>("addCaptionButton"));
    ASSERT_EQ(list_->model()->rowCount(), 2);
    ASSERT_NE(row(0), nullptr);
    ASSERT_NE(row(1), nullptr);
    EXPECT_EQ(row(1)->height(), 30);
    EXPECT_EQ(row(1)->findChild<QLabel*>("captionTextPreview")->text(), "Enter caption...");
    // The new row is the active one: its delete button works, the other row is under glass.
    auto glass = [&](int at) { return row(at)->findChild<QWidget*>("captionDisabledGlass"); };
    auto deleteButton = [&](int at) {
        return row(at)->findChild<QAbstractButton*>("captionDeleteButton");
    };
    EXPECT_TRUE(glass(0)->isVisible());
    EXPECT_FALSE(deleteButton(0)->isEnabled());
    EXPECT_FALSE(glass(1)->isVisible());
    EXPECT_TRUE(deleteButton(1)->isEnabled());

    // A click on the glass of the inactive row makes it the active one.
    click(glass(0));
    EXPECT_EQ(tab_->model().activeCaptionIndex(), 0);
    EXPECT_FALSE(glass(0)->isVisible());
    EXPECT_TRUE(glass(1)->isVisible());
    EXPECT_TRUE(captions()[0]->selected());
    EXPECT_FALSE(captions()[1]->selected());

    // A range drag cut short by leaving the tab keeps the knobs' range, not the whole
    // recording the caption has while it is dragged.
    QWidget* slider = row(0)->findChild<QWidget*>("captionTimeRangeSlider");
    QPoint upperKnob(slider->width() - 6, slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, upperKnob);
    QMouseEvent move(QEvent::MouseMove, QPointF(upperKnob - QPoint(slider->width() / 2, 0)),
                     slider->mapToGlobal(QPointF(upperKnob - QPoint(slider->width() / 2, 0))),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(slider, &move);
    editor_->findChild<QAbstractButton*>("optionsTab")->click();
    double duration = recording_->duration().seconds();
    EXPECT_LT(captions()[0]->endTime.seconds(), duration * 0.7);
    EXPECT_NEAR(captions()[0]->endTime.seconds(), duration * row(0)->slider().upperValue(), 1e-3);
    editor_->findChild<QAbstractButton*>("captionsTab")->click();

    std::shared_ptr<RCTimedCaption> second = captions()[1];
    click(deleteButton(0));
    ASSERT_EQ(captions().size(), 1u);
    EXPECT_EQ(captions()[0], second);
    EXPECT_TRUE(waitFor([&] { return list_->model()->rowCount() == 1 && row(0) != nullptr; }));
    click(row(0)->findChild<QAbstractButton*>("captionDeleteButton"));
    EXPECT_TRUE(captions().empty());
    EXPECT_TRUE(placeholder->isVisible());
    EXPECT_FALSE(tab_->styleWindow()->isVisible());
    // Saved with the library once the edits settle.
    EXPECT_TRUE(waitFor([&] { return saves_ > 0; }));
}

TEST_F(CaptionsTab, ADropBetweenRowsMovesTheDraggedCaption) {
    addCaptions({"first", "second", "third"});
    ASSERT_EQ(list_->model()->rowCount(), 3);
    std::unique_ptr<QMimeData> dragged(list_->model()->mimeData({list_->model()->index(0, 0)}));
    ASSERT_TRUE(dragged->hasFormat("rc.captionTableViewIndex"));

    // Drops the data at y in the list, as a drag from a row's handle ends; the drop line shows
    // where the row goes (-1: no line).
    auto* line = list_->viewport()->findChild<QWidget*>("captionDropIndicator");
    int lineY = -1;
    auto dropAt = [&](const QMimeData& data, int y) {
        QPoint at(list_->viewport()->width() / 2, y);
        QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list_->viewport(), &enter);
        QDragMoveEvent move(at, Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list_->viewport(), &move);
        lineY = line->isVisible() ? line->geometry().center().y() : -1;
        QDropEvent drop(at, Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list_->viewport(), &drop);
    };
    // Just above the third row: the first caption goes between the second and the third.
    dropAt(*dragged, 2 * ui::RCCaptionTableCellView::kHeight + 2);
    EXPECT_NEAR(lineY, 2 * ui::RCCaptionTableCellView::kHeight, 1);
    EXPECT_FALSE(line->isVisible());
    ASSERT_EQ(captions().size(), 3u);
    EXPECT_EQ(captions()[0]->text, "second");
    EXPECT_EQ(captions()[1]->text, "first");
    EXPECT_EQ(captions()[2]->text, "third");
    EXPECT_EQ(tab_->model().activeCaptionIndex(), 1);
    EXPECT_EQ(row(1)->findChild<QLabel*>("captionTextPreview")->text(), "first");
    EXPECT_TRUE(row(2)->findChild<QWidget*>("captionDisabledGlass")->isVisible());

    // Data of another kind is refused.
    QMimeData text;
    text.setText("0");
    dropAt(text, 2);
    EXPECT_EQ(lineY, -1);
    EXPECT_EQ(captions()[0]->text, "second");
}

// The bounding box of the bright caption pixels the preview shows.
QRect captionBox(QWidget& view) {
    QImage picture = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            QRgb p = picture.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

void sendMouse(QWidget& view, QEvent::Type type, QPoint at) {
    Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), view.mapToGlobal(QPointF(at)), Qt::LeftButton, held, {});
    QApplication::sendEvent(&view, &event);
}

TEST_F(CaptionsTab, DraggingInThePreviewMovesTheCaptionWithThePointerAtEveryOutputSize) {
    addCaptions({"MOVE"});
    ui::RCEditorPlayerView* view = editor_->playerView();
    ASSERT_TRUE(waitFor([&] { return !captionBox(*view).isEmpty(); }));
    auto& options = editor_->optionsViewController()->model();

    QPoint travel(-90, -60);
    for (int resize : {0, 3}) {  // "Original", then "320px"
        options.selectResizeIndex(resize);
        QRect before = captionBox(*view);
        ASSERT_FALSE(before.isEmpty());
        QPoint from = before.center();
        sendMouse(*view, QEvent::MouseButtonPress, from);
        EXPECT_EQ(view->cursor().shape(), Qt::CrossCursor);
        for (int step = 1; step <= 6; ++step) {
            sendMouse(*view, QEvent::MouseMove, from + travel * step / 6);
        }
        sendMouse(*view, QEvent::MouseButtonRelease, from + travel);
        runEventsFor(50ms);
        QRect after = captionBox(*view);
        EXPECT_NEAR(after.center().x() - before.center().x(), travel.x(), 2) << resize;
        EXPECT_NEAR(after.center().y() - before.center().y(), travel.y(), 2) << resize;
        EXPECT_NE(view->cursor().shape(), Qt::CrossCursor);
        travel = -travel;
    }

    // A press on a caption that is not the selected one only selects it.
    addCaptions({"OTHER"});
    captions()[1]->setCenterPosition(Point{480, 380});
    tab_->model().selectRow(0);
    Point centre = captions()[1]->centerPosition();
    Rect shown = tab_->model().displayedRect();
    double scale = tab_->model().playerScale();
    QPoint other(int(shown.minX() + centre.x / scale),
                 int(shown.minY() + (480 - centre.y) / scale));
    sendMouse(*view, QEvent::MouseButtonPress, other);
    sendMouse(*view, QEvent::MouseMove, other + QPoint(40, 0));
    sendMouse(*view, QEvent::MouseButtonRelease, other + QPoint(40, 0));
    EXPECT_EQ(tab_->model().activeCaptionIndex(), 1);
    EXPECT_EQ(captions()[1]->centerPosition(), centre);
}

TEST_F(CaptionsTab, TheStyleWindowFollowsTheActiveCaptionAndEditsIt) {
    addCaptions({"one"});
    click(tab_->findChild<QWidget*>("addCaptionButton"));
    ui::RCCaptionStyleWindowController* style = tab_->styleWindow();
    ASSERT_NE(style, nullptr);
    ASSERT_TRUE(waitFor([&] { return style->isVisible(); }));
    // Beside the editor, not over it.
    EXPECT_FALSE(style->frameGeometry().intersects(editor_->frameGeometry()));

    auto* field = style->findChild<QLineEdit*>("captionTextField");
    EXPECT_EQ(field->text(), "Enter caption...");
    click(field);
    EXPECT_TRUE(waitFor([&] { return field->selectedText() == "Enter caption..."; }));
    QTest::keyClicks(field, "Hi");
    EXPECT_EQ(captions()[1]->text, "Hi");
    EXPECT_EQ(row(1)->findChild<QLabel*>("captionTextPreview")->text(), "Hi");

    auto* picker = style->findChild<ui::RCColorPickerView*>("captionColorPicker");
    click(picker, picker->swatchCenter(1));
    EXPECT_EQ(captions()[1]->color, captionPalette()[1].color);
    auto choose = [&](const char* menu, const char* label) {
        auto* box = style->findChild<QComboBox*>(menu);
        int index = box->findText(label);
        ASSERT_GE(index, 0) << label;
        box->setCurrentIndex(index);
        emit box->activated(index);
    };
    choose("captionSizeMenu", "XL");
    choose("captionFontMenu", "Italicized");
    choose("captionAnimationMenu", "Drop");
    EXPECT_EQ(captions()[1]->size, CaptionSize::XL);
    EXPECT_EQ(captions()[1]->fontName, kCaptionFontItalicized);
    EXPECT_EQ(captions()[1]->animation->type, CaptionAnimationType::Drop);

    // Another row selected: the window shows that caption.
    click(row(0)->findChild<QWidget*>("captionDisabledGlass"));
    EXPECT_EQ(field->text(), "one");
    EXPECT_EQ(style->findChild<QComboBox*>("captionSizeMenu")->currentText(), "MD");
    EXPECT_EQ(picker->selectedIndex(), 0);

    // The Options tab hides it; the Captions tab brings it back.
    editor_->findChild<QAbstractButton*>("optionsTab")->click();
    EXPECT_FALSE(style->isVisible());
    EXPECT_FALSE(editor_->playerView()->editModeEnabled());
    editor_->findChild<QAbstractButton*>("captionsTab")->click();
    EXPECT_TRUE(style->isVisible());
}

}  // namespace
}  // namespace pindle

int main(int argc, char** argv) {
    return pindle::test::runWidgetTests(argc, argv, "1600x1000x24");
}
