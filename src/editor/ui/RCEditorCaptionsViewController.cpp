#include "editor/ui/RCEditorCaptionsViewController.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "editor/ui/RCCaptionStyleWindowController.h"
#include "editor/ui/RCCaptionTableCellView.h"
#include "editor/ui/RCCaptionsTimelinePlayheadView.h"
#include "editor/ui/RCEditorPlayerView.h"
#include "ui/Theme.h"

namespace pindle::ui {

namespace {

// Edits are saved this long after the last one, so that typing a caption saves the library
// once rather than on every key.
constexpr int kSaveDelayMilliseconds = 400;
constexpr int kVisibleRows = 4;

const char* const kButtonStyle =
    "QPushButton { color: #ececee; background: #3a3a3e; border: 1px solid #4a4a4f; "
    "border-radius: 4px; padding: 4px 12px; font-weight: bold; }"
    "QPushButton:hover { background: #46464b; }";

QPushButton* makeButton(const char* title, const char* name, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setObjectName(name);
    button->setStyleSheet(kButtonStyle);
    button->setCursor(Qt::PointingHandCursor);
    // Keyboard focus stays with the window, where the space bar plays and pauses.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// A greyed part of the timeline: outside the trim, so not in the output.
QWidget* makeTrimArea(const char* name, QWidget* parent) {
    auto* area = new QWidget(parent);
    area->setObjectName(name);
    area->setAttribute(Qt::WA_TransparentForMouseEvents);
    area->setAttribute(Qt::WA_StyledBackground);
    area->setStyleSheet(QString("#%1 { background: rgba(10, 10, 12, 150); }").arg(name));
    return area;
}

// The captions list. Its rows are covered by their own widgets, which would hide the view's
// own drop indicator, so it shows a line of its own above them where a dragged row would go.
class RCCaptionListView : public QListView {
public:
    explicit RCCaptionListView(QWidget* parent) : QListView(parent) {
        indicator_ = new QWidget(viewport());
        indicator_->setObjectName("captionDropIndicator");
        indicator_->setAttribute(Qt::WA_TransparentForMouseEvents);
        indicator_->setAttribute(Qt::WA_StyledBackground);
        indicator_->setStyleSheet(
            QString("#captionDropIndicator { background: %1; }").arg(theme::purple().name()));
        indicator_->hide();
    }

protected:
    void dragMoveEvent(QDragMoveEvent* event) override {
        QListView::dragMoveEvent(event);
        int rows = model() ? model()->rowCount() : 0;
        QModelIndex index = indexAt(event->position().toPoint());
        int y = -1;
        if (event->isAccepted()) {
            if (index.isValid() && dropIndicatorPosition() == AboveItem) {
                y = visualRect(index).top();
            } else if (index.isValid() && dropIndicatorPosition() == BelowItem) {
                y = visualRect(index).bottom() + 1;
            } else if (rows > 0 && dropIndicatorPosition() == OnViewport) {
                y = visualRect(model()->index(rows - 1, 0)).bottom() + 1;
            }
        }
        indicator_->setVisible(y >= 0);
        if (y >= 0) {
            indicator_->setGeometry(0, std::max(0, y - 1), viewport()->width(), 2);
            indicator_->raise();
        }
    }
    void dragLeaveEvent(QDragLeaveEvent* event) override {
        indicator_->hide();
        QListView::dragLeaveEvent(event);
    }
    void dropEvent(QDropEvent* event) override {
        indicator_->hide();
        QListView::dropEvent(event);
    }

private:
    QWidget* indicator_ = nullptr;
};

}  // namespace

RCCaptionListModel::RCCaptionListModel(RCEditorCaptionsModel& captions, QObject* parent)
    : QAbstractListModel(parent), captions_(captions) {}

void RCCaptionListModel::reset() {
    beginResetModel();
    endResetModel();
}

int RCCaptionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : captions_.numberOfRows();
}

QVariant RCCaptionListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return QString::fromStdString(captions_.rowText(index.row()));
    }
    if (role == Qt::SizeHintRole) {
        return QSize(1, RCCaptionTableCellView::kHeight);
    }
    return {};
}

Qt::ItemFlags RCCaptionListModel::flags(const QModelIndex& index) const {
    // Rows take no drops onto themselves, only between them (on the list's root).
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsDragEnabled : Qt::ItemIsDropEnabled;
}

QStringList RCCaptionListModel::mimeTypes() const {
    return {kCaptionRowMimeType};
}

QMimeData* RCCaptionListModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.size() != 1 || !indexes.front().isValid()) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setData(kCaptionRowMimeType, QByteArray::number(indexes.front().row()));
    return data;
}

