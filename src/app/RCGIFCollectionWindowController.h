#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/notifications.h"
#include "editor/RCEditorWindowControl.h"
#include "library/RCRecording.h"

namespace pindle {

class RCDataStore;
class RCGIFCollectionWindowController;

// The strip as its controller sees it.
class RCGIFCollectionView {
public:
    virtual ~RCGIFCollectionView() = default;
    virtual void reloadCollectionViewData() = 0;
};

// The library strip's rules: the store's recordings newest first, opening one recording at
// a time in the editor, deleting, and following the store's changes. Main thread only.
class RCGIFCollectionWindowController : public RCEditorWindowDelegate {
public:
    using EditorFactory = std::function<std::unique_ptr<RCEditorWindowControl>(
        RCRecordingPtr recording, RCGIFCollectionWindowController& delegate)>;

    RCGIFCollectionWindowController(
        RCDataStore& store, EditorFactory makeEditor,
        NotificationCenter& center = NotificationCenter::defaultCenter());
    ~RCGIFCollectionWindowController();

    // Observes the store and shows its recordings.
    void initCollectionView(RCGIFCollectionView* view);
    void reloadCollectionViewData();

    // Item i shows the store's recording at index count - 1 - i (item 0 is the newest), as
    // of the last reload.
    size_t numberOfItems() const { return items_.size(); }
    RCRecordingPtr recordingForItem(size_t item) const;
    // The item shows the recording open in the editor.
    bool isItemHighlighted(size_t item) const;

    // Opens the item's recording in the editor (nothing for one still being written).
    void didSelectItem(size_t item);
    void deleteButtonClicked(const RCRecordingPtr& recording);
    void dataStoreDidUpdate();
    void editorWindowControllerWillClose(RCEditorWindowControl* editor) override;

    RCEditorWindowControl* editorWindowController() const { return editor_.get(); }

private:
    void closeEditor();

    RCDataStore& store_;
    EditorFactory makeEditor_;
    NotificationCenter& center_;
    RCGIFCollectionView* view_ = nullptr;
    NotificationCenter::Token storeObserver_;
    std::vector<RCRecordingPtr> items_;
    std::unique_ptr<RCEditorWindowControl> editor_;
    // An editor that is closing; released on the main queue, after its close() returns.
    std::vector<std::unique_ptr<RCEditorWindowControl>> closing_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace pindle
