#pragma once

#include <filesystem>
#include <memory>

#include "base/image.h"
#include "base/result.h"

namespace pindle {

// An animated GIF being written frame by frame: the file grows as frames are added and
// nothing but the previous picture is kept in memory. The animation repeats for ever.
//
// Frames are stored as the difference to the picture shown before them (unchanged pixels
// transparent, only the changed rectangle written), each with its own 256-colour palette.
// The picture a viewer shows is the same as if every frame were stored whole.
class GifWriter {
public:
    virtual ~GifWriter() = default;

    // Adds the next frame, shown for delayCentiseconds hundredths of a second (at least 1).
    // frame must have the size the writer was made with; its alpha is ignored.
    virtual Status addFrame(const Image& frame, int delayCentiseconds) = 0;
    // Writes the end of the file and puts it in place. A writer with no frames writes
    // nothing and reports an error; so does one destroyed without finish(). Either way a file
    // that was at the path keeps its content.
    virtual Status finish() = 0;
    virtual int frameCount() const = 0;
};

// Still and animated image files.
class ImageOutput {
public:
    virtual ~ImageOutput() = default;

    // Starts a GIF of width x height pixels (at most kMaximumPictureSide a side and
    // kMaximumPicturePixels), which replaces file once finished.
    virtual Result<std::unique_ptr<GifWriter>> createGIF(const std::filesystem::path& file,
                                                         int width, int height) = 0;
    // Writes image as a JPEG of the highest quality (alpha is dropped), replacing file only
    // once the JPEG is complete.
    virtual Status writeJPEG(const Image& image, const std::filesystem::path& file) = 0;
};

// The process's implementation, installed by the composition root (and backend tests).
// Without one, imageOutput() returns null.
void setImageOutput(std::shared_ptr<ImageOutput> output);
std::shared_ptr<ImageOutput> imageOutput();

}  // namespace pindle
