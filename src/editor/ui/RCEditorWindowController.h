#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

#include "base/notifications.h"
#include "editor/RCEditorEnvironment.h"
#include "editor/RCEditorWindowControl.h"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace pindle::ui {

class RCEditorCaptionsViewController;
class RCEditorOptionsViewController;
class RCEditorPlayerView;

// The editor window of one recording: its own title bar, the preview, and the "Options" and
// "Captions" tabs. The library opens, raises and closes it through RCEditorWindowControl.
//
// anchor is the capture window: the editor opens on its screen, in front of it.
class RCEditorWindowController : public QWidget, public RCEditorWindowControl {
    Q_OBJECT

public:
    RCEditorWindowController(RCRecordingPtr recording, RCEditorWindowDelegate& delegate,
                             RCEditorEnvironment environment = {}, QWidget* anchor = nullptr);
    ~RCEditorWindowController() override;

    RCRecordingPtr recording() const override { return recording_; }
    Rect windowFrame() const override;
    void setWindowFrame(const Rect& frame) override;
    void showWindow() override;
    void bringToFront() override;
    void close() override;

    void showOptionsView();
    void showCaptionsView();
    bool optionsViewIsShowing() const;
    bool captionsViewIsShowing() const;

    // Replaces the Captions tab's content (made by the window, over its recording and
    // preview), and what the space bar does while it shows (play and pause its preview).
    void setCaptionsView(QWidget* view, std::function<void()> togglePlayPause);

    // Capture start raises the editor above ordinary windows; capture stop lowers it again.
    void setCaptureRunning(bool running);
    bool isAboveOtherWindows() const { return aboveOthers_; }

    RCEditorPlayerView* playerView() const { return playerView_; }
    RCEditorOptionsViewController* optionsViewController() const { return options_; }
    // Null once setCaptionsView replaced it.
    RCEditorCaptionsViewController* captionsViewController() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeTitleBar();
    void showTab(int index);
    void setDimmed(bool dimmed);
    void placeInFrontOfAnchor();

    RCRecordingPtr recording_;
    RCEditorWindowDelegate& delegate_;
    RCEditorEnvironment environment_;
    QPointer<QWidget> anchor_;
    RCEditorPlayerView* playerView_ = nullptr;
    RCEditorOptionsViewController* options_ = nullptr;
    QStackedWidget* tabs_ = nullptr;
    QPushButton* optionsTab_ = nullptr;
    QPushButton* captionsTab_ = nullptr;
    QWidget* titleBar_ = nullptr;
    QWidget* dimmer_ = nullptr;
    QWidget* captionsView_ = nullptr;
    QPointer<RCEditorCaptionsViewController> captions_;
    std::function<void()> togglePlayPause_;
    std::vector<NotificationCenter::Token> observers_;
    bool aboveOthers_ = false;
    bool placed_ = false;
    bool closing_ = false;
};

}  // namespace pindle::ui
