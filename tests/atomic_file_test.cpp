// Replacing a file in a user's folder: what the folder shows while the new version is
// written, after a commit, and after the writing process is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "test_support.h"

namespace pindle {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool writeAll(int fd, const std::string& data) {
    return ::write(fd, data.data(), data.size()) == ssize_t(data.size());
}

mode_t permissionsOf(const fs::path& file) {
    struct stat status {};
    ::stat(file.c_str(), &status);
    return status.st_mode & 07777;
}

// Run with unnamed files (true) and with the named temporary file a file system without
// them gets (false).
class FileReplacementTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        FileReplacement::allowUnnamedFiles(GetParam());
        oldMask_ = ::umask(022);
    }
    void TearDown() override {
        FileReplacement::allowUnnamedFiles(true);
        ::umask(oldMask_);
    }
    bool unnamed() const { return GetParam(); }

    test::TempDir dir_;
    mode_t oldMask_ = 0;
};

TEST_P(FileReplacementTest, TheNewVersionShowsOnlyOnCommitAndThenInOneStep) {
    test::writeFile(dir_ / "old.gif", "the user's file");
    ::chmod((dir_ / "old.gif").c_str(), 0600);
    fs::create_symlink("old.gif", dir_ / "link.gif");
    const std::vector<std::string> before{"link.gif", "old.gif"};

    for (const char* name : {"old.gif", "link.gif", "new.gif"}) {
        SCOPED_TRACE(name);
        const std::string previous = test::readFile(dir_ / "old.gif");
        auto replacement = FileReplacement::begin(dir_ / name);
        ASSERT_TRUE(replacement) << replacement.error().message;
        ASSERT_TRUE(writeAll(replacement->descriptor(), "new "));
        // A writer that closes its own descriptor (giflib, stdio) still commits.
        int copy = replacement->duplicate();
        ASSERT_GE(copy, 0);
        ASSERT_TRUE(writeAll(copy, std::string("content of ") + name));
        ::close(copy);
        auto shown = namesIn(dir_.path());
        if (unnamed()) {
            EXPECT_EQ(shown, before);
        } else {
            // The named file shows beside the destination: the only way without unnamed
            // files.
            EXPECT_EQ(shown.size(), before.size() + 1);
        }
        EXPECT_EQ(test::readFile(dir_ / "old.gif"), previous);
        EXPECT_FALSE(fs::exists(dir_ / "new.gif"));
        // Another version begun meanwhile does not disturb this one.
        { auto dropped = FileReplacement::begin(dir_ / name); }
        Status committed = replacement->commit();
        ASSERT_TRUE(committed) << committed.error().message;
        EXPECT_FALSE(replacement->commit()) << "a second commit";
        const fs::path written =
            std::string(name) == "new.gif" ? dir_ / "new.gif" : dir_ / "old.gif";
        EXPECT_EQ(test::readFile(written), std::string("new content of ") + name);
        // Replaced and new files alike have the permissions of a new file.
        EXPECT_EQ(permissionsOf(written), mode_t(0644));
        ::chmod((dir_ / "old.gif").c_str(), 0600);
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.gif"));
    EXPECT_EQ(namesIn(dir_.path()), (std::vector<std::string>{"link.gif", "new.gif", "old.gif"}));
}

TEST_P(FileReplacementTest, ADestinationThatAppearsWhileWritingIsReplaced) {
    auto replacement = FileReplacement::begin(dir_ / "out.mp4");
    ASSERT_TRUE(replacement);
    ASSERT_TRUE(writeAll(replacement->descriptor(), "finished"));
    test::writeFile(dir_ / "out.mp4", "made meanwhile");
    ASSERT_TRUE(replacement->commit());
    EXPECT_EQ(test::readFile(dir_ / "out.mp4"), "finished");
    EXPECT_EQ(namesIn(dir_.path()), std::vector<std::string>{"out.mp4"});
}

TEST_P(FileReplacementTest, AVersionNeverCommittedLeavesTheFolderAsItWas) {
    test::writeFile(dir_ / "clip.gif", "the user's file");
    {
        auto replacement = FileReplacement::begin(dir_ / "clip.gif");
        ASSERT_TRUE(replacement);
        ASSERT_TRUE(writeAll(replacement->descriptor(), "half a GIF"));
    }
    EXPECT_EQ(namesIn(dir_.path()), std::vector<std::string>{"clip.gif"});
    EXPECT_EQ(test::readFile(dir_ / "clip.gif"), "the user's file");
    EXPECT_FALSE(FileReplacement::begin(dir_.path())) << "a folder is no file";
    EXPECT_FALSE(FileReplacement::begin(dir_ / "missing" / "clip.gif"));
}

TEST_P(FileReplacementTest, AProcessKilledWhileWritingLeavesTheFolderAsItWas) {
    test::writeFile(dir_ / "clip.gif", "the user's file");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        auto replacement = FileReplacement::begin(dir_ / "clip.gif");
        bool written =
            replacement && writeAll(replacement->descriptor(), std::string(1 << 20, 'x'));
        // And a movie that is still being set up.
        auto movie = FileLock::createLocked(dir_ / "A.mp4");
        written = written && movie;
        if (written && ::write(ready[1], "w", 1) == 1) {
            ::pause();  // killed here, in the middle of its export
        }
        ::_exit(1);
    }
    ::close(ready[1]);
    char note = 0;
    const bool wrote = ::read(ready[0], &note, 1) == 1;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(wrote) << "the child did not get to write";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(test::readFile(dir_ / "clip.gif"), "the user's file");
    if (unnamed()) {
        EXPECT_EQ(namesIn(dir_.path()), std::vector<std::string>{"clip.gif"});
    } else {
        // What a file system without unnamed files cannot avoid.
        EXPECT_EQ(namesIn(dir_.path()).size(), 3u);
    }
}

TEST_P(FileReplacementTest, ACreatedMovieShowsOnlyLockedAndOnceItIsPublished) {
    const fs::path movie = dir_ / "A.mp4";
    {
        auto lock = FileLock::createLocked(movie);
        ASSERT_TRUE(lock) << lock.error().message;
        ASSERT_TRUE(writeAll(lock->descriptor(), "header"));
        if (unnamed()) {
            EXPECT_TRUE(namesIn(dir_.path()).empty());
        }
        ASSERT_TRUE(lock->publish());
        EXPECT_TRUE(isFileLocked(movie));
        EXPECT_EQ(namesIn(dir_.path()), std::vector<std::string>{"A.mp4"});
        ASSERT_TRUE(writeAll(lock->descriptor(), " frames"));
        // A name that is taken is never written over.
        auto second = FileLock::createLocked(movie);
        EXPECT_FALSE(second && second->publish());
    }
    EXPECT_FALSE(isFileLocked(movie));
    EXPECT_EQ(test::readFile(movie), "header frames");
    EXPECT_FALSE(FileLock::createLocked(dir_ / "missing" / "B.mp4"));
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, FileReplacementTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Unnamed" : "Named"; });

}  // namespace
}  // namespace pindle
