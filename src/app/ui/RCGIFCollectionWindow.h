#pragma once

#include <QHash>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include "app/RCGIFCollectionWindowController.h"

namespace pindle::ui {

// The library strip under the capture window: one 80 × 80 cell per recording, newest first,
// scrolled sideways with the wheel. A cell shows the recording's thumbnail, or the animated
// "loading-animated" image while its movie is written; the pointer over a cell shows its
// delete button; the recording open in the editor has a green frame.
class RCGIFCollectionWindow : public QWidget, public RCGIFCollectionView {
    Q_OBJECT

public:
    static constexpr int kCellSize = 80;
    static constexpr int kDeleteButtonWidth = 19;
    static constexpr int kDeleteButtonHeight = 20;

    explicit RCGIFCollectionWindow(RCGIFCollectionWindowController& controller,
                                   QWidget* parent = nullptr);

    void reloadCollectionViewData() override;
    QSize sizeHint() const override { return {kCellSize * 4, kCellSize + 2 * kMargin}; }

    // The cell of item i and its delete button, in this widget's coordinates.
    QRect cellRect(size_t item) const;
    QRect deleteButtonRect(size_t item) const;

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent*) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent*) override;

private:
    static constexpr int kMargin = 4;
    std::optional<size_t> itemAt(QPoint point) const;
    QPixmap thumbnailFor(const RCRecordingPtr& recording);
    void clampScroll();

    RCGIFCollectionWindowController& controller_;
    QHash<QString, QPixmap> thumbnails_;  // by recording guid
    std::optional<size_t> hovered_;
    std::optional<size_t> pressed_;
    int scroll_ = 0;
    double loadingPhase_ = 0;
    QTimer loadingTimer_;
};

}  // namespace pindle::ui
