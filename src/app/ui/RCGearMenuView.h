#pragma once

#include <QFrame>

#include "app/RCGearMenuViewController.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace pindle::ui {

// The gear menu popover: capture-cursor option, shortcut, watermark, clear captures, rate,
// contact and quit. Dialogs it opens are window-modal on sheetParent (the capture window).
class RCGearMenuView : public QFrame {
    Q_OBJECT

public:
    RCGearMenuView(RCGearMenuViewController& controller, QWidget* sheetParent);

    // Shows the popover beside anchor, read afresh from the settings.
    void popup(QWidget* anchor);

    // The account control, shown at the top of the menu (set once).
    void setAccountControl(QWidget* control);

    QComboBox* shortcutDropdown() const { return shortcutDropdown_; }
    QCheckBox* captureCursorCheckbox() const { return captureCursorCheckbox_; }

private:
    void refresh();
    void chooseWatermark();
    void confirmClearCaptures();

    RCGearMenuViewController& controller_;
    QWidget* sheetParent_;
    QCheckBox* captureCursorCheckbox_;
    QComboBox* shortcutDropdown_;
    QLabel* shortcutRouteLabel_ = nullptr;
    QLabel* watermarkFileLabel_;
    QPushButton* chooseWatermarkButton_;
    QPushButton* clearCapturesButton_;
    QPushButton* projectPageButton_;
    QPushButton* contactUsButton_;
    QPushButton* quitButton_;
};

}  // namespace pindle::ui
