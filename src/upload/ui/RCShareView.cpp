#include "upload/ui/RCShareView.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include "upload/ui/ShareIcons.h"

namespace pindle::ui {

// One borderless, image-only share button with its hover image.
class ShareButton : public QAbstractButton {
public:
    ShareButton(RCShareTarget target, QWidget* parent) : QAbstractButton(parent), target_(target) {
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(RCShareView::kButtonSide, RCShareView::kButtonSide);
    }
    RCShareTarget target() const { return target_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        drawShareIcon(p, QRectF(rect()), target_, underMouse() && isEnabled());
    }

private:
    RCShareTarget target_;
};

namespace {

constexpr std::array<std::pair<RCShareTarget, const char*>, 6> kTargets = {{
    {RCShareTarget::Email, "email"},
    {RCShareTarget::Facebook, "facebook"},
    {RCShareTarget::Twitter, "twitter"},
    {RCShareTarget::Reddit, "reddit"},
    {RCShareTarget::Tumblr, "tumblr"},
    {RCShareTarget::Pinterest, "pinterest"},
}};

}  // namespace

RCUploadRequiredView::RCUploadRequiredView(QWidget* parent) : QWidget(parent) {
    setObjectName("uploadRequiredView");
    setAttribute(Qt::WA_Hover);
    label_ = new QLabel(RCShareViewModel::kUploadRequiredText, this);
    label_->setAlignment(Qt::AlignCenter);
    label_->setStyleSheet("color: white; background: transparent;");
    QFont font = label_->font();
    font.setPixelSize(13);
    label_->setFont(font);
    label_->setFixedHeight(15);
    label_->hide();
}

void RCUploadRequiredView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 128));
}

void RCUploadRequiredView::enterEvent(QEnterEvent*) {
    label_->show();
}

void RCUploadRequiredView::leaveEvent(QEvent*) {
    label_->hide();
}

void RCUploadRequiredView::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void RCUploadRequiredView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void RCUploadRequiredView::resizeEvent(QResizeEvent*) {
    label_->setGeometry(0, (height() - label_->height()) / 2, width(), label_->height());
}

RCShareView::RCShareView(QWidget* parent) : QWidget(parent) {
    setObjectName("shareView");
    setMinimumHeight(kButtonSide + 16);
    for (size_t i = 0; i < kTargets.size(); ++i) {
        auto* button = new ShareButton(kTargets[i].first, this);
        button->setObjectName(QString(kTargets[i].second) + "ShareButton");
        button->setToolTip(QString("Share by %1").arg(kTargets[i].second));
        button->setEnabled(false);
        connect(button, &QAbstractButton::clicked, this,
                [this, target = kTargets[i].first] { share(target); });
        buttons_[i] = button;
    }
    uploadRequiredView_ = new RCUploadRequiredView(this);
    refresh();
}

void RCShareView::setUploadedPINDLEGIFID(std::optional<std::string> gifID) {
    model_.setUploadedPINDLEGIFID(std::move(gifID));
    refresh();
}

void RCShareView::refresh() {
    for (ShareButton* button : buttons_) {
        button->setEnabled(model_.buttonsEnabled());
    }
    uploadRequiredView_->setVisible(model_.overlayShown());
    uploadRequiredView_->raise();
}

void RCShareView::share(RCShareTarget target) {
    if (auto address = model_.shareAddress(target, ServiceEndpoints::current())) {
        // Already encoded: taken as it stands.
        QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(*address)));
    }
}

void RCShareView::resizeEvent(QResizeEvent*) {
    // Evenly spaced across the width, centred vertically.
    const int count = int(buttons_.size());
    const int gap = (width() - count * kButtonSide) / (count + 1);
    const int y = (height() - kButtonSide) / 2;
    for (int i = 0; i < count; ++i) {
        buttons_[size_t(i)]->move(gap + i * (kButtonSide + gap), y);
    }
    uploadRequiredView_->setGeometry(rect());
}

}  // namespace pindle::ui
