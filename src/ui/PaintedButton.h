#pragma once

#include <QAbstractButton>
#include <QPainter>

#include <functional>

namespace pindle::ui {

// A flat button that draws its own glyph; hover shows a soft background.
class PaintedButton : public QAbstractButton {
public:
    using Painter = std::function<void(QPainter&, const QRectF& box, bool hovered)>;

    PaintedButton(QSize size, Painter painter, QWidget* parent = nullptr)
        : QAbstractButton(parent), size_(size), painter_(std::move(painter)) {
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(size);
    }
    QSize sizeHint() const override { return size_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        bool hovered = underMouse() && isEnabled();
        if (hovered) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, isDown() ? 40 : 24));
            p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
        }
        painter_(p, QRectF(rect()), hovered);
    }

private:
    QSize size_;
    Painter painter_;
};

}  // namespace pindle::ui
