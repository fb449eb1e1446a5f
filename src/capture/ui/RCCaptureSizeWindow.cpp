#include "capture/ui/RCCaptureSizeWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QValidator>

namespace pindle::ui {
namespace {

// Accepts, while typing, an empty text or a whole number greater than 0.
class PositiveIntegerNumberFormatter : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return RCCaptureSizeWindowController::isPartialStringValid(input.toStdString()) ? Acceptable
                                                                                        : Invalid;
    }
};

}  // namespace

RCCaptureSizeWindow::RCCaptureSizeWindow(std::unique_ptr<RCCaptureSizeWindowController> controller,
                                         QWidget* parent)
    : QDialog(parent), controller_(std::move(controller)) {
    setObjectName("sizeSheet");
    setWindowTitle("Capture Size");
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* title = new QLabel("<b>Capture size</b>");
    auto* hint = new QLabel("Width and height of the recorded region, in pixels.");
    hint->setObjectName("dimLabel");

    widthTextField_ = new QLineEdit;
    heightTextField_ = new QLineEdit;
    for (QLineEdit* field : {widthTextField_, heightTextField_}) {
        field->setValidator(new PositiveIntegerNumberFormatter(field));
        field->setAlignment(Qt::AlignRight);
        field->setMaximumWidth(90);
    }
    widthTextField_->setAccessibleName("Width");
    heightTextField_->setAccessibleName("Height");
    lockAspectRatioCheckBoxButton_ = new QCheckBox("Lock aspect ratio");
    presetsDropdown_ = new QComboBox;
    presetsDropdown_->setAccessibleName("Recently used sizes");
    for (const std::string& titleText : controller_->presetTitles()) {
        presetsDropdown_->addItem(QString::fromStdString(titleText));
    }

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Width:"), 0, 0);
    grid->addWidget(widthTextField_, 0, 1);
    grid->addWidget(new QLabel("Height:"), 1, 0);
    grid->addWidget(heightTextField_, 1, 1);
    grid->addWidget(lockAspectRatioCheckBoxButton_, 2, 1);
    grid->addWidget(new QLabel("Recent:"), 3, 0);
    grid->addWidget(presetsDropdown_, 3, 1);
    grid->setColumnStretch(2, 1);

    auto* cancel = new QPushButton("Cancel");
    auto* ok = new QPushButton("OK");
    cancel->setObjectName("sheetButton");
    ok->setObjectName("sheetButton");
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(hint);
    layout->addLayout(grid);
    layout->addSpacing(4);
    layout->addLayout(buttons);

    showFields();
    connect(widthTextField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { controller_->setWidthText(text.toStdString()); });
    connect(heightTextField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { controller_->setHeightText(text.toStdString()); });
    connect(lockAspectRatioCheckBoxButton_, &QCheckBox::toggled, this, [this](bool checked) {
        controller_->lockAspectRatioCheckboxChanged(checked);
        showFields();
    });
    connect(presetsDropdown_, &QComboBox::activated, this, [this](int index) {
        controller_->presetChanged(static_cast<size_t>(index));
        showFields();
    });
    connect(ok, &QPushButton::clicked, this, &RCCaptureSizeWindow::okButtonClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    widthTextField_->selectAll();
}

void RCCaptureSizeWindow::showFields() {
    widthTextField_->setText(QString::fromStdString(controller_->widthText()));
    heightTextField_->setText(QString::fromStdString(controller_->heightText()));
}

void RCCaptureSizeWindow::okButtonClicked() {
    auto alert = controller_->okButtonClicked();
    if (!alert) {
        accept();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(alert->messageText),
                                QString::fromStdString(alert->messageText), QMessageBox::Ok, this);
    box->setInformativeText(QString::fromStdString(alert->informativeText));
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName("sizeAlert");
    box->open();
}

}  // namespace pindle::ui
