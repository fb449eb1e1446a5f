#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>

#include "decoded_media.h"
#include "movie_fixtures.h"
#include "test_support.h"
#include "xvfb_support.h"

namespace pindle {
namespace {

// Pixels of an image that are nearly white.
int whitePixels(const Image& image) {
    int count = 0;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += 4) {
            count += std::min({p[0], p[1], p[2]}) > 200 ? 1 : 0;
        }
    }
    return count;
}

double totalSeconds(const test::DecodedMovie& movie) {
    return std::accumulate(
        movie.frames.begin(), movie.frames.end(), 0.0,
        [](double sum, const test::DecodedFrame& frame) { return sum + frame.durationSeconds; });
}

// The program run as a user runs it, on movie files of a folder of its own.
class EditExtras : public ::testing::Test {
protected:
    int run(const std::string& args) {
        std::string command = "PINDLE_CAPTURE_HOME='" + home_.path().string() + "' " +
                              PINDLE_CAPTURE_BINARY + " " + args + " > /dev/null 2>&1";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Exports movie with the options to a GIF (or another format) and decodes it.
    test::DecodedMovie gif(const std::filesystem::path& movie, const std::string& options,
                           const std::string& extension = ".gif") {
        auto file = home_ / ("out" + std::to_string(++exports_) + extension);
        EXPECT_EQ(
            run("export '" + movie.string() + "' " + options + " --to '" + file.string() + "'"), 0)
            << options;
        return test::decodeMedia(file);
    }

    std::filesystem::path path(const std::string& name) const { return home_ / name; }

    // What a shell command prints on standard output.
    static std::string output(const std::string& command) {
        std::string text;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) {
                text.append(buffer, n);
            }
            pclose(pipe);
        }
        return text;
    }

    test::TempDir home_;
    int exports_ = 0;
};

TEST_F(EditExtras, DoubleSpeedShowsEverySecondPictureInHalfTheTime) {
    auto movie = path("pattern.mp4");
    ASSERT_TRUE(test::makeTestMovie(movie, {.width = 320, .height = 240, .fps = 15, .seconds = 6}));
    test::DecodedMovie normal = gif(movie, "--start 1 --end 5");
    test::DecodedMovie fast = gif(movie, "--start 1 --end 5 --speed 2");
    ASSERT_EQ(normal.frames.size(), 60u) << normal.error;
    ASSERT_EQ(fast.frames.size(), 30u) << fast.error;
    EXPECT_NEAR(totalSeconds(normal), 4.0, 0.011);
    EXPECT_NEAR(totalSeconds(fast), 2.0, 0.011);
    for (size_t k = 0; k < fast.frames.size(); ++k) {
        const Image& picture = fast.frames[k].image;
        double same = test::meanAbsoluteDifference(picture, normal.frames[2 * k].image);
        double next = test::meanAbsoluteDifference(picture, normal.frames[2 * k + 1].image);
        // The GIF's palettes differ a little; the neighbouring picture differs plainly.
        EXPECT_LT(same, 3) << "frame " << k;
        EXPECT_GT(next, 2 * same + 3) << "frame " << k;
    }
    // Speeds that are not offered are refused.
    EXPECT_EQ(run("export '" + movie.string() + "' --speed 3 --to '" +
                  path("refused.gif").string() + "'"),
              2);
    EXPECT_FALSE(std::filesystem::exists(path("refused.gif")));
}

