#include "upload/ui/ShareIcons.h"

#include <QPainterPath>

namespace pindle::ui {
namespace {

QColor badgeColour(RCShareTarget target) {
    switch (target) {
        case RCShareTarget::Email:
            return QColor(0x6c, 0x73, 0x80);
        case RCShareTarget::Facebook:
            return QColor(0x3b, 0x59, 0x98);
        case RCShareTarget::Twitter:
            return QColor(0x1d, 0x9b, 0xf0);
        case RCShareTarget::Reddit:
            return QColor(0xff, 0x45, 0x00);
        case RCShareTarget::Tumblr:
            return QColor(0x35, 0x46, 0x5c);
        case RCShareTarget::Pinterest:
            return QColor(0xe6, 0x00, 0x23);
    }
    return Qt::gray;
}

// A capital letter as an outline, centred in box at the given height.
void drawLetter(QPainter& p, const QRectF& box, const QString& letter, double height,
                QFont::Weight weight = QFont::Bold, bool italic = false) {
    QFont font("DejaVu Sans");
    font.setPixelSize(int(height));
    font.setWeight(weight);
    font.setItalic(italic);
    QPainterPath path;
    path.addText(0, 0, font, letter);
    QRectF bounds = path.boundingRect();
    path.translate(box.center() - bounds.center());
    p.fillPath(path, Qt::white);
}

}  // namespace

void drawShareIcon(QPainter& p, const QRectF& box, RCShareTarget target, bool hovered) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(box.width(), box.height());
    QRectF badge(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    badge.adjust(1, 1, -1, -1);
    QColor colour = badgeColour(target);
    if (hovered) {
        colour = colour.lighter(135);
    }
    p.setPen(hovered ? QPen(Qt::white, 1.5) : Qt::NoPen);
    p.setBrush(colour);
    const bool round = target == RCShareTarget::Reddit || target == RCShareTarget::Pinterest ||
                       target == RCShareTarget::Twitter;
    if (round) {
        p.drawEllipse(badge);
    } else {
        p.drawRoundedRect(badge, side * 0.2, side * 0.2);
    }
    const double s = badge.width();
    const QPointF c = badge.center();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    switch (target) {
        case RCShareTarget::Email: {
            // An envelope: a white card and the flap's V in the badge colour.
            QRectF card(c.x() - s * 0.3, c.y() - s * 0.2, s * 0.6, s * 0.4);
            p.drawRect(card);
            p.setPen(QPen(colour, s * 0.06, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            QPolygonF flap;
            flap << card.topLeft() << QPointF(c.x(), c.y() + s * 0.04) << card.topRight();
            p.drawPolyline(flap);
            break;
        }
        case RCShareTarget::Facebook:
            drawLetter(p, badge.translated(s * 0.04, s * 0.08), "f", s * 0.78);
            break;
        case RCShareTarget::Twitter: {
            // A speech bubble with a tail.
            QPainterPath bubble;
            bubble.addEllipse(QRectF(c.x() - s * 0.27, c.y() - s * 0.22, s * 0.54, s * 0.4));
            QPolygonF tail;
            tail << QPointF(c.x() - s * 0.12, c.y() + s * 0.12)
                 << QPointF(c.x() - s * 0.22, c.y() + s * 0.3)
                 << QPointF(c.x() + s * 0.02, c.y() + s * 0.16);
            bubble.addPolygon(tail);
            bubble.setFillRule(Qt::WindingFill);
            p.drawPath(bubble.simplified());
            break;
        }
        case RCShareTarget::Reddit: {
            // A round head with two eyes, an antenna and its ball.
            p.drawEllipse(QRectF(c.x() - s * 0.27, c.y() - s * 0.08, s * 0.54, s * 0.34));
            p.drawEllipse(QPointF(c.x() + s * 0.16, c.y() - s * 0.3), s * 0.06, s * 0.06);
            p.setPen(QPen(Qt::white, s * 0.05, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(c.x(), c.y() - s * 0.08),
                       QPointF(c.x() + s * 0.05, c.y() - s * 0.3));
            p.drawLine(QPointF(c.x() + s * 0.05, c.y() - s * 0.3),
                       QPointF(c.x() + s * 0.16, c.y() - s * 0.3));
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawEllipse(QPointF(c.x() - s * 0.1, c.y() + s * 0.06), s * 0.05, s * 0.05);
            p.drawEllipse(QPointF(c.x() + s * 0.1, c.y() + s * 0.06), s * 0.05, s * 0.05);
            break;
        }
        case RCShareTarget::Tumblr:
            drawLetter(p, badge, "t", s * 0.7);
            break;
        case RCShareTarget::Pinterest:
            drawLetter(p, badge, "p", s * 0.72, QFont::Black, true);
            break;
    }
    p.restore();
}

}  // namespace pindle::ui
