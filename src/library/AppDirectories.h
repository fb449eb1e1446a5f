#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/result.h"

namespace pindle {

// Where the program keeps its files.
//
// documents:          $XDG_DATA_HOME/pindle-capture (default ~/.local/share/pindle-capture):
//                     the store file, movies, the watermark copy.
// applicationSupport: documents/support: the avatar image.
// temporary:          a private folder of this process (mode 0700), made by create() as
//                     $XDG_RUNTIME_DIR/pindle-capture-<pid>-XXXXXX (else under $TMPDIR, else
//                     /tmp): exports and estimates of this process. A process that is
//                     killed leaves it behind; the next start removes it.
// settingsFile:       $XDG_CONFIG_HOME/pindle-capture/pindle-capture.ini.
//
// PINDLE_CAPTURE_HOME=DIR moves them all: DIR, DIR/support, DIR/tmp-<pid>, DIR/settings.ini.
struct AppDirectories {
    std::filesystem::path documents;
    std::filesystem::path applicationSupport;
    // Empty until create() has made it, unless a fixed name was chosen.
    std::filesystem::path temporary;
    std::filesystem::path settingsFile;
    // What create() makes the temporary folder from when temporary is empty, or names a
    // folder it cannot use: a path ending in XXXXXX, which mkdtemp completes.
    std::filesystem::path temporaryPattern;

    using EnvironmentLookup = std::function<const char*(const char*)>;
    // Pure: reads the environment through lookup, touches no disk.
    static AppDirectories fromEnvironment(const EnvironmentLookup& lookup, long processId);
    static AppDirectories fromEnvironment();

    // Creates the directories that do not exist yet (the program does this at start). The
    // temporary folder is never one that was there before unless it is this user's own
    // private folder, and never a link; temporary then names it.
    Status create();
    // Removes the temporary folders that processes which no longer run left beside this
    // process's one (a crash, SIGKILL): private folders of this user named like
    // temporaryPattern with another process id. Returns the folders removed.
    std::vector<std::filesystem::path> removeTemporariesOfEndedProcesses() const;
    // The start of temporary folder names, before the process id ("tmp-").
    std::string temporaryPrefix() const;
    // Removes the temporary directory if nothing is left in it.
    void removeTemporaryIfEmpty() const;
};

}  // namespace pindle
