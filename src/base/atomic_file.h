#pragma once

#include <chrono>
#include <filesystem>
#include <string_view>

#include "base/result.h"

namespace pindle {

// Replaces file with data so that a crash or power loss at any moment leaves either the
// old file or the new one, never a mixture: the data goes to a temporary file beside it,
// which is flushed to disk and then renamed over file. The directory must exist.
Status writeFileAtomically(const std::filesystem::path& file, std::string_view data);

// A new version of a file that is written elsewhere and takes the file's place only when it
// is complete. Where the file system allows, the data goes to an unnamed file in the
// destination's folder, which appears nowhere until commit() gives it a name, so that a
// process killed while writing leaves the folder as it was. Elsewhere it goes to a named
// temporary file beside the destination (created exclusively). Either has the permissions
// of any new file: 0666 less the umask. commit() puts it in the destination's place in one
// step. Until then the destination keeps its old content, or stays missing, and a version
// that is never committed is dropped when the object dies. A destination that is a folder
// is refused; one that is a symbolic link is followed, so that the file it names is
// replaced, not the link.
class FileReplacement {
public:
    static Result<FileReplacement> begin(const std::filesystem::path& destination);
    FileReplacement(FileReplacement&& other) noexcept;
    FileReplacement& operator=(FileReplacement&&) = delete;
    FileReplacement(const FileReplacement&) = delete;
    ~FileReplacement();

    // The file that commit() replaces (a link's target when the destination is a link).
    const std::filesystem::path& destination() const { return destination_; }
    // The new version, open for reading and writing; it stays open until commit() or the
    // object dies. Writers that close what they write to take a duplicate().
    int descriptor() const { return fd_; }
    // A new descriptor of the new version (sharing its file offset), which the caller
    // closes; -1 with errno set when none can be made.
    int duplicate() const;
    // Puts the new version in the destination's place. On failure it is dropped.
    Status commit();

    // For tests: false makes begin() take the named temporary file, as on a file system
    // without unnamed files.
    static void allowUnnamedFiles(bool allowed);

private:
    FileReplacement(std::filesystem::path destination, std::filesystem::path temporary, int fd)
        : destination_(std::move(destination)), temporary_(std::move(temporary)), fd_(fd) {}
    Status linkInPlace();
    void discard();

    std::filesystem::path destination_;
    std::filesystem::path temporary_;  // the named temporary file; empty for an unnamed one
    int fd_;                           // -1 once committed or discarded
};

// An exclusive advisory lock that processes take on a lock file (created when missing)
// around a read-change-write of a shared file, so that two of them never interleave. It is
// released when the object dies, and by the system when the process does.
class FileLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{10000};

    // Waits until the lock is free, at most wait: an Error that says so after that.
    static Result<FileLock> acquire(const std::filesystem::path& lockFile,
                                    std::chrono::milliseconds wait = kDefaultWait);
    // A lock on a new file, open for reading and writing, that shows under the name file
    // only once publish() is called, so that nobody sees it unlocked or before it has its
    // first bytes. Where the file system has no unnamed files, file is created and locked at
    // once instead (another process may then see it empty and unlocked for a moment).
    static Result<FileLock> createLocked(const std::filesystem::path& file);
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&&) = delete;
    FileLock(const FileLock&) = delete;
    ~FileLock();

    // The locked file's descriptor, owned by the lock.
    int descriptor() const { return fd_; }
    // Gives a file of createLocked() its name, unless it has it already; fails when the
    // name has been taken meanwhile.
    Status publish();

private:
    explicit FileLock(int fd, std::filesystem::path unnamedAs = {})
        : fd_(fd), unnamedAs_(std::move(unnamedAs)) {}
    int fd_;
    std::filesystem::path unnamedAs_;  // the name the file takes at publish(); empty once named
};

// Whether a process holds a FileLock on file itself (a movie that is being written): false
// for a file that nobody locks and for a missing one. The file is never created.
bool isFileLocked(const std::filesystem::path& file);

}  // namespace pindle
