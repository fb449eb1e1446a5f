#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <future>
#include <map>
#include <set>
#include <thread>

#include "base/atomic_file.h"
#include "base/dispatch.h"
#include "base/keyed_archive.h"
#include "fake_movies.h"
#include "library/RCDataStore.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

struct DataStore : ::testing::Test {
    test::TempDir dir;
    RCFileManager files{dir.appDirectories()};
    NotificationCenter center;
    int notifications = 0;
    NotificationCenter::Token token;

    std::unique_ptr<RCDataStore> open() {
        auto store = std::make_unique<RCDataStore>(files, center);
        token = center.addObserver(RCDataStore::kUpdateNotification, store.get(),
                                   [this](const Notification&) { ++notifications; });
        return store;
    }

    // A recording of a movie file in the documents directory (the file holds no movie,
    // so the recording is set up empty).
    RCRecordingPtr recordingWithFile(const std::string& name) {
        auto movie = files.makeDocumentFileWithName(name);
        test::writeFile(movie, "movie " + name);
        return RCRecording::recordingWithURL(movie);
    }

    std::vector<std::string> storedNames() {
        RCDataStore reloaded(files, center);
        std::vector<std::string> names;
        for (const auto& recording : reloaded.allRecordings()) {
            names.push_back(recording->url().filename().string());
        }
        return names;
    }

    void waitForNotifications(int count) {
        EXPECT_TRUE(dispatch::runUntil([&] { return notifications >= count; }, 5s));
    }
};

std::vector<std::string> namesIn(const RCDataStore& store) {
    std::vector<std::string> names;
    for (const auto& recording : store.allRecordings()) {
        names.push_back(recording->url().filename().string());
    }
    return names;
}

// Files this process writes may grow to limit bytes, as on a full disk; a larger write
// fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, signal_);
    }

private:
    rlimit saved_{};
    void (*signal_)(int) = nullptr;
};

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFile, AWriteThatFailsMidwayLeavesTheFileAsItWas) {
    test::TempDir dir;
    test::writeFile(dir / "file", "as it was");
    {
        FileSizeLimit limit(4096);
        Status written = writeFileAtomically(dir / "file", std::string(64 * 1024, 'x'));
        ASSERT_FALSE(written);
        EXPECT_NE(written.error().message.find("cannot write"), std::string::npos)
            << written.error().message;
    }
    EXPECT_EQ(test::readFile(dir / "file"), "as it was");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"file"});
}

TEST(FileLock, AHeldLockIsWaitedOnOnlySoLong) {
    test::TempDir dir;
    auto held = FileLock::acquire(dir / "lock");
    ASSERT_TRUE(held);
    // Run aside, so that a wait without end fails the test instead of hanging it.
    auto waiting = std::async(std::launch::async, [&] {
        auto start = std::chrono::steady_clock::now();
        auto second = FileLock::acquire(dir / "lock", 300ms);
        return std::pair(second ? std::string() : second.error().message,
                         std::chrono::steady_clock::now() - start);
    });
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready) << "waited without a limit";
    auto [message, waited] = waiting.get();
    EXPECT_NE(message.find("for more than 0.3 s"), std::string::npos) << message;
    EXPECT_GE(waited, 300ms);
}

TEST_F(DataStore, KeepsOrderAndDeletesMovies) {
    auto store = open();
    EXPECT_EQ(store->recordingsCount(), 0u);
    auto a = recordingWithFile("A.mp4");
    auto b = recordingWithFile("B.mp4");
    auto c = recordingWithFile("C.mp4");
    for (const auto& recording : {a, b, c}) {
        store->addRecording(recording);
    }
    EXPECT_EQ(store->recordingAtIndex(0), a);
    // The library shows the newest first: its item 0 is index count - 1.
    EXPECT_EQ(store->recordingAtIndex(store->recordingsCount() - 1), c);
    EXPECT_EQ(store->recordingAtIndex(3), nullptr);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"A.mp4", "B.mp4", "C.mp4"}));

    store->removeRecording(b);
    EXPECT_EQ(store->allRecordings(), (std::vector<RCRecordingPtr>{a, c}));
    EXPECT_FALSE(files.fileExists(b->url()));
    EXPECT_TRUE(files.fileExists(a->url()));
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"A.mp4", "C.mp4"}));

    store->removeAllRecordings();
    EXPECT_EQ(store->recordingsCount(), 0u);
    EXPECT_FALSE(files.fileExists(a->url()));
    EXPECT_FALSE(files.fileExists(c->url()));
    EXPECT_TRUE(storedNames().empty());
    waitForNotifications(5);
    EXPECT_EQ(notifications, 5);
}

