#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "base/dispatch.h"
#include "library/RCRecording.h"

namespace pindle {

class RCFileManager;

// How large the GIF of a recording's current edit will be: a quick arithmetic figure, and
// an exact one found by making the GIF into a temporary file.
//
// Exact estimates run one at a time on the queue "RCGIFFileSizeEstimator.queue". A request
// made before an earlier one has started supersedes it: the earlier one ends without a
// call back. Each job waits for the one before it to finish, but no longer than the wait
// limit from the moment it starts waiting.
class RCGIFFileSizeEstimator {
public:
    using Completion = std::function<void(int64_t bytes)>;

    static RCGIFFileSizeEstimator& defaultInstance();
    // queue: where the jobs run; null makes the serial queue "RCGIFFileSizeEstimator.queue".
    explicit RCGIFFileSizeEstimator(RCFileManager& files, dispatch::QueuePtr queue = nullptr,
                                    std::chrono::milliseconds waitLimit = std::chrono::seconds(15));

    // One byte per pixel per frame: width x height x frames per second x seconds of the
    // edited clip, in single precision, truncated.
    static uint64_t quickEstimateFileSize(const RCRecording& recording);

    // Makes the GIF and calls completion with its size in bytes (0 when it could not be made
    // or read) on a user-initiated global queue. A superseded request never calls back.
    void estimateFileSize(RCRecordingPtr recording, Completion completion);

    // True from a request until the newest job that ran has called back.
    bool isCalculating() const { return isCalculating_.load(); }

private:
    RCFileManager& files_;
    const std::chrono::milliseconds waitLimit_;
    std::atomic<bool> isCalculating_{false};
    std::mutex mutex_;  // guards mostRecentJobID_
    std::optional<std::string> mostRecentJobID_;
    dispatch::QueuePtr serialQueue_;
    // One unit: held by a job from its start until its result is delivered. Shared with the
    // jobs, which may outlive a test's estimator.
    std::shared_ptr<dispatch::Semaphore> serialQueueSemaphore_;
};

}  // namespace pindle
