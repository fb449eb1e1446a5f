#pragma once

#include <cstdint>
#include <vector>

#include "base/geometry.h"
#include "base/result.h"
#include "platform/capture.h"

// The capture engine's arithmetic, as pure functions: which display a region is captured
// from, the crop rectangle on that display and the encoder's bit rate.
namespace pindle::capture_geometry {

// The centre of frame in the display system's coordinates (origin at the top-left of the
// primary display, y down), given the frame of the first screen (the primary one).
Point displayCentreOfFrame(const Rect& frame, const Rect& firstScreenFrame);

// The screen to capture frame from. displaysUnderCentre are the displays holding the
// frame's centre, as the window system reports them; the first of them that is a screen of
// the list wins. When the centre lies on no screen, the screen that holds the largest part
// of frame is taken. An error when frame overlaps no screen or has no area.
Result<Screen> screenForFrame(const Rect& frame, const std::vector<Screen>& screens,
                              const std::vector<DisplayID>& displaysUnderCentre);

// The crop rectangle of frame on screen: relative to the screen's bottom-left corner, in
// points, cut at the screen's edges; the size rounded to whole points and made even (rounded
// down), the origin left as it is. The size is 0 where frame and screen do not overlap.
Rect cropRectForFrame(const Rect& frame, const Rect& screen);

// Average bit rate for a crop of width x height points: 11.4 x 60 bits per square point and
// second, at most 120,000,000.
int32_t bitRateForCropSize(double width, double height);

constexpr double kMaxBitRate = 120'000'000.0;

}  // namespace pindle::capture_geometry
