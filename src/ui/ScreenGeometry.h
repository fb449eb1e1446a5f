#pragma once

#include <QRect>
#include <QRectF>

#include <vector>

#include "base/geometry.h"

// Conversions between Qt's desktop coordinates (logical pixels, origin at the top-left of
// the virtual desktop, y down) and the program's global screen coordinates (points, origin
// at the bottom-left of the primary display, y up).
namespace pindle::ui {

Rect toGlobal(const QRectF& desktopRect);
QRectF fromGlobal(const Rect& globalRect);
// Every screen's frame in global coordinates, the primary screen first.
std::vector<Rect> globalScreenFrames();

}  // namespace pindle::ui
