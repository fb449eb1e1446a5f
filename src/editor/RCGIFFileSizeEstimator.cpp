#include "editor/RCGIFFileSizeEstimator.h"

#include <cmath>
#include <filesystem>

#include "editor/RCGIFGenerator.h"
#include "editor/RCRecordingLayers.h"
#include "library/RCFileManager.h"
#include "library/RCUtilities.h"

namespace pindle {

RCGIFFileSizeEstimator& RCGIFFileSizeEstimator::defaultInstance() {
    static RCGIFFileSizeEstimator* instance =
        new RCGIFFileSizeEstimator(RCFileManager::getCurrentInstance());
    return *instance;
}

RCGIFFileSizeEstimator::RCGIFFileSizeEstimator(RCFileManager& files, dispatch::QueuePtr queue,
                                               std::chrono::milliseconds waitLimit)
    : files_(files),
      waitLimit_(waitLimit),
      serialQueue_(queue ? std::move(queue)
                         : dispatch::makeSerialQueue("RCGIFFileSizeEstimator.queue")),
      serialQueueSemaphore_(std::make_shared<dispatch::Semaphore>(1)) {}

uint64_t RCGIFFileSizeEstimator::quickEstimateFileSize(const RCRecording& recording) {
    float perSecond = recording.editedWidth() * recording.editedHeight() * recording.editedFPS();
    float bytes = perSecond * float(recording.playbackDuration().seconds());
    if (!(bytes > 0)) {
        return 0;
    }
    return uint64_t(bytes);
}

void RCGIFFileSizeEstimator::estimateFileSize(RCRecordingPtr recording, Completion completion) {
    isCalculating_ = true;
    std::string jobID = RCUtilities::makeGUID();
    // Built here, on the caller's thread, where the user's settings may be read.
    RCExportOptions layers;
    addExportLayers(layers, *recording);
    {
        std::lock_guard lock(mutex_);
        mostRecentJobID_ = jobID;
    }
    auto semaphore = serialQueueSemaphore_;
    serialQueue_->async([this, semaphore, jobID, recording, completion, layers] {
        bool holdsUnit = semaphore->waitFor(waitLimit_);
        {
            std::lock_guard lock(mutex_);
            if (mostRecentJobID_ != jobID) {
                // Superseded: give the unit back so that the newer job is not held up.
                if (holdsUnit) {
                    semaphore->signal();
                }
                return;
            }
        }
        std::filesystem::path gif = files_.makeTempFileWithExtension("gif");
        auto generator = std::make_shared<RCGIFGenerator>(recording, files_);
        RCExportOptions options = layers;
        options.width = std::trunc(recording->editedWidth());
        options.height = std::trunc(recording->editedHeight());
        options.loopType =
            recording->editParameters() ? recording->editParameters()->loopType() : 0;
        options.startTime = recording->editedStartTime();
        options.endTime = recording->editedEndTime();
        options.fps = recording->editedFPS();
        options.speed =
            recording->editParameters() ? recording->editParameters()->playbackSpeed() : 1.0;
        generator->makeGIF(gif, options, nullptr,
                           [this, semaphore, holdsUnit, gif, completion](Status) {
                               dispatch::globalQueue(dispatch::Priority::UserInitiated)
                                   ->async([this, semaphore, holdsUnit, gif, completion] {
                                       std::error_code error;
                                       auto size = std::filesystem::file_size(gif, error);
                                       files_.deleteFile(gif);
                                       // A job whose wait ran out never held the unit; giving one
                                       // back would let later jobs run side by side.
                                       if (holdsUnit) {
                                           semaphore->signal();
                                       }
                                       isCalculating_ = false;
                                       // Last, so that a caller may let the estimator
                                       // go once it has its answer.
                                       if (completion) {
                                           completion(error ? 0 : int64_t(size));
                                       }
                                   });
                           });
    });
}

}  // namespace pindle
