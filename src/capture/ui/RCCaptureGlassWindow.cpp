#include "capture/ui/RCCaptureGlassWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

#include "platform/x11/x11_keyboard.h"

namespace pindle::ui {

RCCaptureGlassWindow::RCCaptureGlassWindow(const QRect& screenGeometry,
                                           const QRectF& transparentFrame, const QRect& keepClear)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
    // An opaque black window shown at half opacity by the compositing manager: this works
    // with every X11 compositor, where per-pixel alpha does not. Wayland compositors ignore
    // the window's opacity and show a shape's hole black, so there the pixels carry both.
    pixelAlpha_ = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (pixelAlpha_) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        setWindowOpacity(0.5);
    }
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Pindle Capture dimming");
    setGeometry(screenGeometry);
    hole_ = transparentFrame.translated(-screenGeometry.topLeft());
    QRegion shape(rect());
    shape -= QRegion(hole_.toAlignedRect());
    if (!keepClear.isEmpty()) {
        shape -= QRegion(keepClear.translated(-screenGeometry.topLeft()));
    }
    setMask(shape);
}

bool RCCaptureGlassWindow::canDrawTranslucency() {
    return qt::compositingManagerRunning();
}

void RCCaptureGlassWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), pixelAlpha_ ? QColor(0, 0, 0, 128) : QColor(Qt::black));
}

}  // namespace pindle::ui
