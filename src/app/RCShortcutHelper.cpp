#include "app/RCShortcutHelper.h"

#include <algorithm>
#include <cctype>

#include "base/keyed_archive.h"
#include "base/log.h"

namespace pindle {
namespace {

struct State {
    std::shared_ptr<Defaults> defaults;
    std::shared_ptr<KeyboardLayout> layout;
    std::shared_ptr<GlobalHotKey> hotKey;
    std::function<void()> action;
    bool bound = false;
    std::string route;
    std::optional<std::map<std::string, uint32_t>> keyCodes;
};

State& state() {
    static State instance;
    return instance;
}

constexpr const char* kArchiveClass = "RCShortcut";

// The archived form of a shortcut: its key code and modifier flags.
struct ShortcutRecord {
    RCShortcut shortcut;
    const char* className() const { return kArchiveClass; }
    void encodeWithCoder(KeyedArchiver& coder) const {
        coder.encodeInt64(shortcut.keyCode, "keyCode");
        coder.encodeInt64(static_cast<int64_t>(shortcut.modifierFlags), "modifierFlags");
    }
    static std::shared_ptr<ShortcutRecord> initWithCoder(KeyedUnarchiver& coder) {
        coder.requireClass(kArchiveClass);
        int64_t keyCode = coder.decodeInt64("keyCode");
        int64_t flags = coder.decodeInt64("modifierFlags");
        if (keyCode <= 0 || keyCode > UINT32_MAX || flags < 0) {
            throw ArchiveError("a shortcut needs a key code and modifier flags");
        }
        return std::make_shared<ShortcutRecord>(
            ShortcutRecord{{static_cast<uint32_t>(keyCode), static_cast<uint64_t>(flags)}});
    }
};

std::string toLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string toUpper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

void RCShortcutHelper::install(std::shared_ptr<Defaults> defaults,
                               std::shared_ptr<KeyboardLayout> layout,
                               std::shared_ptr<GlobalHotKey> hotKey) {
    State& s = state();
    if (s.hotKey) {
        s.hotKey->unbind();
    }
    s = State{};
    s.defaults = std::move(defaults);
    s.layout = std::move(layout);
    s.hotKey = std::move(hotKey);
}

Bytes RCShortcutHelper::archiveShortcut(const RCShortcut& shortcut) {
    ShortcutRecord record{shortcut};
    KeyedArchiver archiver;
    archiver.encodeObject(&record, KeyedArchiver::kRootKey);
    std::string text = archiver.archivedData();
    return Bytes(text.begin(), text.end());
}

std::optional<RCShortcut> RCShortcutHelper::unarchiveShortcut(const Bytes& data) {
    auto root = KeyedUnarchiver::forData(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (!root) {
        return std::nullopt;
    }
    try {
        auto record = root->decodeObject<ShortcutRecord>(KeyedArchiver::kRootKey);
        return record ? std::optional<RCShortcut>(record->shortcut) : std::nullopt;
    } catch (const ArchiveError&) {
        return std::nullopt;
    }
}

std::string RCShortcutHelper::modifierPrefix(uint64_t modifierFlags) {
    // The command modifier is pressed as Ctrl+Alt here, so it shows as both.
    bool ctrl = (modifierFlags & (modifier::kControl | modifier::kCommand)) != 0;
    bool alt = (modifierFlags & (modifier::kAlternate | modifier::kCommand)) != 0;
    bool shift = (modifierFlags & modifier::kShift) != 0;
    std::string prefix;
    if (ctrl) {
        prefix += "Ctrl+";
    }
    if (alt) {
        prefix += "Alt+";
    }
    if (shift) {
        prefix += "Shift+";
    }
    return prefix;
}

std::string RCShortcutHelper::displayString(uint64_t modifierFlags, const std::string& keyText) {
    return modifierPrefix(modifierFlags) + toUpper(keyText);
}

bool RCShortcutHelper::isShortcutSet() {
    const State& s = state();
    return s.defaults && s.defaults->contains(kDefaultsKey);
}

std::optional<RCShortcut> RCShortcutHelper::getShortcut() {
    const State& s = state();
    if (!s.defaults) {
        return std::nullopt;
    }
    auto data = s.defaults->dataForKey(kDefaultsKey);
    return data ? unarchiveShortcut(*data) : std::nullopt;
}

std::optional<std::string> RCShortcutHelper::getShortcutString() {
    auto shortcut = getShortcut();
    if (!shortcut) {
        return std::nullopt;
    }
    auto key = keyCodeToString(shortcut->keyCode);
    if (!key) {
        return std::nullopt;
    }
    return displayString(shortcut->modifierFlags, *key);
}

void RCShortcutHelper::setShortcut(std::optional<RCShortcut> shortcut) {
    State& s = state();
    if (!s.defaults) {
        return;
    }
    if (shortcut) {
        s.defaults->setData(kDefaultsKey, archiveShortcut(*shortcut));
    } else {
        s.defaults->remove(kDefaultsKey);
    }
    s.defaults->synchronize();
    if (s.action) {
        rebind();
    }
}

void RCShortcutHelper::clearShortcut() {
    setShortcut(std::nullopt);
}

void RCShortcutHelper::setShortcutAction(std::function<void()> action) {
    state().action = std::move(action);
    rebind();
}

bool RCShortcutHelper::isShortcutBound() {
    return state().bound;
}

void RCShortcutHelper::setShortcutRoute(std::string route) {
    state().route = std::move(route);
}

std::string RCShortcutHelper::shortcutRoute() {
    return state().route;
}

void RCShortcutHelper::rebind() {
    State& s = state();
    s.bound = false;
    if (!s.hotKey) {
        return;
    }
    s.hotKey->unbind();
    auto shortcut = getShortcut();
    if (!shortcut || !s.action) {
        return;
    }
    s.bound = s.hotKey->bind(shortcut->keyCode, shortcut->modifierFlags, s.action);
    if (!s.bound) {
        PINDLE_LOG_WARNING("shortcut", "could not bind the capture shortcut %s",
                           getShortcutString().value_or("?").c_str());
    }
}

std::optional<std::string> RCShortcutHelper::keyCodeToString(uint32_t keyCode) {
    State& s = state();
    if (!s.layout) {
        return std::nullopt;
    }
    auto text = s.layout->textForKeyCode(keyCode);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    return toLower(*text);
}

uint32_t RCShortcutHelper::charToKeyCode(const std::string& character) {
    State& s = state();
    if (!s.layout) {
        return 0;
    }
    if (!s.keyCodes) {
        // A later key code with the same text replaces an earlier one.
        std::map<std::string, uint32_t> table;
        for (uint32_t code = s.layout->minKeyCode(); code <= s.layout->maxKeyCode(); ++code) {
            if (auto text = keyCodeToString(code)) {
                table[*text] = code;
            }
        }
        s.keyCodes = std::move(table);
    }
    auto found = s.keyCodes->find(toLower(character));
    return found == s.keyCodes->end() ? 0 : found->second;
}

}  // namespace pindle
