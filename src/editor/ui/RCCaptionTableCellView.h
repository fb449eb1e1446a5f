#pragma once

#include <QWidget>

#include "editor/RCEditorOptions.h"

class QLabel;

namespace pindle::ui {

class RCRangeSliderView;

// One row of the captions list: a drag handle, the caption's text preview, its time range on
// a slider that spans the whole recording, and a delete button. Only the active row is
// enabled; the others lie under a half-transparent glass that selects the row when clicked.
// The handle stays above the glass, so that any row can be dragged to a new place.
class RCCaptionTableCellView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 30;

    explicit RCCaptionTableCellView(int row, QWidget* parent = nullptr);

    // Where the slider's track (the recording's timeline) lies in a row width pixels wide.
    static double timelineLeft();
    static double timelineWidth(int width);

    int row() const { return row_; }
    void setRow(int row) { row_ = row; }
    void setText(const QString& text);
    // The knobs as fractions of the recording's duration; kept while the user drags them.
    void setRange(double lower, double upper);
    void setRowEnabled(bool enabled);
    bool rowEnabled() const { return enabled_; }
    bool isDraggingRange() const;
    // Ends a drag of the slider that will not see its mouse-up, keeping the knobs where they are.
    void cancelRangeDrag();
    RCRangeSlider& slider() { return slider_; }

signals:
    // The slider moved (mouseDown) or was let go.
    void rangeChanged(int row, double lower, double upper, RCRangeSlider::Part part,
                      bool mouseDown);
    void deleteClicked(int row);
    void selectClicked(int row);
    // The handle was dragged far enough to start moving the row.
    void dragRequested(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int row_;
    bool enabled_ = true;
    RCRangeSlider slider_;
    QWidget* handle_ = nullptr;
    QLabel* text_ = nullptr;
    RCRangeSliderView* sliderView_ = nullptr;
    QWidget* deleteButton_ = nullptr;
    QWidget* glass_ = nullptr;
};

}  // namespace pindle::ui
