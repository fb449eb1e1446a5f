#include "upload/ui/RCUploadButtonView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "ui/Theme.h"

namespace pindle::ui {
namespace {

QColor colourOf(RCUploadButton::Colour colour) {
    switch (colour) {
        case RCUploadButton::Colour::darkPurple:
            return QColor(0x5b, 0x34, 0xa0);
        case RCUploadButton::Colour::darkGrey:
            return QColor(0x3a, 0x3a, 0x3e);
        case RCUploadButton::Colour::green:
            return theme::green().darker(125);
        case RCUploadButton::Colour::white:
            return Qt::white;
        case RCUploadButton::Colour::red:
            return theme::red();
    }
    return Qt::gray;
}

}  // namespace

RCUploadButtonView::RCUploadButtonView(RCUploadButton& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setAttribute(Qt::WA_Hover);
    setFixedHeight(44);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    addressField_ = new QLineEdit(this);
    addressField_->setObjectName("addressField");
    addressField_->setReadOnly(true);
    addressField_->setStyleSheet(
        "QLineEdit { color: #26262a; background: transparent; border: none; }");
    copyButton_ = new QPushButton(RCUploadButton::kCopyTitle, this);
    copyButton_->setObjectName("copyButton");
    copyButton_->setCursor(Qt::PointingHandCursor);
    copyButton_->setFixedWidth(64);
    copyButton_->setStyleSheet(
        "QPushButton { color: white; background: #5b34a0; border: none; border-radius: 4px; "
        "font-weight: bold; padding: 6px; } QPushButton:hover { background: #6d43b8; }");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 4, 4, 4);
    layout->addWidget(addressField_, 1);
    layout->addWidget(copyButton_);
    connect(copyButton_, &QPushButton::clicked, this, [this] {
        std::string text = model_.copyPressed();
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
        refresh();
    });
    refresh();
}

void RCUploadButtonView::refresh() {
    addressField_->setVisible(model_.addressShown());
    copyButton_->setVisible(model_.addressShown());
    QString address = QString::fromStdString(model_.address());
    if (addressField_->text() != address) {
        addressField_->setText(address);
        addressField_->setCursorPosition(0);
    }
    copyButton_->setText(model_.copyShowsCheck() ? QString::fromUtf8(RCUploadButton::kCopiedIcon)
                                                 : QString::fromStdString(model_.copyTitle()));
    setCursor(model_.acceptsPress() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void RCUploadButtonView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    bool hovered = underMouse() && isEnabled();
    QColor fill = colourOf(hovered ? model_.hoverColour() : model_.colour());
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(box, 5, 5);
    double bar = box.width() * double(model_.progress());
    if (model_.uploadState() == RCUploadButton::UploadState::inProgress && bar > 0 &&
        model_.colour() != RCUploadButton::Colour::green) {
        p.save();
        p.setClipRect(QRectF(box.left(), box.top(), bar, box.height()));
        p.setBrush(theme::purple());
        p.drawRoundedRect(box, 5, 5);
        p.restore();
    }
    if (!model_.titleHidden()) {
        QFont font = p.font();
        font.setBold(true);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 1);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, QString::fromStdString(model_.title()));
    }
}

void RCUploadButtonView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton && model_.acceptsPress();
}

void RCUploadButtonView::mouseReleaseEvent(QMouseEvent* event) {
    bool inside = rect().contains(event->position().toPoint());
    if (pressed_ && inside && model_.acceptsPress()) {
        pressed_ = false;
        emit clicked();
        return;
    }
    pressed_ = false;
}

void RCUploadButtonView::enterEvent(QEnterEvent*) {
    update();
}

void RCUploadButtonView::leaveEvent(QEvent*) {
    update();
}

}  // namespace pindle::ui
