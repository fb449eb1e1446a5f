#include "editor/ui/RCColorPickerView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/Theme.h"

namespace pindle::ui {

namespace {
constexpr int kSwatch = 22;
constexpr int kPitch = 32;
}  // namespace

RCColorPickerView::RCColorPickerView(std::vector<QColor> colors, QWidget* parent)
    : QWidget(parent), colors_(std::move(colors)) {
    setObjectName("captionColorPicker");
    setCursor(Qt::PointingHandCursor);
    // Reached with Tab from the text field; the arrow keys move the selection.
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(sizeHint());
}

QSize RCColorPickerView::sizeHint() const {
    return {int(colors_.size()) * kPitch, kPitch};
}

QPoint RCColorPickerView::swatchCenter(int index) const {
    return {index * kPitch + kPitch / 2, kPitch / 2};
}

void RCColorPickerView::setSelectedIndex(int index) {
    index = index >= 0 && size_t(index) < colors_.size() ? index : -1;
    if (index != selected_) {
        selected_ = index;
        update();
    }
}

void RCColorPickerView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (size_t i = 0; i < colors_.size(); ++i) {
        QPointF centre = swatchCenter(int(i));
        p.setPen(QPen(QColor(0, 0, 0, 90), 1));
        p.setBrush(colors_[i]);
        p.drawEllipse(centre, kSwatch / 2.0, kSwatch / 2.0);
        if (int(i) == selected_) {
            p.setPen(QPen(hasFocus() ? theme::purple() : theme::text(), 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(centre, kSwatch / 2.0 + 4, kSwatch / 2.0 + 4);
        }
    }
}

void RCColorPickerView::keyPressEvent(QKeyEvent* event) {
    int step = event->key() == Qt::Key_Right ? 1 : event->key() == Qt::Key_Left ? -1 : 0;
    if (step == 0 || colors_.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    int count = int(colors_.size());
    int index = selected_ < 0 ? 0 : (selected_ + step + count) % count;
    setSelectedIndex(index);
    emit colorSelected(index);
}

void RCColorPickerView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    for (size_t i = 0; i < colors_.size(); ++i) {
        QPointF offset = event->position() - QPointF(swatchCenter(int(i)));
        if (QPointF::dotProduct(offset, offset) <= (kSwatch / 2.0 + 4) * (kSwatch / 2.0 + 4)) {
            setSelectedIndex(int(i));
            emit colorSelected(int(i));
            return;
        }
    }
}

}  // namespace pindle::ui
