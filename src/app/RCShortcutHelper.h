#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/defaults.h"
#include "platform/keyboard.h"

namespace pindle {

// A key combination: a key code of the keyboard layout plus modifier flags (modifier::...).
struct RCShortcut {
    uint32_t keyCode = 0;
    uint64_t modifierFlags = 0;
    friend bool operator==(const RCShortcut&, const RCShortcut&) = default;
};

// Stores, shows and binds the global capture shortcut.
//
// The shortcut lives in the per-user defaults under "CaptureShortcut" as a keyed archive of
// an RCShortcut; no value means no shortcut. The bound action follows the stored value:
// every setShortcut() rebinds it. Main thread only.
class RCShortcutHelper {
public:
    static constexpr const char* kDefaultsKey = "CaptureShortcut";
    // The characters the shortcut list offers, each with the command modifier.
    static constexpr const char* kOfferedCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";

    // Installs what the class operations use. The application passes the settings' defaults
    // and the window system's keyboard; tests pass their own. Drops any binding and the
    // character table.
    static void install(std::shared_ptr<Defaults> defaults, std::shared_ptr<KeyboardLayout> layout,
                        std::shared_ptr<GlobalHotKey> hotKey);

    static bool isShortcutSet();
    static std::optional<RCShortcut> getShortcut();
    // Modifiers then key, upper case: "Ctrl+Alt+G". Nothing when no shortcut is set.
    static std::optional<std::string> getShortcutString();
    static void setShortcut(std::optional<RCShortcut> shortcut);
    static void clearShortcut();
    // Binds action to whatever shortcut is stored now and after every later change.
    static void setShortcutAction(std::function<void()> action);
    // Whether the stored shortcut is bound now (false also when another program holds it).
    static bool isShortcutBound();
    // How the capture shortcut reaches the program where the key grab above does not
    // (Wayland): a sentence for the gear menu; empty where the grab is the route.
    static void setShortcutRoute(std::string route);
    static std::string shortcutRoute();

    // The lower-case text the key types without modifiers in the current layout.
    static std::optional<std::string> keyCodeToString(uint32_t keyCode);
    // The key code that types character (lower case) in the layout; 0 when none does. The
    // table is built on first use and kept.
    static uint32_t charToKeyCode(const std::string& character);

    // Pure helpers of the stored form and the display text.
    static Bytes archiveShortcut(const RCShortcut& shortcut);
    static std::optional<RCShortcut> unarchiveShortcut(const Bytes& data);
    static std::string modifierPrefix(uint64_t modifierFlags);
    static std::string displayString(uint64_t modifierFlags, const std::string& keyText);

private:
    static void rebind();
};

}  // namespace pindle
