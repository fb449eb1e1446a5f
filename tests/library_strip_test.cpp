#include <gtest/gtest.h>

#include "app/RCGIFCollectionWindowController.h"
#include "base/dispatch.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

struct EditorLog {
    int opened = 0;
    int raised = 0;
    int closed = 0;
};

class FakeEditor : public RCEditorWindowControl {
public:
    FakeEditor(RCRecordingPtr recording, RCGIFCollectionWindowController& delegate, EditorLog& log,
               Rect frame)
        : recording_(std::move(recording)), delegate_(delegate), log_(log), frame_(frame) {
        ++log_.opened;
    }
    RCRecordingPtr recording() const override { return recording_; }
    Rect windowFrame() const override { return frame_; }
    void setWindowFrame(const Rect& frame) override { frame_ = frame; }
    void showWindow() override {}
    void bringToFront() override { ++log_.raised; }
    void close() override {
        ++log_.closed;
        delegate_.editorWindowControllerWillClose(this);
    }

private:
    RCRecordingPtr recording_;
    RCGIFCollectionWindowController& delegate_;
    EditorLog& log_;
    Rect frame_;
};

class LibraryStrip : public ::testing::Test {
protected:
    LibraryStrip() {
        // Ready recordings whose movies are missing: their facts are zero, which is enough here.
        for (int i = 0; i < 3; ++i) {
            auto recording = std::make_shared<RCRecording>();
            auto movie = home / ("m" + std::to_string(i) + ".mp4");
            test::writeFile(movie, "not a movie");
            recording->setupWithURL(movie);
            recordings.push_back(recording);
            store.addRecording(recording);
        }
    }

    std::unique_ptr<RCGIFCollectionWindowController> make() {
        // Each new editor is taller than the last, so the kept corner shows.
        return std::make_unique<RCGIFCollectionWindowController>(
            store,
            [this](RCRecordingPtr recording, RCGIFCollectionWindowController& delegate) {
                double height = 300 + 50 * log.opened;
                return std::make_unique<FakeEditor>(std::move(recording), delegate, log,
                                                    Rect{{500, 500}, {400, height}});
            },
            center);
    }

    test::TempDir home;
    RCFileManager files{home.appDirectories()};
    NotificationCenter center;
    RCDataStore store{files, center};
    std::vector<RCRecordingPtr> recordings;  // A, B, C in store order
    EditorLog log;
};

TEST_F(LibraryStrip, NewestFirstAndEditorRules) {
    auto strip = make();
    strip->initCollectionView(nullptr);
    ASSERT_EQ(strip->numberOfItems(), 3u);
    EXPECT_EQ(strip->recordingForItem(0), recordings[2]);
    EXPECT_EQ(strip->recordingForItem(2), recordings[0]);
    EXPECT_EQ(strip->recordingForItem(3), nullptr);

    strip->didSelectItem(0);
    ASSERT_NE(strip->editorWindowController(), nullptr);
    EXPECT_TRUE(strip->isItemHighlighted(0));
    EXPECT_FALSE(strip->isItemHighlighted(1));
    strip->editorWindowController()->setWindowFrame({{120, 80}, {400, 500}});

    strip->didSelectItem(0);  // the same recording: only brought to the front
    EXPECT_EQ(log.opened, 1);
    EXPECT_EQ(log.raised, 1);

    strip->didSelectItem(1);  // another: replaces the editor, keeping its top-left corner
    EXPECT_EQ(log.opened, 2);
    EXPECT_EQ(log.closed, 1);
    Rect frame = strip->editorWindowController()->windowFrame();
    EXPECT_EQ(frame.minX(), 120);
    EXPECT_EQ(frame.maxY(), 80 + 500);
    EXPECT_EQ(frame.height(), 350);
    EXPECT_TRUE(strip->isItemHighlighted(1));
    EXPECT_FALSE(strip->isItemHighlighted(0));

    // Deleting the recording open in the editor closes it once the store has announced it.
    std::filesystem::path movie = recordings[1]->url();
    strip->deleteButtonClicked(strip->recordingForItem(1));
    EXPECT_FALSE(std::filesystem::exists(movie));
    ASSERT_TRUE(dispatch::runUntil([&] { return strip->numberOfItems() == 2; }, 2s));
    EXPECT_EQ(strip->editorWindowController(), nullptr);
    EXPECT_EQ(log.closed, 2);

    strip->didSelectItem(0);
    store.removeAllRecordings();
    ASSERT_TRUE(dispatch::runUntil([&] { return strip->numberOfItems() == 0; }, 2s));
    EXPECT_EQ(strip->editorWindowController(), nullptr);
}

TEST_F(LibraryStrip, RecordingStillBeingWrittenDoesNotOpen) {
    auto placeholder = std::make_shared<RCRecording>();
    store.addRecording(placeholder);
    auto strip = make();
    strip->initCollectionView(nullptr);
    ASSERT_EQ(strip->recordingForItem(0), placeholder);
    strip->didSelectItem(0);
    EXPECT_EQ(strip->editorWindowController(), nullptr);

    placeholder->setupWithURL(recordings[0]->url());
    store.updateRecording(placeholder);
    strip->didSelectItem(0);
    EXPECT_NE(strip->editorWindowController(), nullptr);
}

}  // namespace
}  // namespace pindle
