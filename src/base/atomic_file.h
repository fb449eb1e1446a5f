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
// is complete. The data goes to a temporary file beside the destination (a new name, created
// exclusively, with the permissions of any new file: 0666 less the umask); commit() renames
// it over the destination. Until then the destination keeps its old content, or stays
// missing, and a version that is never committed is removed when the object dies. A
// destination that is a folder is refused; one that is a symbolic link is followed, so that
// the file it names is replaced, not the link.
class FileReplacement {
public:
    static Result<FileReplacement> begin(const std::filesystem::path& destination);
    FileReplacement(FileReplacement&& other) noexcept;
    FileReplacement& operator=(FileReplacement&&) = delete;
    FileReplacement(const FileReplacement&) = delete;
    ~FileReplacement();

    // The temporary file, where the data goes.
    const std::filesystem::path& path() const { return temporary_; }
    // The file that commit() replaces (a link's target when the destination is a link).
    const std::filesystem::path& destination() const { return destination_; }
    // The temporary file's descriptor, open for writing; the caller closes it. -1 once
    // taken.
    int takeDescriptor();
    // Closes the descriptor if it was not taken and renames the temporary file over the
    // destination. On failure the temporary file is removed.
    Status commit();

private:
    FileReplacement(std::filesystem::path destination, std::filesystem::path temporary, int fd)
        : destination_(std::move(destination)), temporary_(std::move(temporary)), fd_(fd) {}
    void discard();

    std::filesystem::path destination_;
    std::filesystem::path temporary_;  // empty once committed or discarded
    int fd_;
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
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&&) = delete;
    FileLock(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_;
};

// Whether a process holds a FileLock on file itself (a movie that is being written): false
// for a file that nobody locks and for a missing one. The file is never created.
bool isFileLocked(const std::filesystem::path& file);

}  // namespace pindle
