#include "app/cli/RemoteVerbs.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <cstdio>

#include "app/ui/RemoteControl.h"

namespace pindle::cli {
namespace {

int call(const std::vector<std::string>& args, const char* verb, const char* method) {
    if (!args.empty()) {
        std::fprintf(stderr, "pindle-capture %s: takes no arguments\n", verb);
        return 2;
    }
    if (!ui::sessionBusAvailable() || !QDBusConnection::sessionBus().isConnected()) {
        std::fprintf(stderr, "pindle-capture %s: no session bus to reach the application on\n",
                     verb);
        return 1;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(ui::kRemoteControlService, ui::kRemoteControlPath,
                                                ui::kRemoteControlInterface, method),
                 QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (reply.errorName() == "org.freedesktop.DBus.Error.ServiceUnknown") {
            std::fprintf(stderr, "pindle-capture %s: Pindle Capture is not running\n", verb);
        } else {
            std::fprintf(stderr, "pindle-capture %s: %s\n", verb,
                         reply.errorMessage().toLocal8Bit().constData());
        }
        return 1;
    }
    return 0;
}

}  // namespace

int runToggle(const std::vector<std::string>& args) {
    return call(args, "toggle", "Toggle");
}

int runCaptureLast(const std::vector<std::string>& args) {
    return call(args, "capture-last", "CaptureLast");
}

}  // namespace pindle::cli
