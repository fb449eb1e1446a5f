#pragma once

#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/capture_backend.h"

// The arithmetic between a Wayland desktop's outputs (logical coordinates: origin top-left,
// y down, in the compositor's logical pixels), the program's global screen coordinates
// (points, origin bottom-left of the primary display, y up) and the pixels of a screen-cast
// stream of one output.
namespace pindle::wayland {

// One output as the compositor announces it.
struct Output {
    DisplayID displayID = 0;
    PixelRect logical;     // its place and size in the desktop's logical coordinates
    int pixelWidth = 0;    // its current mode, in pixels; 0 when not announced
    int integerScale = 1;  // the output's integer scale, used when the mode is unknown
    std::string name;

    // Pixels per logical point: fractional where the compositor scales by 1.5, say.
    double scale() const;
};

// The primary output: the one at the logical origin, else the first. Null when none.
const Output* primaryOutput(const std::vector<Output>& outputs);

// The screens of the outputs, the primary one first, each frame in global coordinates.
// Points are the desktop's logical pixels.
std::vector<Screen> screensForOutputs(const std::vector<Output>& outputs);

// The outputs holding a point given in points from the primary output's top-left, y down.
std::vector<DisplayID> outputsContaining(const std::vector<Output>& outputs, Point point);

// The output a screen-cast stream shows: the one whose logical place is the stream's
// position (and, where several share it, size). Null when none matches.
const Output* outputForStream(const std::vector<Output>& outputs, int x, int y, int width,
                              int height);

// The stream pixels of a crop rectangle given relative to the output's bottom-left corner in
// points, y up, for a stream of streamWidth x streamHeight pixels showing an output of
// logicalSize points; kept inside the stream. Empty when nothing of the crop is in it.
PixelRect streamRectForCrop(const Rect& crop, Size logicalSize, int streamWidth, int streamHeight);

}  // namespace pindle::wayland
