#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <random>
#include <set>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "decoded_media.h"
#include "platform/imageio/imageio.h"
#include "test_support.h"

namespace pindle {
namespace {

// A flat "desktop" with a gradient panel and a small square that moves with i.
Image screenLikeFrame(int width, int height, int i) {
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = image.row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            bool panel = x > width / 2;
            p[0] = panel ? uint8_t(x * 255 / width) : 230;
            p[1] = panel ? uint8_t(y * 255 / height) : 232;
            p[2] = panel ? 128 : 236;
            p[3] = 255;
        }
    }
    for (int y = 10; y < 18; ++y) {
        for (int x = 5 + 3 * i; x < 13 + 3 * i && x < width; ++x) {
            uint8_t* p = image.row(y) + x * 4;
            p[0] = 200, p[1] = 20, p[2] = 20;
        }
    }
    return image;
}

Image noiseFrame(int width, int height, unsigned seed) {
    Image image(width, height);
    std::mt19937 random(seed);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        image.pixels[i] = (i % 4 == 3) ? 255 : uint8_t(random());
    }
    return image;
}

// Files may grow to at most limit bytes while the object lives: a write past it fails with
// EFBIG, as on a full disk, instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
};

std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

Image flatFrame(int width, int height, uint8_t value) {
    Image image(width, height);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        image.pixels[i] = (i % 4 == 3) ? 255 : value;
    }
    return image;
}

TEST(GifWriter, ViewerSeesEveryFrameWithItsDelayAndTheAnimationLoopsForever) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    auto gif = output->createGIF(dir / "a.gif", 96, 64);
    ASSERT_TRUE(gif.ok()) << gif.error().message;
    const int delays[] = {7, 7, 6, 7, 7, 6, 7, 7};
    std::vector<Image> sources;
    for (int i = 0; i < 8; ++i) {
        // Frame 4 repeats frame 3 exactly: it must still be a frame of its own.
        sources.push_back(screenLikeFrame(96, 64, i == 4 ? 3 : i));
        ASSERT_TRUE((*gif)->addFrame(sources.back(), delays[i]).ok());
    }
    ASSERT_TRUE((*gif)->finish().ok());

    test::DecodedMovie movie = test::decodeMedia(dir / "a.gif");
    ASSERT_EQ(movie.error, "");
    EXPECT_EQ(movie.codec, "gif");
    EXPECT_EQ(movie.width, 96);
    EXPECT_EQ(movie.height, 64);
    ASSERT_EQ(movie.frames.size(), 8u);
    double start = 0;
    for (size_t i = 0; i < movie.frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(movie.frames[i].seconds, start, 1e-6);
        start += delays[i] / 100.0;
        EXPECT_LT(test::meanAbsoluteDifference(movie.frames[i].image, sources[i]), 2.5);
    }
    std::string bytes = test::readFile(dir / "a.gif");
    EXPECT_NE(bytes.find(std::string("NETSCAPE2.0\x03\x01\x00\x00", 15)), std::string::npos);

    // Saved like any other file of the user's: readable by others under the usual umask.
    mode_t previous = umask(022);
    auto shared = output->createGIF(dir / "shared.gif", 8, 8);
    umask(previous);
    ASSERT_TRUE(shared.ok());
    ASSERT_TRUE((*shared)->addFrame(Image(8, 8), 10).ok());
    ASSERT_TRUE((*shared)->finish().ok());
    auto permissions = std::filesystem::status(dir / "shared.gif").permissions();
    EXPECT_EQ(permissions & std::filesystem::perms::others_read,
              std::filesystem::perms::others_read);
}

TEST(GifWriter, StoresOnlyWhatChangedYetASlowFadeStillArrives) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    // A cursor-sized change on a large still picture costs a small fraction of a frame.
    {
        auto gif = output->createGIF(dir / "moving.gif", 320, 240);
        ASSERT_TRUE(gif.ok());
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE((*gif)->addFrame(screenLikeFrame(320, 240, i), 5).ok());
        }
        ASSERT_TRUE((*gif)->finish().ok());
        auto first = output->createGIF(dir / "first.gif", 320, 240);
        ASSERT_TRUE((*first)->addFrame(screenLikeFrame(320, 240, 0), 5).ok());
        ASSERT_TRUE((*first)->finish().ok());
        auto whole = std::filesystem::file_size(dir / "moving.gif");
        auto one = std::filesystem::file_size(dir / "first.gif");
        EXPECT_LT(whole, one + one / 2) << "20 frames with a moving square vs one frame";
    }
    // Steps of 1 per frame are each below the noise tolerance; the picture must still
    // follow them rather than stay on the first colour.
    {
        auto gif = output->createGIF(dir / "fade.gif", 32, 32);
        for (int i = 0; i <= 40; ++i) {
            ASSERT_TRUE((*gif)->addFrame(flatFrame(32, 32, uint8_t(100 + i)), 5).ok());
        }
        ASSERT_TRUE((*gif)->finish().ok());
        test::DecodedMovie movie = test::decodeMedia(dir / "fade.gif");
        ASSERT_EQ(movie.frames.size(), 41u);
        EXPECT_LT(test::meanAbsoluteDifference(movie.frames.back().image, flatFrame(32, 32, 140)),
                  4.0);
    }
}

