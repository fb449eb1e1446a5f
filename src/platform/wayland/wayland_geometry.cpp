#include "platform/wayland/wayland_geometry.h"

#include <algorithm>
#include <cmath>

namespace pindle::wayland {

double Output::scale() const {
    if (pixelWidth > 0 && logical.width > 0) {
        return double(pixelWidth) / logical.width;
    }
    return std::max(1, integerScale);
}

const Output* primaryOutput(const std::vector<Output>& outputs) {
    for (const Output& output : outputs) {
        if (output.logical.x == 0 && output.logical.y == 0) {
            return &output;
        }
    }
    return outputs.empty() ? nullptr : &outputs.front();
}

std::vector<Screen> screensForOutputs(const std::vector<Output>& outputs) {
    std::vector<Screen> screens;
    const Output* primary = primaryOutput(outputs);
    if (primary == nullptr) {
        return screens;
    }
    const PixelRect& p = primary->logical;
    auto screenOf = [&](const Output& o) {
        Screen screen;
        screen.displayID = o.displayID;
        screen.name = o.name;
        screen.backingScaleFactor = o.scale();
        screen.frame = Rect{{double(o.logical.x - p.x),
                             double((p.y + p.height) - (o.logical.y + o.logical.height))},
                            {double(o.logical.width), double(o.logical.height)}};
        return screen;
    };
    screens.push_back(screenOf(*primary));
    for (const Output& output : outputs) {
        if (&output != primary) {
            screens.push_back(screenOf(output));
        }
    }
    return screens;
}

std::vector<DisplayID> outputsContaining(const std::vector<Output>& outputs, Point point) {
    std::vector<DisplayID> found;
    const Output* primary = primaryOutput(outputs);
    if (primary == nullptr) {
        return found;
    }
    const double x = primary->logical.x + point.x;
    const double y = primary->logical.y + point.y;
    for (const Output& o : outputs) {
        const PixelRect& r = o.logical;
        if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) {
            found.push_back(o.displayID);
        }
    }
    return found;
}

const Output* outputForStream(const std::vector<Output>& outputs, int x, int y, int width,
                              int height) {
    const Output* found = nullptr;
    for (const Output& o : outputs) {
        if (o.logical.x != x || o.logical.y != y) {
            continue;
        }
        if (o.logical.width == width && o.logical.height == height) {
            return &o;
        }
        if (found == nullptr) {
            found = &o;
        }
    }
    return found;
}

PixelRect streamRectForCrop(const Rect& crop, Size logicalSize, int streamWidth, int streamHeight) {
    if (!(logicalSize.width > 0) || !(logicalSize.height > 0)) {
        return PixelRect{};
    }
    const double sx = streamWidth / logicalSize.width;
    const double sy = streamHeight / logicalSize.height;
    const int x0 = std::max(0, int(std::lround(crop.minX() * sx)));
    const int y0 = std::max(0, int(std::lround((logicalSize.height - crop.maxY()) * sy)));
    const int x1 = std::min(streamWidth, int(std::lround(crop.maxX() * sx)));
    const int y1 =
        std::min(streamHeight, int(std::lround((logicalSize.height - crop.minY()) * sy)));
    if (x1 <= x0 || y1 <= y0) {
        return PixelRect{};
    }
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace pindle::wayland
