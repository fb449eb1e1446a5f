#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "decoded_media.h"
#include "test_support.h"

namespace pindle {
namespace {

// 8-pixel blocks in 64 colours laid out without a short period, so a picture taken a few
// pixels off differs plainly from the right one, and a GIF palette holds every colour.
const char* const kBlocks =
    "geq=r='85*mod(trunc(X/8)*7+trunc(Y/8)*3\\,4)':"
    "g='85*mod(trunc(X/8)*5+trunc(Y/8)*11+trunc(X/40)\\,4)':"
    "b='85*mod(trunc(X/24)+trunc(Y/16)*2\\,4)'";

Image region(const Image& image, int x, int y, int width, int height) {
    Image part(width, height);
    for (int row = 0; row < height; ++row) {
        std::copy_n(image.row(y + row) + size_t(x) * 4, size_t(width) * 4, part.row(row));
    }
    return part;
}

// The centre of the nearly white pixels, or (-1, -1) when there are few.
std::pair<double, double> whiteCentre(const Image& image) {
    double sx = 0, sy = 0;
    int count = 0;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += 4) {
            if (std::min({p[0], p[1], p[2]}) > 200) {
                sx += x;
                sy += y;
                ++count;
            }
        }
    }
    return count < 50 ? std::pair{-1.0, -1.0} : std::pair{sx / count, sy / count};
}

class CropExport : public ::testing::Test {
protected:
    // Runs the program with the library in home_; returns its exit status and what it
    // printed on standard output.
    int run(const std::string& args, std::string* printed = nullptr) {
        std::string command = "PINDLE_CAPTURE_HOME='" + home_.path().string() + "' " +
                              PINDLE_CAPTURE_BINARY + " " + args + " 2>/dev/null";
        std::string text;
        int status = -1;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) {
                text.append(buffer, n);
            }
            status = pclose(pipe);
        }
        if (printed != nullptr) {
            *printed = text;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A 640 x 480 movie of the source, as the only recording of the library.
    std::filesystem::path makeRecording(const std::string& source, int seconds = 1) {
        auto movie = home_ / "0A1B2C3D-0000-4000-8000-00000000000C.mp4";
        std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i \"" + source +
                              "\" -t " + std::to_string(seconds) +
                              " -c:v libx264 -preset ultrafast -qp 0 -pix_fmt yuv444p -g 1 '" +
                              movie.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return movie;
    }

    test::TempDir home_;
};

