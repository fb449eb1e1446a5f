#include "editor/ui/RCRangeSliderView.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/Theme.h"

namespace pindle::ui {

RCRangeSliderView::RCRangeSliderView(RCRangeSlider& slider, QWidget* parent)
    : QWidget(parent), slider_(slider) {
    setFixedHeight(kHeight);
    setMinimumWidth(160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

double RCRangeSliderView::trackLength() const {
    return std::max(1.0, double(width() - 2 * kKnobWidth));
}

double RCRangeSliderView::xOf(double value) const {
    double span = slider_.maxValue() - slider_.minValue();
    double fraction = span > 0 ? (value - slider_.minValue()) / span : 0;
    return kKnobWidth + fraction * trackLength();
}

RCRangeSlider::Part RCRangeSliderView::partAt(double x) const {
    double lower = xOf(slider_.lowerValue());
    double upper = xOf(slider_.upperValue());
    // The knobs sit outside the band: the lower one to the left of its value, the upper one
    // to the right, so the band stays reachable however narrow it is.
    if (x >= lower - kKnobWidth - 4 && x < lower) {
        return RCRangeSlider::Part::lowerKnob;
    }
    if (x > upper && x <= upper + kKnobWidth + 4) {
        return RCRangeSlider::Part::upperKnob;
    }
    if (x >= lower && x <= upper) {
        return RCRangeSlider::Part::band;
    }
    // Outside the band: the nearer knob.
    return x < lower ? RCRangeSlider::Part::lowerKnob : RCRangeSlider::Part::upperKnob;
}

void RCRangeSliderView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF track(kKnobWidth, 6, trackLength(), height() - 12);
    p.setPen(Qt::NoPen);
    p.setBrush(theme::raised());
    p.drawRoundedRect(track, 3, 3);

    double lower = xOf(slider_.lowerValue());
    double upper = xOf(slider_.upperValue());
    QRectF band(lower, 4, upper - lower, height() - 8);
    QColor accent = theme::purple();
    p.setBrush(QColor(accent.red(), accent.green(), accent.blue(), 70));
    p.drawRect(band);
    p.setPen(QPen(accent, 2));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(lower, 5), QPointF(upper, 5));
    p.drawLine(QPointF(lower, height() - 5), QPointF(upper, height() - 5));

    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    QRectF lowerKnob(lower - kKnobWidth, 4, kKnobWidth, height() - 8);
    QRectF upperKnob(upper, 4, kKnobWidth, height() - 8);
    p.drawRoundedRect(lowerKnob, 3, 3);
    p.drawRoundedRect(upperKnob, 3, 3);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
    for (const QRectF& knob : {lowerKnob, upperKnob}) {
        p.drawLine(QPointF(knob.center().x(), knob.top() + 8),
                   QPointF(knob.center().x(), knob.bottom() - 8));
    }

    double marker = xOf(slider_.playbackMarker());
    if (marker >= lower && marker <= upper) {
        p.setPen(QPen(theme::text(), 2));
        p.drawLine(QPointF(marker, 2), QPointF(marker, height() - 2));
    }
}

void RCRangeSliderView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    lastX_ = event->position().x();
    dragged_ = partAt(lastX_);
    emit sliderChanged(dragged_, true);
}

void RCRangeSliderView::mouseMoveEvent(QMouseEvent* event) {
    if (dragged_ == RCRangeSlider::Part::none) {
        return;
    }
    double x = event->position().x();
    double d = slider_.valueDelta(x - lastX_, trackLength());
    double lower = slider_.lowerValue();
    double upper = slider_.upperValue();
    slider_.drag(dragged_, d);
    // A knob held at a limit keeps the pointer's offset from it where the pointer went past.
    if (lower != slider_.lowerValue() || upper != slider_.upperValue()) {
        lastX_ = x;
        update();
        emit sliderChanged(dragged_, true);
    }
}

void RCRangeSliderView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || dragged_ == RCRangeSlider::Part::none) {
        return;
    }
    RCRangeSlider::Part part = dragged_;
    dragged_ = RCRangeSlider::Part::none;
    update();
    emit sliderChanged(part, false);
}

}  // namespace pindle::ui
