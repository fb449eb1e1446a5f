#pragma once

#include <QDialog>

#include <memory>

#include "capture/window/RCCaptureSizeWindowController.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace pindle::ui {

// The capture size sheet: width and height fields, the aspect lock and the recently used
// sizes, shown window-modal on the capture window.
class RCCaptureSizeWindow : public QDialog {
    Q_OBJECT

public:
    RCCaptureSizeWindow(std::unique_ptr<RCCaptureSizeWindowController> controller, QWidget* parent);

    QLineEdit* widthTextField() const { return widthTextField_; }
    QLineEdit* heightTextField() const { return heightTextField_; }
    QComboBox* presetsDropdown() const { return presetsDropdown_; }

    void okButtonClicked();

private:
    void showFields();

    std::unique_ptr<RCCaptureSizeWindowController> controller_;
    QLineEdit* widthTextField_;
    QLineEdit* heightTextField_;
    QCheckBox* lockAspectRatioCheckBoxButton_;
    QComboBox* presetsDropdown_;
};

}  // namespace pindle::ui
