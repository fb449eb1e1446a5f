#include "editor/RCBatchExport.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "base/dispatch.h"

namespace pindle {

namespace {
std::string format(const char* pattern, double width, double height) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, width, height);
    return text;
}
}  // namespace

RCBatchFileNames batchFileNames(double width, double height, double smallHeight) {
    return RCBatchFileNames{format("Still JPG (%.0fx%.0f).jpg", width, height),
                            format("Video MP4 (%.0fx%.0f).mp4", width, height),
                            format("Small GIF (%.0fx%.0f).gif", 400, smallHeight),
                            format("Large GIF (%.0fx%.0f).gif", width, height)};
}

void exportBatch(const std::shared_ptr<RCGIFGenerator>& generator,
                 const std::filesystem::path& folder, const RCExportOptions& layers,
                 RCGIFGenerator::Progress progress, RCGIFGenerator::Completion completion) {
    const RCRecording& recording = *generator->recording();
    std::error_code error;
    if (!std::filesystem::create_directory(folder, error)) {
        Status failed = Error{"cannot create the folder " + folder.string() +
                              (error ? ": " + error.message() : ": it exists already")};
        if (completion) {
            dispatch::mainQueue()->async([completion, failed] { completion(failed); });
        }
        return;
    }
    Size edited = recording.editedDimensions();
    Size natural = recording.croppedDimensions();
    double smallHeight = natural.width > 0 ? natural.height / natural.width * 400 : 0;
    RCBatchFileNames names = batchFileNames(edited.width, edited.height, smallHeight);
    MediaTime start = recording.editedStartTime();
    MediaTime end = recording.editedEndTime();
    auto parameters = recording.editParameters();
    int64_t loopType = parameters ? parameters->loopType() : 0;

    // Ends the batch when the last of the four files is done.
    struct Tally {
        std::mutex mutex;  // guards remaining and firstFailure
        int remaining = 4;
        std::optional<Error> firstFailure;
    };
    auto tally = std::make_shared<Tally>();
    auto oneDone = [tally, completion](Status status) {
        std::optional<Error> failure;
        {
            std::lock_guard lock(tally->mutex);
            if (!status && !tally->firstFailure) {
                tally->firstFailure = status.error();
            }
            if (--tally->remaining > 0) {
                return;
            }
            failure = tally->firstFailure;
        }
        if (completion) {
            completion(failure ? Status(*failure) : Status(Ok{}));
        }
    };

    generator->makeJPEG(folder / names.still, start, edited, oneDone, layers.crop);

    RCExportOptions video = layers;
    video.width = float(edited.width);
    video.height = float(edited.height);
    video.startTime = start;
    video.endTime = end;
    video.loopType = loopType;
    video.speed = parameters ? parameters->playbackSpeed() : 1.0;
    video.fps = recording.editedFPS();
    generator->makeVideo(folder / names.video, video, nullptr, oneDone);

    RCExportOptions small = video;
    small.exportAudio.reset();
    small.width = 400;
    small.height = float(smallHeight);
    small.endTime = start + MediaTime::minimum(MediaTime::make(1, 1), recording.editedDuration());
    small.fps = 10;
    generator->makeGIF(folder / names.smallGIF, small, nullptr, oneDone);

    RCExportOptions large = video;
    large.exportAudio.reset();
    large.fps = 15;
    generator->makeGIF(folder / names.largeGIF, large, std::move(progress), oneDone);
}

}  // namespace pindle
