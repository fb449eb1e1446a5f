#include "captions/RCLayer.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace pindle {
namespace {

// One coordinate of a cubic Bézier from (0, 0) to (1, 1) with control values a and b.
double bezier(double a, double b, double u) {
    double v = 1 - u;
    return 3 * v * v * u * a + 3 * v * u * u * b + u * u * u;
}

// The curve's y where its x is fraction; x grows with u, so bisection finds u.
double bezierProgress(double x1, double y1, double x2, double y2, double fraction) {
    double low = 0;
    double high = 1;
    for (int i = 0; i < 60; ++i) {
        double middle = (low + high) / 2;
        (bezier(x1, x2, middle) < fraction ? low : high) = middle;
    }
    return bezier(y1, y2, (low + high) / 2);
}

bool fillsBackwards(AnimationFill fill) {
    return fill == AnimationFill::Backwards || fill == AnimationFill::Both;
}

bool fillsForwards(AnimationFill fill) {
    return fill == AnimationFill::Forwards || fill == AnimationFill::Both;
}

void setProperty(LayerState& state, const std::string& keyPath, double value) {
    if (keyPath == "opacity") {
        state.opacity = value;
    } else if (keyPath == "transform.scale") {
        state.scale = value;
    } else if (keyPath == "transform.translation.x") {
        state.translationX = value;
    } else if (keyPath == "transform.translation.y") {
        state.translationY = value;
    }
}

// The animation's own time at time on its parent's timeline, or nothing when it does not
// apply then. An animation stops at its end unless it fills forwards.
bool localTime(const AnimationDescription& animation, double time, double& local) {
    local = time - animation.beginTime;
    if (local < 0) {
        if (!fillsBackwards(animation.fill)) {
            return false;
        }
        local = 0;
        return true;
    }
    if (local >= animation.duration) {
        if (!fillsForwards(animation.fill)) {
            return false;
        }
        local = animation.duration;
    }
    return true;
}

void apply(const AnimationDescription& animation, double time, LayerState& state) {
    if (animation.isGroup()) {
        double local = 0;
        if (!localTime(animation, time, local)) {
            return;
        }
        for (const AnimationDescription& child : animation.children) {
            apply(child, local, state);
        }
        return;
    }
    if (animation.keyPath.empty()) {
        return;
    }
    double local = time - animation.beginTime;
    double value = 0;
    if (local < 0) {
        if (!fillsBackwards(animation.fill)) {
            return;
        }
        value = animation.fromValue;
    } else if (local >= animation.duration) {
        if (!fillsForwards(animation.fill)) {
            return;
        }
        value = animation.toValue;
    } else {
        double progress = timingProgress(animation.timing, local / animation.duration);
        value = animation.fromValue + (animation.toValue - animation.fromValue) * progress;
    }
    setProperty(state, animation.keyPath, value);
}

// Cuts the fully transparent margins off a picture, so that blending skips them.
void cropToVisible(LayerRaster& raster) {
    Image& image = raster.image;
    int left = image.width, right = -1, top = image.height, bottom = -1;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x) {
            if (p[x * 4 + 3] != 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0) {
        raster = LayerRaster{};
        return;
    }
    if (left == 0 && top == 0 && right == image.width - 1 && bottom == image.height - 1) {
        return;
    }
    Image cropped(right - left + 1, bottom - top + 1);
    for (int y = 0; y < cropped.height; ++y) {
        std::copy_n(image.row(top + y) + size_t(left) * 4, size_t(cropped.width) * 4,
                    cropped.row(y));
    }
    raster.image = std::move(cropped);
    raster.originX += left;
    raster.originY += top;
}

}  // namespace

void RCLayer::addAnimation(AnimationDescription animation, const std::string& key) {
    std::erase_if(animations_, [&](const auto& entry) { return entry.first == key; });
    animations_.emplace_back(key, std::move(animation));
}

const AnimationDescription* RCLayer::animationForKey(const std::string& key) const {
    for (const auto& [stored, animation] : animations_) {
        if (stored == key) {
            return &animation;
        }
    }
    return nullptr;
}

void RCLayer::display() const {
    for (const RCLayerPtr& sublayer : sublayers_) {
        sublayer->raster(1.0);
        for (const RCLayerPtr& inner : sublayer->sublayers()) {
            inner->raster(1.0);
        }
    }
}

std::shared_ptr<const LayerRaster> RCLayer::raster(double scale) const {
    std::lock_guard lock(rasterMutex_);
    for (const auto& [drawnScale, drawn] : rasters_) {
        if (drawnScale == scale) {
            return drawn;
        }
    }
    std::shared_ptr<LayerRenderer> renderer = layerRenderer();
    if (!renderer) {
        // Nothing is kept: a renderer installed later draws the layer.
        return nullptr;
    }
    std::optional<LayerRaster> picture;
    if (frame.size.width > 0 && frame.size.height > 0) {
        if (kind_ == LayerKind::Text && !string.empty()) {
            picture = renderer->drawText(string, textStyle, shadow, frame.size, scale);
        } else if (kind_ == LayerKind::Shape) {
            picture = renderer->drawShape(shape, frame.size, scale);
        } else if (contents && !contents->isEmpty()) {
            picture.emplace();
            picture->image = renderer->scaledImage(
                *contents, std::max(1, int(std::lround(frame.size.width * scale))),
                std::max(1, int(std::lround(frame.size.height * scale))));
            // Layer pictures are premultiplied.
            for (int y = 0; y < picture->image.height; ++y) {
                uint8_t* p = picture->image.row(y);
                for (int x = 0; x < picture->image.width; ++x, p += 4) {
                    for (int c = 0; c < 3; ++c) {
                        p[c] = uint8_t((p[c] * p[3] + 127) / 255);
                    }
                }
            }
        }
    }
    std::shared_ptr<const LayerRaster> drawn;
    if (picture) {
        cropToVisible(*picture);
        drawn = std::make_shared<const LayerRaster>(std::move(*picture));
    }
    rasters_.emplace_back(scale, drawn);
    return drawn;
}

double timingProgress(AnimationTiming timing, double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    switch (timing) {
        case AnimationTiming::Linear:
            return fraction;
        case AnimationTiming::EaseIn:
            return bezierProgress(0.42, 0, 1, 1, fraction);
        case AnimationTiming::EaseOut:
            return bezierProgress(0, 0, 0.58, 1, fraction);
    }
    return fraction;
}

LayerState evaluateLayer(const RCLayer& layer, double time) {
    LayerState state;
    for (const auto& entry : layer.animations()) {
        apply(entry.second, time, state);
    }
    return state;
}

}  // namespace pindle