TEST_F(DataStore, EveryChangeIsSavedBeforeObserversHear) {
    auto store = open();
    std::vector<size_t> storedCounts;
    auto observer = center.addObserver(RCDataStore::kUpdateNotification, nullptr,
                                       [&](const Notification& note) {
                                           EXPECT_EQ(note.sender, store.get());
                                           storedCounts.push_back(storedNames().size());
                                       });
    auto a = recordingWithFile("A.mp4");
    store->addRecording(a);
    waitForNotifications(1);
    store->updateRecording(std::make_shared<RCRecording>());  // not in the list
    waitForNotifications(2);
    store->removeAllRecordings();
    waitForNotifications(3);
    store->removeAllRecordings();  // an empty store still saves and notifies
    waitForNotifications(4);
    EXPECT_EQ(storedCounts, (std::vector<size_t>{1, 1, 0, 0}));
    EXPECT_EQ(store->recordingsCount(), 0u);
}

TEST_F(DataStore, EditsReachTheFileAtTheNextSave) {
    auto store = open();
    auto a = recordingWithFile("A.mp4");
    store->addRecording(a);
    a->editParameters()->setLoopType(kLoopTypePingPong);
    EXPECT_EQ(RCDataStore(files, center).recordingAtIndex(0)->editParameters()->loopType(), 0);
    store->updateRecording(a);
    RCDataStore reloaded(files, center);
    EXPECT_EQ(reloaded.recordingAtIndex(0)->editParameters()->loopType(), kLoopTypePingPong);
    EXPECT_NE(reloaded.recordingAtIndex(0)->guid(), a->guid());
}

TEST_F(DataStore, DropsPlaceholdersOnLoad) {
    auto store = open();
    store->addRecording(recordingWithFile("A.mp4"));
    store->addRecording(std::make_shared<RCRecording>());  // capture not finished yet
    EXPECT_EQ(store->recordingsCount(), 2u);
    RCDataStore reloaded(files, center);
    EXPECT_EQ(reloaded.recordingsCount(), 1u);
    EXPECT_TRUE(reloaded.damagedFileCopy().empty());
}

TEST_F(DataStore, DamagedFileLoadsWhatItCanAndIsKept) {
    {
        auto store = open();
        for (const char* name : {"A.mp4", "B.mp4", "C.mp4"}) {
            store->addRecording(recordingWithFile(name));
        }
    }
    auto archive = files.makeDocumentFileWithName(RCDataStore::kArchiveFileName);
    const std::string good = test::readFile(archive);

    struct Case {
        std::string name;
        std::string content;
        size_t loaded;
    };
    std::string badRecord = good;
    badRecord.replace(badRecord.find("\"$class\":\"RCRecording\""), 22,
                      "\"$class\":\"RCRecordin\"");
    std::string badCode = good;
    badCode.replace(badCode.find("\"loopType\":0"), 12, "\"loopType\":\"x\"");
    const Case cases[] = {
        {"not json", "\x00\xff garbage", 0},
        {"another program's json", "{\"a\": [1, 2]}", 0},
        {"empty", "", 0},
        // Cut inside the third record: the first two are complete.
        {"truncated", good.substr(0, good.rfind("C.mp4") + 40), 2},
        {"unknown class", badRecord, 2},
        {"wrong kind of value", badCode, 2},
    };
    // By content: the same damage is kept once ("not json" and "empty" are both empty).
    std::map<std::string, std::filesystem::path> copies;
    for (const Case& c : cases) {
        test::writeFile(archive, c.content);
        RCDataStore store(files, center);
        EXPECT_EQ(store.recordingsCount(), c.loaded) << c.name;
        ASSERT_FALSE(store.damagedFileCopy().empty()) << c.name;
        EXPECT_EQ(test::readFile(store.damagedFileCopy()), c.content) << c.name;
        auto [kept, isNew] = copies.emplace(c.content, store.damagedFileCopy());
        EXPECT_EQ(kept->second, store.damagedFileCopy()) << c.name;
        EXPECT_TRUE(isNew || c.name == "empty") << c.name;
        // The next save writes a sound file; the copy stays as it was.
        store.saveData();
        EXPECT_EQ(RCDataStore(files, center).recordingsCount(), c.loaded) << c.name;
        EXPECT_EQ(test::readFile(store.damagedFileCopy()), c.content) << c.name;
    }
    EXPECT_EQ(copies.size(), std::size(cases) - 1);
    for (const auto& [content, copy] : copies) {
        EXPECT_EQ(copy.parent_path(), archive.parent_path());
    }
}

