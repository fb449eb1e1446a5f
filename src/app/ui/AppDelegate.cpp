#include "app/ui/AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QFileSystemWatcher>
#include <QMenu>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "app/RCShortcutHelper.h"
#include "app/ui/RCAcknowledgementsWindow.h"
#include "app/ui/RCGIFCollectionWindow.h"
#include "app/ui/RCGearMenuView.h"
#include "base/log.h"
#include "capture/ui/RCCaptureSizeWindow.h"
#include "capture/ui/RCCaptureWindow.h"
#include "editor/ui/RCEditorWindowController.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "platform/desktop.h"
#include "settings/RCUserSettings.h"
#include "upload/ui/RCLoginWindowController.h"
#include "upload/ui/RCPINDLELoginButton.h"
#include "upload/ui/RCUploadWindowController.h"

namespace pindle::ui {
namespace {

int gSignalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    char byte = 1;
    ssize_t written = ::write(gSignalPipe[1], &byte, 1);
    (void)written;
}

// What the editor needs of the application: the capture state, the account, the preferred
// save format and the library, which saves the edits.
RCEditorEnvironment editorEnvironment(RCCaptureWindow& captureWindow) {
    RCEditorEnvironment environment;
    QPointer<RCCaptureWindow> capture(&captureWindow);
    environment.isCapturing = [capture] { return capture && capture->controller().isCapturing(); };
    environment.isSignedIn = [] {
        return RCUserSettings::getCurrentInstance().isLoggedIntoPINDLE();
    };
    environment.preferredSaveFormat = [] {
        return RCUserSettings::getCurrentInstance().preferredSaveFormat();
    };
    environment.setPreferredSaveFormat = [](int64_t format) {
        RCUserSettings::getCurrentInstance().setPreferredSaveFormat(format);
    };
    environment.saveEdits = [](const RCRecordingPtr&) {
        RCDataStore::getCurrentInstance().saveData();
    };
    environment.captureStartNotification = RCCaptureWindowController::kStartCaptureNotification;
    environment.captureStopNotification = RCCaptureWindowController::kStopCaptureNotification;
    environment.watermarkUpdateNotification = RCUserSettings::kWatermarkUpdateNotification;
    environment.makeSignInSheet = [](QWidget* parent) -> QDialog* {
        return new RCLoginWindowController(RCUserSettings::getCurrentInstance(), parent);
    };
    environment.makeUploadSheet = [](const RCRecordingPtr& recording, QWidget* parent) -> QDialog* {
        auto& settings = RCUserSettings::getCurrentInstance();
        return new RCUploadWindowController(recording, settings, settings.notificationCenter(),
                                            parent);
    };
    return environment;
}

}  // namespace

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() {
    if (gearMenu_ != nullptr) {
        delete gearMenu_;
    }
    master_.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
    auto& settings = RCUserSettings::getCurrentInstance();
    RCMasterAppController::Environment environment;
    environment.makeCaptureWindowController = [this] { return makeCaptureWindowController(); };
    environment.showAcknowledgementsWindow = [this] { openAcknowledgementsWindow(); };
    environment.terminateApplication = [this] { terminate(); };
    environment.saveDataStore = [] { RCDataStore::getCurrentInstance().saveData(); };
    environment.refreshUserProfile = [] {
        RCUserSettings::getCurrentInstance().pindleHydrateUserDataWithCompletion(nullptr);
    };
    environment.cleanUpTempFiles = [] { RCFileManager::getCurrentInstance().cleanUpTempFiles(); };
    master_ = std::make_unique<RCMasterAppController>(settings, std::move(environment));
    RCMasterAppController::setCurrentInstance(master_.get());
    buildApplicationMenu();
    watchLibrary();
    master_->launchApp();
    appVersionMenuItem_->setText(
        QString("Version %1").arg(QString::fromStdString(RCMasterAppController::getAppVersion())));
}

void AppDelegate::watchLibrary() {
    auto folder = RCDataStore::getCurrentInstance().getArchiveFileURL().parent_path();
    // The store file is replaced, not rewritten, so its folder is watched. A burst of
    // changes is taken in once, a moment after it ends.
    auto* watcher = new QFileSystemWatcher(this);
    watcher->addPath(QString::fromStdString(folder.string()));
    libraryMerge_ = new QTimer(this);
    libraryMerge_->setSingleShot(true);
    libraryMerge_->setInterval(250);
    connect(libraryMerge_, &QTimer::timeout, this,
            [] { RCDataStore::getCurrentInstance().mergeChangesFromDisk(); });
    connect(watcher, &QFileSystemWatcher::directoryChanged, libraryMerge_,
            qOverload<>(&QTimer::start));
}

