#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/geometry.h"
#include "base/image.h"
#include "base/media_time.h"
#include "base/result.h"
#include "library/RCEditParameters.h"
#include "platform/media.h"

namespace pindle {

class KeyedArchiver;
class KeyedUnarchiver;

// One capture in the library: its movie file, the facts of the movie's video, a thumbnail,
// the user's edit parameters and the values an export with those parameters would have.
//
// Threads: the capture engine fills a recording (setupWithURL) on its writer's completion
// thread while the main thread reads it. Every field is read and written whole under the
// recording's lock, so a reader never sees half of a size or a media time; accessors return
// copies. The edit parameters record itself belongs to the main thread (see
// RCEditParameters); the recording only swaps the whole record.
class RCRecording {
public:
    using Path = std::filesystem::path;

    // Upper bound of the thumbnail once the recording is set up.
    static constexpr Size kThumbnailSize{250, 250};

    // Empty and not ready: a placeholder until setupWithURL runs.
    RCRecording();
    RCRecording(const RCRecording&) = delete;
    RCRecording& operator=(const RCRecording&) = delete;

    // A recording set up from the movie at url.
    static std::shared_ptr<RCRecording> recordingWithURL(const Path& url);

    // Opens the movie, reads its facts from the headers, starts the trim range as the whole
    // movie with default edit parameters, and makes the recording ready. A missing or
    // unreadable movie gives a ready recording with zero facts (and a log line); so does a
    // path that is no regular file, which is never opened.
    void setupWithURL(const Path& url);

    // Ok when url names a regular file (through links) or nothing (the opener then reports
    // it missing). Anything else is not opened as a movie: a FIFO would block the reader, a
    // device could be read without end.
    static Status checkMovieFile(const Path& url);

    bool isReady() const;
    bool isClip() const;
    void setIsClip(bool value);
    // Nominal frame rate of the movie's (last) video track.
    float FPS() const;
    // Null until set up.
    std::shared_ptr<RCEditParameters> editParameters() const;
    void setEditParameters(std::shared_ptr<RCEditParameters> value);
    // Per-process identifier: new for every object, also for every one read from the store.
    std::string guid() const;
    // Empty until set up.
    Path url() const;
    // The opened movie; null until set up, or when it could not be opened.
    media::MoviePtr asset() const;
    uint64_t frameCount() const;
    Size dimensions() const;
    Size thumbnailSize() const;
    MediaTime duration() const;
    bool hasVideoTrack() const;
    bool hasAudio() const;

    // The first frame fitted into thumbnailSize(), made on the first call that finds none
    // and then kept. Null while not ready and when the frame cannot be decoded (each call
    // then tries again).
    ImagePtr thumbnail();
    void generateThumbnail();

    // Edited values, computed on every call from the facts and the edit parameters.
    MediaTime editedStartTime() const;
    MediaTime editedEndTime() const;
    // End minus start; doubled for ping-pong.
    MediaTime editedDuration() const;
    // The edit's crop fitted to the movie: none when there is no crop, when nothing of it
    // lies on the picture or when it keeps the whole picture.
    std::optional<CropRect> editedCrop() const;
    // The size of the picture the export keeps: the crop's, else the movie's.
    Size croppedDimensions() const;
    // 640, 480 or 320 by resize code; the cropped width for any other code.
    float editedWidth() const;
    // Keeps the cropped picture's aspect ratio; 0 when it has no width (no video track).
    float editedHeight() const;
    Size editedDimensions() const;
    // 23, 10 or 60 by frame-rate code; 15 for any other code.
    float editedFPS() const;
    // Whole frames of editedDuration at editedFPS; 0 for an empty or reversed range.
    uint64_t editedFrameCount() const;
    // How long the exported clip plays: editedDuration divided by the playback speed.
    MediaTime playbackDuration() const;
    // Whole frames of playbackDuration at editedFPS: the exported GIF's frames.
    uint64_t playbackFrameCount() const;

    const char* className() const { return "RCRecording"; }
    // Only the movie's address and the edit parameters are stored.
    void encodeWithCoder(KeyedArchiver& coder) const;
    // A recording set up afresh from the stored movie, with the stored edit parameters.
    // Null for a placeholder stored before its movie was written (no "url").
    static std::shared_ptr<RCRecording> initWithCoder(KeyedUnarchiver& coder);

    // initWithCoder in two steps, so that a loader can open many movies at once: what the
    // record stores (nothing for a placeholder), then the recording made from it.
    struct StoredFields {
        Path url;
        std::shared_ptr<RCEditParameters> editParameters;  // null when not stored
    };
    static std::optional<StoredFields> decodeStoredFields(KeyedUnarchiver& coder);
    static std::shared_ptr<RCRecording> recordingWithStoredFields(const StoredFields& fields);

private:
    mutable std::mutex mutex_;  // guards every field below
    bool isReady_ = false;
    bool isClip_ = false;
    float fps_ = 0;
    std::shared_ptr<RCEditParameters> editParameters_;
    std::string guid_;
    Path url_;
    media::MoviePtr asset_;
    uint64_t frameCount_ = 0;
    ImagePtr thumbnail_;
    Size dimensions_;
    Size thumbnailSize_;
    MediaTime duration_;
    bool hasVideo_ = false;
    bool hasAudio_ = false;
};

using RCRecordingPtr = std::shared_ptr<RCRecording>;

}  // namespace pindle
