#include "library/RCDataStore.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/dispatch.h"
#include "platform/keyed_archive.h"
#include "platform/log.h"

namespace pindle {

namespace {

constexpr const char* kTag = "store";

std::mutex gInstanceMutex;  // guards gInstance
std::shared_ptr<RCDataStore> gInstance;

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

// Removes temporary files of saves that a crash interrupted. Another process on the same
// library (the application and a command-line verb) may be saving right now, so only
// temporaries that nobody has written for a while count as left over.
void removeStaleTemporaries(const std::filesystem::path& file) {
    constexpr auto kLeftOverAfter = std::chrono::minutes(10);
    std::error_code error;
    std::string prefix = file.filename().string() + ".tmp-";
    auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
        if (entry.path().filename().string().rfind(prefix, 0) != 0) {
            continue;
        }
        auto written = std::filesystem::last_write_time(entry.path(), error);
        if (!error && now - written > kLeftOverAfter) {
            std::filesystem::remove(entry.path(), error);
        }
    }
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

void RCDataStore::loadData() {
    Path file = getArchiveFileURL();
    std::vector<RCRecordingPtr> loaded;
    std::error_code error;
    std::lock_guard saving(saveMutex_);
    noteSynced({}, {});
    if (std::filesystem::exists(file, error)) {
        removeStaleTemporaries(file);
        if (auto data = readWholeFile(file); !data) {
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
    std::lock_guard lock(mutex_);
    recordings_ = std::move(loaded);
}

void RCDataStore::keepDamagedFile(const Path& file, const std::string& reason) {
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

namespace {
// What identifies a recording across processes: its movie. Empty for a recording whose
// movie is still being written, which other processes never see and merges leave alone.
std::string movieKey(const RCRecordingPtr& recording) {
    return recording ? recording->url().string() : std::string();
}
}  // namespace

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
    if (!std::filesystem::exists(file, error)) {
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
    // Other processes on this library wait while this one merges and writes, so that
    // neither writes over a change the other has not seen.
    Path lockFile = getArchiveFileURL();
    lockFile += ".lock";
    auto processLock = FileLock::acquire(lockFile);
    if (!processLock) {
        PINDLE_LOG_WARNING(kTag, "saving without a lock: %s", processLock.error().message.c_str());
    }
    if (mergeLocked()) {
        center_.post(kUpdateNotification, this);
    }
    std::vector<RCRecordingPtr> snapshot = allRecordings();
    KeyedArchiver archiver;
    archiver.encodeArray(snapshot, KeyedArchiver::kRootKey);
    std::string data = archiver.archivedData();
    Status written = writeFileAtomically(getArchiveFileURL(), data);
    if (!written) {
        PINDLE_LOG_ERROR(kTag, "cannot save the library: %s", written.error().message.c_str());
        return written;
    }
    noteSynced(std::move(data), snapshot);
    return written;
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
    }
    if (recording) {
        files_.deleteFile(recording->url());
    }
    announceAndSave();
}

void RCDataStore::removeAllRecordings() {
    std::vector<RCRecordingPtr> removed;
    {
        std::lock_guard lock(mutex_);
        removed.swap(recordings_);
    }
    for (const auto& recording : removed) {
        files_.deleteFile(recording->url());
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
