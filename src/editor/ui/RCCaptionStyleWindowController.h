#pragma once

#include <QWidget>

namespace pindle {
class RCEditorCaptionsModel;
}

class QComboBox;
class QLineEdit;

namespace pindle::ui {

class RCColorPickerView;

// The floating window beside the editor where the active caption's text, colour, size, font
// and animation are chosen. A tool window of the editor (kept above it, hidden with it). It
// shows what the model's active caption has and hands every edit to the model.
class RCCaptionStyleWindowController : public QWidget {
    Q_OBJECT

public:
    // editor: the editor's window, which the style window stays with.
    RCCaptionStyleWindowController(RCEditorCaptionsModel& model, QWidget* editor);

    // Shows the active caption's style (nothing usable without one). The text field keeps
    // what the user types while it matches the caption.
    void refresh();
    // Shows the window beside the editor (placed there the first time); makeKey: gives it
    // the keyboard.
    void showWindow(bool makeKey);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeBesideEditor();

    RCEditorCaptionsModel& model_;
    QLineEdit* textField_ = nullptr;
    RCColorPickerView* colorPicker_ = nullptr;
    QComboBox* sizeMenu_ = nullptr;
    QComboBox* fontMenu_ = nullptr;
    QComboBox* animationMenu_ = nullptr;
    bool placed_ = false;
    // The caption shown last, only compared with (never followed).
    const void* shownCaption_ = nullptr;
};

}  // namespace pindle::ui
