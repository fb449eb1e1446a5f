#include "library/RCFileManager.h"

#include <unistd.h>

#include <optional>
#include <system_error>
#include <vector>

#include "base/log.h"
#include "library/RCUtilities.h"

namespace pindle {
namespace fs = std::filesystem;

namespace {

std::mutex gInstanceMutex;  // guards gInstance
std::shared_ptr<RCFileManager> gInstance;

std::string guidName(const std::string& extension) {
    return RCUtilities::makeGUID() + "." + extension;
}

}  // namespace

RCFileManager::RCFileManager(AppDirectories directories) : directories_(std::move(directories)) {}

RCFileManager& RCFileManager::getCurrentInstance() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) {
        gInstance = std::make_shared<RCFileManager>(AppDirectories::fromEnvironment());
    }
    return *gInstance;
}

void RCFileManager::setCurrentInstance(std::shared_ptr<RCFileManager> instance) {
    std::lock_guard lock(gInstanceMutex);
    gInstance = std::move(instance);
}

Status RCFileManager::createDirectories() {
    std::lock_guard lock(mutex_);
    Status created = directories_.create();
    for (const Path& folder : directories_.removeTemporariesOfEndedProcesses()) {
        PINDLE_LOG_INFO("files", "removed %s, left by a process that ended without cleaning up",
                        folder.c_str());
    }
    return created;
}

namespace {

// Whether path lies strictly inside folder; both are resolved paths.
bool isInside(const fs::path& path, const fs::path& folder) {
    auto part = path.begin();
    for (const auto& folderPart : folder) {
        if (folderPart.empty()) {
            continue;  // the empty last part of a folder written with a trailing slash
        }
        if (part == path.end() || *part != folderPart) {
            return false;
        }
        ++part;
    }
    return part != path.end() && !part->empty();
}

// Where the file lies, with every link and ".." of its folder resolved (a link in the last
// part stays: deleting removes the link, not what it names). Nothing when that cannot be
// done.
std::optional<fs::path> placeOf(const fs::path& file) {
    std::error_code error;
    fs::path absolute = fs::absolute(file, error);
    if (error) {
        return std::nullopt;
    }
    fs::path name = absolute.filename();
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    fs::path parent = fs::weakly_canonical(absolute.parent_path(), error);
    if (error) {
        return std::nullopt;
    }
    return parent / name;
}

}  // namespace

bool RCFileManager::isOwnFile(const Path& file) const {
    auto place = placeOf(file);
    if (!place) {
        return false;
    }
    std::error_code error;
    fs::file_status status = fs::symlink_status(*place, error);
    if (fs::is_directory(status)) {
        return false;
    }
    // A link is ours only when it lies in our folders and names a file there: a link
    // elsewhere that names one of our movies is the user's, and so is a link in our
    // folders that names a file of the user's.
    std::vector<Path> places = {*place};
    if (fs::is_symlink(status)) {
        places.push_back(fs::weakly_canonical(*place, error));
        if (error) {
            return false;
        }
    }
    std::vector<Path> folders;
    {
        std::lock_guard lock(mutex_);
        auto settings = placeOf(directories_.settingsFile);
        for (const Path& path : places) {
            if (settings == path) {
                return false;
            }
        }
        folders = {directories_.documents, directories_.applicationSupport, directories_.temporary};
    }
    auto inOurFolders = [&](const Path& path) {
        for (const Path& folder : folders) {
            std::error_code canonicalError;
            Path canonical = folder.empty() ? Path() : fs::weakly_canonical(folder, canonicalError);
            if (!folder.empty() && !canonicalError && isInside(path, canonical)) {
                return true;
            }
        }
        return false;
    };
    for (const Path& path : places) {
        if (!inOurFolders(path)) {
            return false;
        }
    }
    return true;
}

bool RCFileManager::deleteFile(const Path& file) {
    if (file.empty()) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        tempFiles_.erase(file.string());
    }
    std::error_code error;
    if (!fs::exists(fs::symlink_status(file, error))) {
        return false;
    }
    if (!isOwnFile(file)) {
        PINDLE_LOG_WARNING("files", "not deleting %s: it is not a file of this program's folders",
                           file.c_str());
        return false;
    }
    bool removed = fs::remove(file, error);
    if (error) {
        PINDLE_LOG_WARNING("files", "cannot delete %s: %s", file.c_str(), error.message().c_str());
        return false;
    }
    return removed;
}

bool RCFileManager::copyFileFromURL(const Path& source, const Path& destination) {
    std::error_code error;
    if (!fs::is_regular_file(source, error) || access(source.c_str(), R_OK) != 0) {
        return false;
    }
    fs::copy_file(source, destination, fs::copy_options::overwrite_existing, error);
    if (error) {
        PINDLE_LOG_WARNING("files", "cannot copy %s to %s: %s", source.c_str(), destination.c_str(),
                           error.message().c_str());
        return false;
    }
    return true;
}

bool RCFileManager::fileExists(const Path& file) const {
    std::error_code error;
    return !file.empty() && fs::exists(fs::symlink_status(file, error));
}

bool RCFileManager::isDirectory(const Path& file) const {
    std::error_code error;
    return !file.empty() && fs::is_directory(file, error);
}

RCFileManager::Path RCFileManager::tempDirectoryURL() const {
    std::lock_guard lock(mutex_);
    return directories_.temporary;
}

RCFileManager::Path RCFileManager::remember(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (directories_.temporary.empty()) {
        if (auto created = directories_.create(); !created) {
            PINDLE_LOG_ERROR("files", "%s", created.error().message.c_str());
        }
    }
    Path file = directories_.temporary / name;
    tempFiles_[file.string()] = file;
    return file;
}

RCFileManager::Path RCFileManager::makeTempFileWithExtension(const std::string& extension) {
    return remember(guidName(extension));
}

RCFileManager::Path RCFileManager::makeTempFileWithName(const std::string& name) {
    return remember(name);
}

void RCFileManager::cleanUpTempFiles() {
    std::vector<Path> files;
    for (auto& [text, file] : tempFiles()) {
        files.push_back(file);
    }
    for (const Path& file : files) {
        deleteFile(file);
    }
    std::lock_guard lock(mutex_);
    directories_.removeTemporaryIfEmpty();
}

RCFileManager::Path RCFileManager::makeDocumentFileWithExtension(
    const std::string& extension) const {
    return directories_.documents / guidName(extension);
}

RCFileManager::Path RCFileManager::makeDocumentFileWithName(const std::string& name) const {
    return directories_.documents / name;
}

RCFileManager::Path RCFileManager::makeApplicationSupportFileWithExtension(
    const std::string& extension) const {
    return directories_.applicationSupport / guidName(extension);
}

RCFileManager::Path RCFileManager::makeApplicationSupportFileWithName(
    const std::string& name) const {
    return directories_.applicationSupport / name;
}

std::map<std::string, RCFileManager::Path> RCFileManager::tempFiles() const {
    std::lock_guard lock(mutex_);
    return tempFiles_;
}

}  // namespace pindle
