#pragma once

#include <functional>
#include <string>
#include <string_view>

// The program's console log, on standard error.
//
// Levels: error (an operation failed and its result is missing), warning (something was
// wrong but a fallback was taken), info (a notable step: a file written, a store loaded),
// debug (detail for developers; shown with PINDLE_LOG=debug). Each line carries a component
// tag. Platform media failures are logged with their status and not shown to the user.
namespace pindle::log {

enum class Level { Error = 0, Warning = 1, Info = 2, Debug = 3 };

void write(Level level, const char* tag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Lines at or below this level are written; the default comes from PINDLE_LOG
// (error, warning, info, debug) and is info.
void setLevel(Level level);
Level level();

// Replaces standard error as the destination (tests capture lines with it); an empty
// function restores standard error.
using Sink = std::function<void(Level, const std::string& tag, const std::string& message)>;
void setSink(Sink sink);

// text without anything a terminal would act on: control characters (C0 with tab and line
// feed, DEL, C1) and whole escape sequences (CSI, OSC and the other strings, short escapes)
// are removed, bytes that are not UTF-8 become "?", other text stays as it is. For text
// from outside (a server's reply) before it is printed; standard error lines get it too.
std::string printableText(std::string_view text);

}  // namespace pindle::log

#define PINDLE_LOG_ERROR(tag, ...) \
    ::pindle::log::write(::pindle::log::Level::Error, tag, __VA_ARGS__)
#define PINDLE_LOG_WARNING(tag, ...) \
    ::pindle::log::write(::pindle::log::Level::Warning, tag, __VA_ARGS__)
#define PINDLE_LOG_INFO(tag, ...) ::pindle::log::write(::pindle::log::Level::Info, tag, __VA_ARGS__)
#define PINDLE_LOG_DEBUG(tag, ...) \
    ::pindle::log::write(::pindle::log::Level::Debug, tag, __VA_ARGS__)
