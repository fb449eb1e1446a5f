// Exports against the user's files: what they replace, what a failure leaves, and paths the
// system refuses to look at.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "base/dispatch.h"
#include "decoded_media.h"
#include "editor/RCGIFFileSizeEstimator.h"
#include "editor/RCGIFGenerator.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_movie_output.h"
#include "platform/imageio/imageio.h"
#include "test_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The files and folders under folder, as paths relative to it.
std::set<std::string> namesUnder(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        names.insert(it->path().lexically_relative(folder).string());
    }
    return names;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The exit status of a shell command, -1 when it did not exit (a crash).
int runCommand(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ExportSafetyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ffmpeg::installMovieOpener();
        media::setMovieOutput(ffmpeg::makeMovieOutput());
        setImageOutput(imageio::makeImageOutput());
    }

    void SetUp() override {
        fs::create_directory(work_);
        ASSERT_TRUE(test::makeTestMovie(source_, 160, 120, 10, 2));
        sourceBytes_ = test::readFile(source_);
    }

    Status run(const std::function<void(RCGIFGenerator::Completion)>& start) {
        std::atomic<bool> done = false;
        Status result = Error{"no completion"};
        start([&](Status status) {
            result = std::move(status);
            done = true;
        });
        EXPECT_TRUE(dispatch::runUntil([&] { return done.load(); }, 120s));
        return result;
    }

    // The program's export verb, with its own home folder; output goes to /dev/null.
    std::string program() const {
        return "PINDLE_CAPTURE_HOME=" + quoted(dir_.path()) + " " + PINDLE_CAPTURE_BINARY +
               " export ";
    }

    test::TempDir dir_;
    RCFileManager files_{dir_.appDirectories()};
    fs::path work_ = dir_ / "work";
    fs::path source_ = work_ / "a.mp4";
    std::string sourceBytes_;
};

TEST_F(ExportSafetyTest, AnExportNeverReplacesItsSourceEvenThroughALink) {
    fs::create_hard_link(source_, work_ / "hard.mp4");
    fs::create_symlink("a.mp4", work_ / "link.mp4");
    auto generator =
        std::make_shared<RCGIFGenerator>(RCRecording::recordingWithURL(source_), files_);
    RCExportOptions smaller;
    smaller.width = 80;
    smaller.height = 60;
    for (const char* name : {"a.mp4", "hard.mp4", "link.mp4"}) {
        fs::path output = work_ / name;
        Status movie =
            run([&](auto done) { generator->makeVideo(output, smaller, nullptr, done); });
        ASSERT_FALSE(movie.ok()) << name;
        EXPECT_NE(movie.error().message.find("the movie it is made from"), std::string::npos);
        EXPECT_FALSE(
            run([&](auto done) { generator->makeGIF(output, smaller, nullptr, done); }).ok());
        EXPECT_FALSE(run([&](auto done) {
                         generator->makeJPEG(output, MediaTime::zero(), Size{80, 60}, done);
                     }).ok());
    }
    EXPECT_TRUE(test::readFile(source_) == sourceBytes_) << "the source changed";
    EXPECT_TRUE(fs::is_symlink(work_ / "link.mp4"));
    EXPECT_EQ(namesUnder(work_), (std::set<std::string>{"a.mp4", "hard.mp4", "link.mp4"}));

    // The command line says so and exits 1.
    EXPECT_EQ(runCommand(program() + quoted(source_) + " --to " + quoted(source_) +
                         " --format mp4 --size 320 2>/dev/null"),
              1);
    EXPECT_TRUE(test::readFile(source_) == sourceBytes_) << "the source changed";
}

