#include "captions/LayerCompositor.h"

#include <algorithm>
#include <cmath>

namespace pindle {
namespace {

// Maps a layer's own points (origin bottom-left, y up) to frame pixels counted upwards from
// the frame's bottom edge: (kx * x + ox, ky * y + oy).
struct Mapping {
    double kx = 1;
    double ky = 1;
    double ox = 0;
    double oy = 0;
};

inline void blendPixel(uint8_t* d, const uint8_t* s, unsigned opacity) {
    if (opacity == 256 && s[3] == 255) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
        return;
    }
    unsigned alpha = s[3] * opacity >> 8;
    if (alpha == 0) {
        return;
    }
    unsigned inverse = 255 - alpha;
    for (int c = 0; c < 3; ++c) {
        d[c] = uint8_t(((s[c] * opacity) >> 8) + (d[c] * inverse + 127) / 255);
    }
    d[3] = uint8_t(alpha + (d[3] * inverse + 127) / 255);
}

void drawLayer(Image& frame, const RCLayer& layer, const Mapping& parent, double opacity,
               double rasterScale, double time, bool isRoot) {
    if (layer.hidden) {
        return;
    }
    Mapping mapping = parent;
    const Rect& f = layer.frame;
    if (!isRoot) {
        LayerState state = evaluateLayer(layer, time);
        opacity *= std::clamp(state.opacity, 0.0, 1.0);
        if (opacity <= 0 || state.scale <= 0) {
            return;
        }
        // The layer's transform acts about its centre: scale, then translation.
        double w = f.size.width;
        double h = f.size.height;
        double dx = f.origin.x + w / 2 - state.scale * w / 2 + state.translationX;
        double dy = f.origin.y + h / 2 - state.scale * h / 2 + state.translationY;
        mapping.ox = parent.kx * dx + parent.ox;
        mapping.oy = parent.ky * dy + parent.oy;
        mapping.kx = parent.kx * state.scale;
        mapping.ky = parent.ky * state.scale;
    }
    if (auto raster = layer.raster(rasterScale); raster && !raster->image.isEmpty()) {
        // The picture's top-left pixel in the layer's points, then in frame pixels.
        double left = raster->originX / rasterScale;
        double top = f.size.height - raster->originY / rasterScale;
        double x = mapping.kx * left + mapping.ox;
        double y = double(frame.height) - (mapping.ky * top + mapping.oy);
        blendPicture(frame, raster->image, x, y, mapping.kx / rasterScale, mapping.ky / rasterScale,
                     opacity);
    }
    if (layer.sublayerCount() == 0) {
        return;
    }
    std::vector<const RCLayer*> ordered;
    ordered.reserve(layer.sublayerCount());
    for (const RCLayerPtr& sublayer : layer.sublayers()) {
        ordered.push_back(sublayer.get());
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const RCLayer* a, const RCLayer* b) {
        return a->zPosition < b->zPosition;
    });
    for (const RCLayer* sublayer : ordered) {
        drawLayer(frame, *sublayer, mapping, opacity, rasterScale, time, false);
    }
}

}  // namespace

void blendPicture(Image& frame, const Image& picture, double x, double y, double scaleX,
                  double scaleY, double opacity) {
    unsigned alpha = unsigned(std::lround(std::clamp(opacity, 0.0, 1.0) * 256));
    if (alpha == 0 || picture.isEmpty() || frame.isEmpty() || scaleX <= 0 || scaleY <= 0) {
        return;
    }
    bool unscaled = std::fabs(scaleX - 1) < 1e-6 && std::fabs(scaleY - 1) < 1e-6;
    if (unscaled) {
        int left = int(std::lround(x));
        int top = int(std::lround(y));
        int x0 = std::max(0, left);
        int x1 = std::min(frame.width, left + picture.width);
        int y0 = std::max(0, top);
        int y1 = std::min(frame.height, top + picture.height);
        for (int row = y0; row < y1; ++row) {
            const uint8_t* s = picture.row(row - top) + size_t(x0 - left) * 4;
            uint8_t* d = frame.row(row) + size_t(x0) * 4;
            for (int column = x0; column < x1; ++column, s += 4, d += 4) {
                if (s[3] != 0) {
                    blendPixel(d, s, alpha);
                }
            }
        }
        return;
    }
    // Scaled: each frame pixel takes the nearest picture pixel under its centre.
    int x0 = std::max(0, int(std::floor(x)));
    int x1 = std::min(frame.width, int(std::ceil(x + picture.width * scaleX)));
    int y0 = std::max(0, int(std::floor(y)));
    int y1 = std::min(frame.height, int(std::ceil(y + picture.height * scaleY)));
    for (int row = y0; row < y1; ++row) {
        int sy = int(std::floor((row + 0.5 - y) / scaleY));
        if (sy < 0 || sy >= picture.height) {
            continue;
        }
        const uint8_t* sourceRow = picture.row(sy);
        uint8_t* d = frame.row(row) + size_t(x0) * 4;
        for (int column = x0; column < x1; ++column, d += 4) {
            int sx = int(std::floor((column + 0.5 - x) / scaleX));
            if (sx < 0 || sx >= picture.width) {
                continue;
            }
            blendPixel(d, sourceRow + size_t(sx) * 4, alpha);
        }
    }
}

void drawLayerTree(Image& frame, const RCLayer& root, double time) {
    if (frame.isEmpty() || !(root.frame.size.width > 0) || !(root.frame.size.height > 0)) {
        return;
    }
    Mapping mapping;
    mapping.kx = frame.width / root.frame.size.width;
    mapping.ky = frame.height / root.frame.size.height;
    mapping.ox = -root.frame.origin.x * mapping.kx;
    mapping.oy = -root.frame.origin.y * mapping.ky;
    drawLayer(frame, root, mapping, 1.0, mapping.kx, time, true);
}

}  // namespace pindle
