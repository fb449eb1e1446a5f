#pragma once

#include <QDialog>

#include <filesystem>
#include <memory>

#include "upload/RCLoginSheetModel.h"

class QLineEdit;
class QPushButton;

namespace pindle {
class RCUserSettings;
}

namespace pindle::ui {

class RCFacebookLoginWindowController;

// The sign-in sheet: e-mail and password (Return in the password field signs in), the
// Facebook sign-in, the sign-up and forgot-password links, and cancel. It ends once the
// settings have stored the signed-in user's profile. There is no Apple sign-in on Linux.
class RCLoginWindowController : public QDialog {
    Q_OBJECT

public:
    RCLoginWindowController(RCUserSettings& settings, QWidget* parent);
    ~RCLoginWindowController() override;

    void loginButtonClicked();
    void loginWithFacebookButtonClicked();
    void loginWithAccessToken(const std::string& token);

    const RCLoginSheetModel& model() const { return *model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    RCUserSettings& settings_;
    std::unique_ptr<RCLoginSheetModel> model_;
    QLineEdit* emailField_ = nullptr;
    QLineEdit* passwordField_ = nullptr;
    QPushButton* loginButton_ = nullptr;
    QPushButton* facebookButton_ = nullptr;
    QPushButton* signupButton_ = nullptr;
    QPushButton* forgotPasswordButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::unique_ptr<RCFacebookLoginWindowController> facebookLoginWindowController_;
};

}  // namespace pindle::ui
