#pragma once

#include <functional>
#include <memory>
#include <string>

#include "capture/window/RCCaptureWindowControl.h"

namespace pindle {

class RCUserSettings;

// The application's top level: owns the capture window controller, routes the global
// shortcut, the gear menu and the acknowledgements, and saves state at quit.
// Main thread only.
class RCMasterAppController {
public:
    // The capture window controller as the application drives it.
    using CaptureWindow = RCCaptureWindowControl;

    // What the controller needs of the rest of the program; the composition root fills it.
    struct Environment {
        std::function<std::unique_ptr<CaptureWindow>()> makeCaptureWindowController;
        std::function<void()> showAcknowledgementsWindow;
        // Asks the application to quit (which asks applicationShouldTerminate first).
        std::function<void()> terminateApplication;
        // The signed-in user's profile refresh.
        std::function<void()> refreshUserProfile;
        // The data store's save and the file manager's clean-up.
        std::function<void()> saveDataStore;
        std::function<void()> cleanUpTempFiles;
    };

    // Clears the shortcut on a first launch, binds it to captureShortcutPressed and creates
    // the capture window controller (its window is not shown yet).
    RCMasterAppController(RCUserSettings& settings, Environment environment);
    ~RCMasterAppController();

    // The process's instance, once the composition root has made it; null before.
    static RCMasterAppController* getCurrentInstance();
    static void setCurrentInstance(RCMasterAppController* instance);

    CaptureWindow* captureWindowController() { return captureWindowController_.get(); }

    void launchApp();
    void terminateApp();
    void prepareForTermination();
    // Whether a quit may go ahead now (refused while the capture window is busy).
    bool applicationShouldTerminate() const;

    bool captureWindowIsMiniaturized() const;
    void miniaturizeCaptureWindow();
    void deminiaturizeCaptureWindow();
    // Restores a minimised capture window, otherwise starts or stops a capture.
    void captureShortcutPressed();
    // The capture-last request of `pindle-capture capture-last`.
    void captureLastRequested();
    void openGearMenu();
    void openAcknowledgementsWindow();

    static std::string getAppVersion();
    // The running system's major and minor version, "%ld.%ld".
    static std::string getOSVersion();

private:
    RCUserSettings& settings_;
    Environment environment_;
    std::unique_ptr<CaptureWindow> captureWindowController_;
};

}  // namespace pindle
