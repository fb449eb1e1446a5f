#pragma once

#include <QWidget>

#include <array>
#include <optional>
#include <string>

#include "upload/RCShareViewModel.h"

class QLabel;

namespace pindle::ui {

// The black veil over the share buttons until an upload is done: it swallows presses and
// says why while the pointer is over it.
class RCUploadRequiredView : public QWidget {
public:
    explicit RCUploadRequiredView(QWidget* parent);
    QLabel* label() const { return label_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent*) override;

private:
    QLabel* label_;
};

class ShareButton;

// Six buttons that share the uploaded GIF by e-mail, on Facebook, Twitter, Reddit, Tumblr
// and Pinterest, each opening its address with the desktop's default handler.
class RCShareView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kButtonSide = 28;

    explicit RCShareView(QWidget* parent = nullptr);

    void setUploadedPINDLEGIFID(std::optional<std::string> gifID);
    const RCShareViewModel& model() const { return model_; }
    RCUploadRequiredView* uploadRequiredView() const { return uploadRequiredView_; }

    void share(RCShareTarget target);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void refresh();

    RCShareViewModel model_;
    std::array<ShareButton*, 6> buttons_{};
    RCUploadRequiredView* uploadRequiredView_;
};

}  // namespace pindle::ui
