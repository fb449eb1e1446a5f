#include "ui/Theme.h"

#include <QPainterPath>
#include <QtMath>

namespace pindle::ui::theme {

const char* styleSheet() {
    return R"(
QWidget#darkPanel, QFrame#gearMenu, QDialog#sizeSheet { background: #262628; color: #ececee; }
QFrame#gearMenu { border: 1px solid #4a4a4f; border-radius: 6px; }
QLabel { color: #ececee; }
QLabel#dimLabel { color: #a0a0a8; }
QCheckBox { color: #ececee; spacing: 8px; }
QPushButton#menuButton {
    color: #ececee; background: transparent; border: none; text-align: left;
    padding: 6px 10px; border-radius: 4px;
}
QPushButton#menuButton:hover { background: #3c3c41; }
QPushButton#smallButton, QPushButton#sheetButton {
    color: #ececee; background: #3a3a3e; border: 1px solid #4a4a4f; border-radius: 4px;
    padding: 4px 12px;
}
QPushButton#smallButton:hover, QPushButton#sheetButton:hover { background: #46464b; }
QPushButton#sheetButton:default { background: #2f7d4f; border-color: #3cd070; }
QPushButton#sizeLabel {
    color: #ececee; background: transparent; border: 1px solid transparent; border-radius: 4px;
    padding: 2px 6px;
}
QPushButton#sizeLabel:hover { border-color: #4a4a4f; background: #303034; }
QComboBox, QLineEdit {
    color: #ececee; background: #1c1c1e; border: 1px solid #4a4a4f; border-radius: 4px;
    padding: 3px 6px; selection-background-color: #2f7d4f;
}
QComboBox QAbstractItemView { color: #ececee; background: #2c2c2f; selection-background-color: #2f7d4f; }
QPushButton#uploadButton {
    color: #ececee; background: #3a3a3e; border: 1px solid #4a4a4f; border-radius: 5px;
    font-weight: bold; padding: 4px 12px;
}
QPushButton#uploadButton:hover { background: #46464b; }
QPushButton#copyGIFButton {
    color: #ececee; background: #3a3a3e; border: 1px solid #4a4a4f; border-radius: 5px;
    font-weight: bold; padding: 4px 12px;
}
QPushButton#copyGIFButton:hover { background: #46464b; }
QPushButton#sizeButton { color: #b48cff; background: transparent; border: none; padding: 2px 4px; }
QPushButton#sizeButton:hover { color: #cdb0ff; text-decoration: underline; }
QPushButton#idleTrimButton { color: #b48cff; background: transparent; border: none; padding: 2px 4px; }
QPushButton#idleTrimButton:hover { color: #cdb0ff; text-decoration: underline; }
QPushButton#idleTrimApply, QPushButton#idleTrimCancel {
    color: #ececee; background: #3a3a3e; border: 1px solid #4a4a4f; border-radius: 4px;
    padding: 3px 12px;
}
QPushButton#idleTrimApply { background: #5b34a0; border-color: #8e4df0; }
QWidget#idleTrimProposal QLabel { color: #ececee; }
QFrame#separator { background: #3a3a3e; max-height: 1px; min-height: 1px; }
QPushButton#cropModeButton, QPushButton#cropAspect, QPushButton#cropReset, QPushButton#cropNumbers {
    color: #b48cff; background: transparent; border: none; border-radius: 3px; padding: 0 5px;
}
QPushButton#cropModeButton:hover, QPushButton#cropAspect:hover, QPushButton#cropReset:hover,
QPushButton#cropNumbers:hover { color: #cdb0ff; text-decoration: underline; }
QPushButton#cropModeButton:checked { color: #ffffff; background: #5b34a0; text-decoration: none; }
)";
}

void drawGear(QPainter& painter, const QRectF& box, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPointF centre = box.center();
    double outer = std::min(box.width(), box.height()) / 2;
    double inner = outer * 0.72;
    QPainterPath path;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        double a0 = (i - 0.5) * M_PI / teeth;
        double a1 = (i + 0.5) * M_PI / teeth;
        double r = (i % 2 == 0) ? outer : inner;
        QPointF p0 = centre + QPointF(std::cos(a0) * r, std::sin(a0) * r);
        QPointF p1 = centre + QPointF(std::cos(a1) * r, std::sin(a1) * r);
        if (i == 0) {
            path.moveTo(p0);
        } else {
            path.lineTo(p0);
        }
        path.lineTo(p1);
    }
    path.closeSubpath();
    path.addEllipse(centre, outer * 0.32, outer * 0.32);
    path.setFillRule(Qt::OddEvenFill);
    painter.fillPath(path, color);
    painter.restore();
}

void drawLogo(QPainter& painter, const QRectF& box) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    double side = std::min(box.width(), box.height());
    QRectF square(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    QLinearGradient gradient(square.topLeft(), square.bottomRight());
    gradient.setColorAt(0, red());
    gradient.setColorAt(1, purple());
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(square, side * 0.22, side * 0.22);
    painter.setBrush(Qt::white);
    painter.drawEllipse(square.center(), side * 0.2, side * 0.2);
    painter.restore();
}

void drawLoadingAnimated(QPainter& painter, const QRectF& box, double phase) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const int dots = 8;
    double radius = std::min(box.width(), box.height()) * 0.22;
    double dot = radius * 0.26;
    int lit = static_cast<int>(phase * dots) % dots;
    for (int i = 0; i < dots; ++i) {
        double angle = 2 * M_PI * i / dots - M_PI / 2;
        int age = (lit - i + dots) % dots;
        QColor color = Qt::white;
        color.setAlphaF(static_cast<float>(std::max(0.15, 1.0 - age * 0.12)));
        painter.setBrush(color);
        painter.drawEllipse(box.center() + QPointF(std::cos(angle), std::sin(angle)) * radius, dot,
                            dot);
    }
    painter.restore();
}

}  // namespace pindle::ui::theme
