#pragma once

#include <memory>

#include "platform/layers.h"

namespace pindle::qt {

// Caption text and layer pictures drawn with QPainter on QImage, and image files read with
// QImageReader. Needs a QGuiApplication (the offscreen platform will do) for the fonts.
// The two caption faces are embedded in the program: "NexaBlack" is League Spartan Black,
// "OpenSans-BoldItalic" is Open Sans Bold Italic; any other name draws in the first.
std::shared_ptr<LayerRenderer> makeLayerRenderer();

// Installs makeLayerRenderer() as the process's layer renderer.
void installLayerRenderer();

}  // namespace pindle::qt
