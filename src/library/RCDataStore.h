#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/notifications.h"
#include "base/result.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"

namespace pindle {

// The library: the one persistent list of recordings, oldest first, kept in the store file
// in the documents directory.
//
// Every change (addRecording, removeRecording, removeAllRecordings, updateRecording) is
// announced with kUpdateNotification, delivered on the main queue, and saved:
// - called on the main thread, the store file is written before the call returns, and so
//   before observers hear of the change;
// - called on another thread (the capture engine's worker and its movie writer), the change
//   to the list happens at once and the save is queued on the main queue ahead of the
//   notification. Saves run on the main thread because the editor changes edit parameters
//   there, and archiving reads them; several queued saves are written once.
// Changes to the list are serialised, so concurrent additions are never lost, and each
// save archives a whole list.
//
// Other processes may change the same library (the application and command-line verbs).
// Before each save, and when mergeChangesFromDisk() is called, the store takes in what they
// changed since this store last read or wrote the file: recordings they added join the
// list, and recordings they removed leave it. Its own changes win over theirs for a
// recording both changed.
//
// The store file is replaced atomically. A store file that cannot be read, or that holds
// records that cannot be decoded, loads every record it can; the file is first copied
// beside itself under a name of its own ("....txt.damaged-20261206-231502"), which nothing
// overwrites, and the log says so. A file already kept that way is not kept again.
//
// A save that fails (a full disk, a read-only file or folder) keeps the list in memory, so
// a later save can still succeed; saveStatus() says so and kSaveFailedNotification is
// posted. A removed recording's movie is deleted only once a store that no longer lists it
// has been saved. Movies of the documents folder that no store entry lists (a save that
// failed, a crash) are listed again at load, unless a process is still writing them (it
// holds a FileLock on the movie); one that nobody writes and that cannot be read as a movie
// (a process killed while writing it) is deleted.
class RCDataStore {
public:
    using Path = std::filesystem::path;

    static constexpr const char* kArchiveFileName = "6168f305888c3d795e67c6de17bf8a21.txt";
    static constexpr const char* kUpdateNotification = "RCDataStoreUpdateNotification";
    static constexpr const char* kSaveFailedNotification = "RCDataStoreSaveFailedNotification";
    // An empty movie file younger than this may have just been created by a writer that has
    // not locked it yet: loading leaves it alone. A writer names its movie only once it is
    // locked and holds its header, except on a file system without unnamed files, and
    // earlier versions of the program created the file before locking it.
    static constexpr std::chrono::seconds kUnlistedMovieSettleTime{60};

    // Loads the store file of files' documents directory. Both arguments must outlive the
    // store.
    RCDataStore(RCFileManager& files, NotificationCenter& center);
    ~RCDataStore();
    RCDataStore(const RCDataStore&) = delete;
    RCDataStore& operator=(const RCDataStore&) = delete;

    // The process's store, over RCFileManager::getCurrentInstance() and the default
    // notification center, made on first use unless setCurrentInstance() installed one.
    static RCDataStore& getCurrentInstance();
    static void setCurrentInstance(std::shared_ptr<RCDataStore> instance);

    Path getArchiveFileURL() const;

    // Replaces the list with the store file's records (an empty list without a file), and
    // the movies of the documents folder that no record lists.
    void loadData();
    // An Error when the last load found a store file that it could not read at all (its
    // folder cannot be searched, a name too long, a loop of links, not a regular file).
    Status loadStatus() const;
    // Writes the whole list to the store file now, on the calling thread, after taking in
    // what other processes changed. A failure is logged and announced with
    // kSaveFailedNotification.
    Status saveData();
    // The outcome of the last save: an Error while the store file lacks changes made here.
    Status saveStatus() const;
    // Takes in what other processes changed in the store file since this store last read or
    // wrote it, and announces the change if there was one. Returns whether there was.
    bool mergeChangesFromDisk();

    void addRecording(RCRecordingPtr recording);
    // Removes every occurrence of that recording; its movie file is deleted once the store
    // is saved without it.
    void removeRecording(const RCRecordingPtr& recording);
    // Empties the list; every movie file is deleted, in list order, once the store is saved
    // without them.
    void removeAllRecordings();
    // Announces and saves a recording changed in place (also one not in the list).
    void updateRecording(const RCRecordingPtr& recording);

    // Null for an index past the end. Index 0 is the oldest recording.
    RCRecordingPtr recordingAtIndex(uint64_t index) const;
    uint64_t recordingsCount() const;
    // A snapshot of the list: a copy, since other threads may change the list meanwhile.
    std::vector<RCRecordingPtr> allRecordings() const;
    void setCapturedRecordings(std::vector<RCRecordingPtr> recordings);

    // Where the last load kept a copy of a damaged store file; empty when it did not.
    Path damagedFileCopy() const;

    // What a store file's content decodes to: every recording that could be read, and why
    // the rest could not (empty for a sound file).
    struct Decoded {
        std::vector<RCRecordingPtr> recordings;
        std::vector<std::string> problems;
    };
    static Decoded decodeRecordings(std::string_view data);

private:
    // Saves (now, or queued on the main thread) and posts the notification.
    void announceAndSave();
    void keepDamagedFile(const Path& file, const std::string& reason);
    Path lockFileURL() const;
    // saveData() under saveMutex_.
    Status saveLocked();
    // Deletes the movies of removed recordings that saved (the list just written) does not
    // list; call with saveMutex_ held, after the save.
    void deleteRemovedMovies(const std::vector<RCRecordingPtr>& saved);
    // Appends a recording for each movie of the documents folder that loaded does not list.
    void listUnlistedMovies(std::vector<RCRecordingPtr>& loaded);
    // mergeChangesFromDisk() without the announcement; call with saveMutex_ held.
    bool mergeLocked();
    // Records what the store file holds now (under saveMutex_).
    void noteSynced(std::string data, const std::vector<RCRecordingPtr>& recordings);

    RCFileManager& files_;
    NotificationCenter& center_;

    mutable std::mutex mutex_;  // guards the five below
    std::vector<RCRecordingPtr> recordings_;
    Path damagedCopy_;
    // Movies of removed recordings, deleted after the next save that succeeds.
    std::vector<Path> removedMovies_;
    Status loadStatus_ = Ok{};
    Status saveStatus_ = Ok{};

    std::mutex saveMutex_;  // one save or merge at a time; guards the two below
    // The store file's content when this store last read or wrote it, and the movies it
    // listed: what other processes changed since shows as a difference.
    std::string syncedData_;
    std::set<std::string> syncedMovies_;
    // A save queued on the main queue that has not run yet; later changes ride on it.
    std::atomic<bool> savePending_{false};
    // Lets a queued save find out that the store is gone.
    std::shared_ptr<RCDataStore*> self_;
};

}  // namespace pindle
