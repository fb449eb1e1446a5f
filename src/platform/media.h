#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/crop_rect.h"
#include "base/geometry.h"
#include "base/image.h"
#include "base/media_time.h"
#include "base/result.h"

// Movie files: their facts, read from the headers, and their video frames, decoded on demand.
//
// A Movie is immutable once opened and may be shared between threads. Reading frames goes
// through a FrameReader, which owns its own decoder and belongs to one thread at a time, so
// several threads may read one movie at once.
namespace pindle::media {

// What the headers of a movie say. No frame is decoded to learn it.
struct MovieInfo {
    int videoTrackCount = 0;
    int audioTrackCount = 0;
    // Pixel size of the last video track; zero without video.
    Size naturalSize;
    // Duration of the first video track; MediaTime{} (value 0, timescale 0, no flags)
    // without video.
    MediaTime duration;
    // Frames per second the last video track declares; 0 without video or when unknown.
    float nominalFrameRate = 0;
    // Frames of the first video track when the container counts them.
    std::optional<int64_t> frameCount;

    bool hasVideo() const { return videoTrackCount > 0; }
    bool hasAudio() const { return audioTrackCount > 0; }
};

// One decoded video frame.
struct Frame {
    ImagePtr image;
    // Presentation time on the movie's timeline (the first frame is normally at zero).
    MediaTime presentationTime;
    // How long the frame is shown; invalid when the container does not say.
    MediaTime duration;
};

struct FrameReaderOptions {
    // Frames are delivered from the last frame presented at or before start (so that a
    // start between two frames yields the frame on screen at that moment) ...
    MediaTime start = MediaTime::zero();
    // ... up to, not including, end. Invalid: to the end of the movie.
    MediaTime end = MediaTime::invalid();
    // Output pixel size; 0 × 0 keeps the movie's size. With fitInside, the frame is scaled
    // to fit inside the size keeping its aspect ratio and never scaled up (an image
    // generator's "maximum size"); otherwise it is stretched to exactly that size.
    int width = 0;
    int height = 0;
    bool fitInside = false;
    // The part of each decoded picture that is kept, taken before any scaling (the size
    // above then applies to it). It must lie inside the picture, else reading fails.
    std::optional<CropRect> crop;
    // With a rate, only the frames on screen at start + k / sampleRate (k = 0, 1, ...) are
    // needed: others may be left out, and are not even decoded when every frame is a key
    // frame (as in recordings), which makes reading at a lower rate much cheaper.
    float sampleRate = 0;
};

// Decodes the frames of the first video track in presentation order.
class FrameReader {
public:
    virtual ~FrameReader() = default;
    // The next frame; std::nullopt after the last one of the range; an Error when decoding
    // failed (the reader is then finished).
    virtual Result<std::optional<Frame>> nextFrame() = 0;
};

// Random access to the frames of a movie by number, for a player that shows them in either
// direction and jumps to any one of them. Made fast for asking in order, forward or
// backward, and for jumps in movies whose frames are all key frames. Belongs to one thread
// at a time.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The presentation times of every frame of the first video track, in presentation order:
    // frame n is on screen from times[n] until times[n + 1].
    virtual const std::vector<MediaTime>& frameTimes() const = 0;
    // Frame n, scaled to fit inside maximumSize keeping its aspect ratio and never enlarged
    // (0 × 0: natural size).
    virtual Result<Frame> frame(size_t index, Size maximumSize) = 0;
};

class Movie {
public:
    virtual ~Movie() = default;

    virtual const std::filesystem::path& path() const = 0;
    virtual const MovieInfo& info() const = 0;

    virtual Result<std::unique_ptr<FrameReader>> makeFrameReader(
        const FrameReaderOptions& options) const = 0;

    // The presentation times of every frame of the first video track, in order. Reads the
    // container's packets only; nothing is decoded.
    virtual Result<std::vector<MediaTime>> presentationTimes() const = 0;

    // Frames by number; the movie must outlive the source. This default opens a frame
    // reader at the frame asked for unless the one open is already there; backends offer
    // faster ones.
    virtual Result<std::unique_ptr<FrameSource>> makeFrameSource() const;

    // The frame presented at time (the last one starting at or before it; the first frame
    // for times before it), scaled to fit inside maximumSize keeping its aspect ratio and
    // never enlarged (0 × 0: natural size); with a crop, only that part of the frame.
    Result<Image> copyImageAtTime(MediaTime time, Size maximumSize,
                                  std::optional<CropRect> crop = std::nullopt) const;
};

using MoviePtr = std::shared_ptr<const Movie>;

// Opens a movie file and reads its headers. Fails for a missing or unreadable file; a file
// without video opens, with info().hasVideo() false.
using MovieOpener = std::function<Result<MoviePtr>(const std::filesystem::path&)>;

// Installs the implementation (the composition root and backend tests do this once, before
// any movie is opened). Without one, every open fails with "no movie reader installed".
void setMovieOpener(MovieOpener opener);
// Whether one is installed: without one no file can be told to be no movie.
bool hasMovieOpener();
Result<MoviePtr> openMovie(const std::filesystem::path& file);

// The largest size with the aspect ratio of size that fits inside bound, never larger than
// size itself; sides are rounded to whole pixels and kept at least 1. Zero sides of bound
// mean no bound.
Size fitInside(Size size, Size bound);

}  // namespace pindle::media
