#include "library/RCFileManager.h"

#include <unistd.h>

#include <system_error>
#include <vector>

#include "library/RCUtilities.h"
#include "platform/log.h"

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
    bool removed = fs::remove(file, error);
    if (error) {
        PINDLE_LOG_WARNING("files", "cannot delete %s: %s", file.c_str(), error.message().c_str());
        return false;
    }
    return removed;
}

bool RCFileManager::copyFileFromURL(const Path& source, const Path& destination) {
    if (access(source.c_str(), R_OK) != 0) {
        return false;
    }
    std::error_code error;
    fs::copy(source, destination,
             fs::copy_options::overwrite_existing | fs::copy_options::recursive, error);
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

RCFileManager::Path RCFileManager::remember(Path file) {
    std::lock_guard lock(mutex_);
    tempFiles_[file.string()] = file;
    return file;
}

RCFileManager::Path RCFileManager::makeTempFileWithExtension(const std::string& extension) {
    return remember(directories_.temporary / guidName(extension));
}

RCFileManager::Path RCFileManager::makeTempFileWithName(const std::string& name) {
    return remember(directories_.temporary / name);
}

void RCFileManager::cleanUpTempFiles() {
    std::vector<Path> files;
    for (auto& [text, file] : tempFiles()) {
        files.push_back(file);
    }
    for (const Path& file : files) {
        deleteFile(file);
    }
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
