#include "platform/log.h"

#include <atomic>
#include <cstdarg>
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

}  // namespace

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
    std::fprintf(stderr, "%s pindle-capture[%s] %s: %s\n", stamp, tag, levelName(lineLevel),
                 message.c_str());
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
