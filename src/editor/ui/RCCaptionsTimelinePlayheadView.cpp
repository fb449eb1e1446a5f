#include "editor/ui/RCCaptionsTimelinePlayheadView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ui/Theme.h"

namespace pindle::ui {

namespace {
// How far either side of the line a press still takes it.
constexpr int kGrip = 3;
}  // namespace

RCCaptionsTimelinePlayheadView::RCCaptionsTimelinePlayheadView(QWidget* parent) : QWidget(parent) {
    setObjectName("captionsPlayhead");
    setCursor(Qt::SizeHorCursor);
    setToolTip("Drag to move through the recording");
}

void RCCaptionsTimelinePlayheadView::setValue(double value) {
    value = std::clamp(value, 0.0, 1.0);
    if (value == value_) {
        return;
    }
    value_ = value;
    updateMask();
    update();
}

void RCCaptionsTimelinePlayheadView::setPlaying(bool playing) {
    if (playing != playing_) {
        playing_ = playing;
        update();
    }
}

void RCCaptionsTimelinePlayheadView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    maskedAt_ = -1;
    updateMask();
}

void RCCaptionsTimelinePlayheadView::updateMask() {
    int x = int(std::lround(lineX()));
    if (x == maskedAt_) {
        return;
    }
    maskedAt_ = x;
    QRegion region(0, 0, width(), kRulerHeight);
    region += QRect(x - kGrip - 5, 0, 2 * (kGrip + 5) + 1, kRulerHeight);
    region += QRect(x - kGrip, kRulerHeight, 2 * kGrip + 1, height() - kRulerHeight);
    setMask(region);
}

void RCCaptionsTimelinePlayheadView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The ruler: a faint band with a tick every tenth of the recording.
    p.fillRect(QRectF(0, 0, width(), kRulerHeight), theme::raised());
    p.setPen(QPen(theme::border(), 1));
    for (int tick = 0; tick <= 10; ++tick) {
        double x = std::min(width() - 0.5, tick * width() / 10.0 + 0.5);
        p.drawLine(QPointF(x, kRulerHeight - 5), QPointF(x, kRulerHeight));
    }
    double x = lineX();
    QColor colour = dragging_ || playing_ ? theme::text() : theme::dimText();
    p.setPen(QPen(colour, lineWidth_));
    p.drawLine(QPointF(x, kRulerHeight - 2), QPointF(x, height()));
    QPainterPath knob;
    knob.moveTo(x - 6, 1);
    knob.lineTo(x + 6, 1);
    knob.lineTo(x, kRulerHeight - 1);
    knob.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(theme::purple());
    p.drawPath(knob);
}

void RCCaptionsTimelinePlayheadView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    dragging_ = true;
    update();
    emit dragged(event->position().x(), width());
}

void RCCaptionsTimelinePlayheadView::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        emit dragged(event->position().x(), width());
    }
}

void RCCaptionsTimelinePlayheadView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) {
        return;
    }
    dragging_ = false;
    update();
    emit dragEnded();
}

}  // namespace pindle::ui
