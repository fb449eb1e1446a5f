#include "app/ui/GlobalShortcutsPortal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>

#include "app/RCShortcutHelper.h"
#include "app/ui/RemoteControl.h"
#include "base/log.h"

namespace {

// One shortcut of BindShortcuts: its id and properties, (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace pindle::ui {
namespace {

constexpr const char* kTag = "shortcut";
const QString kService = "org.freedesktop.portal.Desktop";
const QString kPath = "/org/freedesktop/portal/desktop";
const QString kInterface = "org.freedesktop.portal.GlobalShortcuts";
const char* const kKeyboardSettingsRoute =
    "On Wayland this shortcut works only while Pindle Capture has the focus: bind "
    "`pindle-capture toggle` to a key in the desktop's keyboard settings.";

// The session handle of a CreateSession answer: a string, or an object path.
QString pathOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

}  // namespace

GlobalShortcutsPortal::GlobalShortcutsPortal(std::function<void()> pressed, QObject* parent)
    : QObject(parent), pressed_(std::move(pressed)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

bool GlobalShortcutsPortal::start() {
    if (!sessionBusAvailable()) {
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage version = bus.call(
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get")
            << kInterface << QString("version"),
        QDBus::Block, 5000);
    if (version.type() == QDBusMessage::ErrorMessage) {
        PINDLE_LOG_INFO(kTag,
                        "the desktop portal has no global shortcuts; bind `pindle-capture "
                        "toggle` to a key in the desktop's keyboard settings");
        RCShortcutHelper::setShortcutRoute(kKeyboardSettingsRoute);
        return false;
    }
    if (!bus.connect(kService, kPath, kInterface, "Activated", this,
                     SLOT(activated(QDBusMessage)))) {
        PINDLE_LOG_WARNING(kTag, "cannot listen to the global shortcut: %s",
                           bus.lastError().message().toLocal8Bit().constData());
        return false;
    }
    return request("CreateSession", {}, {{"session_handle_token", QString("pindle")}},
                   SLOT(sessionCreated(uint, QVariantMap)));
}

bool GlobalShortcutsPortal::request(const QString& method, QList<QVariant> arguments,
                                    QVariantMap options, const char* slot) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QString("pindle%1").arg(++serial_);
    QString sender = bus.baseService().mid(1);
    sender.replace('.', '_');
    const QString path = kPath + "/request/" + sender + "/" + token;
    // Listening before asking: the answer may come before the call returns.
    if (!pendingRequest_.isEmpty()) {
        bus.disconnect(kService, pendingRequest_, "org.freedesktop.portal.Request", "Response",
                       this, nullptr);
    }
    pendingRequest_ = path;
    bus.connect(kService, path, "org.freedesktop.portal.Request", "Response", this, slot);
    options.insert("handle_token", token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        PINDLE_LOG_WARNING(kTag, "the desktop portal refused %s: %s",
                           method.toLocal8Bit().constData(),
                           reply.errorMessage().toLocal8Bit().constData());
        return false;
    }
    return true;
}

void GlobalShortcutsPortal::sessionCreated(uint response, const QVariantMap& results) {
    session_ = pathOf(results.value("session_handle"));
    if (response != 0 || session_.isEmpty()) {
        PINDLE_LOG_WARNING(kTag, "the desktop portal made no global-shortcuts session (%u)",
                           response);
        RCShortcutHelper::setShortcutRoute(kKeyboardSettingsRoute);
        return;
    }
    const QList<PortalShortcut> shortcuts{{kToggleCaptureID,
                                           {{"description", QString("Start or stop a capture")},
                                            {"preferred_trigger", QString("CTRL+ALT+R")}}}};
    request(
        "BindShortcuts",
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
        {}, SLOT(shortcutsBound(uint, QVariantMap)));
}

void GlobalShortcutsPortal::shortcutsBound(uint response, const QVariantMap& results) {
    if (response != 0) {
        PINDLE_LOG_WARNING(kTag, "the global shortcut was not bound (%u)", response);
        RCShortcutHelper::setShortcutRoute(kKeyboardSettingsRoute);
        return;
    }
    bound_ = true;
    QString trigger;
    QList<PortalShortcut> shortcuts;
    results.value("shortcuts").value<QDBusArgument>() >> shortcuts;
    for (const PortalShortcut& shortcut : shortcuts) {
        if (shortcut.id == kToggleCaptureID) {
            trigger = shortcut.properties.value("trigger_description").toString();
        }
    }
    PINDLE_LOG_INFO(kTag, "global shortcut bound through the desktop portal: %s",
                    trigger.toLocal8Bit().constData());
    RCShortcutHelper::setShortcutRoute(
        "Global shortcut from the desktop" +
        (trigger.isEmpty() ? std::string() : " (" + trigger.toStdString() + ")") +
        "; change it in the desktop's settings.");
}

void GlobalShortcutsPortal::activated(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2) {
        return;
    }
    const QString session = pathOf(arguments[0]);
    const QString id = arguments[1].toString();
    if (session != session_ || id != kToggleCaptureID) {
        PINDLE_LOG_DEBUG(kTag, "shortcut %s of session %s is not ours",
                         id.toLocal8Bit().constData(), session.toLocal8Bit().constData());
        return;
    }
    PINDLE_LOG_INFO(kTag, "global shortcut pressed");
    if (pressed_) {
        pressed_();
    }
}

}  // namespace pindle::ui
