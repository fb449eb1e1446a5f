#pragma once

#include <QFileInfo>
#include <QObject>

// The running application's control on the session bus, for `pindle-capture toggle` and
// `pindle-capture capture-last`, which a user binds to keys in the desktop's own keyboard
// settings where global shortcuts of X11 programs do not reach (Wayland).
namespace pindle::ui {

inline constexpr const char* kRemoteControlService = "com.pindle.capture";
inline constexpr const char* kRemoteControlPath = "/com/pindle/capture";
inline constexpr const char* kRemoteControlInterface = "com.pindle.capture.Control";

// Whether a session bus is there to connect to: its address is set, or its socket is in the
// runtime folder. Without one Qt would try to start a bus of its own for the X display
// (dbus-launch), which outlives the program. Inline: the command line's verbs ask it too.
inline bool sessionBusAvailable() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        return true;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + "/bus").exists();
}

class RemoteControl : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.pindle.capture.Control")

public:
    // Takes the service name; false (and a log line saying why) when there is no session
    // bus or another instance holds the name.
    bool publish();

public slots:
    // As the capture shortcut: starts or stops a capture (or brings the window back).
    Q_SCRIPTABLE void Toggle();
    Q_SCRIPTABLE void CaptureLast();
};

}  // namespace pindle::ui
