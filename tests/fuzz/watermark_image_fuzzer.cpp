// Fuzz target for the watermark image loader: any bytes as the watermark file the user
// chose (PNG, JPEG, GIF, WebP, whatever Qt's readers take), loaded and fitted into a frame as
// an export does.
//
// Checks beyond "no crash": a loaded picture is within the program's picture limits and has
// all its pixels, and a picture whose header declares a size outside the limits is refused
// before it is decoded.
//
// Pictures whose header declares more than 128x128 pixels but within the limits are not
// decoded: they take the code small ones take, at a cost that grows with the size a few
// bytes can declare (up to 64 megapixels). Up to 128x128 a decoded picture also stays within
// the sanitizer's pooled allocations, where a larger one costs a fresh mapping each time.
//
// Standalone (default build): watermark_image_fuzzer -seconds=N tests/fuzz/watermark_corpus
// libFuzzer (fuzz-all preset; tests/fuzz/run_long.sh runs every target long):
//   watermark_image_fuzzer -max_len=16384 CORPUS tests/fuzz/watermark_corpus

#include <QGuiApplication>
#include <QImageReader>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/image.h"
#include "base/log.h"
#include "captions/RCCaptionLayers.h"
#include "platform/layers.h"
#include "platform/qt/qt_layers.h"

namespace {

constexpr int64_t kLargestDecodedPixels = int64_t(128) * 128;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("watermark-fuzzer-" + std::to_string(::getpid()) + ".img");
    static const bool ready = [] {
        pindle::log::setSink([](pindle::log::Level, const std::string&, const std::string&) {});
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        static int argc = 1;
        static char name[] = "watermark_image_fuzzer";
        static char* argv[] = {name, nullptr};
        static QGuiApplication application(argc, argv);
        pindle::qt::installLayerRenderer();
        return true;
    }();
    (void)ready;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    QSize declared = QImageReader(QString::fromStdString(file.string())).size();
    if (declared.isValid() && pindle::isAllowedPictureSize(declared.width(), declared.height()) &&
        int64_t(declared.width()) * declared.height() > kLargestDecodedPixels) {
        std::filesystem::remove(file);
        return 0;
    }
    auto image = pindle::layerRenderer()->loadImage(file);
    if (image) {
        if (!pindle::isAllowedPictureSize(image->width, image->height) ||
            image->pixels.size() <
                size_t(image->stride) * size_t(image->height - 1) + size_t(image->width) * 4 ||
            !declared.isValid() ||
            !pindle::isAllowedPictureSize(declared.width(), declared.height())) {
            std::abort();
        }
        // As an export lays the watermark over a frame.
        auto layer = pindle::generateWatermarkLayer(pindle::Size{320, 240}, file);
        if (layer->sublayers().size() != 1) {
            std::abort();
        }
    }
    std::filesystem::remove(file);
    return 0;
}
