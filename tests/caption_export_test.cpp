#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "decoded_media.h"
#include "movie_fixtures.h"
#include "test_support.h"

namespace pindle {
namespace {

// The region of an image whose pixels are nearly white, and how white the whitest is.
struct WhiteArea {
    int count = 0;
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int brightest = 0;
    double centreX() const { return (left + right) / 2.0; }
    double centreY() const { return (top + bottom) / 2.0; }
};

WhiteArea whiteArea(const Image& image) {
    WhiteArea area;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += 4) {
            int darkest = std::min({p[0], p[1], p[2]});
            area.brightest = std::max(area.brightest, darkest);
            if (darkest > 200) {
                ++area.count;
                area.left = std::min(area.left, x);
                area.right = std::max(area.right, x);
                area.top = std::min(area.top, y);
                area.bottom = std::max(area.bottom, y);
            }
        }
    }
    return area;
}

// The program run as a user runs it, on a library of its own that holds one 640 x 480
// movie of one dark blue, 4 s at 30 frames per second, all key frames.
class CaptionExport : public ::testing::Test {
protected:
    CaptionExport() {
        movie_ = home_ / "0A1B2C3D-0000-4000-8000-00000000000A.mp4";
        EXPECT_TRUE(test::makeTestMovie(
            movie_,
            {.width = 640, .height = 480, .fps = 30, .seconds = 4, .source = "color=c=0x204060"}));
        // The library takes in movies of its folder that no entry lists once they have
        // settled.
        std::filesystem::last_write_time(
            movie_, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    }

    int run(const std::string& args) {
        std::string command = "PINDLE_CAPTURE_HOME='" + home_.path().string() + "' " +
                              PINDLE_CAPTURE_BINARY + " " + args + " > /dev/null 2>&1";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // What the program prints on standard output.
    std::string output(const std::string& args) {
        std::string command = "PINDLE_CAPTURE_HOME='" + home_.path().string() + "' " +
                              PINDLE_CAPTURE_BINARY + " " + args + " 2>/dev/null";
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

    std::filesystem::path out(const std::string& name) const { return home_ / name; }

    test::TempDir home_;
    std::filesystem::path movie_;
};

TEST_F(CaptionExport, CaptionVerbsEditTheStoredList) {
    ASSERT_EQ(run("caption 1 add"), 0);
    ASSERT_EQ(run("caption 1 add --text second --from 0.5 --to 1.5 --size xl --font italic "
                  "--color '#FF8000' --animation move --at 100,50"),
              0);
    ASSERT_EQ(run("caption 1 add --text third --color blue"), 0);
    ASSERT_EQ(run("caption 1 move 3 1"), 0);
    ASSERT_EQ(run("caption 1 remove 2"), 0);
    std::string listing = output("caption 1 list");
    // Defaults: the whole trimmed clip, centred, the placeholder text.
    EXPECT_NE(listing.find("1      0.000    4.000 None   MD   default blue     320,240     third"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("2      0.500    1.500 Move   XL   italic  #FF8000  100,50      second"),
              std::string::npos)
        << listing;
    EXPECT_EQ(listing.find("Enter caption..."), std::string::npos) << listing;
    // Mistakes change nothing.
    EXPECT_EQ(run("caption 1 remove 3"), 2);
    EXPECT_EQ(run("caption 1 add --from 2 --to 1"), 2);
    EXPECT_EQ(run("caption 1 add --animation spin"), 2);
    EXPECT_EQ(run("caption 2 list"), 1);
    EXPECT_EQ(output("caption 1 list"), listing);
}

TEST_F(CaptionExport, FadeCaptionShowsInItsRangeAtItsPlaceInEveryLoop) {
    ASSERT_EQ(run("caption 1 add --text IIII --from 1 --to 2 --animation fade --size lg "
                  "--at 320,240"),
              0);
    // The original size, as one frame: where the caption is.
    ASSERT_EQ(run("frame 1 --at 1.5 --to '" + out("full.png").string() + "'"), 0);
    test::DecodedMovie full = test::decodeMedia(out("full.png"));
    ASSERT_EQ(full.frames.size(), 1u) << full.error;
    WhiteArea reference = whiteArea(full.frames[0].image);
    ASSERT_GT(reference.count, 100);
    EXPECT_NEAR(reference.centreX(), 320, 4);
    EXPECT_NEAR(reference.centreY(), 240, 12);

    for (const char* loop : {"normal", "ping-pong"}) {
        SCOPED_TRACE(loop);
        auto gif = out(std::string(loop) + ".gif");
        ASSERT_EQ(
            run(std::string("export 1 --size 320 --loop ") + loop + " --to '" + gif.string() + "'"),
            0);
        test::DecodedMovie decoded = test::decodeMedia(gif);
        ASSERT_EQ(decoded.width, 320);
        double length = std::string(loop) == "normal" ? 4 : 8;
        ASSERT_EQ(decoded.frames.size(), size_t(length * 15));
        for (const test::DecodedFrame& frame : decoded.frames) {
            double t = frame.seconds;
            // Forward from 1 to 2 s; in ping-pong also mirrored: the entrance and exit swap
            // their begin times, so it enters at 8 - 1.9 and begins to leave at 8 - 1.
            bool inside = (t > 1.0 && t < 2.0) || (length == 8 && t > 6.1 && t < 7.1);
            bool faded = (t >= 1.1 && t < 1.9) || (length == 8 && t >= 6.2 && t <= 7.0);
            WhiteArea area = whiteArea(frame.image);
            if (!inside) {
                EXPECT_EQ(area.count, 0) << "at " << t;
                EXPECT_LT(area.brightest, 120) << "at " << t;
                continue;
            }
            if (!faded) {
                continue;
            }
            EXPECT_GT(area.brightest, 240) << "full opacity at " << t;
            // Half the size, at the same place of the picture.
            EXPECT_NEAR(area.centreX(), reference.centreX() / 2, 2) << t;
            EXPECT_NEAR(area.centreY(), reference.centreY() / 2, 2) << t;
            EXPECT_NEAR(area.right - area.left, (reference.right - reference.left) / 2.0, 3) << t;
        }
    }
}

TEST_F(CaptionExport, WatermarkWithAlphaLandsWhereItIsFitted) {
    auto mark = out("mark.png");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -f lavfi -i "
                           "color=c=white@0.5:size=100x50,format=rgba -frames:v 1 '" +
                           mark.string() + "'")
                              .c_str()),
              0);
    ASSERT_EQ(run("watermark set '" + mark.string() + "'"), 0);
    auto gif = out("marked.gif");
    ASSERT_EQ(run("export 1 --size 320 --end 1 --to '" + gif.string() + "'"), 0);
    test::DecodedMovie decoded = test::decodeMedia(gif);
    ASSERT_EQ(decoded.height, 240);
    // 100 x 50 fitted over 640 x 480: 640 x 320 with 80 above and below; in a 320-wide GIF,
    // rows 40 to 199. Half-white over dark blue is a light blue-grey.
    const Image& image = decoded.frames.at(5).image;
    for (int y : {0, 38, 42, 120, 197, 202, 239}) {
        const uint8_t* p = image.row(y) + 160 * 4;
        bool marked = y >= 40 && y < 200;
        EXPECT_NEAR(p[0], marked ? 0x20 / 2 + 128 : 0x20, 12) << "row " << y;
        EXPECT_NEAR(p[2], marked ? 0x60 / 2 + 128 : 0x60, 12) << "row " << y;
    }
    // A file that is no image is refused and the watermark stays.
    test::writeFile(out("text.png"), "not a picture");
    EXPECT_EQ(run("watermark set '" + out("text.png").string() + "'"), 1);
    ASSERT_EQ(run("watermark unset"), 0);
}

TEST_F(CaptionExport, MP4WithACaptionIsDrawnAndWithoutOneIsACopy) {
    test::DecodedMovie source = test::decodeMedia(movie_);
    auto plain = out("plain.mp4");
    ASSERT_EQ(run("export 1 --to '" + plain.string() + "'"), 0);
    test::DecodedMovie copied = test::decodeMedia(plain);
    ASSERT_EQ(copied.frames.size(), source.frames.size());
    EXPECT_EQ(test::meanAbsoluteDifference(copied.frames[45].image, source.frames[45].image), 0);

    ASSERT_EQ(run("caption 1 add --text Hello --from 1 --to 2"), 0);
    auto captioned = out("captioned.mp4");
    ASSERT_EQ(run("export 1 --to '" + captioned.string() + "'"), 0);
    test::DecodedMovie drawn = test::decodeMedia(captioned);
    // Drawn frames come at the edit's rate, 15 per second.
    ASSERT_EQ(drawn.frames.size(), 60u);
    for (const test::DecodedFrame& frame : drawn.frames) {
        bool inside = frame.seconds > 1.0 && frame.seconds < 2.0;
        EXPECT_EQ(whiteArea(frame.image).count > 100, inside) << frame.seconds;
    }
    // The batch draws it into its movie and both GIFs too.
    ASSERT_EQ(run("export 1 --format batch --to '" + out("batch").string() + "'"), 0);
    for (const char* name : {"Video MP4 (640x480).mp4", "Large GIF (640x480).gif"}) {
        test::DecodedMovie file = test::decodeMedia(out("batch") / name);
        ASSERT_GE(file.frames.size(), 30u) << name;
        EXPECT_GT(whiteArea(file.frames[22].image).count, 100) << name;
        EXPECT_EQ(whiteArea(file.frames[8].image).count, 0) << name;
    }
}

}  // namespace
}  // namespace pindle
