#pragma once

#include <QPainter>
#include <QRectF>

#include "service/RCShareLinks.h"

namespace pindle::ui {

// The share buttons' images, drawn here: a badge in the site's colour with a white mark.
// The hovered image is the same badge lit up with a white ring.
void drawShareIcon(QPainter& painter, const QRectF& box, RCShareTarget target, bool hovered);

}  // namespace pindle::ui
