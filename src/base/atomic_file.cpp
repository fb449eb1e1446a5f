#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>

namespace pindle {

namespace {

Error systemError(const std::string& what, const std::filesystem::path& file) {
    return Error{what + " " + file.string() + ": " + std::strerror(errno)};
}

std::atomic<bool> gUnnamedFiles{true};

// A name beside target that no other writer uses, most likely.
std::filesystem::path temporaryNameBeside(const std::filesystem::path& target) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::filesystem::path temporary = target;
    temporary += ".tmp-" + std::to_string(random() % 1000000000);
    return temporary;
}

// Opens a new file beside target with a name no other writer uses.
int createTemporary(const std::filesystem::path& target, std::filesystem::path& temporary,
                    mode_t mode = 0644) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = temporaryNameBeside(target);
        int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Opens a file without a name in the folder that will hold file, for reading and writing:
// -1 with errno set when it cannot.
int openUnnamed(const std::filesystem::path& file, mode_t mode) {
    if (!gUnnamedFiles) {
        errno = EOPNOTSUPP;
        return -1;
    }
    std::filesystem::path folder = file.parent_path();
    return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
}

// Whether an error of openUnnamed says that the file system has no unnamed files (or the
// kernel does not know them), so that a named file has to do.
bool lacksUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Gives the unnamed file open as fd the name file: false with errno set (EEXIST when the
// name is taken) when it cannot. linkat never replaces a file.
bool linkUnnamed(int fd, const std::filesystem::path& file) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    if (errno != ENOENT) {
        return false;
    }
    // Without /proc: by the descriptor itself, which only a privileged process may do.
    return ::linkat(fd, "", AT_FDCWD, file.c_str(), AT_EMPTY_PATH) == 0;
}

}  // namespace

Status writeFileAtomically(const std::filesystem::path& file, std::string_view data) {
    std::filesystem::path temporary;
    int fd = createTemporary(file, temporary);
    if (fd < 0) {
        return systemError("cannot create a file beside", file);
    }
    const char* next = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(fd, next, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            Error error = systemError("cannot write", temporary);
            ::close(fd);
            ::unlink(temporary.c_str());
            return error;
        }
        next += written;
        left -= size_t(written);
    }
    // The data must be on disk before the rename makes it the file; the file's times need
    // not be.
    if (::fdatasync(fd) != 0) {
        Error error = systemError("cannot flush", temporary);
        ::close(fd);
        ::unlink(temporary.c_str());
        return error;
    }
    if (::close(fd) != 0) {
        Error error = systemError("cannot close", temporary);
        ::unlink(temporary.c_str());
        return error;
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        Error error = systemError("cannot replace", file);
        ::unlink(temporary.c_str());
        return error;
    }
    // The directory is not synced: until the system writes it back, a power loss may bring
    // back the previous version of the file, which is whole too.
    return Ok{};
}

