// The composition root: picks the platform implementations and starts either a
// command-line verb or the desktop application.

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/RCMasterAppController.h"
#include "app/RCShortcutHelper.h"
#include "app/cli/CaptureBackend.h"
#include "app/cli/ClipboardServer.h"
#include "app/cli/CommandLine.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/GlobalShortcutsPortal.h"
#include "app/ui/RemoteControl.h"
#include "base/log.h"
#include "capture/RCCaptureEngine.h"
#include "capture/window/RCCaptureEngineBridge.h"
#include "editor/RCRecordingLayers.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "platform/curl/curl_transport.h"
#include "platform/ffmpeg/ffmpeg_compression.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_output.h"
#include "platform/ffmpeg/ffmpeg_movie_writer.h"
#include "platform/http.h"
#include "platform/image_output.h"
#include "platform/imageio/imageio.h"
#include "platform/movie_output.h"
#include "platform/qt/main_queue_driver.h"
#include "platform/qt/qt_defaults.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/qt_layers.h"
#include "platform/x11/x11_keyboard.h"
#include "settings/RCUserSettings.h"
#include "ui/Theme.h"

namespace {

// An uncaught exception ends the process after a short report in the log.
void reportUncaughtException() {
    const char* what = "unknown exception";
    if (auto current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& error) {
            what = error.what();
        } catch (...) {
        }
    }
    PINDLE_LOG_ERROR("crash", "terminating after an uncaught exception: %s", what);
    std::abort();
}

// Movie reading and writing over FFmpeg; GIF and JPEG files.
void installMediaBackends() {
    pindle::ffmpeg::installMovieOpener();
    pindle::media::setMovieOutput(pindle::ffmpeg::makeMovieOutput());
    pindle::setImageOutput(pindle::imageio::makeImageOutput());
}

std::shared_ptr<pindle::Defaults> gDefaults;

// Qt's own notices (a headless platform's missing runtime folder, say) would mix with a
// verb's report on standard error; they go to the log's debug lines instead.
void qtMessageToLog(QtMsgType, const QMessageLogContext&, const QString& message) {
    PINDLE_LOG_DEBUG("qt", "%s", message.toLocal8Bit().constData());
}

// Caption and watermark drawing, with the watermark the user chose in the settings. Once the
// Qt application object exists.
void installLayerDrawing() {
    pindle::qt::installLayerRenderer();
    pindle::setWatermarkLocation(
        [] { return pindle::RCUserSettings::getCurrentInstance().watermarkURL(); });
}

// Creates the program's folders and installs its settings store.
bool prepareDirectoriesAndSettings() {
    auto& files = pindle::RCFileManager::getCurrentInstance();
    if (auto created = files.createDirectories(); !created) {
        std::fprintf(stderr, "pindle-capture: %s\n", created.error().message.c_str());
        return false;
    }
    std::shared_ptr<pindle::Defaults> defaults =
        pindle::qt::makeSettingsFileDefaults(files.directories().settingsFile);
    defaults->setBool("NSApplicationCrashOnExceptions", true);
    gDefaults = defaults;
    pindle::cli::setCaptureSettings(defaults);
    pindle::RCUserSettings::setCurrentDefaults(std::move(defaults));
    return true;
}

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

pindle::cli::CaptureBackendChoice gCaptureBackend;

