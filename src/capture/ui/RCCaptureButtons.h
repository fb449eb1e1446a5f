#pragma once

#include <QVariantAnimation>
#include <QWidget>

#include "capture/window/RCCaptureLastButtonModel.h"

namespace pindle::ui {

// The record / stop button: a red disc, or while capturing a stop square in a spinning ring.
// Acts on a release inside it.
class RCCaptureButton : public QWidget {
    Q_OBJECT

public:
    explicit RCCaptureButton(QWidget* parent = nullptr);
    void setIsCapturing(bool capturing);
    bool isCapturing() const { return capturing_; }
    QSize sizeHint() const override { return {34, 34}; }

signals:
    void captureButtonClicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool capturing_ = false;
    bool hovered_ = false;
    bool pressed_ = false;
    QVariantAnimation spinner_;
};

// The capture-last button: the time captured so far over a bar that fills as the buffer
// does; once full it reads "Capture last 30.0s", blinks, and takes clicks.
class RCCaptureLastButton : public QWidget {
    Q_OBJECT

public:
    explicit RCCaptureLastButton(QWidget* parent = nullptr);
    void showModel(const RCCaptureLastButtonModel& model);
    QString title() const { return QString::fromStdString(model_.title()); }
    QSize sizeHint() const override { return {132, 26}; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    RCCaptureLastButtonModel model_;
    QVariantAnimation blink_;
    double textAlpha_ = 1.0;
};

}  // namespace pindle::ui
