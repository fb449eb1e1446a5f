#pragma once

#include <QWidget>

namespace pindle::ui {

// Dims one screen while recording: black at half opacity everywhere except the capture frame
// and the capture window. Both are cut out of the window's shape, so nothing of this window
// can reach the recorded picture or cover the controls. It never takes input.
class RCCaptureGlassWindow : public QWidget {
    Q_OBJECT

public:
    // All in desktop coordinates.
    RCCaptureGlassWindow(const QRect& screenGeometry, const QRectF& transparentFrame,
                         const QRect& keepClear);

    // Whether a compositing manager runs: without one, a translucent window shows black, and
    // the screen is then better left undimmed.
    static bool canDrawTranslucency();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QRectF hole_;  // in this window's coordinates
    // Through XWayland: dimmed by the alpha of its own pixels, the hole transparent ones.
    bool pixelAlpha_ = false;
};

}  // namespace pindle::ui
