#pragma once

#include <QFrame>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

#include "base/notifications.h"
#include "upload/RCLoginSheetModel.h"

class QLabel;
class QPushButton;

namespace pindle {
class RCUserSettings;
}

namespace pindle::ui {

class RCLoginWindowController;

// The account menu: the user name as its header, "View Profile" and "Log Out".
class RCLoggedInMenuViewController : public QFrame {
    Q_OBJECT

public:
    explicit RCLoggedInMenuViewController(RCAccountControl& account);

    void setUsername(const QString& name);
    void popup(QWidget* below);

private:
    RCAccountControl& account_;
    QPushButton* usernameButton_;
    QPushButton* viewProfileButton_;
    QPushButton* logOutButton_;
};

// The account control: "Log in" when signed out; the avatar and a caret, which open the
// account menu, when signed in. It follows the sign-in and sign-out announcements.
class RCPINDLELoginButton : public QWidget {
    Q_OBJECT

public:
    // sheetParent: the window the sign-in sheet is attached to. beforeSheet (optional) runs
    // before the sheet opens (the gear menu closes itself).
    RCPINDLELoginButton(RCUserSettings& settings, NotificationCenter& center, QWidget* sheetParent,
                        std::function<void()> beforeSheet = nullptr, QWidget* parent = nullptr);
    ~RCPINDLELoginButton() override;

    // Shows the state the settings hold.
    void updateState();
    void loginButtonClicked();

    QPushButton* loginButton() const { return loginButton_; }
    QWidget* signedInView() const { return signedInView_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    RCUserSettings& settings_;
    RCAccountControl account_;
    QWidget* sheetParent_;
    std::function<void()> beforeSheet_;
    QPushButton* loginButton_;
    QWidget* signedInView_;
    QLabel* avatarView_;
    QLabel* usernameLabel_;
    QLabel* caretLabel_;
    std::unique_ptr<RCLoggedInMenuViewController> menu_;
    QPointer<RCLoginWindowController> loginWindowController_;
    NotificationCenter::Token loginObserver_;
    NotificationCenter::Token logoutObserver_;
};

}  // namespace pindle::ui
