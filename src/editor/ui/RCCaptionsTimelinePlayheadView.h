#pragma once

#include <QWidget>

namespace pindle::ui {

// The playhead over the captions' timeline: a knob in the ruler strip at the top and a line
// down over the rows at value (0...1, the fraction of the recording's duration) of the
// view's width. The ruler and the line take the pointer; everything else passes through to
// the rows below, so their sliders stay usable.
class RCCaptionsTimelinePlayheadView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRulerHeight = 16;

    explicit RCCaptionsTimelinePlayheadView(QWidget* parent = nullptr);

    double value() const { return value_; }
    void setValue(double value);
    bool isDragging() const { return dragging_; }
    bool isPlaying() const { return playing_; }
    void setPlaying(bool playing);
    double lineWidth() const { return lineWidth_; }

signals:
    // The user drags the playhead to x of a view width pixels wide.
    void dragged(double x, double width);
    void dragEnded();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double lineX() const { return value_ * width(); }
    void updateMask();

    double value_ = 0;
    double lineWidth_ = 2;
    bool dragging_ = false;
    bool playing_ = false;
    int maskedAt_ = -1;  // the line's pixel column the mask was made for
};

}  // namespace pindle::ui