TEST_F(DataStore, KilledDuringASaveLeavesAReadableStore) {
    {
        auto store = open();
        std::vector<RCRecordingPtr> recordings;
        for (int i = 0; i < 300; ++i) {
            recordings.push_back(recordingWithFile(std::to_string(i) + ".mp4"));
        }
        store->setCapturedRecordings(recordings);
        ASSERT_TRUE(store->saveData());
    }
    // Loaded before the fork: loading 300 recordings uses worker threads, which a forked
    // child does not have. Each save in the child then writes the whole store again.
    RCDataStore saving(files, center);
    ASSERT_EQ(saving.recordingsCount(), 300u);
    auto modified = [&] {
        struct stat status {};
        stat(saving.getArchiveFileURL().c_str(), &status);
        return std::pair(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto before = modified();
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            while (true) {
                (void)saving.saveData();
            }
        }
        // Killed at various moments once it is saving (every save writes a new file).
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (modified() == before && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_NE(modified(), before) << "the child never saved, attempt " << attempt;
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * attempt));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        RCDataStore reloaded(files, center);
        EXPECT_EQ(reloaded.recordingsCount(), 300u);
        EXPECT_TRUE(reloaded.damagedFileCopy().empty());
    }
}

// Saves write their temporary under the store's lock: one found while loading under that
// lock belongs to a save that was cut off, however young it is.
TEST_F(DataStore, LoadingRemovesTheTemporariesOfSavesThatWereCutOff) {
    open()->addRecording(recordingWithFile("a.mp4"));
    auto archive = files.makeDocumentFileWithName("6168f305888c3d795e67c6de17bf8a21.txt");
    auto old = archive;
    old += ".tmp-1";
    auto fresh = archive;
    fresh += ".tmp-2";
    test::writeFile(old, "half a store");
    test::writeFile(fresh, "half a store");
    std::filesystem::last_write_time(
        old, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));

    EXPECT_EQ(storedNames(), std::vector<std::string>{"a.mp4"});
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

TEST_F(DataStore, AFailedSaveKeepsTheListAndEveryMovieUntilASaveSucceeds) {
    auto store = open();
    int failures = 0;
    auto failed = center.addObserver(RCDataStore::kSaveFailedNotification, store.get(),
                                     [&](const Notification&) { ++failures; });
    auto a = recordingWithFile("A.mp4");
    auto b = recordingWithFile("B.mp4");
    store->addRecording(a);
    ASSERT_TRUE(store->saveStatus());
    {
        FileSizeLimit full(16);  // no store file fits
        store->addRecording(b);
        EXPECT_FALSE(store->saveStatus());
        store->removeRecording(a);
        EXPECT_FALSE(store->saveStatus());
        EXPECT_EQ(namesIn(*store), std::vector<std::string>{"B.mp4"});
        // The store file still lists A, so its movie stays.
        EXPECT_TRUE(files.fileExists(a->url()));
        EXPECT_EQ(storedNames(), std::vector<std::string>{"A.mp4"});
    }
    EXPECT_TRUE(dispatch::runUntil([&] { return failures == 2; }, 5s));
    EXPECT_EQ(filesIn(files.documentDirectoryURL()),
              (std::vector<std::string>{"6168f305888c3d795e67c6de17bf8a21.txt",
                                        "6168f305888c3d795e67c6de17bf8a21.txt.lock", "A.mp4",
                                        "B.mp4", "support", "tmp-1234"}));

    // Room again: the next change saves the whole list, then A's movie goes.
    store->updateRecording(b);
    EXPECT_TRUE(store->saveStatus());
    EXPECT_EQ(storedNames(), std::vector<std::string>{"B.mp4"});
    EXPECT_FALSE(files.fileExists(a->url()));
    EXPECT_TRUE(files.fileExists(b->url()));
}