int RCCaptionListModel::draggedRow(const QMimeData* data) {
    if (!data || !data->hasFormat(kCaptionRowMimeType)) {
        return -1;
    }
    bool ok = false;
    int row = data->data(kCaptionRowMimeType).toInt(&ok);
    return ok ? row : -1;
}

int RCCaptionListModel::dropRow(int row, const QModelIndex& parent) const {
    if (parent.isValid()) {
        return -1;
    }
    // Below the last row (on the list's empty part) is the end of the list.
    return row < 0 ? rowCount() : row;
}

bool RCCaptionListModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                         const QModelIndex& parent) const {
    int to = dropRow(row, parent);
    return action == Qt::MoveAction && captions_.validateDrop(draggedRow(data), to, to >= 0);
}

bool RCCaptionListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                      int column, const QModelIndex& parent) {
    return canDropMimeData(data, action, row, column, parent) &&
           captions_.moveCaption(draggedRow(data), dropRow(row, parent));
}

RCEditorCaptionsViewController::RCEditorCaptionsViewController(
    RCRecordingPtr recording, RCEditorPlayerView* playerView,
    const RCEditorEnvironment& environment, QWidget* parent)
    : QWidget(parent),
      recording_(std::move(recording)),
      playerView_(playerView),
      saveEdits_(environment.saveEdits) {
    setObjectName("captionsEditor");

    RCCaptionsTabEvents events;
    events.reload = [this] { reload(); };
    events.captionMoved = [this](int index) {
        if (playerView_) {
            playerView_->captionMoved(index);
        }
    };
    events.scrollToRow = [this](int row) { list_->scrollTo(listModel_->index(row)); };
    events.showStyleWindow = [this](bool makeKey) { showStyleWindow(makeKey); };
    events.closeStyleWindow = [this] { closeStyleWindow(); };
    model_ = std::make_unique<RCEditorCaptionsModel>(
        recording_, playerView_ ? playerView_->captionsPlayback() : nullptr, [this] { saveSoon(); },
        std::move(events));
    listModel_ = new RCCaptionListModel(*model_, this);

    saveTimer_ = new QTimer(this);
    saveTimer_->setSingleShot(true);
    saveTimer_->setInterval(kSaveDelayMilliseconds);
    connect(saveTimer_, &QTimer::timeout, this, &RCEditorCaptionsViewController::saveNow);

    playButton_ = makeButton("PLAY", "captionsPlayButton", this);
    playButton_->setFixedWidth(80);
    connect(playButton_, &QPushButton::clicked, this,
            &RCEditorCaptionsViewController::togglePlayPause);
    addButton_ = makeButton("+ Add caption", "addCaptionButton", this);
    connect(addButton_, &QPushButton::clicked, this, [this] { model_->addCaption(); });
    auto* hint = new QLabel("Drag the selected caption in the preview to move it.");
    hint->setObjectName("dimLabel");

    timeline_ = new QWidget(this);
    timeline_->setObjectName("captionsTimeline");
    timeline_->setMinimumHeight(RCCaptionsTimelinePlayheadView::kRulerHeight +
                                kVisibleRows * RCCaptionTableCellView::kHeight + 2);
    timeline_->installEventFilter(this);

    list_ = new RCCaptionListView(timeline_);
    list_->setObjectName("captionsTable");
    list_->setModel(listModel_);
    list_->setUniformItemSizes(true);
    list_->setSpacing(0);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setDragDropMode(QAbstractItemView::DropOnly);
    list_->setDragDropOverwriteMode(false);
    list_->setDropIndicatorShown(true);
    list_->setDefaultDropAction(Qt::MoveAction);
    list_->setStyleSheet("QListView { background: #1f1f21; border: none; color: transparent; }");
    list_->viewport()->installEventFilter(this);

    trimStartArea_ = makeTrimArea("captionsTrimStartArea", timeline_);
    trimEndArea_ = makeTrimArea("captionsTrimEndArea", timeline_);
    playhead_ = new RCCaptionsTimelinePlayheadView(timeline_);
    connect(playhead_, &RCCaptionsTimelinePlayheadView::dragged, this,
            [this](double x, double width) {
                model_->dragPlayhead(x, width);
                playhead_->setValue(model_->playheadValue());
            });
    connect(playhead_, &RCCaptionsTimelinePlayheadView::dragEnded, this,
            [this] { model_->endPlayheadDrag(); });

    placeholder_ = new QWidget(timeline_);
    placeholder_->setObjectName("captionsPlaceholder");
    placeholder_->setAttribute(Qt::WA_StyledBackground);
    placeholder_->setStyleSheet("#captionsPlaceholder { background: #1f1f21; }");
    auto* placeholderText =
        new QLabel("No captions yet. Add one, type its text, and place it in the preview.");
    placeholderText->setObjectName("dimLabel");
    auto* placeholderAdd = makeButton("+ Add caption", "placeholderAddCaptionButton", nullptr);
    connect(placeholderAdd, &QPushButton::clicked, this, [this] { model_->addCaption(); });
    auto* placeholderLayout = new QVBoxLayout(placeholder_);
    placeholderLayout->addStretch(1);
    placeholderLayout->addWidget(placeholderText, 0, Qt::AlignHCenter);
    placeholderLayout->addWidget(placeholderAdd, 0, Qt::AlignHCenter);
    placeholderLayout->addStretch(1);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(playButton_);
    header->addWidget(addButton_);
    header->addSpacing(8);
    header->addWidget(hint, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);
    layout->addLayout(header);
    layout->addWidget(timeline_, 1);

    if (playerView_) {
        playerView_->setCaptionsModel(model_.get());
        QPointer<RCEditorCaptionsViewController> self(this);
        timeObserver_ = playerView_->addPeriodicTimeObserver(
            MediaTime::makeWithSeconds(0.001, 1'000'000), [self](MediaTime time) {
                if (!self) {
                    return;
                }
                self->model_->playbackTimeChanged(time);
                if (!self->playhead_->isDragging()) {
                    self->playhead_->setValue(self->model_->playheadValue());
                }
                self->updatePlayButton();
            });
    }
    makeRows();
    reload();
}

