#include "library/RCDataStore.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "base/atomic_file.h"
#include "base/dispatch.h"
#include "base/keyed_archive.h"
#include "base/log.h"
#include "platform/media.h"

namespace pindle {

namespace {

constexpr const char* kTag = "store";

std::mutex gInstanceMutex;  // guards gInstance
std::shared_ptr<RCDataStore> gInstance;

// The file's content; nothing (with errno set) when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return std::move(content).str();
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Removes temporary files of saves that a crash interrupted. Every save writes its
// temporary under the store's lock: with the lock held (nobodySaving) every temporary is
// left over. Without it another process on the same library (the application and a
// command-line verb) may be saving right now, so only temporaries that nobody has written
// for a while count as left over.
void removeStaleTemporaries(const std::filesystem::path& file, bool nobodySaving) {
    constexpr auto kLeftOverAfter = std::chrono::minutes(10);
    std::error_code error;
    std::string prefix = file.filename().string() + ".tmp-";
    auto now = std::filesystem::file_time_type::clock::now();
    std::filesystem::directory_iterator entries(file.parent_path(), error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const auto& entry = *entries;
        if (entry.path().filename().string().rfind(prefix, 0) != 0) {
            continue;
        }
        std::error_code ignored;
        auto written = std::filesystem::last_write_time(entry.path(), ignored);
        if (nobodySaving || (!ignored && now - written > kLeftOverAfter)) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

// What identifies a recording across processes: its movie. Empty for a recording whose
// movie is still being written, which other processes never see and merges leave alone.
std::string movieKey(const RCRecordingPtr& recording) {
    return recording ? recording->url().string() : std::string();
}

// Whether name is one the program gives its movies: a GUID and ".mp4".
bool isMovieName(const std::string& name) {
    constexpr size_t kGUIDLength = 36;
    if (name.size() != kGUIDLength + 4 || name.compare(kGUIDLength, 4, ".mp4") != 0) {
        return false;
    }
    for (size_t i = 0; i < kGUIDLength; ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? name[i] != '-' : !std::isxdigit(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

// A copy of file kept aside earlier: a link to the same file, or a copy with the same
// content.
std::optional<std::filesystem::path> copyKeptBefore(const std::filesystem::path& file) {
    std::optional<std::string> content;
    std::string prefix = file.filename().string() + ".damaged-";
    std::error_code error;
    std::filesystem::directory_iterator entries(file.parent_path(), error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const auto& copy = entries->path();
        std::error_code ignored;
        if (copy.filename().string().rfind(prefix, 0) != 0 ||
            !std::filesystem::is_regular_file(entries->symlink_status(ignored))) {
            continue;
        }
        if (std::filesystem::equivalent(file, copy, ignored)) {
            return copy;
        }
        if (!content) {
            content = readWholeFile(file);
            if (!content) {
                return std::nullopt;
            }
        }
        if (std::filesystem::file_size(copy, ignored) == content->size() && !ignored &&
            readWholeFile(copy) == content) {
            return copy;
        }
    }
    return std::nullopt;
}

}  // namespace

RCDataStore::RCDataStore(RCFileManager& files, NotificationCenter& center)
    : files_(files), center_(center), self_(std::make_shared<RCDataStore*>(this)) {
    loadData();
}

RCDataStore::~RCDataStore() = default;

RCDataStore& RCDataStore::getCurrentInstance() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) {
        gInstance = std::make_shared<RCDataStore>(RCFileManager::getCurrentInstance(),
                                                  NotificationCenter::defaultCenter());
    }
    return *gInstance;
}

void RCDataStore::setCurrentInstance(std::shared_ptr<RCDataStore> instance) {
    std::lock_guard lock(gInstanceMutex);
    gInstance = std::move(instance);
}

RCDataStore::Path RCDataStore::getArchiveFileURL() const {
    return files_.makeDocumentFileWithName(kArchiveFileName);
}

RCDataStore::Decoded RCDataStore::decodeRecordings(std::string_view data) {
    Decoded decoded;
    auto root = KeyedUnarchiver::forData(data);
    if (!root) {
        decoded.problems.push_back(root.error().message);
        return decoded;
    }
    std::vector<RCRecording::StoredFields> stored;
    try {
        auto count = root->arrayCount(KeyedArchiver::kRootKey);
        if (!count) {
            decoded.problems.push_back("no list of recordings");
            return decoded;
        }
        for (size_t i = 0; i < *count; ++i) {
            try {
                auto element = root->arrayElement(KeyedArchiver::kRootKey, i);
                if (auto fields = RCRecording::decodeStoredFields(element)) {
                    stored.push_back(std::move(*fields));
                }
            } catch (const ArchiveError& why) {
                PINDLE_LOG_WARNING(kTag, "recording %zu left out: %s", i, why.what());
                root->noteRejected(why.what());
            }
        }
    } catch (const std::exception& why) {
        decoded.problems.push_back(why.what());
        return decoded;
    }
    auto rejected = root->rejectedRecords();
    decoded.problems.insert(decoded.problems.end(), rejected.begin(), rejected.end());

    // Opening the movies is most of the work: spread it over the processors.
    decoded.recordings.resize(stored.size());
    size_t workers = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
    workers = std::min(workers, stored.size() / 16 + 1);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < stored.size(); i = next++) {
            decoded.recordings[i] = RCRecording::recordingWithStoredFields(stored[i]);
        }
    };
    dispatch::Semaphore done;
    for (size_t worker = 1; worker < workers; ++worker) {
        dispatch::globalQueue(dispatch::Priority::UserInitiated)->async([&] {
            work();
            done.signal();
        });
    }
    work();
    for (size_t worker = 1; worker < workers; ++worker) {
        done.wait();
    }
    return decoded;
}

RCDataStore::Path RCDataStore::lockFileURL() const {
    Path file = getArchiveFileURL();
    file += ".lock";
    return file;
}

void RCDataStore::loadData() {
    Path file = getArchiveFileURL();
    std::vector<RCRecordingPtr> loaded;
    Status status = Ok{};
    std::lock_guard saving(saveMutex_);
    // Read under the lock that saves hold, so that the store and the folder's movies are
    // seen together: another process deletes a removed movie right after its save. Without
    // a lock (a read-only folder) the library is read all the same.
    auto processLock = FileLock::acquire(lockFileURL());
    removeStaleTemporaries(file, bool(processLock));
    noteSynced({}, {});
    std::error_code error;
    auto type = std::filesystem::status(file, error).type();
    if (type == std::filesystem::file_type::not_found) {
        // A first start: no store yet.
    } else if (error) {
        status = Error{"cannot read the library " + file.string() + ": " + error.message()};
    } else if (type != std::filesystem::file_type::regular) {
        // Never opened: a FIFO would block, a device could be read without end.
        status = Error{"cannot read the library " + file.string() + ": not a regular file"};
    } else {
        if (auto data = readWholeFile(file); !data) {
            status =
                Error{"cannot read the library " + file.string() + ": " + std::strerror(errno)};
            keepDamagedFile(file, "cannot be read");
        } else {
            Decoded decoded = decodeRecordings(*data);
            loaded = std::move(decoded.recordings);
            if (decoded.problems.empty()) {
                noteSynced(std::move(*data), loaded);
            } else {
                std::string reason = decoded.problems.front();
                if (decoded.problems.size() > 1) {
                    reason += " and " + std::to_string(decoded.problems.size() - 1) + " more";
                }
                keepDamagedFile(file, reason);
            }
        }
        PINDLE_LOG_INFO(kTag, "loaded %zu recordings from %s", loaded.size(),
                        file.string().c_str());
    }
    if (status) {
        listUnlistedMovies(loaded);
    } else {
        PINDLE_LOG_ERROR(kTag, "%s", status.error().message.c_str());
    }
    std::lock_guard lock(mutex_);
    recordings_ = std::move(loaded);
    loadStatus_ = std::move(status);
}

void RCDataStore::listUnlistedMovies(std::vector<RCRecordingPtr>& loaded) {
    std::set<std::string> listed;
    for (const auto& recording : loaded) {
        listed.insert(recording->url().filename().string());
    }
    Path folder = getArchiveFileURL().parent_path();
    auto settled = std::filesystem::file_time_type::clock::now() - kUnlistedMovieSettleTime;
    std::vector<std::pair<std::filesystem::file_time_type, Path>> unlisted;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const Path& movie = entries->path();
        std::string name = movie.filename().string();
        std::error_code ignored;
        if (!isMovieName(name) || listed.contains(name) ||
            !std::filesystem::is_regular_file(entries->symlink_status(ignored)) ||
            isFileLocked(movie)) {
            continue;  // not a movie of ours, listed, or being written
        }
        auto written = std::filesystem::last_write_time(movie, ignored);
        // An empty file may be one a writer has just created and not locked yet (see
        // kUnlistedMovieSettleTime).
        if (ignored || (std::filesystem::file_size(movie, ignored) == 0 && written >= settled)) {
            continue;
        }
        unlisted.emplace_back(written, movie);
    }
    if (unlisted.empty()) {
        return;
    }
    std::sort(unlisted.begin(), unlisted.end());
    std::string names;
    for (const auto& [written, movie] : unlisted) {
        auto recording = RCRecording::recordingWithURL(movie);
        if (!recording->hasVideoTrack() && media::hasMovieOpener()) {
            // Nobody writes it and it cannot be read: what a process killed while writing
            // left, without the index a movie gets when it is finished.
            PINDLE_LOG_WARNING(kTag, "removing %s: a movie whose writing was cut off",
                               movie.string().c_str());
            files_.deleteFile(movie);
            continue;
        }
        loaded.push_back(std::move(recording));
        names += (names.empty() ? "" : ", ") + movie.filename().string();
    }
    if (!names.empty()) {
        PINDLE_LOG_WARNING(kTag,
                           "movies of %s were in no store entry (a save that failed or a crash); "
                           "they are listed again: %s",
                           folder.string().c_str(), names.c_str());
    }
}

Status RCDataStore::loadStatus() const {
    std::lock_guard lock(mutex_);
    return loadStatus_;
}

void RCDataStore::keepDamagedFile(const Path& file, const std::string& reason) {
    // A run that only reads the library leaves the damaged file in place; the next one
    // finds it kept already.
    if (auto kept = copyKeptBefore(file)) {
        PINDLE_LOG_WARNING(kTag, "the store file %s is damaged (%s); it was kept as %s before",
                           file.string().c_str(), reason.c_str(), kept->string().c_str());
        std::lock_guard lock(mutex_);
        damagedCopy_ = *kept;
        return;
    }
    std::string base = file.string() + ".damaged-" + timestamp();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        Path copy = attempt == 0 ? Path(base) : Path(base + "-" + std::to_string(attempt));
        std::error_code error;
        // Neither a link nor a copy with copy_options::none replaces an existing file.
        std::filesystem::create_hard_link(file, copy, error);
        if (error && error != std::errc::file_exists) {
            error.clear();
            std::filesystem::copy_file(file, copy, std::filesystem::copy_options::none, error);
        }
        if (!error) {
            PINDLE_LOG_WARNING(kTag, "the store file %s is damaged (%s); it was kept as %s",
                               file.string().c_str(), reason.c_str(), copy.string().c_str());
            std::lock_guard lock(mutex_);
            damagedCopy_ = copy;
            return;
        }
        if (error != std::errc::file_exists) {
            PINDLE_LOG_ERROR(kTag, "the store file %s is damaged (%s) and cannot be kept: %s",
                             file.string().c_str(), reason.c_str(), error.message().c_str());
            return;
        }
    }
}

