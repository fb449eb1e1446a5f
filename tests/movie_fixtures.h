#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace pindle::test {

struct MovieSpec {
    int width = 320;
    int height = 240;
    int fps = 30;
    double seconds = 1.0;
    bool audio = false;
    bool video = true;
    int keyInterval = 1;  // frames from one key frame to the next
    // The picture: an ffmpeg lavfi source, given its size and rate here ("color=c=0x204060"
    // for one colour).
    std::string source = "testsrc2";
};

// Writes an MP4 like the capture engine's: H.264, every frame a key frame unless told
// otherwise, frames that differ (a moving test pattern) unless another source is given. Uses the
// ffmpeg tool. Returns whether it succeeded.
inline bool makeTestMovie(const std::filesystem::path& file, const MovieSpec& spec = {}) {
    std::string command = "ffmpeg -nostdin -loglevel error -y";
    if (spec.video) {
        const char* separator = spec.source.find('=') == std::string::npos ? "=" : ":";
        command += " -f lavfi -i " + spec.source + separator +
                   "size=" + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                   ":rate=" + std::to_string(spec.fps);
    }
    if (spec.audio) {
        command += " -f lavfi -i sine=frequency=440:sample_rate=44100";
    }
    command += " -t " + std::to_string(spec.seconds);
    if (spec.video) {
        command +=
            " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -video_track_timescale 600 -g " +
            std::to_string(spec.keyInterval);
    }
    if (spec.audio) {
        command += " -c:a aac";
    }
    command += " '" + file.string() + "'";
    return std::system(command.c_str()) == 0;
}

}  // namespace pindle::test
