#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/image.h"

namespace pindle::test {

// A file's video frames as a viewer sees them, decoded with FFmpeg independently of the
// program's own reading code.
struct DecodedFrame {
    Image image;  // RGBA
    double seconds = 0;
    double durationSeconds = 0;
};

struct DecodedMovie {
    std::string error;  // empty when the file was read
    int width = 0;
    int height = 0;
    std::string codec;
    bool hasAudio = false;
    // Whether the video's packets come out of presentation order (B-frames).
    bool reordered = false;
    // The file's length as players show it (its longest track).
    double durationSeconds = 0;
    std::vector<DecodedFrame> frames;
};

// Decodes every frame (at most maxFrames) at its own size.
DecodedMovie decodeMedia(const std::filesystem::path& file, size_t maxFrames = 100000);

// Mean absolute difference per channel (0..255) of two images of one size, over R, G, B.
double meanAbsoluteDifference(const Image& a, const Image& b);

// A synthetic test movie made with the ffmpeg command: testsrc2 pattern, H.264 in MP4 with
// a key frame every keyFrameInterval frames (all key frames by default), optionally with a
// sine tone. Returns false when ffmpeg failed.
bool makeTestMovie(const std::filesystem::path& file, int width, int height, int fps,
                   double seconds, bool withAudio = false, int keyFrameInterval = 1);

}  // namespace pindle::test