void RCDataStore::noteSynced(std::string data, const std::vector<RCRecordingPtr>& recordings) {
    syncedData_ = std::move(data);
    syncedMovies_.clear();
    for (const auto& recording : recordings) {
        if (std::string key = movieKey(recording); !key.empty()) {
            syncedMovies_.insert(std::move(key));
        }
    }
}

bool RCDataStore::mergeLocked() {
    Path file = getArchiveFileURL();
    std::error_code error;
    // Never opened unless it is a regular file: a FIFO would block.
    if (!std::filesystem::is_regular_file(file, error)) {
        return false;
    }
    auto data = readWholeFile(file);
    if (!data || *data == syncedData_) {
        return false;
    }
    // A file that does not decode whole is not taken as anyone's intent: nothing in it is
    // removed from the list, and what it still lists is taken in.
    Decoded decoded = decodeRecordings(*data);
    bool whole = decoded.problems.empty();
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        std::map<std::string, RCRecordingPtr> ours;
        for (const auto& recording : recordings_) {
            ours.emplace(movieKey(recording), recording);
        }
        std::vector<RCRecordingPtr> merged;
        std::set<std::string> placed;
        auto place = [&](const RCRecordingPtr& recording) {
            merged.push_back(recording);
            placed.insert(movieKey(recording));
        };
        auto isNew = [&](const std::string& key) {
            return !key.empty() && !placed.contains(key) && !syncedMovies_.contains(key);
        };
        if (whole) {
            // The file's order, with this store's own object (and edits) for each recording
            // it has; then what was added here since (or is still being written here).
            for (const auto& recording : decoded.recordings) {
                std::string key = movieKey(recording);
                if (auto own = ours.find(key); own != ours.end() && !placed.contains(key)) {
                    place(own->second);
                } else if (isNew(key)) {
                    place(recording);
                }
            }
            for (const auto& recording : recordings_) {
                std::string key = movieKey(recording);
                if (key.empty() || isNew(key)) {
                    place(recording);
                }
            }
        } else {
            // A damaged file only adds what it still lists.
            for (const auto& recording : recordings_) {
                place(recording);
            }
            for (const auto& recording : decoded.recordings) {
                if (isNew(movieKey(recording))) {
                    place(recording);
                }
            }
        }
        changed = merged != recordings_;
        recordings_ = std::move(merged);
    }
    if (changed) {
        PINDLE_LOG_INFO(kTag, "took in the changes another process made to %s",
                        file.string().c_str());
    }
    std::vector<RCRecordingPtr> synced = whole ? decoded.recordings : allRecordings();
    noteSynced(whole ? std::move(*data) : std::string(), synced);
    return changed;
}