TEST_F(ExportSafetyTest, AFailedExportKeepsTheFileThatWasThereAndAFinishedOneReplacesIt) {
    auto generator =
        std::make_shared<RCGIFGenerator>(RCRecording::recordingWithURL(source_), files_);
    for (const char* name : {"out.gif", "out.mp4"}) {
        test::writeFile(work_ / name, "the user's file");
    }
    // Too short for one GIF frame; too small for any movie.
    RCExportOptions tooShort;
    tooShort.endTime = MediaTime::make(1, 100);
    EXPECT_FALSE(run([&](auto done) {
                     generator->makeGIF(work_ / "out.gif", tooShort, nullptr, done);
                 }).ok());
    RCExportOptions tooSmall;
    tooSmall.width = 0.2f;
    tooSmall.height = 0.2f;
    EXPECT_FALSE(run([&](auto done) {
                     generator->makeVideo(work_ / "out.mp4", tooSmall, nullptr, done);
                 }).ok());
    for (const char* name : {"out.gif", "out.mp4"}) {
        EXPECT_EQ(test::readFile(work_ / name), "the user's file") << name;
    }

    // A folder is no file name for a single file, and stays as it is.
    fs::create_directory(work_ / "folder");
    test::writeFile(work_ / "folder" / "inside.txt", "kept");
    EXPECT_FALSE(run([&](auto done) {
                     generator->makeGIF(work_ / "folder", tooSmall, nullptr, done);
                 }).ok());
    EXPECT_EQ(test::readFile(work_ / "folder" / "inside.txt"), "kept");

    // Exports under way show nowhere in the folder; finished ones take the files' places
    // and leave nothing beside them.
    RCExportOptions half;
    half.width = 80;
    half.height = 60;
    const std::set<std::string> before = namesUnder(work_);
    int looks = 0;
    auto look = [&](float) {
        ++looks;
        EXPECT_EQ(namesUnder(work_), before);
    };
    ASSERT_TRUE(
        run([&](auto done) { generator->makeGIF(work_ / "out.gif", half, look, done); }).ok());
    ASSERT_TRUE(
        run([&](auto done) { generator->makeVideo(work_ / "out.mp4", half, look, done); }).ok());
    EXPECT_GT(looks, 2);
    EXPECT_EQ(test::decodeMedia(work_ / "out.gif").width, 80);
    EXPECT_EQ(test::decodeMedia(work_ / "out.mp4").width, 80);
    EXPECT_EQ(namesUnder(work_), (std::set<std::string>{"a.mp4", "folder", "folder/inside.txt",
                                                        "out.gif", "out.mp4"}));
}

