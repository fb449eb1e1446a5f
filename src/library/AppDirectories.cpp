#include "library/AppDirectories.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

namespace pindle {
namespace fs = std::filesystem;

namespace {

std::string nonEmpty(const AppDirectories::EnvironmentLookup& lookup, const char* name) {
    const char* value = lookup(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

AppDirectories AppDirectories::fromEnvironment(const EnvironmentLookup& lookup, long processId) {
    const std::string temporaryName = "pindle-capture-" + std::to_string(processId);
    AppDirectories dirs;
    if (std::string home = nonEmpty(lookup, "PINDLE_CAPTURE_HOME"); !home.empty()) {
        fs::path root = fs::absolute(home);
        dirs.documents = root;
        dirs.applicationSupport = root / "support";
        dirs.temporary = root / ("tmp-" + std::to_string(processId));
        dirs.settingsFile = root / "settings.ini";
        return dirs;
    }
    std::string userHome = nonEmpty(lookup, "HOME");
    if (userHome.empty()) {
        userHome = "/tmp";
    }
    std::string dataHome = nonEmpty(lookup, "XDG_DATA_HOME");
    fs::path data = dataHome.empty() ? fs::path(userHome) / ".local" / "share" : fs::path(dataHome);
    std::string configHome = nonEmpty(lookup, "XDG_CONFIG_HOME");
    fs::path config = configHome.empty() ? fs::path(userHome) / ".config" : fs::path(configHome);
    std::string tmp = nonEmpty(lookup, "TMPDIR");

    dirs.documents = data / "pindle-capture";
    dirs.applicationSupport = dirs.documents / "support";
    dirs.temporary = fs::path(tmp.empty() ? "/tmp" : tmp) / temporaryName;
    dirs.settingsFile = config / "pindle-capture" / "pindle-capture.ini";
    return dirs;
}

AppDirectories AppDirectories::fromEnvironment() {
    return fromEnvironment([](const char* name) { return std::getenv(name); },
                           static_cast<long>(getpid()));
}

Status AppDirectories::create() const {
    for (const fs::path& dir :
         {documents, applicationSupport, temporary, settingsFile.parent_path()}) {
        std::error_code error;
        fs::create_directories(dir, error);
        if (error) {
            return Error{"Cannot create the folder " + dir.string() + ": " + error.message()};
        }
    }
    return Ok{};
}

void AppDirectories::removeTemporaryIfEmpty() const {
    std::error_code error;
    if (fs::is_directory(temporary, error) && fs::is_empty(temporary, error)) {
        fs::remove(temporary, error);
    }
}

}  // namespace pindle