TEST_F(EditExtras, MoviesPlayAtTheChosenSpeedWithThePicturesOfTheClip) {
    auto movie = path("pattern.mp4");
    ASSERT_TRUE(test::makeTestMovie(movie, {.width = 320, .height = 240, .fps = 30, .seconds = 6}));
    test::DecodedMovie normal = gif(movie, "--start 1 --end 5", ".mp4");
    test::DecodedMovie fast = gif(movie, "--start 1 --end 5 --speed 2", ".mp4");
    test::DecodedMovie slow = gif(movie, "--start 1 --end 5 --speed 0.5", ".mp4");
    ASSERT_EQ(normal.frames.size(), 120u) << normal.error;
    EXPECT_NEAR(normal.durationSeconds, 4.0, 1.0 / 30);

    // Twice as fast: 2 s at the clip's rate, every second picture.
    EXPECT_NEAR(fast.durationSeconds, 2.0, 1.0 / 30);
    ASSERT_EQ(fast.frames.size(), 60u) << fast.error;
    for (size_t k = 0; k < fast.frames.size(); ++k) {
        const Image& picture = fast.frames[k].image;
        double same = test::meanAbsoluteDifference(picture, normal.frames[2 * k].image);
        double next = test::meanAbsoluteDifference(picture, normal.frames[2 * k + 1].image);
        EXPECT_LT(same, 3) << "frame " << k;
        EXPECT_GT(next, 2 * same + 1) << "frame " << k;
        EXPECT_NEAR(fast.frames[k].seconds, double(k) / 30, 0.002) << "frame " << k;
    }

    // Half as fast: 8 s, every picture once, each shown for twice as long.
    EXPECT_NEAR(slow.durationSeconds, 8.0, 1.0 / 15);
    ASSERT_EQ(slow.frames.size(), 120u) << slow.error;
    for (size_t k = 0; k < slow.frames.size(); ++k) {
        EXPECT_LT(test::meanAbsoluteDifference(slow.frames[k].image, normal.frames[k].image), 3)
            << "frame " << k;
        EXPECT_NEAR(slow.frames[k].durationSeconds, 1.0 / 15, 0.002) << "frame " << k;
    }

    // The batch's movie too.
    auto batch = path("batch");
    ASSERT_EQ(run("export '" + movie.string() + "' --start 1 --end 5 --speed 2 --format batch " +
                  "--to '" + batch.string() + "'"),
              0);
    test::DecodedMovie batchMovie = test::decodeMedia(batch / "Video MP4 (320x240).mp4");
    EXPECT_EQ(batchMovie.frames.size(), 60u) << batchMovie.error;
    EXPECT_NEAR(batchMovie.durationSeconds, 2.0, 1.0 / 30);
}

