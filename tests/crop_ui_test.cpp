// Drawing a crop on the editor's preview, in process on a private X server (the Xvfb and the
// application are set up by the main of the captions tab tests, which this file joins).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTest>

#include <chrono>
#include <functional>
#include <thread>

#include "editor/GIFExportCache.h"
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

struct NoEditorDelegate : RCEditorWindowDelegate {
    void editorWindowControllerWillClose(RCEditorWindowControl*) override {}
};

class CropMode : public ::testing::Test {
protected:
    void SetUp() override {
        ffmpeg::installMovieOpener();
        qt::installLayerRenderer();
        ASSERT_TRUE(test::makeTestMovie(dir_ / "pattern.mp4",
                                        {.width = 640, .height = 480, .fps = 30, .seconds = 2}));
        recording_ = RCRecording::recordingWithURL(dir_ / "pattern.mp4");
        environment_.saveEdits = [this](const RCRecordingPtr&) { ++saves_; };
        editor_ = std::make_unique<ui::RCEditorWindowController>(recording_, delegate_,
                                                                 environment_, nullptr);
        editor_->resize(900, 760);
        editor_->showWindow();
        ASSERT_TRUE(waitFor([&] { return editor_->isVisible(); }));
        view_ = editor_->playerView();
        options_ = editor_->optionsViewController();
    }
    void TearDown() override {
        editor_->close();
        editor_.reset();
    }

    // Where a pixel of the whole 640 x 480 recording is in the preview.
    QPoint at(double x, double y) const {
        double scale = std::min(view_->width() / 640.0, view_->height() / 480.0);
        double left = (view_->width() - 640 * scale) / 2;
        double top = (view_->height() - 480 * scale) / 2;
        return QPoint(int(std::lround(left + x * scale)), int(std::lround(top + y * scale)));
    }
    void drag(QPoint from, QPoint to) {
        auto send = [&](QEvent::Type type, QPoint point) {
            Qt::MouseButtons held =
                type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, QPointF(point), view_->mapToGlobal(QPointF(point)),
                              Qt::LeftButton, held, {});
            QApplication::sendEvent(view_, &event);
        };
        send(QEvent::MouseButtonPress, from);
        for (int step = 1; step <= 5; ++step) {
            send(QEvent::MouseMove, from + (to - from) * step / 5);
        }
        send(QEvent::MouseButtonRelease, to);
    }
    std::optional<CropRect> stored() const { return recording_->editParameters()->cropRect(); }
    static void expectNear(const std::optional<CropRect>& rect, CropRect wanted) {
        ASSERT_TRUE(rect);
        EXPECT_NEAR(rect->x, wanted.x, 2);
        EXPECT_NEAR(rect->y, wanted.y, 2);
        EXPECT_NEAR(rect->width, wanted.width, 2);
        EXPECT_NEAR(rect->height, wanted.height, 2);
    }

    test::TempDir dir_;
    RCRecordingPtr recording_;
    NoEditorDelegate delegate_;
    RCEditorEnvironment environment_;
    int saves_ = 0;
    std::unique_ptr<ui::RCEditorWindowController> editor_;
    ui::RCEditorPlayerView* view_ = nullptr;
    ui::RCEditorOptionsViewController* options_ = nullptr;
};

TEST_F(CropMode, DrawingOnThePreviewInCropModeSetsTheStoredCrop) {
    // A drag out asks its cache for a file; this one only notes that it was asked.
    bool draggedOut = false;
    GIFExportCache cache({[&] {
                              draggedOut = true;
                              return std::filesystem::path();
                          },
                          [](auto&&...) {}, [](auto&&) {}});
    view_->setDragOutCache(&cache);
    // Outside crop mode a drag on the preview is not a crop.
    drag(at(100, 50), at(420, 290));
    EXPECT_FALSE(stored());

    auto* mode = options_->findChild<QAbstractButton*>("cropModeButton");
    ASSERT_NE(mode, nullptr);
    mode->click();
    draggedOut = false;
    int savesBefore = saves_;
    drag(at(100, 50), at(420, 290));
    expectNear(stored(), CropRect{100, 50, 320, 240});
    EXPECT_FALSE(draggedOut);
    EXPECT_GT(saves_, savesBefore);
    auto* dimensions = options_->findChild<QLabel*>("dimensionsLabel");
    QString size = QString("%1 x %2").arg(stored()->width).arg(stored()->height);
    ASSERT_TRUE(waitFor([&] { return dimensions->text() == size; }))
        << dimensions->text().toStdString();

    // Locked, a corner drag keeps 4:3.
    auto* aspect = options_->findChild<QAbstractButton*>("cropAspect");
    aspect->click();
    EXPECT_EQ(aspect->text(), "Lock");
    CropRect before = *stored();
    drag(at(before.maxX(), before.maxY()), at(before.maxX() + 100, before.maxY() + 10));
    ASSERT_TRUE(stored());
    EXPECT_NEAR(double(stored()->width) / stored()->height, 4.0 / 3.0, 0.02);
    EXPECT_GT(stored()->width, before.width + 80);

    // The exact numbers sheet, then Reset: the whole picture is no crop.
    options_->findChild<QAbstractButton*>("cropNumbers")->click();
    QDialog* sheet = nullptr;
    ASSERT_TRUE(waitFor([&] {
        sheet = editor_->findChild<QDialog*>("cropNumbersSheet");
        return sheet != nullptr && sheet->isVisible();
    }));
    aspect->click();
    sheet->findChild<QSpinBox*>("cropX")->setValue(10);
    sheet->findChild<QSpinBox*>("cropY")->setValue(20);
    sheet->findChild<QSpinBox*>("cropWidth")->setValue(200);
    sheet->findChild<QSpinBox*>("cropHeight")->setValue(100);
    QMetaObject::invokeMethod(sheet->findChild<QDialogButtonBox*>(), "accepted");
    EXPECT_EQ(stored(), (CropRect{10, 20, 200, 100}));
    options_->findChild<QAbstractButton*>("cropReset")->click();
    EXPECT_FALSE(stored());

    // Leaving crop mode gives the preview back to dragging out.
    mode->click();
    drag(at(300, 200), at(340, 240));
    EXPECT_TRUE(draggedOut);
    view_->setDragOutCache(nullptr);
}

}  // namespace
}  // namespace pindle
