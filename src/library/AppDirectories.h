#pragma once

#include <filesystem>
#include <functional>

#include "platform/result.h"

namespace pindle {

// Where the program keeps its files.
//
// documents:          $XDG_DATA_HOME/pindle-capture (default ~/.local/share/pindle-capture):
//                     the store file, movies, the watermark copy.
// applicationSupport: documents/support: the avatar image.
// temporary:          $TMPDIR/pindle-capture-<pid>: exports and estimates of this process.
// settingsFile:       $XDG_CONFIG_HOME/pindle-capture/pindle-capture.ini.
//
// PINDLE_CAPTURE_HOME=DIR moves them all: DIR, DIR/support, DIR/tmp-<pid>, DIR/settings.ini.
struct AppDirectories {
    std::filesystem::path documents;
    std::filesystem::path applicationSupport;
    std::filesystem::path temporary;
    std::filesystem::path settingsFile;

    using EnvironmentLookup = std::function<const char*(const char*)>;
    // Pure: reads the environment through lookup, touches no disk.
    static AppDirectories fromEnvironment(const EnvironmentLookup& lookup, long processId);
    static AppDirectories fromEnvironment();

    // Creates the directories that do not exist yet (the program does this at start).
    Status create() const;
    // Removes the temporary directory if nothing is left in it.
    void removeTemporaryIfEmpty() const;
};

}  // namespace pindle
