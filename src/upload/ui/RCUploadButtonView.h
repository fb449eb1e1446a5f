#pragma once

#include <QWidget>

#include "upload/RCUploadButton.h"

class QLineEdit;
class QPushButton;

namespace pindle::ui {

// Draws an RCUploadButton: its colour, the progress bar across it and the title; once the
// GIF is up, the page address and the COPY button instead. Presses are passed on only while
// the model takes them.
class RCUploadButtonView : public QWidget {
    Q_OBJECT

public:
    RCUploadButtonView(RCUploadButton& model, QWidget* parent = nullptr);

    // Shows the model's state again.
    void refresh();

    QLineEdit* addressField() const { return addressField_; }
    QPushButton* copyButton() const { return copyButton_; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    RCUploadButton& model_;
    QLineEdit* addressField_;
    QPushButton* copyButton_;
    bool pressed_ = false;
};

}  // namespace pindle::ui
