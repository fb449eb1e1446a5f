// Dragging the editor's preview out while its GIF is made, in process on a private X server.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "editor/ui/RCEditorPlayerView.h"
#include "editor/ui/RCEditorWindowController.h"
#include "library/RCFileManager.h"
#include "movie_fixtures.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_output.h"
#include "platform/imageio/imageio.h"
#include "platform/qt/qt_layers.h"
#include "qt_test_support.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::waitFor;

struct NoDelegate : RCEditorWindowDelegate {
    void editorWindowControllerWillClose(RCEditorWindowControl*) override {}
};

// The files in the program's temporary folder.
std::vector<std::filesystem::path> temporaryFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    auto folder = RCFileManager::getCurrentInstance().tempDirectoryURL();
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        files.push_back(entry.path());
    }
    return files;
}

// An editor on an 8-second moving picture, whose GIF takes a few seconds to make.
class DragOut : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        movieDir_ = new test::TempDir;
        ASSERT_TRUE(test::makeTestMovie(*movieDir_ / "moving.mp4",
                                        {.width = 640, .height = 480, .fps = 30, .seconds = 8}));
    }
    static void TearDownTestSuite() { delete movieDir_; }

    void SetUp() override {
        for (const auto& file : temporaryFiles()) {
            std::filesystem::remove(file);
        }
        recording_ = RCRecording::recordingWithURL(*movieDir_ / "moving.mp4");
        editor_ = std::make_unique<ui::RCEditorWindowController>(recording_, delegate_,
                                                                 environment_, nullptr);
        editor_->resize(900, 760);
        editor_->showWindow();
        ASSERT_TRUE(waitFor([&] { return editor_->isVisible(); }, 3s));
        view_ = editor_->playerView();
    }
    void TearDown() override {
        if (editor_) {
            editor_->close();
            editor_.reset();
        }
    }

    // Presses on the preview and moves far enough to begin a drag, the button held.
    void beginDrag() {
        QPoint at = view_->rect().center();
        QTest::mousePress(view_, Qt::LeftButton, {}, at);
        QTest::mouseMove(view_, at + QPoint(40, 0));
    }

    static test::TempDir* movieDir_;
    RCRecordingPtr recording_;
    NoDelegate delegate_;
    RCEditorEnvironment environment_;
    std::unique_ptr<ui::RCEditorWindowController> editor_;
    ui::RCEditorPlayerView* view_ = nullptr;
};
test::TempDir* DragOut::movieDir_ = nullptr;

TEST_F(DragOut, TheWindowKeepsWorkingWhileTheGIFIsMadeAndClosingAbandonsIt) {
    // A timer that should tick every 10 ms, and the longest it went without.
    QTimer ticker;
    auto last = Clock::now();
    Clock::duration longestGap{};
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        auto now = Clock::now();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });
    ticker.start(10);
    last = Clock::now();
    beginDrag();
    ASSERT_TRUE(view_->dragOutProgress().has_value());
    ASSERT_TRUE(waitFor([&] { return view_->dragOutProgress().value_or(0) >= 0.3f; }, 60s));
    EXPECT_LT(longestGap, 250ms);
    EXPECT_TRUE(view_->dragOutProgress().has_value()) << "the export ended too soon to tell";

    // Closed halfway: no crash, and once the export ends nothing of it is left.
    editor_->close();
    editor_.reset();
    EXPECT_TRUE(waitFor([] { return temporaryFiles().empty(); }, 60s))
        << temporaryFiles().size() << " files left, the first " << temporaryFiles().front();
}

TEST_F(DragOut, AGIFLetGoOfBeforeItIsReadyServesTheNextDragOrCopyOfTheSameEdit) {
    beginDrag();
    QTest::mouseRelease(view_, Qt::LeftButton, {}, view_->rect().center() + QPoint(40, 0));
    ASSERT_TRUE(waitFor([&] { return !view_->dragOutProgress().has_value(); }, 60s));
    auto made = temporaryFiles();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made.front().extension(), ".gif");

    // Copying the same edit takes that file at once.
    auto* copy = editor_->findChild<QAbstractButton*>("copyGIFButton");
    ASSERT_NE(copy, nullptr);
    copy->click();
    ASSERT_TRUE(waitFor([&] { return copy->text() == "COPIED"; }, 1s))
        << copy->text().toStdString();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    ASSERT_EQ(copied->urls().size(), 1);
    EXPECT_EQ(copied->urls().front().toLocalFile().toStdString(), made.front().string());

    // Another edit makes another GIF; the copied one stays for a later paste.
    recording_->editParameters()->setPlaybackSpeed(2.0);
    beginDrag();
    EXPECT_TRUE(view_->dragOutProgress().has_value());
    QTest::mouseRelease(view_, Qt::LeftButton, {}, view_->rect().center() + QPoint(40, 0));
    ASSERT_TRUE(waitFor([&] { return !view_->dragOutProgress().has_value(); }, 60s));
    EXPECT_EQ(temporaryFiles().size(), 2u);
}

TEST_F(DragOut, TheDragShowsTheCroppedPicture) {
    // 320 x 120 of the 640 x 480 picture: a drag picture of the whole would be 4:3.
    recording_->editParameters()->setCropRect(CropRect{100, 200, 320, 120});
    view_->update();
    // The drag, once it runs its own event loop, is looked at and called off.
    std::optional<QSize> shown;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* drag = view_->findChild<QDrag*>(); drag && !shown) {
            shown = drag->pixmap().size();
            QDrag::cancel();
        }
    });
    watcher.start(20);
    beginDrag();
    ASSERT_TRUE(waitFor([&] { return shown.has_value(); }, 60s));
    EXPECT_EQ(shown->width(), 160);
    EXPECT_EQ(shown->height(), 60);
}

}  // namespace
}  // namespace pindle

int main(int argc, char** argv) {
    pindle::test::TempDir home;
    setenv("PINDLE_CAPTURE_HOME", home.path().c_str(), 1);
    return pindle::test::runWidgetTests(argc, argv, "1600x1000x24", [] {
        pindle::ffmpeg::installMovieOpener();
        pindle::qt::installLayerRenderer();
        pindle::media::setMovieOutput(pindle::ffmpeg::makeMovieOutput());
        pindle::setImageOutput(pindle::imageio::makeImageOutput());
        return static_cast<bool>(pindle::RCFileManager::getCurrentInstance().createDirectories());
    });
}
