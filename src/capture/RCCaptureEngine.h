#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/dispatch.h"
#include "base/geometry.h"
#include "base/media_time.h"
#include "base/result.h"
#include "base/sample_buffer.h"
#include "capture/RCCircularBuffer.h"
#include "capture/RCH264Encoder.h"
#include "platform/capture.h"
#include "platform/compression.h"
#include "platform/movie_writer.h"

namespace pindle {

class RCCaptureEngine;
class RCDataStore;
class RCFileManager;

// What the owner of an engine (the capture window) hears from it. Every call comes on the
// main queue with the engine as argument; each has an empty default, so a delegate
// implements only what it needs. The engine holds its delegate weakly.
//
// Order on a stop that had frames: captureEngineDidStopCapturing, then
// captureEngineDidOutputCapture (or captureEngineDidFailToOutputCapture) for the stop's
// movie. A stop without frames gives captureEngineDidStopCapturing, then
// captureEngineDidFailToOutputCapture: nothing was recorded.
class RCCaptureEngineDelegate {
public:
    virtual ~RCCaptureEngineDelegate() = default;
    // The capture session runs; frames are being buffered.
    virtual void captureEngineDidStartCapturing(RCCaptureEngine&) {}
    // The session could not start (the X server went away, say). Nothing is captured.
    virtual void captureEngineDidFailToStartCapturing(RCCaptureEngine&, const Error&) {}
    // Frames could not be captured or encoded (the display connection was lost, the encoder
    // failed): the capture ends on its own. A stop follows, as after stopCapturing, and
    // writes what was buffered until then.
    virtual void captureEngineDidFailWhileCapturing(RCCaptureEngine&, const Error&) {}
    // A stop has finished: the session is stopped and the stop's movie job, if any, queued.
    virtual void captureEngineDidStopCapturing(RCCaptureEngine&) {}
    // A movie was written and its recording set up and updated in the data store (after a
    // stop and after each capture-last request).
    virtual void captureEngineDidOutputCapture(RCCaptureEngine&) {}
    // A movie could not be written: its placeholder recording has been removed from the data
    // store again and the partial file deleted; error says why (the log says it too).
    virtual void captureEngineDidFailToOutputCapture(RCCaptureEngine&, const Error&) {}
};

// The options of a start; a missing value leaves the screen input's current setting.
struct RCCaptureOptions {
    std::optional<bool> captureCursor;       // draw the mouse pointer into the frames
    std::optional<bool> captureMouseClicks;  // mark mouse clicks in the frames
};

// What the engine works with. Null or empty members take the process's shared instances
// (data store, file manager) or the defaults named.
struct RCCaptureEngineEnvironment {
    std::shared_ptr<ScreenCapturePlatform> screenCapture;  // required
    CompressionSessionFactory compressionSessionFactory;   // required
    MovieWriterFactory movieWriterFactory;                 // required
    RCDataStore* dataStore = nullptr;
    RCFileManager* fileManager = nullptr;
    // The settings' audio source; "None" when empty.
    std::function<std::string()> audioSource;
};

// Turns the live picture of one display into a rolling store of H.264 key frames (the
// newest 1800, 30 s at 60 frames per second) and writes that store, its newest 30 s at
// most, into a movie file that becomes a new recording in the data store.
//
// Threads and queues:
// - main: start, stop, capture-last requests, every delegate call;
// - "screenCaptureOutputQueue": frame delivery and submission to the encoder; frames that
//   arrive while it is busy are dropped by the capture session;
// - the encoder's thread: encoded frames, handed on to the buffer queue;
// - "screenCaptureBufferQueue": every write into the frame ring, and every read-out of it,
//   so a movie job never reads a ring while a frame is written into it;
// - the global high-priority queue: session start and stop, each movie job (several may run
//   at once); the writer's completion thread sets the recording up.
//
// Made with create() (the engine hands weak references to itself to the session and the
// encoder); movie jobs keep the engine alive until they end.
class RCCaptureEngine : public VideoDataOutputDelegate,
                        public RCH264EncoderDelegate,
                        public std::enable_shared_from_this<RCCaptureEngine> {
public:
    using Ring = RCCircularBuffer<const SampleBuffer>;

    static constexpr int64_t kBufferCapacity = 1800;
    static constexpr int64_t kBufferCapacityWithAudio = 4612;
    static constexpr MediaTime kMinFrameDuration = MediaTime::make(1, 60);
    static constexpr MediaTime kMaxMovieDuration = MediaTime::make(30'000'000'000, 1'000'000'000);

    // init: the session with its video data output, one screen input per display, the
    // queues, and an empty ring of 1800 frames.
    static std::shared_ptr<RCCaptureEngine> create(RCCaptureEngineEnvironment environment);
    ~RCCaptureEngine() override;
    RCCaptureEngine(const RCCaptureEngine&) = delete;
    RCCaptureEngine& operator=(const RCCaptureEngine&) = delete;

    void setDelegate(std::weak_ptr<RCCaptureEngineDelegate> delegate);
    std::weak_ptr<RCCaptureEngineDelegate> delegate() const;

    // Starts capturing frame (global screen coordinates, points) from the display under its
    // centre, or, when the centre lies on no display, the display holding most of it.
    // Returns at once; the delegate hears captureEngineDidStartCapturing when the session
    // runs. An error, and nothing started, when the region touches no display, is smaller
    // than 2 x 2 points on its display, cannot be encoded at its size (the encoder refuses
    // it), or a capture is already under way.
    Status startCapturingFrame(const Rect& frame, const RCCaptureOptions& options);
    // Returns at once; the delegate hears captureEngineDidStopCapturing when done, then of
    // the stop's movie. A capture already stopping (or stopped) ignores it.
    void stopCapturing();
    // Writes the ring's newest 30 s (the frames less than 30 s older than its newest video
    // frame, from the first key frame among them) to a new recording. reset
    // replaces the ring once the movie is written (a stop does this). completion, when
    // given, runs on the movie job's thread once the recording is set up, or at once when
    // the ring is empty.
    void outputCaptureResetBuffer(bool reset, std::function<void()> completion);

    // true while a movie job is under way.
    bool isProcessing() const { return inProcessingCount_.load() != 0; }
    uint64_t inProcessingCount() const { return inProcessingCount_.load(); }
    bool isCapturing() const { return isCapturing_.load(); }
    bool captureAudioEnabled() const { return captureAudioEnabled_.load(); }

    // A new empty ring: 4612 frames with audio, 1800 without.
    void resetCircularBuffer();
    void enableAudioCapture(bool enabled);
    void setupScreenCaptureInputs();
    // Audio capture is not offered on this platform: no input is made (see the .cpp).
    void setupAudioCaptureInputs(const std::string& source);
    std::shared_ptr<ScreenInput> getScreenCaptureInputForScreen(const Screen& screen);
    // Queues one encoded sample for the ring, on the buffer queue.
    void appendToBuffer(SampleBufferPtr sampleBuffer);

    // The session's delivery of one captured frame, on "screenCaptureOutputQueue".
    void captureOutput(const SampleBufferPtr& sampleBuffer) override;
    // The session can capture no more: the capture ends.
    void captureOutputDidFail(const Error& error) override;
    // The encoder's delivery of one encoded frame, on the encoder's thread.
    void encoder(RCH264Encoder& encoder, const SampleBufferPtr& sampleBuffer) override;
    // A frame the current capture's encoder could not encode ends the capture.
    void encoderDidFail(RCH264Encoder& encoder, const Error& error) override;

    std::shared_ptr<Ring> circularBuffer() const;
    // Frames in the current ring, read on the buffer queue.
    int64_t bufferedFrameCount() const;
    FormatDescriptionPtr videoFormatDescription() const;
    std::shared_ptr<ScreenInput> activeInput() const;
    std::shared_ptr<RCH264Encoder> encoder() const;
    // Frames the session delivered and dropped since the engine was made.
    CaptureStatistics statistics() const;

private:
    explicit RCCaptureEngine(RCCaptureEngineEnvironment environment);
    void init();

    RCDataStore& dataStore() const;
    RCFileManager& fileManager() const;
    void outputRing(std::shared_ptr<Ring> ring, bool reset, std::function<void()> completion);
    void writeMovie(std::shared_ptr<Ring> ring, bool reset, std::function<void()> completion);
    void finishMovie(const std::shared_ptr<class RCRecording>& recording,
                     const std::shared_ptr<MovieWriter>& writer, std::shared_ptr<Ring> ring,
                     bool reset, const std::function<void()>& completion);
    void tellDelegate(std::function<void(RCCaptureEngineDelegate&, RCCaptureEngine&)> call);
    // Ends the running capture after a failure: the delegate hears why, then of the stop.
    void endCaptureAfterFailure(const Error& error);
    // The stop itself, once per capture (stopRequested_ guards it).
    void stopSession();

    const RCCaptureEngineEnvironment environment_;

    std::atomic<bool> isCapturing_{false};
    std::atomic<bool> captureAudioEnabled_{false};
    std::atomic<uint64_t> inProcessingCount_{0};
    // Between a start and the end of its stop; a second start is refused meanwhile.
    std::atomic<bool> sessionInUse_{false};
    // From a capture's stop (asked for or on a failure) to the next start: one stop each.
    std::atomic<bool> stopRequested_{false};

    std::unique_ptr<CaptureSession> screenCaptureSession_;
    dispatch::QueuePtr outputQueue_;  // "screenCaptureOutputQueue"
    dispatch::QueuePtr bufferQueue_;  // "screenCaptureBufferQueue"

    mutable std::mutex mutex_;  // guards the fields below
    std::weak_ptr<RCCaptureEngineDelegate> delegate_;
    std::map<DisplayID, std::shared_ptr<ScreenInput>> screenCaptureInputs_;
    std::shared_ptr<ScreenInput> activeInput_;
    // Replaced by a reset, never emptied; its contents are touched on bufferQueue_ only.
    std::shared_ptr<Ring> circularBuffer_;
    std::shared_ptr<RCH264Encoder> encoder_;
    FormatDescriptionPtr videoFormatDescription_;
};

}  // namespace pindle