std::unique_ptr<RCMasterAppController::CaptureWindow> AppDelegate::makeCaptureWindowController() {
    auto& settings = RCUserSettings::getCurrentInstance();
    auto window =
        std::make_unique<RCCaptureWindow>(settings, makeEngine_ ? makeEngine_() : nullptr);
    captureWindow_ = window.get();

    window->setQuitAction([] {
        if (auto* master = RCMasterAppController::getCurrentInstance()) {
            master->terminateApp();
        }
    });
    auto strip = std::make_shared<RCGIFCollectionWindowController>(
        RCDataStore::getCurrentInstance(),
        [captureWindow = window.get()](RCRecordingPtr recording,
                                       RCGIFCollectionWindowController& delegate) {
            return std::make_unique<RCEditorWindowController>(
                std::move(recording), delegate, editorEnvironment(*captureWindow), captureWindow);
        });
    auto* stripView = new RCGIFCollectionWindow(*strip, window.get());
    strip->initCollectionView(stripView);
    window->setLibraryView(stripView, std::move(strip));

    RCGearMenuViewController::Actions actions;
    actions.removeAllRecordings = [] { RCDataStore::getCurrentInstance().removeAllRecordings(); };
    actions.terminateApp = [this] { master_->terminateApp(); };
    actions.openURL = [](const std::string& url) { desktop::openURL(url); };
    gearMenuController_ = std::make_unique<RCGearMenuViewController>(settings, std::move(actions));
    gearMenu_ = new RCGearMenuView(*gearMenuController_, window.get());
    gearMenu_->setAccountControl(new RCPINDLELoginButton(
        settings, settings.notificationCenter(), window.get(), [this] { gearMenu_->hide(); }));
    window->setGearMenu([this](QWidget* anchor) { gearMenu_->popup(anchor); });

    // Reports the first drawing of the window, which is when the user can start.
    QTimer::singleShot(0, window.get(), [this] {
        PINDLE_LOG_INFO("app", "capture window shown; shortcut %s",
                        RCShortcutHelper::isShortcutBound() ? "bound" : "not set");
        emit launched();
    });
    return window;
}

void AppDelegate::buildApplicationMenu() {
    applicationMenu_ = new QMenu;
    appVersionMenuItem_ = applicationMenu_->addAction("Version");
    appVersionMenuItem_->setEnabled(false);
    applicationMenu_->addSeparator();
    QAction* preferences = applicationMenu_->addAction("Settings…");
    preferences->setShortcut(QKeySequence("Ctrl+,"));
    connect(preferences, &QAction::triggered, this, [this] { master_->openGearMenu(); });
    QAction* size = applicationMenu_->addAction("Capture Size…");
    connect(size, &QAction::triggered, this, [this] {
        if (captureWindow_) {
            captureWindow_->openCaptureSizeSheet();
        }
    });
    QAction* acknowledgements = applicationMenu_->addAction("Acknowledgements");
    connect(acknowledgements, &QAction::triggered, this,
            [this] { master_->openAcknowledgementsWindow(); });
    applicationMenu_->addSeparator();
    QAction* minimize = applicationMenu_->addAction("Minimize");
    minimize->setShortcut(QKeySequence("Ctrl+M"));
    connect(minimize, &QAction::triggered, this, [this] { master_->miniaturizeCaptureWindow(); });
    QAction* quit = applicationMenu_->addAction("Quit");
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, [this] { master_->terminateApp(); });
    if (captureWindow_) {
        captureWindow_->setApplicationMenu(applicationMenu_);
        captureWindow_->addActions({preferences, minimize, quit});
    }
}

void AppDelegate::openAcknowledgementsWindow() {
    if (!acknowledgementsWindowController_) {
        acknowledgementsWindowController_ = std::make_unique<RCAcknowledgementsWindow>();
    }
    acknowledgementsWindowController_->show();
    acknowledgementsWindowController_->raise();
    acknowledgementsWindowController_->activateWindow();
}

bool AppDelegate::applicationShouldTerminate() const {
    return !master_ || master_->applicationShouldTerminate();
}

void AppDelegate::applicationWillTerminate() {
    if (master_) {
        master_->prepareForTermination();
    }
}

bool AppDelegate::terminate() {
    if (terminating_) {
        return true;
    }
    if (!applicationShouldTerminate()) {
        PINDLE_LOG_INFO("app", "quit refused: a capture is running or its movie is being written");
        return false;
    }
    terminating_ = true;
    applicationWillTerminate();
    // exit(), not quit(): quit() first asks every window to close, and the capture window
    // answers a close by asking to quit.
    QCoreApplication::exit(0);
    return true;
}

void AppDelegate::handleTerminationSignals() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    signalNotifier_ = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(gSignalPipe[0], buffer, sizeof buffer) > 0) {
        }
        terminate();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace pindle::ui
