#include "upload/ui/RCLoginWindowController.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "base/log.h"
#include "library/RCFileManager.h"
#include "service/RCPINDLEAPIHelper.h"
#include "settings/RCUserSettings.h"
#include "ui/Theme.h"
#include "upload/ui/RCFacebookLoginWindowController.h"

namespace pindle::ui {
namespace {

const char* const kSheetStyle =
    "QDialog#loginWindow { background: #262628; }"
    "QLabel { color: #ececee; }"
    "QLineEdit { color: #ececee; background: #1c1c1e; border: 1px solid #4a4a4f; "
    "border-radius: 4px; padding: 7px 8px; }"
    "QPushButton#loginButton { color: white; background: #8e4df0; border: none; "
    "border-radius: 5px; padding: 9px; font-weight: bold; letter-spacing: 1px; }"
    "QPushButton#loginButton:hover { background: #9d63f4; }"
    "QPushButton#loginButton[failed=\"true\"], QPushButton#loginButton[failed=\"true\"]:hover "
    "{ background: #e83f4a; }"
    "QPushButton#facebookButton { color: white; background: #3b5998; border: none; "
    "border-radius: 5px; padding: 9px; font-weight: bold; }"
    "QPushButton#facebookButton:hover { background: #4a6bb0; }"
    "QPushButton#facebookButton:disabled { background: #34405a; color: #9aa0ac; }"
    "QPushButton#linkButton { color: #b48cff; background: transparent; border: none; }"
    "QPushButton#linkButton:hover { color: #cdb0ff; text-decoration: underline; }"
    "QPushButton#cancelButton { color: #ececee; background: #3a3a3e; "
    "border: 1px solid #4a4a4f; border-radius: 4px; padding: 6px 14px; }"
    "QPushButton#cancelButton:hover { background: #46464b; }";

class Logo : public QWidget {
public:
    Logo() { setFixedSize(56, 56); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        theme::drawLogo(p, QRectF(rect()));
    }
};

void openWebPage(const std::string& path) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(ServiceEndpoints::current().web + path)));
}

}  // namespace