// Paths the system refuses to look at end the command with status 1 and a message, never
// with a crash, and nothing is written.
TEST_F(ExportSafetyTest, UnusablePathsEndTheCommandLineWithStatusOne) {
    fs::create_symlink("loop-b", work_ / "loop-a");
    fs::create_symlink("loop-a", work_ / "loop-b");
    fs::path overlong = work_ / (std::string(5000, 'x') + ".mp4");
    fs::path locked = work_ / "locked";
    fs::create_directory(locked);
    fs::copy_file(source_, locked / "inside.mp4");
    fs::copy_file(source_, work_ / "secret.mp4");
    fs::permissions(work_ / "secret.mp4", fs::perms::none);
    fs::permissions(locked, fs::perms::none);
    // Permissions bind only an ordinary user: as root the program runs as nobody.
    std::string user;
    if (geteuid() == 0) {
        fs::permissions(dir_.path(), fs::perms::all);
        fs::permissions(work_, fs::perms::all);
        user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    std::string program = user + "env PINDLE_CAPTURE_HOME=" + quoted(dir_ / "nobody") + " " +
                          PINDLE_CAPTURE_BINARY + " export ";
    std::set<std::string> before = namesUnder(work_);
    fs::path gif = work_ / "out.gif";
    for (const fs::path& bad :
         {work_ / "loop-a", overlong, locked / "inside.mp4", work_ / "secret.mp4"}) {
        EXPECT_EQ(runCommand(program + quoted(bad) + " --to " + quoted(gif) + " 2>/dev/null"), 1)
            << bad.string().substr(0, 200);
    }
    for (const fs::path& bad : {work_ / "loop-a", overlong, locked / "out.gif"}) {
        EXPECT_EQ(runCommand(program + quoted(source_) + " --to " + quoted(bad) + " 2>/dev/null"),
                  1)
            << bad.string().substr(0, 200);
    }
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(namesUnder(work_), before);
    EXPECT_TRUE(fs::is_symlink(work_ / "loop-a"));
}

TEST_F(ExportSafetyTest, NumbersThatOverflowAreUsageErrors) {
    fs::path gif = work_ / "out.gif";
    for (const std::string& arguments :
         {quoted(source_) + " --start 1e400", quoted(source_) + " --start nan",
          quoted(source_) + " --end -inf", quoted(source_) + " --start 1e300",
          std::string("99999999999999999999")}) {
        EXPECT_EQ(runCommand(program() + arguments + " --to " + quoted(gif) + " 2>/dev/null"), 2)
            << arguments;
    }
    EXPECT_FALSE(fs::exists(gif));
}

// A movie whose sample description claims 65535 x 65535 pixels over a 64 x 48 stream.
fs::path movieWithALyingHeader(const fs::path& folder) {
    fs::path movie = folder / "lying.mp4";
    media::MovieWriterSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.quality = media::EncodingQuality::Intermediate;  // copied, header and all
    auto writer = media::movieOutput()->makeWriter(movie, settings);
    for (int i = 0; i < 10; ++i) {
        Image image(64, 48);
        std::fill(image.pixels.begin(), image.pixels.end(), uint8_t(i * 20));
        EXPECT_TRUE((*writer)->appendFrame(image, MediaTime::make(i, 10)).ok());
    }
    EXPECT_TRUE((*writer)->finish(MediaTime::make(1, 1)).ok());
    std::string bytes = test::readFile(movie);
    size_t entry = bytes.find("avc1", bytes.find("stsd"));
    EXPECT_NE(entry, std::string::npos);
    // The visual sample entry: 6 reserved bytes, the reference index, 16 bytes of nothing,
    // then width and height.
    bytes.replace(entry + 4 + 24, 4, "\xff\xff\xff\xff");
    test::writeFile(movie, bytes);
    return movie;
}

TEST_F(ExportSafetyTest, PictureSizesComeFromTheStreamNotFromTheHeader) {
    fs::path movie = movieWithALyingHeader(work_);
    auto opened = media::openMovie(movie);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ((*opened)->info().naturalSize.width, 64);
    EXPECT_EQ((*opened)->info().naturalSize.height, 48);

    // With memory held to 3 GB the GIF of the claimed size (two 13 GB pictures) could not
    // even start.
    fs::path gif = work_ / "lying.gif";
    EXPECT_EQ(runCommand("ulimit -v 3000000; " + program() + quoted(movie) + " --to " +
                         quoted(gif) + " >/dev/null 2>&1"),
              0);
    test::DecodedMovie decoded = test::decodeMedia(gif);
    EXPECT_EQ(decoded.width, 64);
    EXPECT_EQ(decoded.height, 48);
    EXPECT_FALSE(decoded.frames.empty());
}

TEST_F(ExportSafetyTest, PicturesBeyondTheLimitsEndTheExportWithAClearError) {
    // Really 16400 pixels wide; and 9000 x 8000, within the side but past 64 Mpixel.
    for (const char* size : {"16400x16", "9000x8000"}) {
        fs::path movie = work_ / (std::string(size) + ".mkv");
        ASSERT_EQ(runCommand(std::string("ffmpeg -nostdin -loglevel error -f lavfi -i "
                                         "color=c=red:size=") +
                             size + ":rate=5:duration=0.4 -c:v png " + quoted(movie)),
                  0);
        fs::path gif = work_ / "big.gif";
        fs::path messages = work_ / "messages.txt";
        EXPECT_EQ(runCommand("ulimit -v 3000000; " + program() + quoted(movie) + " --to " +
                             quoted(gif) + " >/dev/null 2>" + quoted(messages)),
                  1);
        std::string said = test::readFile(messages);
        EXPECT_NE(
            said.find(std::string(size) +
                      " pixels; a picture may have at most 16384 pixels a side and 64 Mpixel"),
            std::string::npos)
            << said;
        EXPECT_FALSE(fs::exists(gif));
    }
}

}  // namespace
}  // namespace pindle
