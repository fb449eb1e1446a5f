#include "app/ui/RCGearMenuView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace pindle::ui {
namespace {

QFrame* separator() {
    auto* line = new QFrame;
    line->setObjectName("separator");
    return line;
}

}  // namespace

RCGearMenuView::RCGearMenuView(RCGearMenuViewController& controller, QWidget* sheetParent)
    : QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint),
      controller_(controller),
      sheetParent_(sheetParent) {
    setObjectName("gearMenu");
    setWindowTitle("Settings");
    setAttribute(Qt::WA_StyledBackground);

    captureCursorCheckbox_ = new QCheckBox("Capture mouse cursor and clicks");
    shortcutDropdown_ = new QComboBox;
    shortcutDropdown_->setAccessibleName("Capture shortcut");
    shortcutDropdown_->setMaxVisibleItems(14);
    for (const std::string& title : controller_.shortcutTitles()) {
        shortcutDropdown_->addItem(QString::fromStdString(title));
    }
    auto* shortcutLabel = new QLabel("Start/stop recording:");
    shortcutLabel->setObjectName("dimLabel");
    auto* shortcutRow = new QHBoxLayout;
    shortcutRow->addWidget(shortcutLabel);
    shortcutRow->addStretch();
    shortcutRow->addWidget(shortcutDropdown_);

    shortcutRouteLabel_ = new QLabel;
    shortcutRouteLabel_->setObjectName("dimLabel");
    shortcutRouteLabel_->setWordWrap(true);
    shortcutRouteLabel_->setMaximumWidth(300);

    auto* watermarkTitle = new QLabel("Watermark:");
    watermarkTitle->setObjectName("dimLabel");
    watermarkFileLabel_ = new QLabel;
    watermarkFileLabel_->setMinimumWidth(120);
    watermarkFileLabel_->setMaximumWidth(180);
    chooseWatermarkButton_ = new QPushButton;
    chooseWatermarkButton_->setObjectName("smallButton");
    auto* watermarkRow = new QHBoxLayout;
    watermarkRow->addWidget(watermarkTitle);
    watermarkRow->addWidget(watermarkFileLabel_, 1);
    watermarkRow->addWidget(chooseWatermarkButton_);

    clearCapturesButton_ = new QPushButton(RCGearMenuViewController::kClearCapturesTitle);
    projectPageButton_ = new QPushButton(RCGearMenuViewController::kProjectPageTitle);
    contactUsButton_ = new QPushButton(RCGearMenuViewController::kContactUsTitle);
    quitButton_ = new QPushButton(RCGearMenuViewController::kQuitTitle);
    for (QPushButton* button :
         {clearCapturesButton_, projectPageButton_, contactUsButton_, quitButton_}) {
        button->setObjectName("menuButton");
        button->setCursor(Qt::PointingHandCursor);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 10);
    layout->setSpacing(8);
    layout->addWidget(captureCursorCheckbox_);
    layout->addLayout(shortcutRow);
    layout->addWidget(shortcutRouteLabel_);
    layout->addLayout(watermarkRow);
    layout->addWidget(separator());
    layout->setSpacing(2);
    layout->addWidget(clearCapturesButton_);
    layout->addWidget(projectPageButton_);
    layout->addWidget(contactUsButton_);
    layout->addWidget(separator());
    layout->addWidget(quitButton_);

    connect(captureCursorCheckbox_, &QCheckBox::toggled, this,
            [this](bool checked) { controller_.captureCursorCheckboxChanged(checked); });
    connect(shortcutDropdown_, &QComboBox::activated, this, [this](int index) {
        controller_.shortcutChanged(static_cast<size_t>(index));
        shortcutDropdown_->setCurrentIndex(static_cast<int>(controller_.selectedShortcutIndex()));
    });
    connect(chooseWatermarkButton_, &QPushButton::clicked, this, [this] {
        if (controller_.watermarkButtonClicked()) {
            chooseWatermark();
        }
        refresh();
    });
    connect(clearCapturesButton_, &QPushButton::clicked, this,
            &RCGearMenuView::confirmClearCaptures);
    connect(projectPageButton_, &QPushButton::clicked, this, [this] {
        hide();
        controller_.projectPageClicked();
    });
    connect(contactUsButton_, &QPushButton::clicked, this, [this] {
        hide();
        controller_.contactUsClicked();
    });
    connect(quitButton_, &QPushButton::clicked, this, [this] {
        hide();
        controller_.quitClicked();
    });
}

void RCGearMenuView::setAccountControl(QWidget* control) {
    auto* box = static_cast<QVBoxLayout*>(layout());
    control->setParent(this);
    box->insertWidget(0, control);
    box->insertSpacing(1, 6);
    box->insertWidget(2, separator());
    box->insertSpacing(3, 6);
}

void RCGearMenuView::refresh() {
    controller_.setupGearMenu();
    QSignalBlocker blockCheckbox(captureCursorCheckbox_);
    captureCursorCheckbox_->setChecked(controller_.captureCursorChecked());
    shortcutDropdown_->setCurrentIndex(static_cast<int>(controller_.selectedShortcutIndex()));
    const std::string route = controller_.shortcutRouteText();
    shortcutRouteLabel_->setText(QString::fromStdString(route));
    shortcutRouteLabel_->setVisible(!route.empty());
    QString label = QString::fromStdString(controller_.watermarkFileLabel());
    watermarkFileLabel_->setText(
        watermarkFileLabel_->fontMetrics().elidedText(label, Qt::ElideMiddle, 170));
    watermarkFileLabel_->setToolTip(label);
    chooseWatermarkButton_->setText(QString::fromStdString(controller_.watermarkButtonTitle()));
}

void RCGearMenuView::popup(QWidget* anchor) {
    if (isVisible()) {
        return;
    }
    refresh();
    adjustSize();
    // Beside the gear button, vertically centred on it, kept on its screen.
    QPoint gear = anchor->mapToGlobal(QPoint(anchor->width(), anchor->height() / 2));
    QPoint origin(gear.x() + 6, gear.y() - height() / 2);
    QScreen* screen = anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
    QRect available = screen->availableGeometry();
    if (origin.x() + width() > available.right()) {
        origin.setX(anchor->mapToGlobal(QPoint(0, 0)).x() - width() - 6);
    }
    origin.setY(std::clamp(origin.y(), available.top(), available.bottom() - height()));
    origin.setX(std::max(origin.x(), available.left()));
    move(origin);
    show();
}

void RCGearMenuView::chooseWatermark() {
    hide();
    auto* dialog = new QFileDialog(sheetParent_, "Choose a Watermark Image");
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter("PNG images (*.png)");
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        controller_.watermarkFileChosen(file.toStdString());
        refresh();
    });
    dialog->open();
}

void RCGearMenuView::confirmClearCaptures() {
    hide();
    auto* alert = new QMessageBox(QMessageBox::Warning, "Clear Captures?", "Clear Captures?",
                                  QMessageBox::NoButton, sheetParent_);
    alert->setInformativeText("Are you sure you want to delete all your captures?");
    QPushButton* yes = alert->addButton("Yes", QMessageBox::DestructiveRole);
    alert->addButton("Cancel", QMessageBox::RejectRole);
    alert->setDefaultButton(yes);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setObjectName("clearCapturesAlert");
    connect(alert, &QMessageBox::buttonClicked, this, [this, yes](QAbstractButton* clicked) {
        if (clicked == yes) {
            controller_.clearCapturesConfirmed();
        }
    });
    alert->open();
}

}  // namespace pindle::ui
