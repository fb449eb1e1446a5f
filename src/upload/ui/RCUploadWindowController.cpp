#include "upload/ui/RCUploadWindowController.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "base/log.h"
#include "editor/RCGIFGenerator.h"
#include "library/RCFileManager.h"
#include "library/RCUtilities.h"
#include "service/RCPINDLEAPIHelper.h"
#include "service/RCShareLinks.h"
#include "settings/RCUserSettings.h"
#include "upload/RCUploadForm.h"
#include "upload/ui/RCShareView.h"
#include "upload/ui/RCUploadButtonView.h"

namespace pindle::ui {
namespace {

const char* const kSheetStyle =
    "QDialog#uploadWindow { background: #262628; }"
    "QLabel { color: #ececee; }"
    "QLabel#dimLabel { color: #a0a0a8; }"
    "QLineEdit, QPlainTextEdit, QComboBox { color: #ececee; background: #1c1c1e; "
    "border: 1px solid #4a4a4f; border-radius: 4px; padding: 4px 6px; }"
    "QLineEdit:disabled, QComboBox:disabled { color: #707078; }"
    "QPushButton#sheetButton { color: #ececee; background: #3a3a3e; border: 1px solid #4a4a4f; "
    "border-radius: 4px; padding: 8px 14px; }"
    "QPushButton#sheetButton:hover { background: #46464b; }"
    "QPushButton#sheetButton:disabled { color: #707078; }";

// The hooks of a real upload: the file manager's temporary files, the export pipeline and
// the service client.
RCUploadSession::Hooks realHooks(const RCRecordingPtr& recording) {
    RCUploadSession::Hooks hooks;
    auto generator = RCGIFGenerator::initWithRecording(recording);
    hooks.makeTempFile = [] {
        return RCFileManager::getCurrentInstance().makeTempFileWithExtension("mp4");
    };
    hooks.exportMovie = [generator, recording](const std::filesystem::path& file,
                                               RCUploadSession::Progress progress,
                                               std::function<void(Status)> completion) {
        generator->makeVideo(file, uploadExportOptions(*recording), std::move(progress),
                             std::move(completion));
    };
    hooks.upload = [](const std::filesystem::path& file, const RCPINDLEMetadata& metadata,
                      bool isClip, RCUploadSession::Progress progress,
                      ResponseCompletion completion) {
        RCPINDLEAPIHelper::getCurrentInstance().uploadFileAtURL(
            file, metadata, isClip, std::move(progress), std::move(completion));
    };
    hooks.deleteFile = [](const std::filesystem::path& file) {
        RCFileManager::getCurrentInstance().deleteFile(file);
    };
    hooks.pageAddress = [](const std::string& gifID) {
        return RCPINDLEUtilities::gifPageURLForGIFID(gifID);
    };
    hooks.log = [](const std::string& line) {
        PINDLE_LOG_ERROR("upload", "%s", log::printableText(line).c_str());
    };
    return hooks;
}

QLabel* fieldLabel(const char* text) {
    auto* label = new QLabel(text);
    label->setObjectName("dimLabel");
    return label;
}

}  // namespace

RCUploadWindowController::RCUploadWindowController(RCRecordingPtr recording,
                                                   RCUserSettings& settings,
                                                   NotificationCenter& center, QWidget* parent)
    : QDialog(parent), recording_(std::move(recording)), settings_(settings) {
    setObjectName("uploadWindow");
    setWindowTitle("Upload to PINDLE");
    setStyleSheet(kSheetStyle);
    setMinimumWidth(440);
    session_ = RCUploadSession::make(realHooks(recording_), recording_->isClip());
    session_->setListener(RCUploadSession::Listener{
        [this] { sessionChanged(); }, [this](const std::string& gifID) { uploadFinished(gifID); }});

    containerView_ = new QStackedWidget(this);
    metadataView_ = makeMetadataView();
    successView_ = makeSuccessView();
    containerView_->addWidget(metadataView_);
    containerView_->addWidget(successView_);
    containerView_->setCurrentWidget(metadataView_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    auto* heading = new QLabel("Upload to PINDLE");
    QFont font = heading->font();
    font.setPixelSize(18);
    font.setBold(true);
    heading->setFont(font);
    layout->addWidget(heading);
    layout->addWidget(containerView_);

    loginObserver_ = center.addObserver(RCUserSettings::kPINDLELoginNotification, nullptr,
                                        [this](const Notification&) { userLoginStatusChanged(); });
    logoutObserver_ = center.addObserver(RCUserSettings::kPINDLELogoutNotification, nullptr,
                                         [this](const Notification&) { userLoginStatusChanged(); });
    userLoginStatusChanged();
}

RCUploadWindowController::~RCUploadWindowController() {
    // The upload goes on without the sheet.
    session_->setListener(std::nullopt);
}

QWidget* RCUploadWindowController::makeMetadataView() {
    auto* view = new QWidget;
    view->setObjectName("metadataView");
    tagsField_ = new QLineEdit;
    tagsField_->setObjectName("tagsField");
    tagsField_->setPlaceholderText("funny, cats, reaction");
    sourceURLField_ = new QLineEdit;
    sourceURLField_->setObjectName("sourceURLField");
    sourceURLField_->setPlaceholderText("https://");
    usernameField_ = new QLineEdit;
    usernameField_->setObjectName("usernameField");
    channelField_ = new QLineEdit;
    channelField_->setObjectName("channelField");
    titleField_ = new QLineEdit;
    titleField_->setObjectName("titleField");
    descriptionField_ = new QPlainTextEdit;
    descriptionField_->setObjectName("descriptionField");
    descriptionField_->setFont(QFont("Helvetica", 15));
    descriptionField_->setFixedHeight(72);
    ratingList_ = new QComboBox;
    ratingList_->setObjectName("ratingList");
    for (const RCRatingItem& item : ratingItems()) {
        ratingList_->addItem(item.label, int(item.rating));
    }
    privacyList_ = new QComboBox;
    privacyList_->setObjectName("privacyList");
    for (const RCPrivacyItem& item : privacyItems()) {
        privacyList_->addItem(item.label, item.isHidden);
    }

    auto* form = new QFormLayout;
    form_ = form;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setVerticalSpacing(8);
    auto addRow = [&](const char* label, QWidget* field, QList<QWidget*>* group) {
        form->addRow(fieldLabel(label), field);
        if (group) {
            group->append(field);
        }
    };
    addRow("Title", titleField_, &clipRows_);
    addRow("Description", descriptionField_, &clipRows_);
    addRow("Tags", tagsField_, nullptr);
    addRow("Source URL", sourceURLField_, nullptr);
    addRow("User name", usernameField_, &staffRows_);
    addRow("Channel", channelField_, &staffRows_);
    addRow("Rating", ratingList_, &staffRows_);
    addRow("Privacy", privacyList_, &staffRows_);

    confirmUploadButton_ = new RCUploadButtonView(session_->confirmButton());
    confirmUploadButton_->setObjectName("confirmUploadButton");
    connect(confirmUploadButton_, &RCUploadButtonView::clicked, this,
            &RCUploadWindowController::confirmUploadClicked);
    cancelButton_ = new QPushButton("Cancel");
    cancelButton_->setObjectName("sheetButton");
    cancelButton_->setAutoDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cancelButton_);
    buttons->addWidget(confirmUploadButton_, 1);

    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    return view;
}

QWidget* RCUploadWindowController::makeSuccessView() {
    auto* view = new QWidget;
    view->setObjectName("successView");
    auto* message = new QLabel("Your GIF is up. Copy its address or share it:");
    successButton_ = new RCUploadButtonView(session_->successButton());
    successButton_->setObjectName("successButton");
    shareView_ = new RCShareView;
    doneButton_ = new QPushButton("Done");
    doneButton_->setObjectName("sheetButton");
    doneButton_->setAutoDefault(false);
    connect(doneButton_, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->addWidget(message);
    layout->addWidget(successButton_);
    layout->addWidget(shareView_);
    layout->addStretch(1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(doneButton_);
    layout->addLayout(row);
    return view;
}

void RCUploadWindowController::userLoginStatusChanged() {
    RCUploadFieldVisibility visibility = uploadFieldVisibility(
        settings_.isLoggedIntoPINDLE(), settings_.isPINDLEStaff(), recording_->isClip());
    for (QWidget* field : staffRows_) {
        form_->setRowVisible(field, visibility.staffFields);
    }
    for (QWidget* field : clipRows_) {
        form_->setRowVisible(field, visibility.clipFields);
    }
    adjustSize();
}

void RCUploadWindowController::confirmUploadClicked() {
    if (!session_->confirmButton().acceptsPress() || session_->isRunning()) {
        return;
    }
    RCUploadFormInput input;
    input.sourceURL = sourceURLField_->text().toStdString();
    input.tags = tagsField_->text().toStdString();
    input.username = usernameField_->text().toStdString();
    input.channel = channelField_->text().toStdString();
    input.title = titleField_->text().toStdString();
    input.description = descriptionField_->toPlainText().toStdString();
    input.ratingIndex = ratingList_->currentIndex();
    input.privacyIndex = privacyList_->currentIndex();
    RCUploadFieldVisibility visibility = uploadFieldVisibility(
        settings_.isLoggedIntoPINDLE(), settings_.isPINDLEStaff(), recording_->isClip());
    RCPINDLEMetadata metadata = uploadMetadata(input, visibility, recording_->isClip(),
                                               [] { return RCUtilities::makeTempFileName(); });
    setFormLocked(true);
    if (!session_->confirmUpload(metadata)) {
        setFormLocked(false);
    }
    sessionChanged();
}

void RCUploadWindowController::setFormLocked(bool locked) {
    for (QWidget* widget : std::initializer_list<QWidget*>{
             tagsField_, sourceURLField_, usernameField_, channelField_, titleField_,
             descriptionField_, ratingList_, privacyList_, cancelButton_}) {
        widget->setEnabled(!locked);
    }
    if (!locked && containerView_->currentWidget() == metadataView_) {
        // Disabling the fields took the keyboard focus away; it goes back to the form.
        tagsField_->setFocus();
    }
}

void RCUploadWindowController::sessionChanged() {
    const RCUploadButton& confirm = session_->confirmButton();
    if (confirm.title() != shownTitle_) {
        shownTitle_ = confirm.title();
        PINDLE_LOG_INFO("upload", "upload button shows \"%s\"", shownTitle_.c_str());
    }
    confirmUploadButton_->refresh();
    successButton_->refresh();
}

void RCUploadWindowController::uploadFinished(const std::string& gifID) {
    if (!gifID.empty()) {
        shareView_->setUploadedPINDLEGIFID(gifID);
        containerView_->setCurrentWidget(successView_);
        PINDLE_LOG_INFO("upload", "uploaded as %s",
                        log::printableText(session_->successButton().address()).c_str());
    }
    setFormLocked(false);
    sessionChanged();
}

}  // namespace pindle::ui
