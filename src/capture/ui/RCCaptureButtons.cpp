#include "capture/ui/RCCaptureButtons.h"

#include <QEasingCurve>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/Theme.h"

namespace pindle::ui {

RCCaptureButton::RCCaptureButton(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setToolTip("Start or stop recording");
    setAccessibleName("Record");
    spinner_.setStartValue(0.0);
    spinner_.setEndValue(360.0);
    spinner_.setDuration(1200);
    spinner_.setLoopCount(-1);
    connect(&spinner_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void RCCaptureButton::setIsCapturing(bool capturing) {
    capturing_ = capturing;
    if (capturing) {
        spinner_.start();
    } else {
        spinner_.stop();
    }
    setAccessibleName(capturing ? "Stop" : "Record");
    update();
}

void RCCaptureButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    double side = std::min(width(), height()) - 4;
    QRectF box((width() - side) / 2, (height() - side) / 2, side, side);
    QColor red = theme::red();
    if (hovered_) {
        red = red.lighter(115);
    }
    if (pressed_) {
        red = red.darker(115);
    }
    if (!capturing_) {
        painter.setPen(QPen(QColor(255, 255, 255, 210), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(box);
        painter.setPen(Qt::NoPen);
        painter.setBrush(red);
        painter.drawEllipse(box.adjusted(4, 4, -4, -4));
        return;
    }
    painter.setPen(QPen(QColor(255, 255, 255, 60), 2.5));
    painter.drawEllipse(box.adjusted(1, 1, -1, -1));
    painter.setPen(QPen(red, 2.5, Qt::SolidLine, Qt::RoundCap));
    int start = static_cast<int>(-spinner_.currentValue().toDouble() * 16);
    painter.drawArc(box.adjusted(1, 1, -1, -1), start, 100 * 16);
    double stop = side * 0.34;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(
        QRectF(box.center().x() - stop / 2, box.center().y() - stop / 2, stop, stop), 2, 2);
}

void RCCaptureButton::enterEvent(QEnterEvent*) {
    hovered_ = true;
    update();
}

void RCCaptureButton::leaveEvent(QEvent*) {
    hovered_ = false;
    pressed_ = false;
    update();
}

void RCCaptureButton::mousePressEvent(QMouseEvent* event) {
    // Taken here so that the press does not start a window drag.
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        update();
    }
    event->accept();
}

void RCCaptureButton::mouseReleaseEvent(QMouseEvent* event) {
    bool inside = rect().contains(event->position().toPoint());
    bool wasPressed = pressed_;
    pressed_ = false;
    update();
    event->accept();
    if (wasPressed && inside && isEnabled() && event->button() == Qt::LeftButton) {
        emit captureButtonClicked();
    }
}

RCCaptureLastButton::RCCaptureLastButton(QWidget* parent) : QWidget(parent) {
    setToolTip("Save the last 30 seconds as a capture of its own; recording goes on");
    setAccessibleName("Capture last");
    blink_.setKeyValueAt(0, 1.0);
    blink_.setKeyValueAt(0.5, 0.0);
    blink_.setKeyValueAt(1, 1.0);
    blink_.setEasingCurve(QEasingCurve::InQuad);
    blink_.setDuration(2000);
    blink_.setLoopCount(-1);
    connect(&blink_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        textAlpha_ = value.toDouble();
        update();
    });
}

void RCCaptureLastButton::showModel(const RCCaptureLastButtonModel& model) {
    model_ = model;
    if (model_.isBlinking() && blink_.state() != QAbstractAnimation::Running) {
        blink_.start();
    } else if (!model_.isBlinking()) {
        blink_.stop();
        textAlpha_ = 1.0;
    }
    setCursor(model_.acceptsClicks() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void RCCaptureLastButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, 5, 5);
    painter.fillPath(shape, theme::raised());
    double share = model_.bufferPercentFull();
    if (share > 0) {
        QLinearGradient gradient(box.topLeft(), box.topRight());
        gradient.setColorAt(0, theme::red());
        gradient.setColorAt(1, theme::purple());
        painter.save();
        painter.setClipRect(QRectF(box.left(), box.top(), box.width() * share, box.height()));
        painter.fillPath(shape, gradient);
        painter.restore();
    }
    QColor text = theme::text();
    text.setAlphaF(static_cast<float>(textAlpha_));
    painter.setPen(text);
    QFont font = painter.font();
    font.setBold(model_.isFull());
    painter.setFont(font);
    painter.drawText(box, Qt::AlignCenter, title());
}

void RCCaptureLastButton::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    // Only a full buffer makes a capture-last worth having.
    if (model_.acceptsClicks() && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

}  // namespace pindle::ui