Result<FileReplacement> FileReplacement::begin(const std::filesystem::path& destination) {
    std::filesystem::path target = destination;
    struct stat entry {};
    if (::lstat(destination.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> resolved(
            ::realpath(destination.c_str(), nullptr), &std::free);
        if (!resolved) {
            return systemError("cannot follow the link", destination);
        }
        target = resolved.get();
    }
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        return Error{"cannot replace the folder " + destination.string() + " with a file"};
    }
    if (int fd = openUnnamed(target, 0666); fd >= 0) {
        return FileReplacement(std::move(target), {}, fd);
    }
    if (!lacksUnnamedFiles(errno)) {
        return systemError("cannot create a file beside", destination);
    }
    std::filesystem::path temporary;
    int fd = createTemporary(target, temporary, 0666);
    if (fd < 0) {
        return systemError("cannot create a file beside", destination);
    }
    return FileReplacement(std::move(target), std::move(temporary), fd);
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : destination_(std::move(other.destination_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)) {
    other.temporary_.clear();
}

FileReplacement::~FileReplacement() {
    discard();
}

void FileReplacement::allowUnnamedFiles(bool allowed) {
    gUnnamedFiles = allowed;
}

int FileReplacement::duplicate() const {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

void FileReplacement::discard() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

Status FileReplacement::linkInPlace() {
    // A missing destination takes the name at once. An existing one is replaced by a second
    // name renamed over it: that name is seen for the moment between the two calls only.
    if (linkUnnamed(fd_, destination_)) {
        return Ok{};
    }
    if (errno != EEXIST) {
        return systemError("cannot create", destination_);
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::filesystem::path second = temporaryNameBeside(destination_);
        if (!linkUnnamed(fd_, second)) {
            if (errno == EEXIST) {
                continue;
            }
            return systemError("cannot create a file beside", destination_);
        }
        if (::rename(second.c_str(), destination_.c_str()) != 0) {
            Error error = systemError("cannot replace", destination_);
            ::unlink(second.c_str());
            return error;
        }
        return Ok{};
    }
    return Error{"cannot find a free name beside " + destination_.string()};
}

Status FileReplacement::commit() {
    if (fd_ < 0) {
        return Error{"the new version of " + destination_.string() + " is gone"};
    }
    // Not flushed to disk first: an export is large and the user sees it at once; what the
    // replacement guards against is a failed or interrupted export taking the old file with
    // it, or leaving a part of the new one.
    if (temporary_.empty()) {
        Status linked = linkInPlace();
        discard();
        return linked;
    }
    if (::close(std::exchange(fd_, -1)) != 0) {
        Error error = systemError("cannot close", temporary_);
        discard();
        return error;
    }
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        Error error = systemError("cannot replace", destination_);
        discard();
        return error;
    }
    temporary_.clear();
    return Ok{};
}

Result<FileLock> FileLock::acquire(const std::filesystem::path& lockFile,
                                   std::chrono::milliseconds wait) {
    // Read access is enough for flock, so a lock file left by another user still works.
    int fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return Error{"cannot open " + lockFile.string() + ": " + std::strerror(errno)};
    }
    // Polled rather than waited on, so that a holder that never lets go (a process stopped
    // in a debugger, a hung file system) costs a bounded wait and a clear message.
    constexpr auto kPoll = std::chrono::milliseconds(20);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            std::string reason = std::strerror(errno);
            ::close(fd);
            return Error{"cannot lock " + lockFile.string() + ": " + reason};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            auto seconds = std::chrono::duration<double>(wait).count();
            char text[32];
            std::snprintf(text, sizeof text, "%g", seconds);
            return Error{"another process has held " + lockFile.string() + " for more than " +
                         text + " s; is another copy of the program stuck?"};
        }
        std::this_thread::sleep_for(kPoll);
    }
    return FileLock(fd);
}

Result<FileLock> FileLock::createLocked(const std::filesystem::path& file) {
    if (int fd = openUnnamed(file, 0644); fd >= 0) {
        // Nobody else can reach the file before it has a name.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            Error error = systemError("cannot lock a new file for", file);
            ::close(fd);
            return error;
        }
        return FileLock(fd, file);
    }
    if (!lacksUnnamedFiles(errno)) {
        return systemError("cannot create", file);
    }
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return systemError("cannot create", file);
    }
    // Waited on: a process that looks whether the file is locked holds a shared lock on it
    // for a moment.
    int locked = 0;
    while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        Error error = systemError("cannot lock", file);
        ::close(fd);
        ::unlink(file.c_str());
        return error;
    }
    return FileLock(fd);
}

Status FileLock::publish() {
    if (unnamedAs_.empty()) {
        return Ok{};
    }
    if (fd_ < 0 || !linkUnnamed(fd_, unnamedAs_)) {
        return systemError("cannot create", unnamedAs_);
    }
    unnamedAs_.clear();
    return Ok{};
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), unnamedAs_(std::move(other.unnamedAs_)) {
    other.unnamedAs_.clear();
}

FileLock::~FileLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

bool isFileLocked(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    int locked = 0;
    while ((locked = ::flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
    }
    const bool held = locked != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // also lets go of the shared lock just taken
    return held;
}

}  // namespace pindle
