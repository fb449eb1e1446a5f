#pragma once

#include <QWidget>

#include "editor/RCEditorOptions.h"

namespace pindle::ui {

// The trim slider: two knobs over a track, the band between them and the playback marker.
// The arithmetic is RCRangeSlider's; the view turns pointer travel into value travel.
class RCRangeSliderView : public QWidget {
    Q_OBJECT

public:
    RCRangeSliderView(RCRangeSlider& slider, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {480, kHeight}; }
    // The part a drag in progress moves (none while the mouse is up).
    RCRangeSlider::Part draggedPart() const { return dragged_; }
    // Forgets a drag in progress without reporting its end.
    void cancelDrag() { dragged_ = RCRangeSlider::Part::none; }
    // The track the values span: from trackLeft() (value minimum) over trackLength() pixels.
    static constexpr int trackLeft() { return kKnobWidth; }
    double trackLength() const;

signals:
    // A knob or the band moved (mouseDown) or the drag ended (!mouseDown).
    void sliderChanged(RCRangeSlider::Part part, bool mouseDown);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    static constexpr int kHeight = 34;
    static constexpr int kKnobWidth = 12;

    double xOf(double value) const;
    RCRangeSlider::Part partAt(double x) const;

    RCRangeSlider& slider_;
    RCRangeSlider::Part dragged_ = RCRangeSlider::Part::none;
    double lastX_ = 0;
};

}  // namespace pindle::ui
