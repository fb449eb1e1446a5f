#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <thread>

#include "library/RCDataStore.h"
#include "platform/dispatch.h"
#include "platform/keyed_archive.h"
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
    std::set<std::filesystem::path> copies;
    for (const Case& c : cases) {
        test::writeFile(archive, c.content);
        RCDataStore store(files, center);
        EXPECT_EQ(store.recordingsCount(), c.loaded) << c.name;
        ASSERT_FALSE(store.damagedFileCopy().empty()) << c.name;
        EXPECT_EQ(test::readFile(store.damagedFileCopy()), c.content) << c.name;
        EXPECT_TRUE(copies.insert(store.damagedFileCopy()).second) << "copy overwritten";
        // The next save writes a sound file; the copy stays as it was.
        store.saveData();
        EXPECT_EQ(RCDataStore(files, center).recordingsCount(), c.loaded) << c.name;
        EXPECT_EQ(test::readFile(store.damagedFileCopy()), c.content) << c.name;
    }
    for (const auto& copy : copies) {
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

TEST_F(DataStore, LoadingLeavesAnotherProcesssSaveInProgressAlone) {
    open()->addRecording(recordingWithFile("a.mp4"));
    auto archive = files.makeDocumentFileWithName("6168f305888c3d795e67c6de17bf8a21.txt");
    auto leftOver = archive;
    leftOver += ".tmp-1";
    auto inProgress = archive;
    inProgress += ".tmp-2";
    test::writeFile(leftOver, "half a store");
    test::writeFile(inProgress, "half a store");
    std::filesystem::last_write_time(
        leftOver, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));

    EXPECT_EQ(storedNames(), std::vector<std::string>{"a.mp4"});
    EXPECT_FALSE(std::filesystem::exists(leftOver));
    EXPECT_TRUE(std::filesystem::exists(inProgress));
}

std::vector<std::string> namesIn(const RCDataStore& store) {
    std::vector<std::string> names;
    for (const auto& recording : store.allRecordings()) {
        names.push_back(recording->url().filename().string());
    }
    return names;
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
