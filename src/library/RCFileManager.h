#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "library/AppDirectories.h"

namespace pindle {

// Names every file the program writes and deletes the temporary ones at quit.
//
// Files are passed as paths. The make... operations only build names: they neither create
// files nor look at the disk. Temporary files handed out are remembered until deleted.
class RCFileManager {
public:
    using Path = std::filesystem::path;

    explicit RCFileManager(AppDirectories directories);

    // The process's instance, over AppDirectories::fromEnvironment() unless
    // setCurrentInstance() installed another first.
    static RCFileManager& getCurrentInstance();
    static void setCurrentInstance(std::shared_ptr<RCFileManager> instance);

    // false for an empty path. Otherwise forgets the path as a temporary file, then removes
    // the file: true when it existed and was removed.
    bool deleteFile(const Path& file);
    // true when the source was readable and the copy succeeded (an existing destination is
    // replaced).
    bool copyFileFromURL(const Path& source, const Path& destination);
    bool fileExists(const Path& file) const;
    bool isDirectory(const Path& file) const;

    Path makeTempFileWithExtension(const std::string& extension);
    Path makeTempFileWithName(const std::string& name);
    // Deletes every remembered temporary file, then the temporary folder if it is empty.
    void cleanUpTempFiles();

    Path makeDocumentFileWithExtension(const std::string& extension) const;
    Path makeDocumentFileWithName(const std::string& name) const;
    Path makeApplicationSupportFileWithExtension(const std::string& extension) const;
    Path makeApplicationSupportFileWithName(const std::string& name) const;

    const Path& documentDirectoryURL() const { return directories_.documents; }
    const Path& applicationSupportDirectoryURL() const { return directories_.applicationSupport; }
    const Path& tempDirectoryURL() const { return directories_.temporary; }
    const AppDirectories& directories() const { return directories_; }

    // Snapshot of the remembered temporary files, by path text.
    std::map<std::string, Path> tempFiles() const;

private:
    Path remember(Path file);

    const AppDirectories directories_;
    mutable std::mutex mutex_;  // guards tempFiles_
    std::map<std::string, Path> tempFiles_;
};

}  // namespace pindle
