#include "base/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

namespace pindle::log {
namespace {

Level levelFromEnvironment() {
    const char* text = std::getenv("PINDLE_LOG");
    if (text == nullptr) {
        return Level::Info;
    }
    if (std::strcmp(text, "error") == 0) {
        return Level::Error;
    }
    if (std::strcmp(text, "warning") == 0) {
        return Level::Warning;
    }
    if (std::strcmp(text, "debug") == 0) {
        return Level::Debug;
    }
    return Level::Info;
}

std::atomic<Level> gLevel{levelFromEnvironment()};

std::mutex& sinkMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

Sink& sink() {  // guarded by sinkMutex()
    static auto* current = new Sink;
    return *current;
}

const char* levelName(Level level) {
    switch (level) {
        case Level::Error:
            return "error";
        case Level::Warning:
            return "warning";
        case Level::Info:
            return "info";
        case Level::Debug:
            return "debug";
    }
    return "?";
}

// The length of the well-formed UTF-8 sequence at text[at] and its code point in point;
// 0 when the bytes there are not one.
size_t decodeUTF8(std::string_view text, size_t at, uint32_t& point) {
    auto byte = static_cast<unsigned char>(text[at]);
    size_t extra = 0;
    if (byte < 0x80) {
        point = byte;
        return 1;
    } else if ((byte & 0xE0) == 0xC0) {
        extra = 1;
        point = byte & 0x1Fu;
    } else if ((byte & 0xF0) == 0xE0) {
        extra = 2;
        point = byte & 0x0Fu;
    } else if ((byte & 0xF8) == 0xF0) {
        extra = 3;
        point = byte & 0x07u;
    } else {
        return 0;
    }
    if (at + extra >= text.size()) {
        return 0;
    }
    for (size_t k = 1; k <= extra; ++k) {
        auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        point = (point << 6) | (next & 0x3Fu);
    }
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        return 0;
    }
    return extra + 1;
}

// Where the string of an OSC, DCS, SOS, PM or APC that starts at text[at] ends: after its
// terminator (BEL, ESC \\ or ST), or at the end of text.
size_t skipControlString(std::string_view text, size_t at) {
    for (; at < text.size(); ++at) {
        auto byte = static_cast<unsigned char>(text[at]);
        if (byte == 0x07) {
            return at + 1;
        }
        if (byte == 0x1B && at + 1 < text.size() && text[at + 1] == '\\') {
            return at + 2;
        }
        if (byte == 0xC2 && at + 1 < text.size() &&
            static_cast<unsigned char>(text[at + 1]) == 0x9C) {
            return at + 2;
        }
    }
    return at;
}

// Where the parameters and final byte of a CSI that starts at text[at] end.
size_t skipControlSequence(std::string_view text, size_t at) {
    while (at < text.size() && text[at] >= 0x20 && text[at] <= 0x3F) {
        ++at;
    }
    if (at < text.size() && text[at] >= 0x40 && text[at] <= 0x7E) {
        ++at;
    }
    return at;
}

}  // namespace

std::string printableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        auto byte = static_cast<unsigned char>(text[at]);
        if (byte == 0x1B) {
            ++at;
            if (at >= text.size()) {
                break;
            }
            char kind = text[at];
            if (kind == '[') {
                at = skipControlSequence(text, at + 1);
            } else if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {
                at = skipControlString(text, at + 1);
            } else {
                // A short escape: intermediate bytes, then one final byte.
                while (at < text.size() && text[at] >= 0x20 && text[at] <= 0x2F) {
                    ++at;
                }
                if (at < text.size() && text[at] >= 0x30 && text[at] <= 0x7E) {
                    ++at;
                }
            }
            continue;
        }
        uint32_t point = 0;
        size_t length = decodeUTF8(text, at, point);
        if (length == 0) {
            out += '?';
            ++at;
        } else if (point < 0x20 || point == 0x7F) {
            at += length;
        } else if (point >= 0x80 && point <= 0x9F) {
            at += length;
            if (point == 0x9B) {
                at = skipControlSequence(text, at);
            } else if (point == 0x90 || point == 0x98 || point == 0x9D || point == 0x9E ||
                       point == 0x9F) {
                at = skipControlString(text, at);
            }
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

void write(Level lineLevel, const char* tag, const char* format, ...) {
    if (lineLevel > gLevel.load()) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(message.data(), message.size() + 1, format, args);
    }
    va_end(args);

    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(lineLevel, tag, message);
        return;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    // Messages quote names, addresses and replies from outside, which must not drive the
    // terminal.
    std::fprintf(stderr, "%s pindle-capture[%s] %s: %s\n", stamp, tag, levelName(lineLevel),
                 printableText(message).c_str());
}

void setLevel(Level newLevel) {
    gLevel = newLevel;
}

Level level() {
    return gLevel.load();
}

void setSink(Sink newSink) {
    std::lock_guard lock(sinkMutex());
    sink() = std::move(newSink);
}

}  // namespace pindle::log
