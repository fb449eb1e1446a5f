#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "library/RCFileManager.h"
#include "test_support.h"

namespace pindle {
namespace {

AppDirectories directoriesFor(std::map<std::string, std::string> environment) {
    return AppDirectories::fromEnvironment(
        [environment = std::move(environment)](const char* name) -> const char* {
            auto it = environment.find(name);
            return it == environment.end() ? nullptr : it->second.c_str();
        },
        42);
}

TEST(AppDirectories, FollowTheEnvironment) {
    auto plain = directoriesFor({{"HOME", "/home/u"}});
    EXPECT_EQ(plain.documents, "/home/u/.local/share/pindle-capture");
    EXPECT_EQ(plain.applicationSupport, "/home/u/.local/share/pindle-capture/support");
    EXPECT_EQ(plain.temporaryPattern, "/tmp/pindle-capture-42-XXXXXX");
    EXPECT_EQ(plain.settingsFile, "/home/u/.config/pindle-capture/pindle-capture.ini");

    auto xdg = directoriesFor({{"HOME", "/home/u"},
                               {"XDG_DATA_HOME", "/data"},
                               {"XDG_CONFIG_HOME", "/conf"},
                               {"TMPDIR", "/scratch"}});
    EXPECT_EQ(xdg.documents, "/data/pindle-capture");
    EXPECT_EQ(xdg.temporaryPattern, "/scratch/pindle-capture-42-XXXXXX");
    EXPECT_EQ(xdg.settingsFile, "/conf/pindle-capture/pindle-capture.ini");

    auto runtime = directoriesFor(
        {{"HOME", "/home/u"}, {"TMPDIR", "/scratch"}, {"XDG_RUNTIME_DIR", "/run/user/7"}});
    EXPECT_EQ(runtime.temporaryPattern, "/run/user/7/pindle-capture-42-XXXXXX");

    auto moved = directoriesFor(
        {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/data"}, {"PINDLE_CAPTURE_HOME", "/portable"}});
    EXPECT_EQ(moved.documents, "/portable");
    EXPECT_EQ(moved.applicationSupport, "/portable/support");
    EXPECT_EQ(moved.temporary, "/portable/tmp-42");
    EXPECT_EQ(moved.settingsFile, "/portable/settings.ini");
}

// Someone made the folder the program would use before it started: a link elsewhere.
TEST(AppDirectories, TemporaryFolderIsPrivateAndNeverOneMadeBeforehand) {
    test::TempDir base;
    const auto elsewhere = base / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, base / "pindle-capture-42");
    std::filesystem::create_directory_symlink(elsewhere, base / "tmp-42");
    const std::string root = base.path().string();
    for (const auto& environment :
         {std::map<std::string, std::string>{{"HOME", root}, {"TMPDIR", root}},
          std::map<std::string, std::string>{{"PINDLE_CAPTURE_HOME", root}}}) {
        auto dirs = directoriesFor(environment);
        ASSERT_TRUE(dirs.create());
        struct stat status {};
        ASSERT_EQ(lstat(dirs.temporary.c_str(), &status), 0) << dirs.temporary;
        EXPECT_TRUE(S_ISDIR(status.st_mode)) << dirs.temporary;
        EXPECT_EQ(status.st_mode & 0777, 0700u) << dirs.temporary;
        EXPECT_EQ(dirs.temporary.parent_path(), base.path());

        RCFileManager files(dirs);
        test::writeFile(files.makeTempFileWithExtension("gif"), "export");
        EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
        files.cleanUpTempFiles();  // at quit
        EXPECT_FALSE(std::filesystem::exists(dirs.temporary));
    }
}

// The id of a process that has ended.
long endedProcess() {
    pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return long(child);
}

// A process killed before it could clean up leaves its temporary folder; the next start of
// any process removes it, and nothing else.
TEST(AppDirectories, TemporaryFoldersOfEndedProcessesGoAtTheNextStart) {
    test::TempDir base;
    const std::string root = base.path().string();
    const auto folder = [&](const std::string& name,
                            std::filesystem::perms mode = std::filesystem::perms::owner_all) {
        std::filesystem::create_directory(base / name);
        test::writeFile(base / name / "export.gif", "half an export");
        std::filesystem::permissions(base / name, mode);
        return base / name;
    };
    const std::string ended = std::to_string(endedProcess());
    const auto killed = folder("tmp-" + ended);
    const auto killedUnique = folder("tmp-" + ended + "-a1B2c3");
    const auto killedElsewhere = folder("pindle-capture-" + ended + "-Zz09yx");
    const auto running = folder("tmp-1");  // init runs as long as the system
    const auto shared =
        folder("tmp-" + std::to_string(endedProcess()), std::filesystem::perms::owner_all |
                                                            std::filesystem::perms::group_all |
                                                            std::filesystem::perms::others_read);
    const auto users = folder("tmp-notes");
    const auto longer = folder("tmp-" + ended + "-a1B2c3d4");
    std::filesystem::create_directory_symlink(users, base / ("tmp-" + ended + "-linked"));

    RCFileManager moved(directoriesFor({{"PINDLE_CAPTURE_HOME", root}}));
    ASSERT_TRUE(moved.createDirectories());
    EXPECT_FALSE(std::filesystem::exists(killed));
    EXPECT_FALSE(std::filesystem::exists(killedUnique));
    for (const auto& kept : {killedElsewhere, running, shared, users, longer}) {
        EXPECT_TRUE(std::filesystem::exists(kept / "export.gif")) << kept;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(base / ("tmp-" + ended + "-linked")));
    EXPECT_TRUE(std::filesystem::is_directory(moved.tempDirectoryURL()));

    RCFileManager plain(directoriesFor({{"HOME", root}, {"TMPDIR", root}}));
    ASSERT_TRUE(plain.createDirectories());
    EXPECT_FALSE(std::filesystem::exists(killedElsewhere));
    EXPECT_TRUE(std::filesystem::is_directory(moved.tempDirectoryURL()));
    EXPECT_TRUE(std::filesystem::exists(running / "export.gif"));
}

TEST(FileManager, DeletesOnlyFilesInsideItsOwnFolders) {
    test::TempDir user;
    test::TempDir home;
    RCFileManager files(home.appDirectories());
    const auto precious = user / "precious.txt";
    test::writeFile(precious, "mine");
    test::writeFile(home / "settings.ini", "[General]");
    std::filesystem::create_directory_symlink(user.path(), home / "linked");
    std::filesystem::create_symlink(precious, home / "shortcut.mp4");
    // Paths a store or settings file may name.
    for (const auto& path : {precious, home / ".." / user.path().filename() / "precious.txt",
                             home / "linked" / "precious.txt", home / "shortcut.mp4",
                             home / "settings.ini", home / "support", home.path()}) {
        EXPECT_FALSE(files.deleteFile(path)) << path;
        EXPECT_TRUE(files.fileExists(path)) << path;
    }
    EXPECT_EQ(test::readFile(precious), "mine");

    // The user's own link to one of the program's files stays, and so does the file.
    const auto ours = files.makeDocumentFileWithExtension("mp4");
    test::writeFile(ours, "made here");
    std::filesystem::create_symlink(ours, user / "favourite.mp4");
    EXPECT_FALSE(files.deleteFile(user / "favourite.mp4"));
    EXPECT_TRUE(std::filesystem::is_symlink(user / "favourite.mp4"));

    // What the program made: a movie, an avatar, a temporary file.
    const auto movie = files.makeDocumentFileWithExtension("mp4");
    const auto avatar = files.makeApplicationSupportFileWithExtension("png");
    const auto temporary = files.makeTempFileWithExtension("gif");
    for (const auto& path : {movie, avatar, temporary}) {
        test::writeFile(path, "made here");
        EXPECT_TRUE(files.deleteFile(path)) << path;
        EXPECT_FALSE(files.fileExists(path)) << path;
    }
}

TEST(FileManager, NamesFilesWithoutTouchingTheDisk) {
    test::TempDir home;
    RCFileManager files(directoriesFor({{"PINDLE_CAPTURE_HOME", home.path().string()}}));
    auto movie = files.makeDocumentFileWithExtension("mp4");
    EXPECT_EQ(movie.parent_path(), home.path());
    EXPECT_EQ(movie.extension(), ".mp4");
    EXPECT_EQ(movie.stem().string().size(), 36u);
    EXPECT_EQ(files.makeApplicationSupportFileWithName("a.png"), home / "support/a.png");
    EXPECT_FALSE(files.fileExists(movie));
    EXPECT_FALSE(std::filesystem::exists(home / "support"));
}

TEST(FileManager, CleansUpOnlyTemporaryFiles) {
    test::TempDir home;
    RCFileManager files(home.appDirectories());
    auto temp1 = files.makeTempFileWithExtension("gif");
    auto temp2 = files.makeTempFileWithName("export.mp4");
    auto kept = files.makeDocumentFileWithExtension("mp4");
    for (const auto& file : {temp1, temp2, kept}) {
        test::writeFile(file, "x");
    }
    EXPECT_EQ(files.tempFiles().size(), 2u);

    // Already gone from disk: false, and the path is forgotten.
    std::filesystem::remove(temp2);
    EXPECT_FALSE(files.deleteFile(temp2));
    EXPECT_EQ(files.tempFiles().size(), 1u);

    files.cleanUpTempFiles();
    EXPECT_FALSE(files.fileExists(temp1));
    EXPECT_TRUE(files.fileExists(kept));
    EXPECT_TRUE(files.tempFiles().empty());
    EXPECT_FALSE(files.isDirectory(files.tempDirectoryURL()));
    EXPECT_FALSE(files.deleteFile({}));
}

TEST(FileManager, CopiesReadableFilesOnly) {
    test::TempDir home;
    RCFileManager files(home.appDirectories());
    test::writeFile(home / "source.png", "image");
    EXPECT_TRUE(files.copyFileFromURL(home / "source.png", home / "copy.png"));
    EXPECT_EQ(test::readFile(home / "copy.png"), "image");
    EXPECT_FALSE(files.copyFileFromURL(home / "missing.png", home / "other.png"));
    EXPECT_FALSE(files.fileExists(home / "other.png"));
}

}  // namespace
}  // namespace pindle
