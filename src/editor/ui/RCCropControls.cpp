#include "editor/ui/RCCropControls.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>

#include "editor/ui/RCEditorPlayerView.h"

namespace pindle::ui {

RCCropControls::RCCropControls(RCEditorOptionsModel& model, RCEditorPlayerView* playerView,
                               QWidget* parent)
    : QWidget(parent),
      model_(model),
      playerView_(playerView),
      editing_(model.recording()->dimensions(), model.cropRect()) {
    modeButton_ = new QPushButton("Draw");
    modeButton_->setObjectName("cropModeButton");
    modeButton_->setCheckable(true);
    modeButton_->setFocusPolicy(Qt::NoFocus);
    modeButton_->setCursor(Qt::PointingHandCursor);
    modeButton_->setToolTip("Draw the part of the picture to keep on the preview.");
    connect(modeButton_, &QPushButton::toggled, this, &RCCropControls::setCropModeEnabled);

    aspectButton_ = new QPushButton("Free");
    aspectButton_->setObjectName("cropAspect");
    aspectButton_->setCheckable(true);
    aspectButton_->setFocusPolicy(Qt::NoFocus);
    aspectButton_->setCursor(Qt::PointingHandCursor);
    aspectButton_->setToolTip(
        "Free or locked shape: Lock keeps the rectangle's shape while "
        "it is resized.");
    connect(aspectButton_, &QPushButton::toggled, this, [this](bool locked) {
        aspectButton_->setText(locked ? "Lock" : "Free");
        editing_.setAspectLocked(locked);
    });

    auto* reset = new QPushButton("Reset");
    reset->setObjectName("cropReset");
    reset->setFocusPolicy(Qt::NoFocus);
    reset->setCursor(Qt::PointingHandCursor);
    connect(reset, &QPushButton::clicked, this, [this] {
        editing_.setCrop(std::nullopt);
        apply();
    });

    numbersButton_ = new QPushButton;
    numbersButton_->setObjectName("cropNumbers");
    numbersButton_->setFocusPolicy(Qt::NoFocus);
    numbersButton_->setCursor(Qt::PointingHandCursor);
    numbersButton_->setFlat(true);
    numbersButton_->setToolTip("Type the exact rectangle, in the recording's pixels.");
    connect(numbersButton_, &QPushButton::clicked, this, &RCCropControls::openNumbersSheet);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(modeButton_);
    row->addWidget(aspectButton_);
    row->addWidget(reset);
    row->addWidget(numbersButton_);

    if (playerView_) {
        connect(playerView_, &RCEditorPlayerView::cropEdited, this, &RCCropControls::apply);
    }
    updateLabel();
}

RCCropControls::~RCCropControls() {
    if (playerView_) {
        playerView_->setCropEditing(nullptr);
    }
}

bool RCCropControls::cropModeEnabled() const {
    return modeButton_->isChecked();
}

void RCCropControls::setCropModeEnabled(bool enabled) {
    if (modeButton_->isChecked() != enabled) {
        modeButton_->setChecked(enabled);  // comes back here through toggled
        return;
    }
    modeButton_->setText(enabled ? "Done" : "Draw");
    editing_.setCrop(model_.cropRect());
    if (playerView_) {
        playerView_->setCropEditing(enabled ? &editing_ : nullptr);
    }
}

void RCCropControls::openNumbersSheet() {
    auto* sheet = new QDialog(window());
    sheet->setObjectName("cropNumbersSheet");
    sheet->setWindowTitle("Crop");
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    editing_.setCrop(model_.cropRect());
    CropRect rect = editing_.rect();
    Size picture = editing_.picture();
    auto* form = new QFormLayout(sheet);
    auto spin = [&](const char* name, int value, int minimum, double maximum) {
        auto* box = new QSpinBox;
        box->setObjectName(name);
        box->setRange(minimum, std::max(minimum, int(maximum)));
        box->setValue(value);
        box->setSuffix(" px");
        return box;
    };
    QSpinBox* x = spin("cropX", rect.x, 0, picture.width - 1);
    QSpinBox* y = spin("cropY", rect.y, 0, picture.height - 1);
    QSpinBox* w = spin("cropWidth", rect.width, 1, picture.width);
    QSpinBox* h = spin("cropHeight", rect.height, 1, picture.height);
    form->addRow("X", x);
    form->addRow("Y", y);
    form->addRow("Width", w);
    form->addRow("Height", h);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, sheet, [this, sheet, x, y, w, h] {
        editing_.setNumbers(CropRect{x->value(), y->value(), w->value(), h->value()});
        apply();
        sheet->accept();
    });
    sheet->open();
}

void RCCropControls::hideEvent(QHideEvent* event) {
    // The other tab uses the mouse on the preview for itself.
    setCropModeEnabled(false);
    QWidget::hideEvent(event);
}

void RCCropControls::apply() {
    model_.setCropRect(editing_.crop());
    if (playerView_) {
        playerView_->cropChanged();
    }
    updateLabel();
    emit cropChanged();
}

void RCCropControls::updateLabel() {
    auto crop = model_.cropRect();
    numbersButton_->setText(crop ? QString("%1, %2  %3 \u00d7 %4")
                                       .arg(crop->x)
                                       .arg(crop->y)
                                       .arg(crop->width)
                                       .arg(crop->height)
                                 : QString("Whole picture"));
}

}  // namespace pindle::ui