bool RCDataStore::mergeChangesFromDisk() {
    bool changed = false;
    {
        std::lock_guard lock(saveMutex_);
        changed = mergeLocked();
    }
    if (changed) {
        center_.post(kUpdateNotification, this);
    }
    return changed;
}

Status RCDataStore::saveData() {
    std::lock_guard lock(saveMutex_);
    Status saved = saveLocked();
    {
        std::lock_guard guard(mutex_);
        saveStatus_ = saved;
    }
    if (!saved) {
        PINDLE_LOG_ERROR(kTag, "cannot save the library: %s", saved.error().message.c_str());
        center_.post(kSaveFailedNotification, this);
    }
    return saved;
}

Status RCDataStore::saveLocked() {
    // Other processes on this library wait while this one merges and writes, so that
    // neither writes over a change the other has not seen.
    auto processLock = FileLock::acquire(lockFileURL());
    if (!processLock) {
        return processLock.error();
    }
    if (mergeLocked()) {
        center_.post(kUpdateNotification, this);
    }
    std::vector<RCRecordingPtr> snapshot = allRecordings();
    KeyedArchiver archiver;
    archiver.encodeArray(snapshot, KeyedArchiver::kRootKey);
    std::string data = archiver.archivedData();
    if (Status written = writeFileAtomically(getArchiveFileURL(), data); !written) {
        return written;
    }
    noteSynced(std::move(data), snapshot);
    deleteRemovedMovies(snapshot);
    return Ok{};
}

