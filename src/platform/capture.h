#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "base/geometry.h"
#include "base/media_time.h"
#include "base/result.h"
#include "base/sample_buffer.h"

// Screen capture: the display list, screen inputs and a capture session whose video data
// output delivers frames of one display's crop rectangle.
//
// Coordinates are global screen coordinates in points: origin at the bottom-left of the
// primary display, y growing upwards. displaysWithPoint() alone takes the display system's
// coordinates: points, origin at the top-left of the primary display, y growing downwards.
namespace pindle {

using DisplayID = uint32_t;

// One display as the window system reports it.
struct Screen {
    DisplayID displayID = 0;          // never 0; 0 names no display
    Rect frame;                       // global coordinates, points
    double backingScaleFactor = 1.0;  // pixels per point
    std::string name;
};

// The capture settings of one display. Setters may be called from any thread while the
// session runs; the session reads them for every frame.
class ScreenInput {
public:
    ScreenInput(DisplayID displayID, bool supportsCursorCapture)
        : displayID_(displayID), supportsCursorCapture_(supportsCursorCapture) {}

    DisplayID displayID() const { return displayID_; }
    bool supportsCursorCapture() const { return supportsCursorCapture_; }

    // Relative to the display's bottom-left corner, in points, y up. Frames are delivered at
    // the rectangle's size in points, rounded.
    void setCropRect(Rect rect);
    Rect cropRect() const;
    // Frames come at most once per this duration.
    void setMinFrameDuration(MediaTime duration);
    MediaTime minFrameDuration() const;
    // Pixels per point of the grabbed picture.
    void setScaleFactor(double factor);
    double scaleFactor() const;
    // Draws the mouse pointer into the frames. Ignored without cursor support.
    void setCapturesCursor(bool captures);
    bool capturesCursor() const;
    // Marks each mouse-button press in the frames for a moment.
    void setCapturesMouseClicks(bool captures);
    bool capturesMouseClicks() const;

private:
    const DisplayID displayID_;
    const bool supportsCursorCapture_;
    mutable std::mutex mutex_;  // guards the settings below
    Rect cropRect_;
    MediaTime minFrameDuration_ = MediaTime::make(1, 60);
    double scaleFactor_ = 1.0;
    bool capturesCursor_ = false;
    bool capturesMouseClicks_ = false;
};

// Receives captured frames: sample buffers holding a PixelBuffer (imageBuffer) and the
// frame's presentation time on the host clock.
class VideoDataOutputDelegate {
public:
    virtual ~VideoDataOutputDelegate() = default;
    virtual void captureOutput(const SampleBufferPtr& sampleBuffer) = 0;
    // The session can deliver no more frames (its display connection was lost, or its
    // input's display is not attached); on the delivery queue. Only a stop and a new start
    // may bring frames again.
    virtual void captureOutputDidFail(const Error&) {}
};

struct CaptureStatistics {
    uint64_t framesDelivered = 0;  // handed to the delegate
    uint64_t framesDropped = 0;    // discarded because the delivery queue was still busy
};

// A capture session with one video data output. The input added last is the one captured.
class CaptureSession {
public:
    virtual ~CaptureSession() = default;

    virtual void addInput(std::shared_ptr<ScreenInput> input) = 0;
    virtual void removeInput(const std::shared_ptr<ScreenInput>& input) = 0;

    // Frames are delivered on queue, one at a time. The delegate is held weakly.
    virtual void setSampleBufferDelegate(std::weak_ptr<VideoDataOutputDelegate> delegate,
                                         dispatch::QueuePtr queue) = 0;
    // true: a frame that is ready while the delivery queue is still busy with the previous
    // one is dropped (and counted). false: the capture waits for the queue.
    virtual void setAlwaysDiscardsLateVideoFrames(bool discards) = 0;
    // Only kPixelFormat420v is offered.
    virtual void setVideoPixelFormat(uint32_t pixelFormat) = 0;

    // Both block until the session runs or has stopped. After stopRunning() returns, no
    // further frame is queued for delivery.
    virtual Status startRunning() = 0;
    virtual void stopRunning() = 0;
    virtual bool isRunning() const = 0;
    // Counts since the session was made.
    virtual CaptureStatistics statistics() const = 0;
};

// The window system's displays and capture sessions.
class ScreenCapturePlatform {
public:
    virtual ~ScreenCapturePlatform() = default;
    // The primary display first; empty when the window system cannot be reached.
    virtual std::vector<Screen> screens() = 0;
    // The displays containing a point given in the display system's coordinates (origin at
    // the top-left of the primary display, y down, points).
    virtual std::vector<DisplayID> displaysWithPoint(Point point) = 0;
    virtual std::unique_ptr<CaptureSession> makeSession() = 0;
    virtual std::shared_ptr<ScreenInput> makeScreenInput(DisplayID displayID) = 0;
};

}  // namespace pindle
