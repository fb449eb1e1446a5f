#pragma once

#include "base/image.h"
#include "captions/RCLayer.h"

namespace pindle {

// Draws the layer tree over frame as it appears at time (seconds on the tree's timeline):
// the root's frame is stretched over the whole picture, sublayers are drawn in zPosition
// order (list order among equals) above their parent, each with the opacity, scale (about
// its centre) and translation it has at time. Each layer's picture is drawn once per
// picture scale (RCLayer::raster) and only blended here.
void drawLayerTree(Image& frame, const RCLayer& root, double time);

// Blends a premultiplied picture over frame with its top-left pixel at (x, y) (pixels from
// the frame's top-left corner), each picture pixel covering scale x scale frame pixels, at
// opacity. Pixels outside the frame are left out.
void blendPicture(Image& frame, const Image& picture, double x, double y, double scaleX,
                  double scaleY, double opacity);

}  // namespace pindle
