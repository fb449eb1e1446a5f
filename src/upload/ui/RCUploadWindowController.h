#pragma once

#include <QDialog>

#include <memory>

#include "base/notifications.h"
#include "library/RCRecording.h"
#include "upload/RCUploadSession.h"

class QComboBox;
class QFormLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace pindle {
class RCUserSettings;
}

namespace pindle::ui {

class RCShareView;
class RCUploadButtonView;

// The upload sheet: the metadata form, one combined progress bar for the export and the
// transfer, and on success the GIF's address with the share buttons.
//
// The upload is an RCUploadSession that outlives the sheet: closing the sheet detaches it,
// and the work ends (temporary movie deleted) without touching the closed sheet.
class RCUploadWindowController : public QDialog {
    Q_OBJECT

public:
    // settings: the account (who may see the staff fields); center: where its sign-in and
    // sign-out are announced.
    RCUploadWindowController(RCRecordingPtr recording, RCUserSettings& settings,
                             NotificationCenter& center, QWidget* parent);
    ~RCUploadWindowController() override;

    void confirmUploadClicked();
    void userLoginStatusChanged();

    const std::shared_ptr<RCUploadSession>& session() const { return session_; }

private:
    void sessionChanged();
    void uploadFinished(const std::string& gifID);
    void setFormLocked(bool locked);
    QWidget* makeMetadataView();
    QWidget* makeSuccessView();

    RCRecordingPtr recording_;
    RCUserSettings& settings_;
    std::shared_ptr<RCUploadSession> session_;
    NotificationCenter::Token loginObserver_;
    NotificationCenter::Token logoutObserver_;

    QStackedWidget* containerView_ = nullptr;
    QWidget* metadataView_ = nullptr;
    QWidget* successView_ = nullptr;
    QLineEdit* tagsField_ = nullptr;
    QLineEdit* sourceURLField_ = nullptr;
    QLineEdit* usernameField_ = nullptr;
    QLineEdit* channelField_ = nullptr;
    QLineEdit* titleField_ = nullptr;
    QPlainTextEdit* descriptionField_ = nullptr;
    QComboBox* ratingList_ = nullptr;
    QComboBox* privacyList_ = nullptr;
    QFormLayout* form_ = nullptr;
    QList<QWidget*> staffRows_;  // the fields of the rows shown to staff only
    QList<QWidget*> clipRows_;   // and to clips only
    RCUploadButtonView* confirmUploadButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    RCUploadButtonView* successButton_ = nullptr;
    RCShareView* shareView_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    std::string shownTitle_;  // the confirm button's title last shown, for the log
};

}  // namespace pindle::ui