TEST_F(CropExport, ExportsExactlyTheCroppedPixelsAtTheChosenWidth) {
    auto movie = makeRecording(std::string("color=c=black:size=640x480:rate=15,") + kBlocks);
    test::DecodedMovie source = test::decodeMedia(movie, 1);
    ASSERT_EQ(source.frames.size(), 1u) << source.error;
    const Image& whole = source.frames[0].image;
    Image wanted = region(whole, 100, 50, 320, 240);

    for (const char* format : {"gif", "mp4"}) {
        SCOPED_TRACE(format);
        auto file = home_ / (std::string("crop.") + format);
        ASSERT_EQ(run("export '" + movie.string() + "' --crop 100,50,320,240 --to '" +
                      file.string() + "'"),
                  0);
        test::DecodedMovie out = test::decodeMedia(file);
        ASSERT_FALSE(out.frames.empty()) << out.error;
        ASSERT_EQ(out.width, 320);
        ASSERT_EQ(out.height, 240);
        const Image& picture = out.frames[0].image;
        double exact = test::meanAbsoluteDifference(picture, wanted);
        EXPECT_LT(exact, 6);
        // A crop off by a pixel or a block would be told apart.
        for (auto [dx, dy] : {std::pair{1, 0}, {0, 1}, {8, 0}, {0, 8}, {-2, -2}}) {
            double off =
                test::meanAbsoluteDifference(picture, region(whole, 100 + dx, 50 + dy, 320, 240));
            EXPECT_GT(off, 2 * exact + 4) << dx << "," << dy;
        }
    }

    // Resized after cropping: 640 wide doubles the crop; every block shows its colour.
    auto large = home_ / "large.gif";
    ASSERT_EQ(run("export '" + movie.string() + "' --crop 100,50,320,240 --size 640 --to '" +
                  large.string() + "'"),
              0);
    test::DecodedMovie doubled = test::decodeMedia(large);
    ASSERT_FALSE(doubled.frames.empty()) << doubled.error;
    ASSERT_EQ(doubled.width, 640);
    ASSERT_EQ(doubled.height, 480);
    // Sampled at the middle of each block, away from the edges the enlarging blends: crop
    // pixel (8i, 8j + 2) is pixel (8m + 4, 8n + 4) of the recording.
    int mismatched = 0;
    for (int y = 2; y < 240; y += 8) {
        for (int x = 0; x < 320; x += 8) {
            const uint8_t* got = doubled.frames[0].image.row(2 * y) + size_t(2 * x) * 4;
            const uint8_t* expected = wanted.row(y) + size_t(x) * 4;
            for (int c = 0; c < 3; ++c) {
                mismatched += std::abs(int(got[c]) - int(expected[c])) > 24 ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(mismatched, 0);

    // Outside the picture is an error, not a smaller picture; nothing is written.
    auto refused = home_ / "refused.gif";
    EXPECT_EQ(run("export '" + movie.string() + "' --crop 400,300,320,240 --to '" +
                  refused.string() + "'"),
              1);
    EXPECT_FALSE(std::filesystem::exists(refused));
}

TEST_F(CropExport, CaptionsSitOnTheCroppedPictureAndTheEstimateFollowsTheCrop) {
    makeRecording("color=c=0x204060:size=640x480:rate=15");
    // One caption inside the crop, one wholly outside it (top-left corner).
    ASSERT_EQ(run("caption 1 add --text IIII --from 0 --to 5 --size lg --at 260,170"), 0);
    ASSERT_EQ(run("caption 1 add --text IIII --from 0 --to 5 --size lg --at 30,20"), 0);

    std::string whole, cropped;
    auto wholeFile = home_ / "whole.gif";
    ASSERT_EQ(run("export 1 --estimate --to '" + wholeFile.string() + "'", &whole), 0);
    auto file = home_ / "captioned.gif";
    ASSERT_EQ(
        run("export 1 --crop 100,50,320,240 --estimate --to '" + file.string() + "'", &cropped), 0);
    test::DecodedMovie uncropped = test::decodeMedia(wholeFile);
    test::DecodedMovie out = test::decodeMedia(file);
    ASSERT_FALSE(uncropped.frames.empty()) << uncropped.error;
    ASSERT_FALSE(out.frames.empty()) << out.error;
    ASSERT_EQ(out.width, 320);
    // The inside caption is where it was on the recording, counted from the crop's corner;
    // the outside one leaves no white in the crop.
    auto [wholeX, wholeY] = whiteCentre(region(uncropped.frames[0].image, 100, 50, 320, 240));
    auto [x, y] = whiteCentre(out.frames[0].image);
    ASSERT_GT(wholeX, 0);
    EXPECT_NEAR(x, wholeX, 1);
    EXPECT_NEAR(y, wholeY, 1);
    EXPECT_NEAR(x, 160, 3);
    EXPECT_NE(whiteCentre(region(uncropped.frames[0].image, 0, 0, 100, 100)).first, -1);

    // Both captions stay in the library.
    std::string listed;
    ASSERT_EQ(run("caption 1 list", &listed), 0);
    EXPECT_NE(listed.find("260,170"), std::string::npos) << listed;
    EXPECT_NE(listed.find("30,20"), std::string::npos) << listed;

    // The quick estimate scales with the picture's area; the exact one is the GIF's size.
    std::smatch quickWhole, quickCropped, exact;
    std::regex quick("quick estimate: ([0-9]+) bytes"), bytes("exact size: ([0-9]+) bytes");
    ASSERT_TRUE(std::regex_search(whole, quickWhole, quick)) << whole;
    ASSERT_TRUE(std::regex_search(cropped, quickCropped, quick)) << cropped;
    ASSERT_TRUE(std::regex_search(cropped, exact, bytes)) << cropped;
    EXPECT_EQ(std::stoull(quickWhole[1]), 4 * std::stoull(quickCropped[1]));
    EXPECT_NEAR(double(std::stoull(exact[1])), double(std::filesystem::file_size(file)),
                0.02 * double(std::filesystem::file_size(file)));
}

TEST_F(CropExport, IdleTrimLooksOnlyAtTheCrop) {
    // A box moves inside the crop from 1 s to 3 s; below the crop another moves all along.
    auto movie = makeRecording(
        "color=c=0x204060:size=640x480:rate=15[bg];color=c=white:size=40x40:rate=15[in];"
        "color=c=yellow:size=40x40:rate=15[out];"
        "[bg][in]overlay=x='100+t*50':y=100:enable='between(t,1,3)'[a];"
        "[a][out]overlay=x='mod(t*300,500)':y=400",
        4);
    auto seconds = [&](const std::string& options) {
        auto file = home_ / "idle.gif";
        EXPECT_EQ(run("export '" + movie.string() + "' --trim-idle " + options + " --to '" +
                      file.string() + "'"),
                  0);
        test::DecodedMovie out = test::decodeMedia(file);
        double total = 0;
        for (const test::DecodedFrame& frame : out.frames) {
            total += frame.durationSeconds;
        }
        return total;
    };
    EXPECT_NEAR(seconds(""), 4.0, 0.01);
    // The motion inside, with one still picture kept on either side.
    EXPECT_NEAR(seconds("--crop 100,50,320,240"), 2.1, 0.2);
}

}  // namespace
}  // namespace pindle
