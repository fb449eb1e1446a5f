#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/geometry.h"
#include "base/image.h"
#include "captions/RCTimedCaptionAnimation.h"
#include "platform/layers.h"

namespace pindle {

enum class LayerKind {
    Plain,  // a frame, sublayers and optional image contents
    Text,   // draws its string centred in its frame, with a shadow
    Shape,  // strokes and fills a path
};

// One node of a compositing tree laid over video: the captions of a recording or its
// watermark. Frames are in the parent's coordinates (video pixels, origin bottom-left, y up).
// Animations are descriptions stored under keys, evaluated by evaluateLayer().
//
// A tree is built on one thread and then only read; reads from several threads at once
// (parallel exports drawing one tree) are safe, including the raster cache.
class RCLayer {
public:
    explicit RCLayer(LayerKind kind = LayerKind::Plain) : kind_(kind) {}
    RCLayer(const RCLayer&) = delete;
    RCLayer& operator=(const RCLayer&) = delete;

    LayerKind kind() const { return kind_; }

    Rect frame;
    double zPosition = 0;
    // A hidden layer and its sublayers are never drawn.
    bool hidden = false;
    // Image drawn to fill the frame (straight alpha).
    std::shared_ptr<const Image> contents;
    // Text layers: the string, how it is drawn, and the layer's shadow.
    std::string string;
    TextStyle textStyle;
    LayerShadow shadow;
    // Shape layers.
    ShapeStyle shape;

    const std::vector<std::shared_ptr<RCLayer>>& sublayers() const { return sublayers_; }
    size_t sublayerCount() const { return sublayers_.size(); }
    void addSublayer(std::shared_ptr<RCLayer> layer) { sublayers_.push_back(std::move(layer)); }
    // Takes every sublayer out of the layer and returns them.
    std::vector<std::shared_ptr<RCLayer>> takeSublayers() { return std::move(sublayers_); }

    // Stores animation under key, replacing (and moving after the others) one stored under
    // the same key. Later animations win where they set the same property.
    void addAnimation(AnimationDescription animation, const std::string& key);
    // Null when nothing is stored under key.
    const AnimationDescription* animationForKey(const std::string& key) const;
    void removeAllAnimations() { animations_.clear(); }
    const std::vector<std::pair<std::string, AnimationDescription>>& animations() const {
        return animations_;
    }

    // Draws the picture of every direct sublayer now (at one pixel to the point), so that
    // the first frames of an export do not wait for it.
    void display() const;
    // The layer's own picture at scale pixels to the point, drawn on the first call for
    // that scale and kept: a text or shape layer's drawing, or its contents scaled to its
    // frame. Null for a layer with nothing of its own to draw or without a renderer.
    std::shared_ptr<const LayerRaster> raster(double scale) const;

private:
    LayerKind kind_;
    std::vector<std::shared_ptr<RCLayer>> sublayers_;
    std::vector<std::pair<std::string, AnimationDescription>> animations_;

    mutable std::mutex rasterMutex_;  // guards rasters_
    mutable std::vector<std::pair<double, std::shared_ptr<const LayerRaster>>> rasters_;
};

using RCLayerPtr = std::shared_ptr<RCLayer>;

// The animated properties of a layer at one moment.
struct LayerState {
    double opacity = 1;
    double scale = 1;
    double translationX = 0;  // points, positive right
    double translationY = 0;  // points, positive up
};

// A timing curve's progress at fraction (0 to 1) of an animation's duration.
double timingProgress(AnimationTiming timing, double fraction);

// The layer's animated properties at time (seconds on the layer's timeline): the model
// values (opacity 1, scale 1, no translation) changed by every animation that applies at
// time, in the order stored, so a later animation wins over an earlier one on the same
// property. An animation applies during its duration, before it when it fills backwards and
// after it when it fills forwards. A group's children run on the group's own time and stop
// where the group ends.
LayerState evaluateLayer(const RCLayer& layer, double time);

}  // namespace pindle
