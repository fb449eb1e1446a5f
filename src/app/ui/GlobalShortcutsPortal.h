#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// The capture shortcut through the desktop portal's global-shortcuts interface, where the
// desktop offers it (KDE Plasma, GNOME from 48): the desktop asks the user once which keys
// to use and reports their presses to us whichever window has the focus.
namespace pindle::ui {

class GlobalShortcutsPortal : public QObject {
    Q_OBJECT

public:
    // The shortcut's id in the portal's session.
    static constexpr const char* kToggleCaptureID = "toggle-capture";

    // pressed runs on each press of the shortcut, on the main thread.
    explicit GlobalShortcutsPortal(std::function<void()> pressed, QObject* parent = nullptr);

    // Opens a session and binds the shortcut; false when the portal offers no global
    // shortcuts (the answers come later: bound() says when the shortcut is in place).
    bool start();
    bool bound() const { return bound_; }

private slots:
    void sessionCreated(uint response, const QVariantMap& results);
    void shortcutsBound(uint response, const QVariantMap& results);
    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options).
    void activated(const QDBusMessage& message);

private:
    // Calls method of the global-shortcuts interface with arguments, and slot with the
    // Response signal of the request it makes (options gain its handle_token).
    bool request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                 const char* slot);

    std::function<void()> pressed_;
    QString session_;
    QString pendingRequest_;
    int serial_ = 0;
    bool bound_ = false;
};

}  // namespace pindle::ui
