#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "editor/RCGIFGenerator.h"

namespace pindle {

// The four files of a batch export, made at once into a new folder.
struct RCBatchFileNames {
    std::string still;     // "Still JPG (WxH).jpg"
    std::string video;     // "Video MP4 (WxH).mp4"
    std::string smallGIF;  // "Small GIF (400xh).gif"
    std::string largeGIF;  // "Large GIF (WxH).gif"
};

// Names for a batch of edited size width x height; the small GIF is 400 wide at the
// recording's aspect ratio (smallHeight).
RCBatchFileNames batchFileNames(double width, double height, double smallHeight);

// Creates folder (its parent must exist) and exports the still at the trim start, the MP4
// and the two GIFs of the recording's current edit into it, all four at once. options
// carries the layers and the audio choice. Progress is the large GIF's; the completion comes
// on the main queue when all four have ended, with the first failure if any.
void exportBatch(const std::shared_ptr<RCGIFGenerator>& generator,
                 const std::filesystem::path& folder, const RCExportOptions& layers,
                 RCGIFGenerator::Progress progress, RCGIFGenerator::Completion completion);

}  // namespace pindle
