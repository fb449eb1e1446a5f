#include "library/AppDirectories.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
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
    AppDirectories dirs;
    if (std::string home = nonEmpty(lookup, "PINDLE_CAPTURE_HOME"); !home.empty()) {
        std::error_code error;
        fs::path root = fs::absolute(home, error);
        if (error) {
            root = home;
        }
        const std::string temporaryName = "tmp-" + std::to_string(processId);
        dirs.documents = root;
        dirs.applicationSupport = root / "support";
        dirs.temporary = root / temporaryName;
        dirs.temporaryPattern = root / (temporaryName + "-XXXXXX");
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
    // The per-user runtime folder is private to the user; the shared temporary folder
    // is not, so the name there must not be guessable.
    std::string scratch = nonEmpty(lookup, "XDG_RUNTIME_DIR");
    if (scratch.empty()) {
        scratch = nonEmpty(lookup, "TMPDIR");
    }

    dirs.documents = data / "pindle-capture";
    dirs.applicationSupport = dirs.documents / "support";
    dirs.temporaryPattern = fs::path(scratch.empty() ? "/tmp" : scratch) /
                            ("pindle-capture-" + std::to_string(processId) + "-XXXXXX");
    dirs.settingsFile = config / "pindle-capture" / "pindle-capture.ini";
    return dirs;
}

AppDirectories AppDirectories::fromEnvironment() {
    return fromEnvironment([](const char* name) { return std::getenv(name); },
                           static_cast<long>(getpid()));
}

namespace {

// Whether folder can serve as this process's private folder: a folder (not a link to one)
// of this user that nobody else may enter.
bool isOwnPrivateFolder(const fs::path& folder) {
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

// The process whose temporary folder name is: prefix, a process id, and nothing or "-" and
// the six characters mkdtemp adds. Nothing for any other name.
std::optional<long> folderOwner(const std::string& name, const std::string& prefix) {
    if (prefix.empty() || name.rfind(prefix, 0) != 0) {
        return std::nullopt;
    }
    size_t end = prefix.size();
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) {
        ++end;
    }
    const size_t digits = end - prefix.size();
    if (digits == 0 || digits > 9 || (end != name.size() && name.size() - end != 7) ||
        (end != name.size() && name[end] != '-')) {
        return std::nullopt;
    }
    return std::stol(name.substr(prefix.size(), digits));
}

}  // namespace

std::string AppDirectories::temporaryPrefix() const {
    // The pattern's name is the prefix, this process's id and "-XXXXXX".
    std::string name = temporaryPattern.filename().string();
    const std::string suffix = "-XXXXXX";
    if (name.size() < suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return {};
    }
    name.resize(name.size() - suffix.size());
    while (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back()))) {
        name.pop_back();
    }
    return name;
}

std::vector<std::filesystem::path> AppDirectories::removeTemporariesOfEndedProcesses() const {
    std::vector<fs::path> removed;
    const std::string prefix = temporaryPrefix();
    if (prefix.empty()) {
        return removed;
    }
    std::error_code error;
    fs::directory_iterator entries(temporaryPattern.parent_path(), error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const fs::path& folder = entries->path();
        auto owner = folderOwner(folder.filename().string(), prefix);
        // Only folders this user made private, as create() makes them, of a process that
        // no longer runs. A running process of another user answers EPERM.
        if (!owner || *owner == long(::getpid()) || folder == temporary ||
            !isOwnPrivateFolder(folder) || ::kill(pid_t(*owner), 0) == 0 || errno != ESRCH) {
            continue;
        }
        std::error_code ignored;
        fs::remove_all(folder, ignored);  // links inside are removed, never followed
        if (!ignored) {
            removed.push_back(folder);
        }
    }
    return removed;
}

Status AppDirectories::create() {
    for (const fs::path& dir : {documents, applicationSupport, settingsFile.parent_path()}) {
        std::error_code error;
        fs::create_directories(dir, error);
        if (error) {
            return Error{"Cannot create the folder " + dir.string() + ": " + error.message()};
        }
    }
    if (!temporary.empty()) {
        int made = ::mkdir(temporary.c_str(), 0700) == 0 ? 0 : errno;
        if (made == 0 || (made == EEXIST && isOwnPrivateFolder(temporary))) {
            return Ok{};
        }
        if (temporaryPattern.empty()) {
            return Error{"Cannot create the folder " + temporary.string() + ": " +
                         (made == EEXIST ? "it exists and is not private" : std::strerror(made))};
        }
    }
    std::error_code error;
    fs::create_directories(temporaryPattern.parent_path(), error);
    std::string pattern = temporaryPattern.string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return Error{"Cannot create a folder like " + temporaryPattern.string() + ": " +
                     std::strerror(errno)};
    }
    temporary = pattern;
    return Ok{};
}

void AppDirectories::removeTemporaryIfEmpty() const {
    if (temporary.empty()) {
        return;
    }
    std::error_code error;
    if (fs::is_directory(temporary, error) && fs::is_empty(temporary, error)) {
        fs::remove(temporary, error);
    }
}

}  // namespace pindle
