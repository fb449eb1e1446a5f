#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "editor/RCEditorCaptions.h"
#include "editor/RCEditorEnvironment.h"
#include "editor/ui/RCCaptionStyleWindowController.h"

class QLabel;
class QListView;
class QPushButton;
class QTimer;

namespace pindle::ui {

class RCCaptionTableCellView;
class RCCaptionsTimelinePlayheadView;
class RCEditorPlayerView;

// The captions list as Qt's views see it: one row per caption, dragged between rows as the
// row's index under the type "rc.captionTableViewIndex". Drops are checked and carried out
// by the Captions tab's model.
class RCCaptionListModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit RCCaptionListModel(RCEditorCaptionsModel& captions, QObject* parent = nullptr);

    // The rows were added or removed: the view's rows are made again.
    void reset();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

private:
    // The dragged row carried by data, or -1; and the drop row (between rows) for the
    // position Qt gives, or -1 for a drop onto a row.
    static int draggedRow(const QMimeData* data);
    int dropRow(int row, const QModelIndex& parent) const;

    RCEditorCaptionsModel& captions_;
};

// The Captions tab: the play button, the add button, the list of captions with their time
// ranges over the recording's timeline (the parts outside the trim greyed), the playhead,
// the placeholder of an empty list, and the style window. The rules are the model's; this
// class shows its state and hands it the user's input. The preview is the editor's, which
// this tab switches into caption editing while it shows.
class RCEditorCaptionsViewController : public QWidget {
    Q_OBJECT

public:
    RCEditorCaptionsViewController(RCRecordingPtr recording, RCEditorPlayerView* playerView,
                                   const RCEditorEnvironment& environment,
                                   QWidget* parent = nullptr);
    ~RCEditorCaptionsViewController() override;

    RCEditorCaptionsModel& model() { return *model_; }
    // The style window, once it has been shown.
    RCCaptionStyleWindowController* styleWindow() const { return styleWindow_; }

    // The space bar and the play button.
    void togglePlayPause();
    void tabShown();
    void tabHidden();
    // The editor closes (or the tab is replaced): the style window goes, unsaved edits are
    // saved, and the preview is let go of.
    void prepareForClose();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reload();
    void updateRows();
    void makeRows();
    void layoutTimeline();
    void updatePlayButton();
    void startRowDrag(int row);
    void finishRowDrag();
    void rowRangeChanged(int row, double lower, double upper, RCRangeSlider::Part part,
                         bool mouseDown);
    void showStyleWindow(bool makeKey);
    void closeStyleWindow();
    void saveSoon();
    void saveNow();

    RCRecordingPtr recording_;
    QPointer<RCEditorPlayerView> playerView_;
    std::function<void(const RCRecordingPtr&)> saveEdits_;
    std::unique_ptr<RCEditorCaptionsModel> model_;
    RCCaptionListModel* listModel_ = nullptr;

    QPushButton* playButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QWidget* timeline_ = nullptr;  // the list with its overlays
    QListView* list_ = nullptr;
    std::vector<QPointer<RCCaptionTableCellView>> rows_;
    QWidget* trimStartArea_ = nullptr;
    QWidget* trimEndArea_ = nullptr;
    RCCaptionsTimelinePlayheadView* playhead_ = nullptr;
    QWidget* placeholder_ = nullptr;
    QPointer<RCCaptionStyleWindowController> styleWindow_;
    QTimer* saveTimer_ = nullptr;
    int timeObserver_ = 0;  // the player view's token
    bool showing_ = false;
};

}  // namespace pindle::ui
