#include "editor/ui/RCCaptionStyleWindowController.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "editor/RCEditorCaptions.h"
#include "editor/ui/RCColorPickerView.h"

namespace pindle::ui {

namespace {

// Room between the editor and the style window.
constexpr int kSpacing = 8;

std::vector<QColor> paletteColors() {
    std::vector<QColor> colors;
    for (const RCPaletteColor& entry : captionPalette()) {
        colors.push_back(QColor::fromRgbF(float(entry.color.red), float(entry.color.green),
                                          float(entry.color.blue), float(entry.color.alpha)));
    }
    return colors;
}

QComboBox* makeMenu(const char* name, const QStringList& labels, QWidget* parent) {
    auto* menu = new QComboBox(parent);
    menu->setObjectName(name);
    menu->addItems(labels);
    return menu;
}

}  // namespace

RCCaptionStyleWindowController::RCCaptionStyleWindowController(RCEditorCaptionsModel& model,
                                                               QWidget* editor)
    : QWidget(editor, Qt::Tool), model_(model) {
    setObjectName("captionStyleWindow");
    setWindowTitle("Caption Style");
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet("#captionStyleWindow { background: #262628; }");

    textField_ = new QLineEdit(this);
    textField_->setObjectName("captionTextField");
    textField_->setMinimumWidth(300);
    textField_->installEventFilter(this);
    connect(textField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setText(text.toStdString()); });

    colorPicker_ = new RCColorPickerView(paletteColors(), this);
    connect(colorPicker_, &RCColorPickerView::colorSelected, this,
            [this](int index) { model_.chooseColorIndex(index); });

    QStringList sizes;
    for (const RCCaptionSizeItem& item : captionSizeItems()) {
        sizes << item.label;
    }
    QStringList fonts;
    for (const RCCaptionFontItem& item : captionFontItems()) {
        fonts << item.label;
    }
    QStringList animations;
    for (int64_t code = 0; auto type = captionAnimationTypeFromCode(code); ++code) {
        animations << captionAnimationTypeLabel(*type);
    }
    sizeMenu_ = makeMenu("captionSizeMenu", sizes, this);
    fontMenu_ = makeMenu("captionFontMenu", fonts, this);
    animationMenu_ = makeMenu("captionAnimationMenu", animations, this);
    connect(sizeMenu_, &QComboBox::activated, this,
            [this](int index) { model_.chooseSizeIndex(index); });
    connect(fontMenu_, &QComboBox::activated, this,
            [this](int index) { model_.chooseFontIndex(index); });
    connect(animationMenu_, &QComboBox::activated, this,
            [this](int index) { model_.chooseAnimationIndex(index); });

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow("Color", colorPicker_);
    form->addRow("Size", sizeMenu_);
    form->addRow("Font", fontMenu_);
    form->addRow("Animation", animationMenu_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    layout->addWidget(textField_);
    layout->addLayout(form);
    refresh();
    adjustSize();
}

bool RCCaptionStyleWindowController::eventFilter(QObject* watched, QEvent* event) {
    // A click into the new caption's placeholder text selects all of it, so that typing
    // replaces it. After the field's own handling, which places the cursor.
    if (watched == textField_ && event->type() == QEvent::MouseButtonPress &&
        model_.textFieldClickSelectsAll()) {
        QTimer::singleShot(0, textField_, [field = textField_] { field->selectAll(); });
    }
    return QWidget::eventFilter(watched, event);
}

void RCCaptionStyleWindowController::refresh() {
    auto caption = model_.styleCaption();
    for (QWidget* control : std::initializer_list<QWidget*>{textField_, colorPicker_, sizeMenu_,
                                                            fontMenu_, animationMenu_}) {
        control->setEnabled(caption != nullptr);
    }
    QString text = caption ? QString::fromStdString(caption->text) : QString();
    if (textField_->text() != text) {
        textField_->setText(text);
    }
    if (caption.get() != shownCaption_) {
        // Another caption: ready for its text to be typed.
        shownCaption_ = caption.get();
        textField_->setFocus();
        if (model_.textFieldClickSelectsAll()) {
            textField_->selectAll();
        }
    }
    colorPicker_->setSelectedIndex(model_.styleColorIndex());
    sizeMenu_->setCurrentIndex(model_.styleSizeIndex());
    fontMenu_->setCurrentIndex(model_.styleFontIndex());
    animationMenu_->setCurrentIndex(model_.styleAnimationIndex());
}

void RCCaptionStyleWindowController::placeBesideEditor() {
    QWidget* editor = parentWidget() ? parentWidget()->window() : nullptr;
    if (!editor) {
        return;
    }
    QScreen* screen = editor->screen();
    QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 15, 1 << 15);
    QRect frame = editor->frameGeometry();
    QSize size = frameSize().isValid() ? frameSize() : sizeHint();
    // To the right of the editor, else to its left, top edges level; where neither fits,
    // inside the right edge of the screen.
    int top = std::clamp(frame.top(), available.top(),
                         std::max(available.top(), available.bottom() + 1 - size.height()));
    QPoint origin(frame.right() + 1 + kSpacing, top);
    if (origin.x() + size.width() > available.right() + 1) {
        origin.setX(frame.left() - kSpacing - size.width());
        if (origin.x() < available.left()) {
            origin.setX(available.right() + 1 - size.width());
        }
    }
    move(origin);
}

void RCCaptionStyleWindowController::showWindow(bool makeKey) {
    refresh();
    if (!placed_) {
        adjustSize();
        placeBesideEditor();
        placed_ = true;
    }
    show();
    raise();
    if (makeKey) {
        activateWindow();
    }
}

}  // namespace pindle::ui
