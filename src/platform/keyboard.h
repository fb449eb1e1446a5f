#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The keyboard as the global capture shortcut needs it: key codes translated with the current
// layout, and one system-wide hot key.
namespace pindle {

// Modifier flags of a stored shortcut. The values are those kept in the settings, so a
// stored shortcut reads the same on every desktop. kCommand is the program's command
// modifier: on X11 it is pressed as Ctrl+Alt.
namespace modifier {
constexpr uint64_t kShift = 0x20000;
constexpr uint64_t kControl = 0x40000;
constexpr uint64_t kAlternate = 0x80000;
constexpr uint64_t kCommand = 0x100000;
}  // namespace modifier

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The text that keyCode types with the current layout and no modifiers held (for a dead
    // key, the dead key's own character); nothing when the layout cannot be read or the key
    // types nothing.
    virtual std::optional<std::string> textForKeyCode(uint32_t keyCode) = 0;
    // The range of key codes the layout defines.
    virtual uint32_t minKeyCode() const = 0;
    virtual uint32_t maxKeyCode() const = 0;
};

// A system-wide hot key: the action runs on the main queue whenever the key combination is
// pressed, whichever window has the focus.
class GlobalHotKey {
public:
    virtual ~GlobalHotKey() = default;

    // Replaces the current binding. false when the combination cannot be bound (for example
    // another program holds it); nothing is bound then.
    virtual bool bind(uint32_t keyCode, uint64_t modifierFlags, std::function<void()> action) = 0;
    virtual void unbind() = 0;
};

}  // namespace pindle