// A photograph-like picture (smooth colours) with fresh sensor-like noise in every frame,
// slowly brightening.
Image noisyFrame(int width, int height, int i, unsigned& seed) {
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = image.row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1103515245u + 12345u;
                int noise = int((seed >> 16) % 13) - 6;
                int base = 60 + (x * (c + 1) + y * (3 - c)) % 120 + i;
                p[c] = uint8_t(std::clamp(base + noise, 0, 255));
            }
            p[3] = 255;
        }
    }
    return image;
}

TEST(GifWriter, NoiseIsNotRedrawnEveryFrameButThePictureFollowsTheSource) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    constexpr int kFrames = 30;
    std::vector<Image> sources;
    unsigned seed = 7;
    auto gif = output->createGIF(dir / "noisy.gif", 160, 120);
    ASSERT_TRUE(gif.ok());
    for (int i = 0; i < kFrames; ++i) {
        sources.push_back(noisyFrame(160, 120, i, seed));
        ASSERT_TRUE((*gif)->addFrame(sources.back(), 5).ok());
    }
    ASSERT_TRUE((*gif)->finish().ok());
    auto first = output->createGIF(dir / "first.gif", 160, 120);
    ASSERT_TRUE((*first)->addFrame(sources.front(), 5).ok());
    ASSERT_TRUE((*first)->finish().ok());
    // Redrawing every noisy pixel would cost about a whole frame each time.
    EXPECT_LT(std::filesystem::file_size(dir / "noisy.gif"),
              std::filesystem::file_size(dir / "first.gif") * kFrames / 2);

    test::DecodedMovie movie = test::decodeMedia(dir / "noisy.gif");
    ASSERT_EQ(movie.frames.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        // Within the noise of every frame, the last one included: the brightening by 29
        // levels arrives even though no single step stands out of the noise.
        EXPECT_LT(test::meanAbsoluteDifference(movie.frames[i].image, sources[i]), 6.0) << i;
    }
}

// Dark "glyphs" on white scrolling up under a fixed title bar: most of the panel changes
// every frame, in among pixels that do not.
Image scrollingTextFrame(int width, int height, int scroll) {
    Image image = flatFrame(width, height, 250);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image.row(y) + x * 4;
            // A soft background shading with hundreds of colours, moving with the text.
            p[0] = uint8_t(200 + (x * 3 + y + scroll) % 56);
            p[1] = uint8_t(190 + (x + (y + scroll) * 2) % 66);
            p[2] = uint8_t(180 + (x * 2 + (y + scroll) * 3) % 76);
            if (y < 12) {
                p[0] = 40, p[1] = 46, p[2] = 60;
                continue;
            }
            int line = (y + scroll) / 10;
            int glyph = x / 6;
            bool ink = (y + scroll) % 10 < 7 && x % 6 < 4 && ((line * 7 + glyph * 13) % 5) != 0 &&
                       ((x + y + scroll) % 3 != 0);
            if (ink) {
                p[0] = uint8_t(30 + (glyph * 37 + x) % 90);
                p[1] = uint8_t(40 + (line * 53 + y) % 120);
                p[2] = uint8_t(60 + (glyph + line + x + y) % 100);
            }
        }
    }
    return image;
}

TEST(GifWriter, ScrollingTextKeepsItsColours) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    auto gif = output->createGIF(dir / "scroll.gif", 160, 96);
    ASSERT_TRUE(gif.ok());
    std::vector<Image> sources;
    for (int i = 0; i < 8; ++i) {
        sources.push_back(scrollingTextFrame(160, 96, 3 * i));
        ASSERT_TRUE((*gif)->addFrame(sources.back(), 7).ok());
    }
    ASSERT_TRUE((*gif)->finish().ok());
    test::DecodedMovie movie = test::decodeMedia(dir / "scroll.gif");
    ASSERT_EQ(movie.frames.size(), 8u);
    for (size_t i = 0; i < movie.frames.size(); ++i) {
        // About 3 from the 256-colour limit alone; colours lost at the edges of the
        // unchanged pixels show as twice that.
        EXPECT_LT(test::meanAbsoluteDifference(movie.frames[i].image, sources[i]), 4.5) << i;
    }
}

