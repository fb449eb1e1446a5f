#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/color.h"
#include "base/geometry.h"
#include "base/image.h"
#include "base/result.h"

namespace pindle {

// How a line of caption text is drawn: a font by its stored name at a size in points (one
// point is one video pixel), a fill colour and an outline.
struct TextStyle {
    std::string fontName;
    double pointSize = 0;
    Color fill = Color::white();
    // Per cent of the point size; negative: the outline is stroked over the filled glyphs.
    double strokeWidth = 0;
    Color strokeColor = Color::black();
};

// A layer's drop shadow. offset: positive width is right, positive height is up.
struct LayerShadow {
    Color color = Color::black(0);
    Size offset;
    double blurRadius = 0;
    double opacity = 0;
};

// A dashed rectangle: the selection outline around a caption.
struct ShapeStyle {
    Rect path;  // in the layer's coordinates, origin bottom-left, y up
    double lineWidth = 0;
    Color strokeColor;
    Color fillColor;
    std::vector<double> dashPattern;  // lengths on, off, on, ...
};

// A layer's picture, drawn once: premultiplied R, G, B, A samples. origin is where the
// picture's top-left pixel lies from the top-left corner of the layer's frame, in pixels of
// the picture (outlines and shadows reach beyond the frame).
struct LayerRaster {
    Image image;
    int originX = 0;
    int originY = 0;
};

// Text measuring and drawing, and the pictures of layers, for the caption and watermark
// layers. Implementations are safe to call from several threads at once.
class LayerRenderer {
public:
    virtual ~LayerRenderer() = default;

    // The size of text drawn in style, in points.
    virtual Size measureText(const std::string& text, const TextStyle& style) = 0;
    // text centred in a frame of frameSize points, with its shadow, drawn scale pixels to
    // the point.
    virtual LayerRaster drawText(const std::string& text, const TextStyle& style,
                                 const LayerShadow& shadow, Size frameSize, double scale) = 0;
    // The shape of a layer with frame size frameSize, drawn scale pixels to the point.
    virtual LayerRaster drawShape(const ShapeStyle& shape, Size frameSize, double scale) = 0;
    // An image file (PNG, JPEG, ...) as straight-alpha RGBA; an error for a file that cannot
    // be read or decodes to no pixels.
    virtual Result<Image> loadImage(const std::filesystem::path& file) = 0;
    // image redrawn at width x height with smooth interpolation (straight alpha).
    virtual Image scaledImage(const Image& image, int width, int height) = 0;
};

// The process's renderer, installed by the composition root (and by tests). Without one,
// layerRenderer() returns null: text measures as nothing and no layer is drawn.
void setLayerRenderer(std::shared_ptr<LayerRenderer> renderer);
std::shared_ptr<LayerRenderer> layerRenderer();

}  // namespace pindle
