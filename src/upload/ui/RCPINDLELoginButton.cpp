#include "upload/ui/RCPINDLELoginButton.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include "base/log.h"
#include "settings/RCUserSettings.h"
#include "upload/ui/RCLoginWindowController.h"

namespace pindle::ui {
namespace {

constexpr int kAvatarSide = 28;

// The avatar cut to a circle; a grey disc when there is no picture.
QPixmap roundAvatar(const std::filesystem::path& file) {
    const qreal scale = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap result(QSize(kAvatarSide, kAvatarSide) * scale);
    result.setDevicePixelRatio(scale);
    result.fill(Qt::transparent);
    QPainter p(&result);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath circle;
    circle.addEllipse(QRectF(0, 0, kAvatarSide, kAvatarSide));
    p.setClipPath(circle);
    QImage image;
    if (!file.empty()) {
        image.load(QString::fromStdString(file.string()));
    }
    if (image.isNull()) {
        p.fillPath(circle, QColor(0x5a, 0x5a, 0x60));
    } else {
        p.drawImage(QRectF(0, 0, kAvatarSide, kAvatarSide),
                    image.scaled(QSize(kAvatarSide, kAvatarSide) * scale,
                                 Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
    }
    return result;
}

}  // namespace

RCLoggedInMenuViewController::RCLoggedInMenuViewController(RCAccountControl& account)
    : QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint), account_(account) {
    setObjectName("accountMenu");
    setWindowTitle("Account");
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(
        "QFrame#accountMenu { background: #3a3a3e; border-radius: 6px; }"
        "QPushButton { color: white; background: transparent; border: none; text-align: left; "
        "padding: 6px 12px; border-radius: 4px; }"
        "QPushButton:hover { background: #4a4a50; }"
        "QPushButton#usernameButton { color: rgba(255, 255, 255, 102); font-weight: bold; }"
        "QPushButton#usernameButton:hover { background: transparent; }");
    usernameButton_ = new QPushButton;
    usernameButton_->setObjectName("usernameButton");
    usernameButton_->setFocusPolicy(Qt::NoFocus);
    viewProfileButton_ = new QPushButton(RCAccountControl::kViewProfileTitle);
    logOutButton_ = new QPushButton(RCAccountControl::kLogOutTitle);
    for (QPushButton* button : {viewProfileButton_, logOutButton_}) {
        button->setCursor(Qt::PointingHandCursor);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(2);
    layout->addWidget(usernameButton_);
    layout->addWidget(viewProfileButton_);
    layout->addWidget(logOutButton_);
    connect(viewProfileButton_, &QPushButton::clicked, this, [this] {
        if (auto address = account_.viewProfileAddress()) {
            QDesktopServices::openUrl(QUrl(QString::fromStdString(*address)));
        }
        close();
    });
    connect(logOutButton_, &QPushButton::clicked, this, [this] {
        close();
        account_.logOut();
    });
}

void RCLoggedInMenuViewController::setUsername(const QString& name) {
    usernameButton_->setText(name);
}

void RCLoggedInMenuViewController::popup(QWidget* below) {
    if (isVisible()) {
        return;
    }
    adjustSize();
    QPoint origin = below->mapToGlobal(QPoint(0, below->height() + 2));
    if (QScreen* screen = below->screen()) {
        QRect available = screen->availableGeometry();
        origin.setX(std::min(origin.x(), available.right() - width()));
        origin.setY(std::min(origin.y(), available.bottom() - height()));
    }
    move(origin);
    show();
}

RCPINDLELoginButton::RCPINDLELoginButton(RCUserSettings& settings, NotificationCenter& center,
                                         QWidget* sheetParent, std::function<void()> beforeSheet,
                                         QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      account_(settings),
      sheetParent_(sheetParent),
      beforeSheet_(std::move(beforeSheet)) {
    setObjectName("pindleLoginButton");
    loginButton_ = new QPushButton("Log in to PINDLE", this);
    loginButton_->setObjectName("pindleLogin");
    loginButton_->setCursor(Qt::PointingHandCursor);
    loginButton_->setStyleSheet(
        "QPushButton { color: white; background: #8e4df0; border: none; border-radius: 4px; "
        "padding: 6px 12px; font-weight: bold; } QPushButton:hover { background: #9d63f4; }");
    connect(loginButton_, &QPushButton::clicked, this, &RCPINDLELoginButton::loginButtonClicked);

    signedInView_ = new QWidget(this);
    signedInView_->setObjectName("signedInView");
    signedInView_->setCursor(Qt::PointingHandCursor);
    signedInView_->installEventFilter(this);
    avatarView_ = new QLabel;
    avatarView_->setFixedSize(kAvatarSide, kAvatarSide);
    usernameLabel_ = new QLabel;
    caretLabel_ = new QLabel(QString::fromUtf8("\u25BE"));
    caretLabel_->setAlignment(Qt::AlignCenter);
    caretLabel_->setStyleSheet("color: white; font-size: 12pt;");
    for (QLabel* label : {avatarView_, usernameLabel_, caretLabel_}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    auto* signedIn = new QHBoxLayout(signedInView_);
    signedIn->setContentsMargins(0, 0, 0, 0);
    signedIn->setSpacing(6);
    signedIn->addWidget(avatarView_);
    signedIn->addWidget(usernameLabel_);
    signedIn->addWidget(caretLabel_);
    signedIn->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(loginButton_);
    layout->addWidget(signedInView_);

    menu_ = std::make_unique<RCLoggedInMenuViewController>(account_);
    updateState();
    loginObserver_ = center.addObserver(RCUserSettings::kPINDLELoginNotification, nullptr,
                                        [this](const Notification&) { updateState(); });
    logoutObserver_ = center.addObserver(RCUserSettings::kPINDLELogoutNotification, nullptr,
                                         [this](const Notification&) { updateState(); });
}

RCPINDLELoginButton::~RCPINDLELoginButton() = default;

void RCPINDLELoginButton::updateState() {
    bool signedOut = account_.showsLoginButton();
    loginButton_->setVisible(signedOut);
    signedInView_->setVisible(!signedOut);
    if (!signedOut) {
        avatarView_->setPixmap(roundAvatar(account_.avatarFile()));
        QString name = QString::fromStdString(account_.username());
        usernameLabel_->setText(name);
        menu_->setUsername(name);
    }
    PINDLE_LOG_INFO("account", "account control shows %s",
                    signedOut ? "the login button" : "the signed-in user");
}

void RCPINDLELoginButton::loginButtonClicked() {
    if (loginWindowController_) {
        loginWindowController_->raise();
        return;
    }
    if (beforeSheet_) {
        beforeSheet_();
    }
    auto* sheet = new RCLoginWindowController(settings_, sheetParent_ ? sheetParent_ : window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    loginWindowController_ = sheet;
    sheet->open();
}

bool RCPINDLELoginButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched == signedInView_ && event->type() == QEvent::MouseButtonPress) {
        menu_->popup(signedInView_);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace pindle::ui
