#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "app/RCGearMenuViewController.h"
#include "app/RCMasterAppController.h"
#include "capture/window/RCCaptureWindowController.h"

class QAction;
class QMenu;
class QTimer;
class QSocketNotifier;

namespace pindle::ui {

class RCAcknowledgementsWindow;
class RCCaptureWindow;
class RCGearMenuView;

// The desktop application's delegate: start-up, the application menu, and quit. Every way
// of quitting (menu, title bar, window manager, SIGTERM/SIGINT) asks
// applicationShouldTerminate first, so a quit while capturing or writing a movie is refused.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    AppDelegate();
    ~AppDelegate() override;

    // The capture engine of the capture window, made when the window loads.
    using EngineFactory = std::function<std::unique_ptr<RCCaptureEngineControl>()>;
    void setCaptureEngineFactory(EngineFactory factory) { makeEngine_ = std::move(factory); }

    void applicationDidFinishLaunching();
    // Quits unless the capture window is busy; returns whether the quit goes ahead.
    bool terminate();
    bool applicationShouldTerminate() const;
    void applicationWillTerminate();

    RCMasterAppController& master() { return *master_; }
    RCCaptureWindow* captureWindow() const { return captureWindow_; }
    QAction* appVersionMenuItem() const { return appVersionMenuItem_; }

    // Quits through terminate() when SIGTERM or SIGINT arrives.
    void handleTerminationSignals();

signals:
    // The capture window has been drawn for the first time and the shortcut is bound.
    void launched();

private:
    std::unique_ptr<RCMasterAppController::CaptureWindow> makeCaptureWindowController();
    void buildApplicationMenu();
    void openAcknowledgementsWindow();
    // Takes in recordings that command-line verbs add to or remove from the library while
    // the application runs.
    void watchLibrary();

    EngineFactory makeEngine_;
    std::unique_ptr<RCMasterAppController> master_;
    std::unique_ptr<RCGearMenuViewController> gearMenuController_;
    RCCaptureWindow* captureWindow_ = nullptr;  // owned by the master controller
    RCGearMenuView* gearMenu_ = nullptr;
    QMenu* applicationMenu_ = nullptr;
    QAction* appVersionMenuItem_ = nullptr;
    std::unique_ptr<RCAcknowledgementsWindow> acknowledgementsWindowController_;
    QSocketNotifier* signalNotifier_ = nullptr;
    QTimer* libraryMerge_ = nullptr;
    bool terminating_ = false;
};

}  // namespace pindle::ui