TEST_F(EditExtras, ACaptionCoversTheSamePicturesAtAnySpeed) {
    auto movie = home_ / "0A1B2C3D-0000-4000-8000-00000000000A.mp4";
    ASSERT_TRUE(test::makeTestMovie(
        movie,
        {.width = 320, .height = 240, .fps = 30, .seconds = 4, .source = "color=c=0x204060"}));
    std::filesystem::last_write_time(
        movie, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    ASSERT_EQ(run("caption 1 add --text IIII --from 1 --to 2 --size lg"), 0);
    for (const char* extension : {".gif", ".mp4"})
        for (double speed : {0.5, 2.0, 4.0}) {
            SCOPED_TRACE(std::string(extension) + " at " + std::to_string(speed));
            std::ostringstream option;
            option << "--speed " << speed;
            auto file = path(std::string("captioned") + extension);
            ASSERT_EQ(run("export 1 " + option.str() + " --to '" + file.string() + "'"), 0);
            test::DecodedMovie decoded = test::decodeMedia(file);
            // 15 GIF pictures a second; the movie is drawn at that rate too, and plays faster
            // at it or slower at a lower one.
            size_t pictures = size_t(4 / std::max(speed, 1.0) * 15);
            ASSERT_EQ(decoded.frames.size(),
                      std::string(extension) == ".gif" ? size_t(4 / speed * 15) : pictures)
                << decoded.error;
            EXPECT_NEAR(decoded.durationSeconds, 4 / speed, 1.0 / 15);
            for (const test::DecodedFrame& frame : decoded.frames) {
                double picture = frame.seconds * speed;
                if (std::abs(picture - 1) < 0.05 || std::abs(picture - 2) < 0.05) {
                    continue;
                }
                bool inside = picture > 1 && picture < 2;
                EXPECT_EQ(whitePixels(frame.image) > 50, inside)
                    << "picture at " << picture << " s";
            }
        }
}

TEST_F(EditExtras, IdleTrimRemovesTheStillStartAndEndAndNothingElse) {
    // 1 s of one picture with a blinking cursor, 2 s of motion, 1 s of the last picture with
    // the cursor blinking again.
    auto movie = path("idle.mp4");
    std::string command =
        "ffmpeg -nostdin -loglevel error -y -t 2 -f lavfi -i testsrc2=size=320x240:rate=15 "
        "-vf \"tpad=start_mode=clone:start_duration=1:stop_mode=clone:stop_duration=1,"
        "drawbox=x=20:y=20:w=6:h=10:color=white:t=fill:"
        "enable='lt(mod(t\\,0.5)\\,0.25)*(lt(t\\,1)+gte(t\\,3))'\" "
        "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 1 '" +
        movie.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    test::DecodedMovie whole = gif(movie, "");
    test::DecodedMovie trimmed = gif(movie, "--trim-idle");
    test::DecodedMovie active = gif(movie, "--start 1 --end 3");
    ASSERT_EQ(whole.frames.size(), 60u) << whole.error;
    ASSERT_EQ(trimmed.frames.size(), active.frames.size()) << trimmed.error;
    ASSERT_EQ(active.frames.size(), 30u);
    for (size_t i = 0; i < active.frames.size(); ++i) {
        EXPECT_LT(test::meanAbsoluteDifference(trimmed.frames[i].image, active.frames[i].image),
                  0.5)
            << "frame " << i;
    }
    // Within a trim that starts in the motion, only the still end goes.
    test::DecodedMovie late = gif(movie, "--start 2 --trim-idle");
    EXPECT_EQ(late.frames.size(), 15u);
}

TEST_F(EditExtras, CopyOffersTheGIFAsBytesAndAsAFileAndStandardOutputGetsItToo) {
    test::Xvfb x("640x480x24");
    ASSERT_TRUE(x.isRunning());
    auto movie = path("pattern.mp4");
    ASSERT_TRUE(test::makeTestMovie(movie, {.width = 160, .height = 120, .fps = 15, .seconds = 1}));
    std::string program = "PINDLE_CAPTURE_HOME='" + home_.path().string() +
                          "' DISPLAY=" + x.display() + " " + PINDLE_CAPTURE_BINARY + " export '" +
                          movie.string() + "' --speed 2 ";
    ASSERT_EQ(
        run("export '" + movie.string() + "' --speed 2 --to '" + path("file.gif").string() + "'"),
        0);
    std::string file = test::readFile(path("file.gif"));
    ASSERT_GT(file.size(), 100u);
    EXPECT_EQ(output(program + "--to - 2>/dev/null"), file);

    ASSERT_EQ(std::system((program + "--copy > /dev/null 2>&1").c_str()), 0);
    std::string xclip = "DISPLAY=" + x.display() + " xclip -selection clipboard ";
    std::string targets = output(xclip + "-t TARGETS -o");
    EXPECT_NE(targets.find("image/gif\n"), std::string::npos) << targets;
    EXPECT_NE(targets.find("text/uri-list\n"), std::string::npos) << targets;
    EXPECT_EQ(output(xclip + "-t image/gif -o"), file);
    std::string uri = output(xclip + "-t text/uri-list -o");
    ASSERT_EQ(uri.rfind("file://", 0), 0u) << uri;
    std::filesystem::path served = uri.substr(7, uri.find_first_of("\r\n") - 7);
    EXPECT_EQ(served.filename(), "pattern.gif");
    EXPECT_EQ(test::readFile(served), file);
    test::DecodedMovie decoded = test::decodeMedia(served);
    EXPECT_EQ(decoded.frames.size(), 7u) << decoded.error;

    // Another owner takes the clipboard: the copy stops serving and its file goes.
    ASSERT_EQ(std::system(("echo other | " + xclip).c_str()), 0);
    for (int i = 0; i < 50 && std::filesystem::exists(served); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(std::filesystem::exists(served));
    EXPECT_FALSE(std::filesystem::exists(served.parent_path()));
}

}  // namespace
}  // namespace pindle
