#include "app/RCGIFCollectionWindowController.h"

#include <algorithm>

#include "base/dispatch.h"
#include "library/RCDataStore.h"

namespace pindle {

RCGIFCollectionWindowController::RCGIFCollectionWindowController(RCDataStore& store,
                                                                 EditorFactory makeEditor,
                                                                 NotificationCenter& center)
    : store_(store), makeEditor_(std::move(makeEditor)), center_(center) {}

RCGIFCollectionWindowController::~RCGIFCollectionWindowController() {
    storeObserver_.reset();
    if (editor_) {
        // Closing calls back into this controller; let it find the editor gone.
        auto editor = std::move(editor_);
        editor->close();
    }
}

void RCGIFCollectionWindowController::initCollectionView(RCGIFCollectionView* view) {
    view_ = view;
    storeObserver_ = center_.addObserver(RCDataStore::kUpdateNotification, nullptr,
                                         [this](const Notification&) { dataStoreDidUpdate(); });
    reloadCollectionViewData();
}

void RCGIFCollectionWindowController::reloadCollectionViewData() {
    items_ = store_.allRecordings();
    std::reverse(items_.begin(), items_.end());
    if (view_) {
        view_->reloadCollectionViewData();
    }
}

RCRecordingPtr RCGIFCollectionWindowController::recordingForItem(size_t item) const {
    return item < items_.size() ? items_[item] : nullptr;
}

bool RCGIFCollectionWindowController::isItemHighlighted(size_t item) const {
    RCRecordingPtr recording = recordingForItem(item);
    if (!recording || !editor_) {
        return false;
    }
    RCRecordingPtr open = editor_->recording();
    return open && open->guid() == recording->guid();
}

void RCGIFCollectionWindowController::didSelectItem(size_t item) {
    RCRecordingPtr recording = recordingForItem(item);
    if (!recording || !recording->isReady()) {
        return;
    }
    std::optional<Rect> previousFrame;
    if (editor_) {
        RCRecordingPtr open = editor_->recording();
        if (open && open->guid() == recording->guid()) {
            editor_->bringToFront();
            return;
        }
        previousFrame = editor_->windowFrame();
        closeEditor();
    }
    if (!makeEditor_) {
        return;
    }
    editor_ = makeEditor_(recording, *this);
    if (!editor_) {
        return;
    }
    if (previousFrame) {
        // The new editor's top-left corner goes where the old one's was.
        Rect frame = editor_->windowFrame();
        frame.origin = {previousFrame->minX(), previousFrame->maxY() - frame.height()};
        editor_->setWindowFrame(frame);
    }
    editor_->showWindow();
    reloadCollectionViewData();
}

void RCGIFCollectionWindowController::deleteButtonClicked(const RCRecordingPtr& recording) {
    if (recording) {
        store_.removeRecording(recording);
    }
}

void RCGIFCollectionWindowController::dataStoreDidUpdate() {
    reloadCollectionViewData();
    if (!editor_) {
        return;
    }
    RCRecordingPtr open = editor_->recording();
    bool present = std::any_of(items_.begin(), items_.end(),
                               [&](const RCRecordingPtr& item) { return item == open; });
    if (!present) {
        closeEditor();
        reloadCollectionViewData();
    }
}

void RCGIFCollectionWindowController::closeEditor() {
    if (!editor_) {
        return;
    }
    RCEditorWindowControl* editor = editor_.get();
    editor->close();  // tells editorWindowControllerWillClose, which forgets it
    if (editor_.get() == editor) {
        editorWindowControllerWillClose(editor);
    }
}

void RCGIFCollectionWindowController::editorWindowControllerWillClose(
    RCEditorWindowControl* editor) {
    if (!editor || editor != editor_.get()) {
        return;
    }
    closing_.push_back(std::move(editor_));
    // The editor is still inside its close(): release it once that has returned.
    dispatch::mainQueue()->async([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired()) {
            closing_.clear();
        }
    });
    reloadCollectionViewData();
}

}  // namespace pindle
