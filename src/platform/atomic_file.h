#pragma once

#include <chrono>
#include <filesystem>
#include <string_view>

#include "platform/result.h"

namespace pindle {

// Replaces file with data so that a crash or power loss at any moment leaves either the
// old file or the new one, never a mixture: the data goes to a temporary file beside it,
// which is flushed to disk and then renamed over file. The directory must exist.
Status writeFileAtomically(const std::filesystem::path& file, std::string_view data);

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

}  // namespace pindle
