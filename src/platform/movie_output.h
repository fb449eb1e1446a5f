#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/image.h"
#include "base/media_time.h"
#include "base/result.h"

// Writing MPEG-4 movies with H.264 video: frame by frame from pictures, or by copying
// ranges of an existing movie's encoded frames unchanged.
namespace pindle::media {

enum class EncodingQuality {
    // For files the user keeps: 4:2:0 colour, visually lossless, key frames now and then.
    Delivery,
    // For movies that are read again by the program (a later export stage): 4:4:4 colour,
    // near-lossless, every frame a key frame so that any range can be copied or read
    // backwards cheaply.
    Intermediate,
};

// A range of a movie's first audio track, copied unchanged to the start of the output.
struct AudioRange {
    std::filesystem::path source;
    MediaTime start = MediaTime::zero();
    MediaTime duration = MediaTime::invalid();  // invalid: to the end
};

struct MovieWriterSettings {
    int width = 0;
    int height = 0;
    EncodingQuality quality = EncodingQuality::Delivery;
    // Frames per second the file declares; 0 derives it from the frame times.
    float nominalFrameRate = 0;
    std::optional<AudioRange> audio;
};

// One movie being written. Frames must come in increasing presentation order.
class MovieWriter {
public:
    virtual ~MovieWriter() = default;
    // Encodes image (scaled to the writer's size when it differs) shown from time on.
    virtual Status appendFrame(const Image& image, MediaTime presentationTime) = 0;
    // Writes the rest of the file. The last frame lasts until endTime (invalid: as long as
    // the frame before it). A movie without frames is an error and leaves no file; so does
    // a writer destroyed without finish(). The movie is written beside its path and takes
    // the place of a file there only once finished.
    virtual Status finish(MediaTime endTime) = 0;
};

// A piece of a movie's video copied into another movie: the frames shown during
// [start, start + duration) of the source (invalid duration: to the end of its video),
// placed at `at` on the output's timeline. The first frame is the one on screen at start,
// shown from `at`; the last lasts until the end of the piece.
//
// A reversed piece is taken from the source's time-reversed video instead: its frames in
// reverse order, each at the time of the frame at the same place counted from the start
// (the first shows the source's last frame at the source's first frame time, and each
// lasts as long as the source frame whose time it took; the last lasts until the end of
// the source's video).
struct SegmentCopy {
    MediaTime start = MediaTime::zero();
    MediaTime duration = MediaTime::invalid();
    MediaTime at = MediaTime::zero();
    bool reversed = false;
};

class MovieOutput {
public:
    virtual ~MovieOutput() = default;

    virtual Result<std::unique_ptr<MovieWriter>> makeWriter(
        const std::filesystem::path& file, const MovieWriterSettings& settings) = 0;

    // Copies the encoded frames of the segments of source's first video track (and, with
    // withAudio, the first segment's range of its first audio track) into file without
    // decoding them, replacing file only once complete. Fails, leaving no file, when a
    // segment does not start on a key frame's picture or a reversed segment shows a frame
    // that is not a key frame, since such a copy would show wrong pictures; callers then
    // re-encode. Audio cannot go with a reversed first segment.
    virtual Status copySegments(const std::filesystem::path& source,
                                const std::vector<SegmentCopy>& segments, bool withAudio,
                                const std::filesystem::path& file) = 0;

    // The same frames at the same times as copySegments gives, decoded and encoded again
    // at settings' size and quality (with settings' audio), each picture scaled once. The
    // segments must meet the same conditions as for copying, else this fails the same way.
    // progress (may be empty) hears the share of the output's time encoded so far, 0 to 1.
    virtual Status encodeSegments(const std::filesystem::path& source,
                                  const std::vector<SegmentCopy>& segments,
                                  const MovieWriterSettings& settings,
                                  const std::filesystem::path& file,
                                  const std::function<void(float)>& progress) = 0;
};

// The process's implementation, installed by the composition root (and backend tests).
// Without one, movieOutput() returns null.
void setMovieOutput(std::shared_ptr<MovieOutput> output);
std::shared_ptr<MovieOutput> movieOutput();

}  // namespace pindle::media
