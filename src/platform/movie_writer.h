#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/media_time.h"
#include "base/result.h"
#include "base/sample_buffer.h"

// Writes sample buffers into a movie file.
//
// A writer is used from one thread at a time, in this order: addInput() for each track,
// startWriting(), startSessionAtSourceTime(), appends, finishWriting(). Times in the file
// are counted from the session's source time.
namespace pindle {

enum class MovieFileType { MPEG4 };

// Encoder settings of an audio track; without them samples are stored as they come.
struct AudioOutputSettings {
    uint32_t formatID = kAudioFormatAAC;
    double sampleRate = 44100.0;
    int channelCount = 2;
    int64_t bitRate = 128000;
};

class MovieWriterInput {
public:
    virtual ~MovieWriterInput() = default;
    // false when the sample was not written (see the writer's status and error).
    virtual bool appendSampleBuffer(const SampleBufferPtr& sample) = 0;
    // false while the input cannot take a sample now; always false once the writer failed.
    virtual bool isReadyForMoreMediaData() const = 0;
    virtual void setExpectsMediaDataInRealTime(bool realTime) = 0;
};

class MovieWriter {
public:
    enum class Status { Unknown = 0, Writing = 1, Completed = 2, Failed = 3, Cancelled = 4 };

    virtual ~MovieWriter() = default;

    // A track of mediaType (kMediaTypeVideo, kMediaTypeAudio). Without output settings the
    // samples are stored unchanged (their format from sourceFormatHint or the first
    // sample). An error when the writer cannot store such a track.
    virtual Result<std::shared_ptr<MovieWriterInput>> addInput(
        uint32_t mediaType, std::optional<AudioOutputSettings> outputSettings,
        FormatDescriptionPtr sourceFormatHint) = 0;
    virtual bool startWriting() = 0;
    virtual void startSessionAtSourceTime(MediaTime startTime) = 0;
    // Writes what is left and closes the file; completion runs once, on a thread of the
    // writer's own, when the file is complete or the writer has failed.
    virtual void finishWriting(std::function<void()> completion) = 0;

    virtual Status status() const = 0;
    // Why the writer failed; empty otherwise.
    virtual std::string errorDescription() const = 0;
    virtual const std::filesystem::path& outputURL() const = 0;
};

using MovieWriterFactory = std::function<std::shared_ptr<MovieWriter>(
    const std::filesystem::path& url, MovieFileType fileType)>;

}  // namespace pindle
