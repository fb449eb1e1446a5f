#pragma once

#include <optional>
#include <vector>

#include "base/geometry.h"

// Pure geometry of the capture window: which part of the screen a capture covers.
namespace pindle::capture_region {

double intersectionArea(const Rect& a, const Rect& b);
Rect intersection(const Rect& a, const Rect& b);

// The frame to hand to the capture engine for region, given the display frames (global
// coordinates). A region whose centre lies on a display is returned unchanged: the engine
// picks that display and cuts the region at its edges. A region whose centre lies on no
// display is cut to the display that holds most of it, so that its centre lands there.
// Nothing when the region touches no display.
std::optional<Rect> frameForCapture(const Rect& region, const std::vector<Rect>& displays);

// The window size the user may drag to: the region inside the window's chrome keeps an even
// width and height (a proposed odd value loses one point).
Size evenRegionWindowSize(Size proposed, double chromeWidth, double chromeHeight);

}  // namespace pindle::capture_region
