#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

// The program's colours and the small icons it draws itself.
namespace pindle::ui::theme {

inline QColor background() {
    return QColor(0x26, 0x26, 0x28);
}
inline QColor raised() {
    return QColor(0x34, 0x34, 0x37);
}
inline QColor border() {
    return QColor(0x4a, 0x4a, 0x4f);
}
inline QColor text() {
    return QColor(0xec, 0xec, 0xee);
}
inline QColor dimText() {
    return QColor(0xa0, 0xa0, 0xa8);
}
inline QColor green() {
    return QColor(0x3c, 0xd0, 0x70);
}
inline QColor red() {
    return QColor(0xe8, 0x3f, 0x4a);
}
inline QColor purple() {
    return QColor(0x8e, 0x4d, 0xf0);
}

// The style sheet of the program's dark controls.
const char* styleSheet();

void drawGear(QPainter& painter, const QRectF& box, const QColor& color);
void drawLogo(QPainter& painter, const QRectF& box);
// One frame of the "loading-animated" image: a ring of dots, the lit one at phase (0..1).
void drawLoadingAnimated(QPainter& painter, const QRectF& box, double phase);

}  // namespace pindle::ui::theme