void RCDataStore::deleteRemovedMovies(const std::vector<RCRecordingPtr>& saved) {
    std::set<std::string> listed;
    for (const auto& recording : saved) {
        listed.insert(movieKey(recording));
    }
    std::vector<Path> removed;
    {
        std::lock_guard lock(mutex_);
        removed.swap(removedMovies_);
    }
    std::vector<Path> waiting;
    for (const Path& movie : removed) {
        if (listed.contains(movie.string())) {
            // Removed after the list was taken: the save that change queued deletes it.
            waiting.push_back(movie);
        } else if (movie.filename().string().rfind(kArchiveFileName, 0) != 0) {
            files_.deleteFile(movie);
        }
    }
    std::lock_guard lock(mutex_);
    removedMovies_.insert(removedMovies_.end(), waiting.begin(), waiting.end());
}

Status RCDataStore::saveStatus() const {
    std::lock_guard lock(mutex_);
    return saveStatus_;
}

void RCDataStore::announceAndSave() {
    if (dispatch::isMainThread()) {
        center_.post(kUpdateNotification, this);
        saveData();
        return;
    }
    if (!savePending_.exchange(true)) {
        dispatch::mainQueue()->async([self = std::weak_ptr<RCDataStore*>(self_)] {
            if (auto store = self.lock()) {
                (*store)->savePending_ = false;
                (*store)->saveData();
            }
        });
    }
    center_.post(kUpdateNotification, this);
}

void RCDataStore::addRecording(RCRecordingPtr recording) {
    if (!recording) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        recordings_.push_back(std::move(recording));
    }
    announceAndSave();
}

void RCDataStore::removeRecording(const RCRecordingPtr& recording) {
    {
        std::lock_guard lock(mutex_);
        std::erase(recordings_, recording);
        if (recording && !recording->url().empty()) {
            removedMovies_.push_back(recording->url());
        }
    }
    announceAndSave();
}

void RCDataStore::removeAllRecordings() {
    {
        std::lock_guard lock(mutex_);
        for (const auto& recording : recordings_) {
            if (!recording->url().empty()) {
                removedMovies_.push_back(recording->url());
            }
        }
        recordings_.clear();
    }
    announceAndSave();
}

void RCDataStore::updateRecording(const RCRecordingPtr&) {
    announceAndSave();
}

RCRecordingPtr RCDataStore::recordingAtIndex(uint64_t index) const {
    std::lock_guard lock(mutex_);
    return index < recordings_.size() ? recordings_[index] : nullptr;
}

uint64_t RCDataStore::recordingsCount() const {
    std::lock_guard lock(mutex_);
    return recordings_.size();
}

std::vector<RCRecordingPtr> RCDataStore::allRecordings() const {
    std::lock_guard lock(mutex_);
    return recordings_;
}

void RCDataStore::setCapturedRecordings(std::vector<RCRecordingPtr> recordings) {
    std::lock_guard lock(mutex_);
    recordings_ = std::move(recordings);
}

RCDataStore::Path RCDataStore::damagedFileCopy() const {
    std::lock_guard lock(mutex_);
    return damagedCopy_;
}

}  // namespace pindle