RCEditorCaptionsViewController::~RCEditorCaptionsViewController() {
    prepareForClose();
    delete styleWindow_.data();
}

void RCEditorCaptionsViewController::makeRows() {
    // A reset takes the old rows' widgets away (later, so that a row may reset the list from
    // its own button).
    listModel_->reset();
    rows_.clear();
    for (int row = 0; row < model_->numberOfRows(); ++row) {
        auto* cell = new RCCaptionTableCellView(row);
        connect(cell, &RCCaptionTableCellView::rangeChanged, this,
                &RCEditorCaptionsViewController::rowRangeChanged);
        connect(cell, &RCCaptionTableCellView::deleteClicked, this,
                [this](int at) { model_->deleteCaption(at); });
        connect(cell, &RCCaptionTableCellView::selectClicked, this,
                [this](int at) { model_->selectRow(at); });
        connect(cell, &RCCaptionTableCellView::dragRequested, this,
                &RCEditorCaptionsViewController::startRowDrag);
        list_->setIndexWidget(listModel_->index(row), cell);
        rows_.emplace_back(cell);
    }
}

void RCEditorCaptionsViewController::updateRows() {
    for (size_t at = 0; at < rows_.size(); ++at) {
        RCCaptionTableCellView* cell = rows_[at];
        if (!cell) {
            continue;
        }
        int row = int(at);
        cell->setText(QString::fromStdString(model_->rowText(row)));
        cell->setRange(model_->rowLowerValue(row), model_->rowUpperValue(row));
        cell->setRowEnabled(model_->rowEnabled(row));
    }
}

void RCEditorCaptionsViewController::reload() {
    if (size_t(model_->numberOfRows()) != rows_.size()) {
        makeRows();
    }
    updateRows();
    bool empty = model_->placeholderVisible();
    placeholder_->setVisible(empty);
    list_->setVisible(!empty);
    trimStartArea_->setVisible(!empty);
    trimEndArea_->setVisible(!empty);
    playhead_->setVisible(!empty && model_->playheadVisible());
    if (playerView_) {
        playerView_->reloadLayers();
    }
    if (styleWindow_) {
        styleWindow_->refresh();
    }
    layoutTimeline();
    updatePlayButton();
}