TEST(GifWriter, RefusesWrongSizesAndLeavesNoFileWithoutFrames) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    EXPECT_FALSE(output->createGIF(dir / "zero.gif", 0, 10).ok());
    EXPECT_FALSE(output->createGIF(dir / "missing-folder" / "x.gif", 10, 10).ok());

    auto gif = output->createGIF(dir / "empty.gif", 16, 16);
    ASSERT_TRUE(gif.ok());
    EXPECT_FALSE((*gif)->addFrame(flatFrame(8, 8, 0), 10).ok());
    EXPECT_FALSE((*gif)->finish().ok());
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.gif"));

    {
        auto abandoned = output->createGIF(dir / "abandoned.gif", 16, 16);
        ASSERT_TRUE((*abandoned)->addFrame(flatFrame(16, 16, 9), 10).ok());
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "abandoned.gif"));
}

TEST(GifWriter, ReplacesAFileOnlyWhenFinished) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    auto target = dir / "kept.gif";
    test::writeFile(target, "the user's file");
    {
        auto abandoned = output->createGIF(target, 16, 16);
        ASSERT_TRUE(abandoned.ok());
        ASSERT_TRUE((*abandoned)->addFrame(flatFrame(16, 16, 9), 10).ok());
    }
    EXPECT_EQ(test::readFile(target), "the user's file");
    {
        auto empty = output->createGIF(target, 16, 16);
        ASSERT_TRUE(empty.ok());
        EXPECT_FALSE((*empty)->finish().ok());
    }
    EXPECT_EQ(test::readFile(target), "the user's file");
    {
        // The disk fills up halfway through the GIF.
        FileSizeLimit limit(20000);
        auto gif = output->createGIF(target, 128, 128);
        ASSERT_TRUE(gif.ok());
        bool failed = false;
        for (unsigned i = 0; i < 8 && !failed; ++i) {
            failed = !(*gif)->addFrame(noiseFrame(128, 128, i), 10).ok();
        }
        EXPECT_TRUE(failed || !(*gif)->finish().ok());
    }
    EXPECT_EQ(test::readFile(target), "the user's file");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"kept.gif"});

    // A finished GIF takes the file's place, with the permissions of any new file.
    mode_t savedMask = ::umask(027);
    auto gif = output->createGIF(target, 16, 16);
    ::umask(savedMask);
    ASSERT_TRUE(gif.ok());
    ASSERT_TRUE((*gif)->addFrame(flatFrame(16, 16, 9), 10).ok());
    ASSERT_TRUE((*gif)->finish().ok());
    EXPECT_EQ(test::decodeMedia(target).frames.size(), 1u);
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"kept.gif"});

    // A folder is never replaced by a GIF.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_FALSE(output->createGIF(dir / "folder", 16, 16).ok());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

TEST(GifWriter, RefusesPicturesBeyondSixteenThousandPixelsASideOrSixtyFourMegapixels) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    EXPECT_FALSE(output->createGIF(dir / "wide.gif", 16385, 8).ok());
    EXPECT_FALSE(output->createGIF(dir / "tall.gif", 8, 65535).ok());
    EXPECT_FALSE(output->createGIF(dir / "large.gif", 9000, 8000).ok());
    EXPECT_TRUE(namesIn(dir.path()).empty());
    auto edge = output->createGIF(dir / "edge.gif", 16384, 4);
    ASSERT_TRUE(edge.ok());
    ASSERT_TRUE((*edge)->addFrame(flatFrame(16384, 4, 50), 10).ok());
    EXPECT_TRUE((*edge)->finish().ok());
}

TEST(JpegWriter, AFailedWriteLeavesTheFileThatWasThere) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    auto target = dir / "kept.jpg";
    test::writeFile(target, "the user's file");
    {
        FileSizeLimit limit(8000);
        EXPECT_FALSE(output->writeJPEG(noiseFrame(200, 200, 1), target).ok());
    }
    EXPECT_EQ(test::readFile(target), "the user's file");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"kept.jpg"});
    ASSERT_TRUE(output->writeJPEG(noiseFrame(200, 200, 1), target).ok());
    EXPECT_EQ(test::decodeMedia(target).width, 200);
}

TEST(JpegWriter, WritesTheHighestQualityPicture) {
    test::TempDir dir;
    auto output = imageio::makeImageOutput();
    Image source = screenLikeFrame(120, 80, 2);
    ASSERT_TRUE(output->writeJPEG(source, dir / "still.jpg").ok());
    test::DecodedMovie still = test::decodeMedia(dir / "still.jpg");
    ASSERT_EQ(still.error, "");
    ASSERT_EQ(still.frames.size(), 1u);
    EXPECT_EQ(still.codec, "mjpeg");
    EXPECT_LT(test::meanAbsoluteDifference(still.frames[0].image, source), 2.0);
    EXPECT_FALSE(output->writeJPEG(Image(), dir / "empty.jpg").ok());
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.jpg"));
}

}  // namespace
}  // namespace pindle