// The capture window's engine: the chosen screen capture, libx264 and the MP4 writer.
std::unique_ptr<pindle::RCCaptureEngineControl> makeCaptureEngine() {
    pindle::RCCaptureEngineEnvironment environment;
    environment.screenCapture = pindle::cli::makeScreenCapture(gCaptureBackend);
    environment.compressionSessionFactory = pindle::ffmpeg::makeCompressionSession;
    environment.movieWriterFactory = pindle::ffmpeg::makeMovieWriter;
    environment.audioSource = [] {
        return pindle::RCUserSettings::getCurrentInstance().audioSource();
    };
    // The window's points are Qt's logical pixels; the engine's are the screen's. They part
    // when Qt scales its windows on its own (QT_SCALE_FACTOR).
    double enginePixelsPerPoint = 1.0;
    auto screens = environment.screenCapture->screens();
    if (!screens.empty() && screens.front().backingScaleFactor > 0) {
        enginePixelsPerPoint = screens.front().backingScaleFactor;
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    double windowPixelsPerPoint = primary ? primary->devicePixelRatio() : 1.0;
    double enginePointsPerWindowPoint = windowPixelsPerPoint / enginePixelsPerPoint;
    // On Wayland the window's X11 pixels (XWayland's) are the desktop's logical points where
    // XWayland is not scaled, its pixels where it is; the primary screen's width in both
    // kinds of points tells them apart.
    if (gCaptureBackend.name == "wayland" && primary != nullptr && !screens.empty() &&
        primary->geometry().width() > 0) {
        enginePointsPerWindowPoint = screens.front().frame.width() / primary->geometry().width();
    }
    auto engine = pindle::RCCaptureEngine::create(std::move(environment));
    return std::make_unique<pindle::RCCaptureEngineBridge>(std::move(engine),
                                                           enginePointsPerWindowPoint);
}

int runApplication(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fprintf(stderr,
                     "pindle-capture: no display to show the window on; start it in a desktop "
                     "session or under `xvfb-run pindle-capture`, or use a command-line verb "
                     "(`pindle-capture --help`).\n");
        return 1;
    }
    auto backend = pindle::cli::chooseCaptureBackend();
    if (!backend) {
        std::fprintf(stderr, "pindle-capture: %s\n", backend.error().message.c_str());
        return 2;
    }
    gCaptureBackend = *backend;
    // The capture window must know where it is on the screen to frame the region; Qt's
    // Wayland platform cannot tell, XWayland can.
    if (gCaptureBackend.name == "wayland" && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("pindle-capture");
    QApplication::setApplicationDisplayName("Pindle Capture");
    QApplication::setApplicationVersion(PINDLE_CAPTURE_VERSION);
    QApplication::setDesktopFileName("com.pindle.capture");
    QApplication::setWindowIcon(QIcon(":/pindle/com.pindle.capture.svg"));
    app.setStyleSheet(pindle::ui::theme::styleSheet());
    pindle::qt::installMainQueueDriver();
    pindle::qt::installURLOpener();
    if (!prepareDirectoriesAndSettings()) {
        return 1;
    }
    installLayerDrawing();
    pindle::RCShortcutHelper::install(gDefaults, pindle::qt::makeX11KeyboardLayout(),
                                      pindle::qt::makeX11GlobalHotKey());

    pindle::ui::AppDelegate delegate;
    delegate.handleTerminationSignals();
    delegate.setCaptureEngineFactory(makeCaptureEngine);
    delegate.applicationDidFinishLaunching();
    pindle::ui::RemoteControl remote;
    remote.publish();
    // On Wayland the X11 key grab fires only while one of our windows has the focus; the
    // desktop's global shortcuts, where it has them, reach us always.
    pindle::ui::GlobalShortcutsPortal portalShortcut([] {
        if (auto* controller = pindle::RCMasterAppController::getCurrentInstance()) {
            controller->captureShortcutPressed();
        }
    });
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        portalShortcut.start();
    }
    int status = QApplication::exec();
    pindle::RCShortcutHelper::install(nullptr, nullptr, nullptr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::set_terminate(reportUncaughtException);
    pindle::http::setTransport(pindle::curl::makeTransport());
    installMediaBackends();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty()) {
        if (args[0] == "--version" || args[0] == "-v") {
            std::printf("pindle-capture %s\n", PINDLE_CAPTURE_VERSION);
            return 0;
        }
        if (args[0] == "--help" || args[0] == "-h") {
            pindle::cli::printUsage(stdout);
            return 0;
        }
        if (args[0][0] == '-') {
            std::fprintf(stderr, "pindle-capture: unknown option '%s'\n", args[0].c_str());
            pindle::cli::printUsage(stderr);
            return 2;
        }
        if (args[0] == pindle::cli::kServeClipboardVerb && args.size() == 2) {
            return pindle::cli::runClipboardServer(argc, argv, args[1]);
        }
        if (!prepareDirectoriesAndSettings()) {
            return 1;
        }
        // Caption text is drawn with Qt's fonts, which need an application object; the verbs
        // never show a window.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(qtMessageToLog);
        QGuiApplication gui(argc, argv);
        installLayerDrawing();
        int status = pindle::cli::runVerb(args);
        pindle::RCFileManager::getCurrentInstance().cleanUpTempFiles();
        return status;
    }
    return runApplication(argc, argv);
}
