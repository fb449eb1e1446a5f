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
// files nor look at the disk, except that the first temporary name makes the temporary
// folder when createDirectories() has not. Temporary files handed out are remembered until
// deleted.
class RCFileManager {
public:
    using Path = std::filesystem::path;

    explicit RCFileManager(AppDirectories directories);

    // The process's instance, over AppDirectories::fromEnvironment() unless
    // setCurrentInstance() installed another first.
    static RCFileManager& getCurrentInstance();
    static void setCurrentInstance(std::shared_ptr<RCFileManager> instance);

    // Creates the folders (see AppDirectories::create) and removes the temporary folders of
    // processes that ended without cleaning up; the program does this at start.
    Status createDirectories();

    // false for an empty path. Otherwise forgets the path as a temporary file, then removes
    // the file: true when it existed and was removed. Paths come from stored data (the
    // library, the settings), so only a file inside the program's own folders is removed,
    // with links and ".." resolved; anything else is refused with a log line.
    bool deleteFile(const Path& file);
    // Whether deleteFile may remove file: it lies inside the documents, support or
    // temporary folder once resolved, is no folder, and is not the settings file.
    bool isOwnFile(const Path& file) const;
    // true when the source is a readable regular file and the copy succeeded (an existing
    // destination is replaced).
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
    Path tempDirectoryURL() const;
    const AppDirectories& directories() const { return directories_; }

    // Snapshot of the remembered temporary files, by path text.
    std::map<std::string, Path> tempFiles() const;

private:
    Path remember(const std::string& name);

    mutable std::mutex mutex_;  // guards tempFiles_ and directories_.temporary
    AppDirectories directories_;
    std::map<std::string, Path> tempFiles_;
};

}  // namespace pindle