TEST_F(DataStore, MoviesNoStoreEntryListsAreListedAgainOrRemovedAtLoad) {
    // Without a movie reader no file can be told to be no movie: it is listed, never removed.
    auto unread = files.makeDocumentFileWithExtension("mp4");
    test::writeFile(unread, "movie");
    EXPECT_EQ(storedNames(), std::vector<std::string>{unread.filename().string()});
    std::filesystem::remove(unread);

    test::FakeMovies movies;
    auto movie = [&](std::chrono::seconds age, bool readable, std::string content = "movie") {
        auto file = files.makeDocumentFileWithExtension("mp4");
        test::writeFile(file, content);
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - age);
        if (readable) {
            movies.add(file, test::FakeMovies::video(320, 240, 2, 30));
        }
        return file.filename().string();
    };
    auto store = open();
    auto listed = movie(1h, true);
    store->addRecording(RCRecording::recordingWithURL(files.makeDocumentFileWithName(listed)));
    auto older = movie(3h, true);
    auto orphan = movie(2h, true);
    auto finished = movie(0s, true);  // finished just before its process was killed
    auto cutOff = movie(0s, false);   // a process was killed while writing it
    auto writing = movie(0s, false);  // another process is writing it
    auto lock = FileLock::acquire(files.makeDocumentFileWithName(writing));
    ASSERT_TRUE(lock);
    auto created = movie(0s, false, "");  // just created, not locked yet
    test::writeFile(files.makeDocumentFileWithName("notes.mp4"), "not a movie of ours");

    EXPECT_EQ(storedNames(), (std::vector<std::string>{listed, older, orphan, finished}));
    EXPECT_FALSE(files.fileExists(files.makeDocumentFileWithName(cutOff)));
    for (const auto& kept : {writing, created, std::string("notes.mp4")}) {
        EXPECT_TRUE(files.fileExists(files.makeDocumentFileWithName(kept))) << kept;
    }
}

