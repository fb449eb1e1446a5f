#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/geometry.h"
#include "base/result.h"
#include "editor/RCExportOptions.h"
#include "library/RCRecording.h"
#include "platform/media.h"
#include "platform/movie_output.h"

namespace pindle {

class RCFileManager;

// A movie to export: pieces of movies laid one after the other on one video track, and
// optionally a range of audio.
struct RCComposition {
    struct Segment {
        media::MoviePtr movie;
        MediaTime start;  // on the source movie's timeline
        MediaTime duration;
        MediaTime at;  // on the composition's timeline
        // Taken from the movie's time-reversed copy (start is then on that copy's timeline,
        // which lasts as long as the movie).
        bool reversed = false;
    };
    std::vector<Segment> video;
    std::optional<media::AudioRange> audio;
    Size naturalSize;  // of the first segment's movie
    float nominalFrameRate = 0;

    MediaTime duration() const;
};

// Turns a recording, with the user's edit settings and the caption and watermark layers,
// into a JPEG still, an MP4 movie or an animated GIF.
//
// Every operation returns at once; the work runs on the high-priority global queue, and
// progress (0 to 1) and the completion reach the caller on the main queue. The completion
// says whether the file was written; on failure no output file is left, and a file that
// was at the output path keeps its content. An output that is the recording's movie (also
// through a link) or a folder is refused. Intermediate movies are temporary files of the
// file manager, deleted when their stage ends (and at quit in any case). Several exports
// may run at once on one generator.
class RCGIFGenerator : public std::enable_shared_from_this<RCGIFGenerator> {
public:
    using Path = std::filesystem::path;
    using Progress = std::function<void(float)>;
    using Completion = std::function<void(Status)>;

    static std::shared_ptr<RCGIFGenerator> initWithRecording(RCRecordingPtr recording);
    // With the file manager that names the intermediate files (tests pass their own).
    RCGIFGenerator(RCRecordingPtr recording, RCFileManager& files);

    const RCRecordingPtr& recording() const { return recording_; }

    // The frame shown at time, or the crop of it, fitted inside size (never enlarged), as a
    // JPEG.
    void makeJPEG(const Path& output, MediaTime time, Size size, Completion completion,
                  std::optional<CropRect> crop = std::nullopt);
    // The edited clip as an MP4, played at the "speed" option (without sound unless 1).
    void makeVideo(const Path& output, RCExportOptions options, Progress progress,
                   Completion completion);
    // The edited clip as an animated GIF, made from an intermediate movie of exactly what
    // the GIF shows. Progress: the movie stage reports 0 to 0.5, the GIF stage 0.5 to 1.
    void makeGIF(const Path& output, RCExportOptions options, Progress progress,
                 Completion completion);
    // The composition as an MP4 with the caption and watermark layers drawn over it. Without
    // anything to draw its frames are copied unchanged where the source allows it.
    void exportVideoComposition(std::shared_ptr<const RCComposition> composition,
                                RCExportOptions options, const Path& output, Progress progress,
                                Completion completion);
    // The movie sampled at the "fps" option (else its own rate), at most 30 per second,
    // into a GIF of the movie's size (or of the "crop" option's), or scaled to the "width"
    // and "height" options when both are given. The caption and watermark layers are drawn over
    // each GIF frame at its time on the movie's timeline.
    void convertVideo(const Path& movie, const Path& gif, RCExportOptions options,
                      Progress progress, Completion completion);

    // The same operations run on the calling thread; progress is called on that thread.
    Status makeJPEGNow(const Path& output, MediaTime time, Size size,
                       std::optional<CropRect> crop = std::nullopt);
    Status makeVideoNow(const Path& output, const RCExportOptions& options,
                        const Progress& progress, media::EncodingQuality quality);
    Status makeGIFNow(const Path& output, const RCExportOptions& options, const Progress& progress);
    Status exportVideoCompositionNow(const RCComposition& composition,
                                     const RCExportOptions& options, const Path& output,
                                     const Progress& progress, media::EncodingQuality quality);
    Status convertVideoNow(const Path& movie, const Path& gif, const RCExportOptions& options,
                           const Progress& progress);

    // Whether the layers leave the picture untouched, so the composed movie may be copied
    // rather than drawn into (the pass-through preset).
    static bool isPassthrough(const RCExportOptions& options);

private:
    // makeVideoNow for a speed other than 1: the clip at its recorded speed, then retimed.
    Status makeVideoAtSpeedNow(const Path& output, const RCExportOptions& options,
                               const Progress& progress, media::EncodingQuality quality);
    void runInBackground(std::function<Status(const Progress&)> work, Progress progress,
                         Completion completion);

    RCRecordingPtr recording_;
    RCFileManager& files_;
};

// The drawing step of an export: draws the caption and watermark layers over one frame of
// the composed movie at time on the output's timeline. The watermark is drawn above the
// captions.
void drawExportLayers(Image& frame, MediaTime time, const RCExportOptions& options);

}  // namespace pindle
