#include "app/ui/RemoteControl.h"

#include <QDBusConnection>
#include <QDBusError>

#include "app/RCMasterAppController.h"
#include "base/log.h"

namespace pindle::ui {
namespace {
constexpr const char* kTag = "remote";
}

bool RemoteControl::publish() {
    if (!sessionBusAvailable()) {
        PINDLE_LOG_INFO(kTag, "no session bus: toggle and capture-last cannot reach us");
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        PINDLE_LOG_WARNING(kTag, "no session bus: toggle and capture-last cannot reach us (%s)",
                           bus.lastError().message().toLocal8Bit().constData());
        return false;
    }
    if (!bus.registerObject(kRemoteControlPath, this, QDBusConnection::ExportScriptableSlots)) {
        PINDLE_LOG_WARNING(kTag, "cannot export the remote control");
        return false;
    }
    if (!bus.registerService(kRemoteControlService)) {
        PINDLE_LOG_WARNING(kTag, "the bus name %s is taken: %s", kRemoteControlService,
                           bus.lastError().message().toLocal8Bit().constData());
        bus.unregisterObject(kRemoteControlPath);
        return false;
    }
    PINDLE_LOG_INFO(kTag, "remote control published as %s", kRemoteControlService);
    return true;
}

void RemoteControl::Toggle() {
    PINDLE_LOG_INFO(kTag, "toggle requested");
    if (auto* app = RCMasterAppController::getCurrentInstance()) {
        app->captureShortcutPressed();
    }
}

void RemoteControl::CaptureLast() {
    PINDLE_LOG_INFO(kTag, "capture-last requested");
    if (auto* app = RCMasterAppController::getCurrentInstance()) {
        app->captureLastRequested();
    }
}

}  // namespace pindle::ui
