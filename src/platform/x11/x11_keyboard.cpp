#include "platform/x11/x11_keyboard.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>
#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>

#include <array>
#include <cstdlib>
#include <string>

#include "base/dispatch.h"
#include "base/log.h"

namespace pindle::qt {
namespace {

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// What a dead key stands for on its own: the character typed by the dead key then space.
const char* deadKeyText(xkb_keysym_t sym) {
    switch (sym) {
        case XKB_KEY_dead_grave:
            return "`";
        case XKB_KEY_dead_acute:
            return "\xC2\xB4";
        case XKB_KEY_dead_circumflex:
            return "^";
        case XKB_KEY_dead_tilde:
            return "~";
        case XKB_KEY_dead_diaeresis:
            return "\xC2\xA8";
        case XKB_KEY_dead_cedilla:
            return "\xC2\xB8";
        case XKB_KEY_dead_abovering:
            return "\xC2\xB0";
        default:
            return nullptr;
    }
}

class X11KeyboardLayout final : public KeyboardLayout, public QAbstractNativeEventFilter {
public:
    X11KeyboardLayout() : connection_(qtConnection()) {
        if (connection_ == nullptr) {
            return;
        }
        if (!xkb_x11_setup_xkb_extension(
                connection_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase_, nullptr)) {
            PINDLE_LOG_WARNING("keyboard", "the X server has no keyboard extension");
            connection_ = nullptr;
            return;
        }
        context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
    }

    ~X11KeyboardLayout() override {
        if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
            dispatcher->removeNativeEventFilter(this);
        }
        dropKeymap();
        if (context_ != nullptr) {
            xkb_context_unref(context_);
        }
    }

    std::optional<std::string> textForKeyCode(uint32_t keyCode) override {
        if (!loadKeymap() || keyCode < minKeyCode() || keyCode > maxKeyCode()) {
            return std::nullopt;
        }
        // A state with no modifiers held, in the layout group that is active now.
        xkb_layout_index_t group = xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE);
        xkb_state* plain = xkb_state_new(keymap_);
        xkb_state_update_mask(plain, 0, 0, 0, 0, 0, group);
        std::array<char, 64> buffer{};
        int length = xkb_state_key_get_utf8(plain, keyCode, buffer.data(), buffer.size());
        xkb_keysym_t sym = xkb_state_key_get_one_sym(plain, keyCode);
        xkb_state_unref(plain);
        if (length > 0 && static_cast<unsigned char>(buffer[0]) >= 0x20 && buffer[0] != 0x7f) {
            return std::string(buffer.data(), size_t(length));
        }
        if (const char* dead = deadKeyText(sym)) {
            return std::string(dead);
        }
        return std::nullopt;
    }

    uint32_t minKeyCode() const override { return 8; }
    uint32_t maxKeyCode() const override { return 255; }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || message == nullptr) {
            return false;
        }
        auto* event = static_cast<xcb_generic_event_t*>(message);
        uint8_t kind = event->response_type & 0x7f;
        // A new keyboard or a changed layout map: read the keymap again on next use.
        if (kind == XCB_MAPPING_NOTIFY || (xkbEventBase_ != 0 && kind == xkbEventBase_)) {
            dropKeymap();
        }
        return false;
    }

private:
    bool loadKeymap() {
        if (connection_ == nullptr) {
            return false;
        }
        if (keymap_ != nullptr) {
            return true;
        }
        int32_t device = xkb_x11_get_core_keyboard_device_id(connection_);
        if (device < 0) {
            return false;
        }
        keymap_ = xkb_x11_keymap_new_from_device(context_, connection_, device,
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap_ == nullptr) {
            PINDLE_LOG_WARNING("keyboard", "cannot read the keyboard layout");
            return false;
        }
        state_ = xkb_x11_state_new_from_device(keymap_, connection_, device);
        if (state_ == nullptr) {
            dropKeymap();
            return false;
        }
        return true;
    }

    void dropKeymap() {
        if (state_ != nullptr) {
            xkb_state_unref(state_);
            state_ = nullptr;
        }
        if (keymap_ != nullptr) {
            xkb_keymap_unref(keymap_);
            keymap_ = nullptr;
        }
    }

    xcb_connection_t* connection_ = nullptr;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    uint8_t xkbEventBase_ = 0;
};

