#include "captions/RCCaptionLayers.h"

#include <cmath>

#include "base/log.h"
#include "platform/layers.h"

namespace pindle {
namespace {

constexpr const char* kInAnimation = "inAnimation";
constexpr const char* kOutAnimation = "outAnimation";
constexpr double T0 = kCoreAnimationBeginTimeAtZero;

// Calls change on copies of the sublayer's two animations and stores them again.
template <typename Change>
void retime(RCLayer& sublayer, Change change) {
    const AnimationDescription* in = sublayer.animationForKey(kInAnimation);
    const AnimationDescription* out = sublayer.animationForKey(kOutAnimation);
    if (!in || !out) {
        return;
    }
    AnimationDescription entrance = *in;
    AnimationDescription exit = *out;
    change(entrance, exit);
    sublayer.removeAllAnimations();
    sublayer.addAnimation(std::move(entrance), kInAnimation);
    sublayer.addAnimation(std::move(exit), kOutAnimation);
}

}  // namespace

std::shared_ptr<RCLayer> RCTimedCaption::generateLayerWithOptions(
    const CaptionLayerOptions& options) const {
    auto layer = std::make_shared<RCLayer>(LayerKind::Text);
    if (!text.empty()) {
        TextAttributes attributes = textAttributes();
        layer->string = text;
        layer->textStyle =
            TextStyle{attributes.font.name, attributes.font.pointSize, attributes.foregroundColor,
                      attributes.strokeWidth, attributes.strokeColor};
        layer->shadow = LayerShadow{attributes.shadow.color, attributes.shadow.offset,
                                    attributes.shadow.blurRadius, 1.0};
        Size measured;
        if (auto renderer = layerRenderer()) {
            measured = renderer->measureText(text, layer->textStyle);
        }
        layer->frame = Rect{Point{0, 0}, measured};
    }
    MediaTime trimmedStart = options.trimmedStartTime.value_or(MediaTime::zero());
    MediaTime trimmedEnd = options.trimmedEndTime.value_or(videoDuration);
    bool switchesOnly = animation->type == CaptionAnimationType::None;

    AnimationDescription entrance = animation->makeInAnimation();
    entrance.beginTime = startTime.seconds() + T0;
    if (switchesOnly && startTime <= trimmedStart) {
        entrance.fromValue = entrance.toValue;
    }
    layer->addAnimation(std::move(entrance), kInAnimation);

    AnimationDescription exit = animation->makeOutAnimation();
    exit.beginTime = endTime.seconds() + T0 - exit.duration;
    if (switchesOnly && endTime >= trimmedEnd) {
        exit.toValue = exit.fromValue;
    }
    layer->addAnimation(std::move(exit), kOutAnimation);

    if (!options.highlightSelected || !selected()) {
        return layer;
    }
    auto outline = std::make_shared<RCLayer>(LayerKind::Shape);
    outline->frame = layer->frame;
    Size textSize = layer->frame.size;
    outline->shape =
        ShapeStyle{Rect{Point{-40, -20}, Size{textSize.width + 80, textSize.height + 40}},
                   3.0,
                   Color::white(),
                   Color::black(0.3),
                   {12, 8}};
    outline->addSublayer(std::move(layer));
    return outline;
}

RCLayerPtr generateCaptionsLayerWithOptions(const CaptionsSource& source,
                                            CaptionLayerOptions options) {
    options.trimmedStartTime = source.trimmedStartTime;
    options.trimmedEndTime = source.trimmedEndTime;
    auto root = std::make_shared<RCLayer>();
    root->frame = Rect{Point{0, 0}, source.dimensions};
    for (size_t i = 0; i < source.captions.size(); ++i) {
        const RCTimedCaption& caption = *source.captions[i];
        RCLayerPtr layer = caption.generateLayerWithOptions(options);
        layer->zPosition = double(i);
        Size size = layer->frame.size;
        Point centre = caption.centerPosition();
        layer->frame.origin = Point{centre.x - size.width / 2, centre.y - size.height / 2};
        root->addSublayer(std::move(layer));
    }
    return root;
}

void normalizeCaptionsLayer(RCLayer& layer, double trimmedStartTime, double trimmedDuration) {
    for (const RCLayerPtr& sublayer : layer.sublayers()) {
        retime(*sublayer, [&](AnimationDescription& entrance, AnimationDescription& exit) {
            entrance.beginTime -= trimmedStartTime;
            exit.beginTime -= trimmedStartTime;
            if (entrance.beginTime <= 0) {
                entrance.beginTime = T0;
            }
            if (exit.beginTime > trimmedDuration) {
                exit.beginTime = trimmedDuration - exit.duration + T0;
            }
        });
    }
}

void reverseCaptionsLayer(RCLayer& layer, double trimmedDuration) {
    for (const RCLayerPtr& sublayer : layer.sublayers()) {
        retime(*sublayer, [&](AnimationDescription& entrance, AnimationDescription& exit) {
            double a = entrance.beginTime;
            double b = exit.beginTime;
            entrance.beginTime = trimmedDuration - b;
            exit.beginTime = trimmedDuration - a;
            for (AnimationDescription* animation : {&entrance, &exit}) {
                if (std::fabs(float(animation->beginTime)) <= 0.01f) {
                    animation->beginTime = T0;
                }
            }
        });
    }
}

RCLayerPtr generateNormalizedCaptionsLayer(const CaptionsSource& source) {
    if (source.loopType < 0 || source.loopType > 2) {
        return nullptr;
    }
    // Captions that show for some of the trimmed range; the others never show.
    CaptionsSource shown = source;
    std::erase_if(shown.captions, [&](const std::shared_ptr<RCTimedCaption>& caption) {
        return caption->startTime >= source.trimmedEndTime ||
               caption->endTime <= source.trimmedStartTime;
    });
    double s = source.editedStartTime.seconds();
    double d = source.editedDuration.seconds();
    RCLayerPtr layer = generateCaptionsLayerWithOptions(shown);
    normalizeCaptionsLayer(*layer, s, d);
    if (source.loopType == 1) {
        reverseCaptionsLayer(*layer, d);
    } else if (source.loopType == 2) {
        RCLayerPtr mirror = generateCaptionsLayerWithOptions(shown);
        normalizeCaptionsLayer(*mirror, s, d);
        reverseCaptionsLayer(*mirror, d);
        for (RCLayerPtr& sublayer : mirror->takeSublayers()) {
            layer->addSublayer(std::move(sublayer));
        }
    }
    return layer;
}

Rect aspectFitRect(Size size, const Rect& bounds) {
    Point centre{bounds.midX(), bounds.midY()};
    if (!(size.width > 0) || !(size.height > 0)) {
        return Rect{centre, Size{}};
    }
    double scale = bounds.width() / size.width;
    if (size.height * scale > bounds.height()) {
        scale = bounds.height() / size.height;
    }
    Size fitted{size.width * scale, size.height * scale};
    return Rect{Point{centre.x - fitted.width / 2, centre.y - fitted.height / 2}, fitted};
}

RCLayerPtr generateWatermarkLayer(Size dimensions, const std::filesystem::path& watermarkFile) {
    auto root = std::make_shared<RCLayer>();
    root->frame = Rect{Point{0, 0}, dimensions};
    if (watermarkFile.empty()) {
        return root;
    }
    auto renderer = layerRenderer();
    if (!renderer) {
        PINDLE_LOG_WARNING("captions", "no image reader for the watermark %s",
                           watermarkFile.c_str());
        return root;
    }
    auto image = renderer->loadImage(watermarkFile);
    if (!image) {
        PINDLE_LOG_WARNING("captions", "the watermark is left out: %s",
                           image.error().message.c_str());
        return root;
    }
    if (image->isEmpty()) {
        PINDLE_LOG_WARNING("captions", "the watermark is left out: %s has no width or height",
                           watermarkFile.c_str());
        return root;
    }
    Rect fitted = aspectFitRect(Size{double(image->width), double(image->height)}, root->frame);
    if (!(fitted.size.width > 0) || !(fitted.size.height > 0)) {
        return root;
    }
    auto picture = std::make_shared<RCLayer>();
    picture->frame = fitted;
    picture->contents = std::make_shared<const Image>(std::move(*image));
    root->addSublayer(std::move(picture));
    return root;
}

}  // namespace pindle
