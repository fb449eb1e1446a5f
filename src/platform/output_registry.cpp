#include <memory>
#include <mutex>

#include "platform/image_output.h"
#include "platform/layers.h"
#include "platform/movie_output.h"

namespace pindle {
namespace {
std::mutex registryMutex;  // guards the installed implementations
std::shared_ptr<ImageOutput> installedImageOutput;
std::shared_ptr<media::MovieOutput> installedMovieOutput;
std::shared_ptr<LayerRenderer> installedLayerRenderer;
}  // namespace

void setImageOutput(std::shared_ptr<ImageOutput> output) {
    std::lock_guard lock(registryMutex);
    installedImageOutput = std::move(output);
}

std::shared_ptr<ImageOutput> imageOutput() {
    std::lock_guard lock(registryMutex);
    return installedImageOutput;
}

void media::setMovieOutput(std::shared_ptr<MovieOutput> output) {
    std::lock_guard lock(registryMutex);
    installedMovieOutput = std::move(output);
}

std::shared_ptr<media::MovieOutput> media::movieOutput() {
    std::lock_guard lock(registryMutex);
    return installedMovieOutput;
}

void setLayerRenderer(std::shared_ptr<LayerRenderer> renderer) {
    std::lock_guard lock(registryMutex);
    installedLayerRenderer = std::move(renderer);
}

std::shared_ptr<LayerRenderer> layerRenderer() {
    std::lock_guard lock(registryMutex);
    return installedLayerRenderer;
}

}  // namespace pindle