class X11GlobalHotKey final : public GlobalHotKey, public QAbstractNativeEventFilter {
public:
    X11GlobalHotKey() : connection_(qtConnection()) {
        if (connection_ != nullptr) {
            root_ = rootWindow(connection_);
            QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
        }
    }

    ~X11GlobalHotKey() override {
        unbind();
        if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
            dispatcher->removeNativeEventFilter(this);
        }
    }

    bool bind(uint32_t keyCode, uint64_t modifierFlags, std::function<void()> action) override {
        unbind();
        if (connection_ == nullptr || keyCode < 8 || keyCode > 255) {
            return false;
        }
        uint16_t mods = coreModifiers(modifierFlags);
        bool grabbed = true;
        for (uint16_t extra : kIgnoredLocks) {
            auto cookie = xcb_grab_key_checked(connection_, 1, root_, mods | extra,
                                               static_cast<xcb_keycode_t>(keyCode),
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
                std::free(error);
                grabbed = false;
            }
        }
        keyCode_ = static_cast<xcb_keycode_t>(keyCode);
        modifiers_ = mods;
        if (!grabbed) {
            unbind();
            return false;
        }
        action_ = std::move(action);
        return true;
    }

    void unbind() override {
        if (connection_ != nullptr && keyCode_ != 0) {
            for (uint16_t extra : kIgnoredLocks) {
                xcb_ungrab_key(connection_, keyCode_, root_, modifiers_ | extra);
            }
            xcb_flush(connection_);
        }
        keyCode_ = 0;
        modifiers_ = 0;
        pressed_ = false;
        action_ = nullptr;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || message == nullptr || keyCode_ == 0) {
            return false;
        }
        auto* event = static_cast<xcb_generic_event_t*>(message);
        uint8_t kind = event->response_type & 0x7f;
        if (kind != XCB_KEY_PRESS && kind != XCB_KEY_RELEASE) {
            return false;
        }
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        if (key->detail != keyCode_) {
            return false;
        }
        // The modifiers are often let go before the key: a release ends the press whatever
        // is held then.
        if (kind == XCB_KEY_RELEASE) {
            bool ours = pressed_;
            pressed_ = false;
            return ours;
        }
        uint16_t held = key->state & ~(kCapsLock | kNumLock) & 0xff;
        if (held != modifiers_) {
            return false;
        }
        // Held down, the key repeats presses without releases: act once per press.
        if (!pressed_ && action_) {
            pressed_ = true;
            dispatch::mainQueue()->async(action_);
        }
        return true;
    }

private:
    static constexpr uint16_t kCapsLock = XCB_MOD_MASK_LOCK;
    static constexpr uint16_t kNumLock = XCB_MOD_MASK_2;
    static constexpr std::array<uint16_t, 4> kIgnoredLocks = {0, kCapsLock, kNumLock,
                                                              kCapsLock | kNumLock};

    static uint16_t coreModifiers(uint64_t flags) {
        uint16_t mods = 0;
        if (flags & (modifier::kControl | modifier::kCommand)) {
            mods |= XCB_MOD_MASK_CONTROL;
        }
        if (flags & (modifier::kAlternate | modifier::kCommand)) {
            mods |= XCB_MOD_MASK_1;
        }
        if (flags & modifier::kShift) {
            mods |= XCB_MOD_MASK_SHIFT;
        }
        return mods;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_keycode_t keyCode_ = 0;
    uint16_t modifiers_ = 0;
    bool pressed_ = false;
    std::function<void()> action_;
};

}  // namespace

std::shared_ptr<KeyboardLayout> makeX11KeyboardLayout() {
    return std::make_shared<X11KeyboardLayout>();
}

std::shared_ptr<GlobalHotKey> makeX11GlobalHotKey() {
    return std::make_shared<X11GlobalHotKey>();
}

}  // namespace pindle::qt

namespace pindle::qt {

bool compositingManagerRunning() {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr) {
        return false;
    }
    std::string name = "_NET_WM_CM_S0";
    auto atomCookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str());
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    if (atom == nullptr) {
        return false;
    }
    auto ownerCookie = xcb_get_selection_owner(connection, atom->atom);
    std::free(atom);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr);
    bool running = owner != nullptr && owner->owner != XCB_NONE;
    std::free(owner);
    return running;
}

}  // namespace pindle::qt