void RCEditorCaptionsViewController::layoutTimeline() {
    int width = timeline_->width();
    int height = timeline_->height();
    int ruler = RCCaptionsTimelinePlayheadView::kRulerHeight;
    list_->setGeometry(0, ruler, width, std::max(0, height - ruler));
    placeholder_->setGeometry(0, 0, width, height);

    // The timeline column: where the rows' sliders have their tracks.
    QRect viewport = list_->viewport()->geometry().translated(list_->pos());
    double left = viewport.x() + RCCaptionTableCellView::timelineLeft();
    double span = RCCaptionTableCellView::timelineWidth(viewport.width());
    int bottom = viewport.y() + std::min(viewport.height(),
                                         model_->numberOfRows() * RCCaptionTableCellView::kHeight);
    auto columnRect = [&](double from, double to) {
        int x0 = int(std::lround(left + from * span));
        int x1 = int(std::lround(left + to * span));
        return QRect(x0, 0, std::max(0, x1 - x0), bottom);
    };
    trimStartArea_->setGeometry(columnRect(0, model_->trimStartFraction()));
    trimEndArea_->setGeometry(columnRect(model_->trimEndFraction(), 1));
    playhead_->setGeometry(columnRect(0, 1));
    trimStartArea_->raise();
    trimEndArea_->raise();
    playhead_->raise();
    placeholder_->raise();
}

void RCEditorCaptionsViewController::updatePlayButton() {
    QString title = model_->playButtonTitle();
    if (playButton_->text() != title) {
        playButton_->setText(title);
    }
    playhead_->setPlaying(playerView_ && playerView_->isPlaying());
}

void RCEditorCaptionsViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutTimeline();
}

bool RCEditorCaptionsViewController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == timeline_ || watched == list_->viewport())) {
        layoutTimeline();
    }
    return QWidget::eventFilter(watched, event);
}

void RCEditorCaptionsViewController::rowRangeChanged(int row, double lower, double upper,
                                                     RCRangeSlider::Part part, bool mouseDown) {
    if (mouseDown) {
        model_->rowRangeChanged(row, lower, upper, part);
    } else {
        model_->rowRangeReleased(row, lower, upper);
    }
    playhead_->setVisible(!model_->placeholderVisible() && model_->playheadVisible());
    updatePlayButton();
}

void RCEditorCaptionsViewController::startRowDrag(int row) {
    QMimeData* payload = listModel_->mimeData({listModel_->index(row)});
    if (!payload || size_t(row) >= rows_.size() || !rows_[size_t(row)]) {
        delete payload;
        return;
    }
    RCCaptionTableCellView* cell = rows_[size_t(row)];
    auto* drag = new QDrag(cell);
    drag->setMimeData(payload);
    drag->setPixmap(cell->grab());
    drag->setHotSpot(QPoint(10, RCCaptionTableCellView::kHeight / 2));
    drag->exec(Qt::MoveAction);
}

void RCEditorCaptionsViewController::togglePlayPause() {
    model_->togglePlayPause();
    updatePlayButton();
}

void RCEditorCaptionsViewController::tabShown() {
    showing_ = true;
    if (playerView_) {
        playerView_->setEditModeEnabled(true);
    }
    model_->tabShown();
    reload();
}

void RCEditorCaptionsViewController::finishRowDrag() {
    // A row's range dragged while the tab goes away never sees its mouse-up; without one the
    // caption would keep the whole recording as its range, which it has only while dragged.
    // The model's player is the preview's: without the preview there is nothing to finish.
    if (!playerView_) {
        return;
    }
    for (const auto& cell : rows_) {
        if (cell && cell->isDraggingRange()) {
            cell->cancelRangeDrag();
            model_->rowRangeReleased(cell->row(), cell->slider().lowerValue(),
                                     cell->slider().upperValue());
        }
    }
}

void RCEditorCaptionsViewController::tabHidden() {
    if (!showing_) {
        return;
    }
    showing_ = false;
    finishRowDrag();
    model_->tabHidden();
    if (playerView_) {
        playerView_->setEditModeEnabled(false);
    }
}

void RCEditorCaptionsViewController::prepareForClose() {
    finishRowDrag();
    model_->prepareForClose();
    if (saveTimer_->isActive()) {
        saveNow();
    }
    // The preview is the editor's: it no longer reports to this tab nor hands it presses.
    if (playerView_) {
        playerView_->removeTimeObserver(timeObserver_);
        playerView_->setEditModeEnabled(false);
        playerView_->setCaptionsModel(nullptr);
        playerView_ = nullptr;
    }
}

void RCEditorCaptionsViewController::showStyleWindow(bool makeKey) {
    if (!styleWindow_) {
        styleWindow_ = new RCCaptionStyleWindowController(*model_, window());
    }
    styleWindow_->showWindow(makeKey);
}

void RCEditorCaptionsViewController::closeStyleWindow() {
    if (styleWindow_) {
        styleWindow_->hide();
    }
}

void RCEditorCaptionsViewController::saveSoon() {
    saveTimer_->start();
}

void RCEditorCaptionsViewController::saveNow() {
    saveTimer_->stop();
    if (saveEdits_) {
        saveEdits_(recording_);
    }
}

}  // namespace pindle::ui
