#include "app/RCMasterAppController.h"

#include <sys/utsname.h>

#include <cstdio>

#include "app/RCShortcutHelper.h"
#include "settings/RCUserSettings.h"

#ifndef PINDLE_CAPTURE_VERSION
#define PINDLE_CAPTURE_VERSION "0.0.0"
#endif

namespace pindle {
namespace {

RCMasterAppController* gCurrentInstance = nullptr;

}  // namespace

RCMasterAppController::RCMasterAppController(RCUserSettings& settings, Environment environment)
    : settings_(settings), environment_(std::move(environment)) {
    if (settings_.isFirstLaunch()) {
        RCShortcutHelper::clearShortcut();
    }
    RCShortcutHelper::setShortcutAction([this] { captureShortcutPressed(); });
    if (environment_.makeCaptureWindowController) {
        captureWindowController_ = environment_.makeCaptureWindowController();
    }
}

RCMasterAppController::~RCMasterAppController() {
    RCShortcutHelper::setShortcutAction(nullptr);
    if (gCurrentInstance == this) {
        gCurrentInstance = nullptr;
    }
}

RCMasterAppController* RCMasterAppController::getCurrentInstance() {
    return gCurrentInstance;
}

void RCMasterAppController::setCurrentInstance(RCMasterAppController* instance) {
    gCurrentInstance = instance;
}

void RCMasterAppController::launchApp() {
    if (captureWindowController_) {
        captureWindowController_->showWindow();
    }
    if (environment_.refreshUserProfile) {
        environment_.refreshUserProfile();
    }
}

void RCMasterAppController::terminateApp() {
    prepareForTermination();
    if (environment_.terminateApplication) {
        environment_.terminateApplication();
    }
}

void RCMasterAppController::prepareForTermination() {
    settings_.saveUserSettingsData();
    if (environment_.saveDataStore) {
        environment_.saveDataStore();
    }
    if (environment_.cleanUpTempFiles) {
        environment_.cleanUpTempFiles();
    }
}

bool RCMasterAppController::applicationShouldTerminate() const {
    return !captureWindowController_ || !captureWindowController_->isBusy();
}

bool RCMasterAppController::captureWindowIsMiniaturized() const {
    return captureWindowController_ && captureWindowController_->isMiniaturized();
}

void RCMasterAppController::miniaturizeCaptureWindow() {
    if (captureWindowController_) {
        captureWindowController_->miniaturize();
    }
}

void RCMasterAppController::deminiaturizeCaptureWindow() {
    if (captureWindowController_) {
        captureWindowController_->deminiaturize();
    }
}

void RCMasterAppController::captureShortcutPressed() {
    if (!captureWindowController_) {
        return;
    }
    if (captureWindowController_->isMiniaturized()) {
        captureWindowController_->deminiaturize();
    } else {
        captureWindowController_->toggleCapture();
    }
}

void RCMasterAppController::captureLastRequested() {
    if (captureWindowController_) {
        captureWindowController_->captureLast();
    }
}

void RCMasterAppController::openGearMenu() {
    if (captureWindowController_) {
        captureWindowController_->openGearMenu();
    }
}

void RCMasterAppController::openAcknowledgementsWindow() {
    if (environment_.showAcknowledgementsWindow) {
        environment_.showAcknowledgementsWindow();
    }
}

std::string RCMasterAppController::getAppVersion() {
    return PINDLE_CAPTURE_VERSION;
}

std::string RCMasterAppController::getOSVersion() {
    utsname name{};
    long major = 0;
    long minor = 0;
    if (uname(&name) == 0) {
        std::sscanf(name.release, "%ld.%ld", &major, &minor);
    }
    char text[48];
    std::snprintf(text, sizeof text, "%ld.%ld", major, minor);
    return text;
}

}  // namespace pindle