RCLoginWindowController::RCLoginWindowController(RCUserSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName("loginWindow");
    setWindowTitle("Log in to PINDLE");
    setStyleSheet(kSheetStyle);
    setFixedWidth(340);

    RCLoginSheetModel::Hooks hooks;
    hooks.loginWithEmail = [](const std::string& email, const std::string& password,
                              ResponseCompletion completion) {
        RCPINDLEAPIHelper::getCurrentInstance().loginWithEmail(email, password,
                                                               std::move(completion));
    };
    hooks.loginWithFacebookAccessToken = [](const std::string& token,
                                            ResponseCompletion completion) {
        RCPINDLEAPIHelper::getCurrentInstance().loginWithFacebookAccessToken(token,
                                                                             std::move(completion));
    };
    hooks.loginWithAccessToken = [this](const std::string& token) { loginWithAccessToken(token); };
    model_ = std::make_unique<RCLoginSheetModel>(std::move(hooks));
    model_->setChangedHandler([this] { refresh(); });

    auto* title = new QLabel("Log in to PINDLE");
    QFont font = title->font();
    font.setPixelSize(18);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    emailField_ = new QLineEdit;
    emailField_->setObjectName("emailField");
    emailField_->setPlaceholderText("E-mail");
    passwordField_ = new QLineEdit;
    passwordField_->setObjectName("passwordField");
    passwordField_->setPlaceholderText("Password");
    passwordField_->setEchoMode(QLineEdit::Password);
    loginButton_ = new QPushButton(RCLoginSheetModel::kLoginTitle);
    loginButton_->setObjectName("loginButton");
    loginButton_->setAutoDefault(false);
    loginButton_->setCursor(Qt::PointingHandCursor);
    facebookButton_ = new QPushButton("Log in with Facebook");
    facebookButton_->setObjectName("facebookButton");
    facebookButton_->setAutoDefault(false);
    facebookButton_->setCursor(Qt::PointingHandCursor);
    signupButton_ = new QPushButton("Sign up");
    forgotPasswordButton_ = new QPushButton("Forgot password?");
    for (QPushButton* link : {signupButton_, forgotPasswordButton_}) {
        link->setObjectName("linkButton");
        link->setAutoDefault(false);
        link->setCursor(Qt::PointingHandCursor);
    }
    cancelButton_ = new QPushButton("Cancel");
    cancelButton_->setObjectName("cancelButton");
    cancelButton_->setAutoDefault(false);

    connect(loginButton_, &QPushButton::clicked, this,
            &RCLoginWindowController::loginButtonClicked);
    connect(passwordField_, &QLineEdit::returnPressed, this,
            &RCLoginWindowController::loginButtonClicked);
    connect(facebookButton_, &QPushButton::clicked, this,
            &RCLoginWindowController::loginWithFacebookButtonClicked);
    connect(signupButton_, &QPushButton::clicked, this, [] { openWebPage("/join"); });
    connect(forgotPasswordButton_, &QPushButton::clicked, this,
            [] { openWebPage("/password/reset"); });
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    auto* logoRow = new QHBoxLayout;
    logoRow->addStretch(1);
    logoRow->addWidget(new Logo);
    logoRow->addStretch(1);
    auto* links = new QHBoxLayout;
    links->addWidget(signupButton_);
    links->addStretch(1);
    links->addWidget(forgotPasswordButton_);
    auto* cancelRow = new QHBoxLayout;
    cancelRow->addStretch(1);
    cancelRow->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(10);
    layout->addLayout(logoRow);
    layout->addWidget(title);
    layout->addSpacing(4);
    layout->addWidget(emailField_);
    layout->addWidget(passwordField_);
    layout->addWidget(loginButton_);
    layout->addWidget(facebookButton_);
    layout->addLayout(links);
    layout->addSpacing(6);
    layout->addLayout(cancelRow);
    refresh();
}

RCLoginWindowController::~RCLoginWindowController() = default;

void RCLoginWindowController::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    emailField_->setFocus();
}

void RCLoginWindowController::refresh() {
    if (model_->loginShowsFailure() != loginButton_->property("failed").toBool()) {
        PINDLE_LOG_INFO("signin", "login button shows \"%s\"", model_->loginTitle().c_str());
    }
    loginButton_->setText(QString::fromStdString(model_->loginTitle()));
    loginButton_->setEnabled(model_->loginEnabled());
    loginButton_->setProperty("failed", model_->loginShowsFailure());
    loginButton_->style()->unpolish(loginButton_);
    loginButton_->style()->polish(loginButton_);
    facebookButton_->setEnabled(model_->facebookEnabled());
}

void RCLoginWindowController::loginButtonClicked() {
    if (model_->loginButtonClicked(emailField_->text().toStdString(),
                                   passwordField_->text().toStdString())) {
        passwordField_->clear();
    }
}

void RCLoginWindowController::loginWithFacebookButtonClicked() {
    if (!facebookLoginWindowController_) {
        auto storage = RCFileManager::getCurrentInstance().applicationSupportDirectoryURL() /
                       "facebook-web-view";
        QPointer<RCLoginWindowController> self(this);
        facebookLoginWindowController_ = std::make_unique<RCFacebookLoginWindowController>(
            storage, [self](const std::string& token) {
                if (self) {
                    self->model_->facebookAuthenticated(token);
                }
            });
    }
    facebookLoginWindowController_->promptForAuthentication();
}

void RCLoginWindowController::loginWithAccessToken(const std::string& token) {
    QPointer<RCLoginWindowController> self(this);
    settings_.pindleLoginWithAccessToken(
        token,
        [self] {
            if (self) {
                self->accept();
            }
        },
        [](const std::string& reason) {
            PINDLE_LOG_WARNING("signin", "the profile could not be read: %s",
                               log::printableText(reason).c_str());
        });
}

}  // namespace pindle::ui
