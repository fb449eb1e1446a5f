#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "capture/ui/RCCaptureGlassWindow.h"
#include "capture/ui/RCCaptureSizeWindow.h"
#include "capture/window/RCCaptureWindowControl.h"
#include "capture/window/RCCaptureWindowController.h"

class QLabel;
class QMenu;
class QPushButton;
class QAbstractButton;

namespace pindle::ui {

class RCCaptureButton;
class RCCaptureLastButton;

// The capture window: a frameless, always-on-top frame with its own title bar, a
// see-through region and the control strip below it, and the library strip under that.
//
// The region is a hole in the window's shape, so what lies under it shows through, takes
// clicks, and is what gets recorded; the window itself never appears in a capture, with or
// without a compositing manager. The rules live in RCCaptureWindowController; this class
// shows them and reports the user's actions.
class RCCaptureWindow : public QWidget, public RCCaptureWindowView, public RCCaptureWindowControl {
    Q_OBJECT

public:
    static constexpr int kTitleBarHeight = 30;
    static constexpr int kControlStripHeight = 46;
    static constexpr int kBorder = 2;

    RCCaptureWindow(RCUserSettings& settings, std::unique_ptr<RCCaptureEngineControl> engine);
    ~RCCaptureWindow() override;

    RCCaptureWindowController& controller() { return *controller_; }

    // The library strip, attached below the control strip at the window's own width. The
    // window owns the view, and `owner` (what the view shows) until it goes.
    void setLibraryView(QWidget* view, std::shared_ptr<void> owner);
    QWidget* libraryView() const { return libraryView_; }
    // What the close button and closing the window ask for: quitting the application.
    void setQuitAction(std::function<void()> quit) { quit_ = std::move(quit); }
    // The gear menu popover to show from the gear button.
    void setGearMenu(std::function<void(QWidget* anchor)> open) { openGearMenu_ = std::move(open); }
    // The application menu behind the logo.
    void setApplicationMenu(QMenu* menu);
    void openCaptureSizeSheet();
    RCCaptureSizeWindow* captureSizeWindow() const { return sizeWindow_; }

    // RCCaptureWindowControl
    void showWindow() override;
    bool isMiniaturized() const override;
    void miniaturize() override;
    void deminiaturize() override;
    void toggleCapture() override { controller_->toggleCapture(); }
    void captureLast() override { controller_->captureLastButtonClicked(); }
    bool isBusy() const override { return controller_->isBusy(); }
    void openGearMenu() override;

    // RCCaptureWindowView
    Rect windowFrame() const override;
    Rect captureViewFrame() const override;
    void setWindowFrame(const Rect& frame, bool animate) override;
    double chromeHeight() const override { return kTitleBarHeight + kControlStripHeight; }
    double chromeWidth() const override { return 2 * kBorder; }
    std::vector<Rect> displayFrames() const override;
    void showDimensionsText(const std::string& text) override;
    void applyAppearance(const RCCaptureWindowAppearance& appearance) override;
    void captureLastButtonChanged(const RCCaptureLastButtonModel& model) override;
    void setCountdownTimerRunning(bool running) override;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void moveEvent(QMoveEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class ResizeGrip;
    void layoutParts();
    void updateShape();
    void gripDragged(QPoint start, QSize startSize, QPoint now);
    void requestQuit();
    int libraryHeight() const;
    QRect regionRect() const;

    std::unique_ptr<RCCaptureWindowController> controller_;
    std::shared_ptr<void> libraryOwner_;
    RCCaptureWindowAppearance appearance_;
    QWidget* titleBar_;
    QAbstractButton* logoButton_;
    QLabel* titleLabel_;
    QAbstractButton* minimizeButton_;
    QAbstractButton* closeButton_;
    QWidget* controlStrip_;
    RCCaptureButton* captureButton_;
    RCCaptureLastButton* captureLastButton_;
    QPushButton* captureDimensionsLabel_;
    QAbstractButton* gearButton_;
    QWidget* resizeHandleView_;
    QWidget* libraryView_ = nullptr;
    QTimer countdownTimer_;
    QPointer<RCCaptureGlassWindow> glassWindow_;
    QPointer<RCCaptureSizeWindow> sizeWindow_;
    std::function<void(QWidget*)> openGearMenu_;
    std::function<void()> quit_;
    bool dragging_ = false;
    QPoint dragOffset_;
    bool loaded_ = false;
};

}  // namespace pindle::ui
