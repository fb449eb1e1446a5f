#include "ui/ScreenGeometry.h"

#include <QGuiApplication>
#include <QScreen>

namespace pindle::ui {
namespace {

QRect primaryGeometry() {
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry() : QRect(0, 0, 0, 0);
}

}  // namespace

Rect toGlobal(const QRectF& r) {
    QRect primary = primaryGeometry();
    double bottom = primary.y() + primary.height();
    return Rect{{r.x() - primary.x(), bottom - (r.y() + r.height())}, {r.width(), r.height()}};
}

QRectF fromGlobal(const Rect& g) {
    QRect primary = primaryGeometry();
    double bottom = primary.y() + primary.height();
    return QRectF(g.minX() + primary.x(), bottom - g.maxY(), g.width(), g.height());
}

std::vector<Rect> globalScreenFrames() {
    std::vector<Rect> frames;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) {
        frames.push_back(toGlobal(primary->geometry()));
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) {
            frames.push_back(toGlobal(screen->geometry()));
        }
    }
    return frames;
}

}  // namespace pindle::ui
