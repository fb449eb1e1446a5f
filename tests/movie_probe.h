#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pindle::test {

// What a test needs to know of a movie file, read with libavformat and libavcodec.
struct MovieProbe {
    bool opened = false;
    int videoStreams = 0;
    int otherStreams = 0;
    std::string codec;
    int width = 0;
    int height = 0;
    std::vector<double> ptsSeconds;  // of every packet, in file order
    std::vector<bool> keyFrames;     // every packet's key-frame flag
    std::vector<bool> idrFrames;     // whether the packet holds an IDR slice
    int decodedFrames = 0;           // frames the H.264 decoder gave back
    double durationSeconds = 0;
};

MovieProbe probeMovie(const std::filesystem::path& file);

}  // namespace pindle::test