TEST_F(DataStore, AStoreFileThatIsNoRegularFileIsNeverOpened) {
    auto archive = files.makeDocumentFileWithName(RCDataStore::kArchiveFileName);
    ASSERT_EQ(mkfifo(archive.c_str(), 0600), 0);
    auto loading = std::async(std::launch::async,
                              [&] { return RCDataStore(files, center).loadStatus().ok(); });
    if (loading.wait_for(10s) != std::future_status::ready) {
        ::close(::open(archive.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
        FAIL() << "loading the store blocked on a FIFO";
    }
    EXPECT_FALSE(loading.get());

    std::filesystem::remove(archive);
    std::filesystem::create_directory(archive);
    RCDataStore store(files, center);
    ASSERT_FALSE(store.loadStatus());
    EXPECT_NE(store.loadStatus().error().message.find("not a regular file"), std::string::npos);
    store.addRecording(recordingWithFile("A.mp4"));
    EXPECT_FALSE(store.saveStatus());
}

TEST_F(DataStore, ADamagedFileIsKeptAsideOnceWhileNothingReplacesIt) {
    auto archive = files.makeDocumentFileWithName(RCDataStore::kArchiveFileName);
    test::writeFile(archive, "{ half a store");
    RCDataStore first(files, center);
    RCDataStore second(files, center);  // another run that only reads
    EXPECT_FALSE(first.damagedFileCopy().empty());
    EXPECT_EQ(second.damagedFileCopy(), first.damagedFileCopy());
    size_t copies = 0;
    for (const auto& name : filesIn(archive.parent_path())) {
        copies += name.find(".damaged-") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(copies, 1u);
}

TEST_F(DataStore, DeepNestingIsReadAsDamageNotACrash) {
    auto a = recordingWithFile("A.mp4");
    open()->addRecording(a);
    auto archive = files.makeDocumentFileWithName(RCDataStore::kArchiveFileName);
    const std::string good = test::readFile(archive);
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    std::string deepRecord = good;
    deepRecord.insert(deepRecord.rfind("]}}}"), ",{\"$class\":\"RCRecording\",\"x\":" + deep + "}");
    const std::pair<std::string, size_t> cases[] = {
        {"{\"$archiver\":" + deep + "}", 0},
        {deepRecord, 1},
    };
    for (const auto& [content, loaded] : cases) {
        std::filesystem::remove(archive);  // a new file: the copy kept before stays as it was
        test::writeFile(archive, content);
        RCDataStore store(files, center);
        EXPECT_EQ(store.recordingsCount(), loaded);
        EXPECT_FALSE(store.damagedFileCopy().empty());
    }
}

// Paths read from a store file are not trusted to name the program's own files.
TEST_F(DataStore, RemovingRecordingsDeletesNoFileOutsideTheLibrary) {
    test::TempDir user;
    test::writeFile(user / "precious.mp4", "mine");
    auto store = open();
    store->addRecording(RCRecording::recordingWithURL(user / "precious.mp4"));
    store->addRecording(
        RCRecording::recordingWithURL(dir / ".." / user.path().filename() / "precious.mp4"));
    store->removeRecording(store->recordingAtIndex(0));
    store->removeAllRecordings();
    EXPECT_EQ(store->recordingsCount(), 0u);
    EXPECT_EQ(test::readFile(user / "precious.mp4"), "mine");
}

// The application and a command-line verb each have the library open.
TEST_F(DataStore, TwoProcessesOnOneLibraryKeepEachOthersChanges) {
    using Names = std::vector<std::string>;
    auto app = open();
    RCDataStore verb(files, center);
    app->addRecording(recordingWithFile("A.mp4"));
    // The verb opened the library before A was added; its save keeps A.
    verb.addRecording(recordingWithFile("B.mp4"));
    EXPECT_EQ(storedNames(), (Names{"A.mp4", "B.mp4"}));
    EXPECT_EQ(namesIn(verb), (Names{"A.mp4", "B.mp4"}));
    // The application takes in B when asked, once.
    EXPECT_TRUE(app->mergeChangesFromDisk());
    EXPECT_EQ(namesIn(*app), (Names{"A.mp4", "B.mp4"}));
    EXPECT_FALSE(app->mergeChangesFromDisk());

    // A recording of the application still being written (no movie yet) stays while the
    // verb removes A; the application's next save does not bring A back.
    auto writing = std::make_shared<RCRecording>();
    app->addRecording(writing);
    verb.removeRecording(verb.recordingAtIndex(0));
    app->recordingAtIndex(1)->editParameters()->setLoopType(kLoopTypePingPong);
    app->updateRecording(app->recordingAtIndex(1));
    EXPECT_EQ(namesIn(*app), (Names{"B.mp4", ""}));
    EXPECT_EQ(app->recordingAtIndex(1), writing);
    EXPECT_EQ(storedNames(), (Names{"B.mp4"}));
    EXPECT_EQ(RCDataStore(files, center).recordingAtIndex(0)->editParameters()->loopType(),
              kLoopTypePingPong);

    // Another process left a damaged file: nothing is removed, and the next save is whole.
    test::writeFile(app->getArchiveFileURL(), "{ half a store");
    app->addRecording(recordingWithFile("C.mp4"));
    EXPECT_EQ(storedNames(), (Names{"B.mp4", "C.mp4"}));
}

TEST_F(DataStore, ProcessesSavingAtOnceLoseNothing) {
    constexpr int kProcesses = 3;
    constexpr int kEach = 5;  // few enough that loading stays on the calling thread
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RCDataStore store(files, center);
            for (int i = 0; i < kEach; ++i) {
                store.addRecording(
                    recordingWithFile(std::to_string(p) + "-" + std::to_string(i) + ".mp4"));
                (void)store.saveData();
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<std::string> names = storedNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), size_t(kProcesses * kEach));
}

TEST_F(DataStore, ConcurrentChangesAreNotLost) {
    auto store = open();
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                auto recording = std::make_shared<RCRecording>();
                store->addRecording(recording);
                recording->setupWithURL(files.makeDocumentFileWithName(std::to_string(t) + "-" +
                                                                       std::to_string(i) + ".mp4"));
                store->updateRecording(recording);
            }
        });
    }
    // The main thread reads and saves meanwhile, as the library window does.
    int reads = 0;
    while (reads < 50) {
        dispatch::drainMainQueue();
        for (const auto& recording : store->allRecordings()) {
            (void)recording->editedDimensions();
        }
        ++reads;
        std::this_thread::yield();
    }
    for (auto& thread : threads) {
        thread.join();
    }
    waitForNotifications(2 * kThreads * kPerThread);
    EXPECT_EQ(store->recordingsCount(), size_t(kThreads * kPerThread));
    EXPECT_EQ(storedNames().size(), size_t(kThreads * kPerThread));
}

}  // namespace
}  // namespace pindle
