#include "platform/qt/qt_layers.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRawFont>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "base/log.h"

namespace pindle::qt {
namespace {

QColor toQColor(const Color& color) {
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue),
                            float(color.alpha));
}

// Our picture of a premultiplied RGBA QImage.
LayerRaster toRaster(const QImage& image, int originX, int originY) {
    QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    LayerRaster raster;
    raster.image = Image(rgba.width(), rgba.height());
    for (int y = 0; y < rgba.height(); ++y) {
        std::memcpy(raster.image.row(y), rgba.constScanLine(y), size_t(rgba.width()) * 4);
    }
    raster.originX = originX;
    raster.originY = originY;
    return raster;
}

// Three box blurs of the alpha channel, close to a Gaussian of the radius.
void blurAlpha(std::vector<float>& alpha, int width, int height, double radius) {
    int box = std::max(1, int(std::lround(radius / 1.5)));
    std::vector<float> line;
    auto pass = [&](bool horizontal) {
        int length = horizontal ? width : height;
        int lines = horizontal ? height : width;
        line.resize(size_t(length));
        for (int l = 0; l < lines; ++l) {
            auto at = [&](int i) -> float& {
                return horizontal ? alpha[size_t(l) * size_t(width) + size_t(i)]
                                  : alpha[size_t(i) * size_t(width) + size_t(l)];
            };
            for (int i = 0; i < length; ++i) {
                line[size_t(i)] = at(i);
            }
            float sum = 0;
            for (int i = -box; i <= box; ++i) {
                sum += (i >= 0 && i < length) ? line[size_t(i)] : 0;
            }
            for (int i = 0; i < length; ++i) {
                at(i) = sum / float(2 * box + 1);
                int out = i - box;
                int in = i + box + 1;
                sum -= (out >= 0 && out < length) ? line[size_t(out)] : 0;
                sum += (in < length) ? line[size_t(in)] : 0;
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        pass(true);
        pass(false);
    }
}

class QtLayerRenderer final : public LayerRenderer {
public:
    QtLayerRenderer() {
        fonts_[0] = readResource(":/pindle/fonts/NexaBlack.otf");
        fonts_[1] = readResource(":/pindle/fonts/OpenSans-BoldItalic.ttf");
    }

    Size measureText(const std::string& text, const TextStyle& style) override {
        if (text.empty() || !(style.pointSize > 0)) {
            return Size{};
        }
        QRawFont font = rawFont(style.fontName, style.pointSize);
        double width = 0;
        for (const QString& line : lines(text)) {
            width = std::max(width, lineWidth(font, line));
        }
        double lineHeight = font.ascent() + font.descent() + font.leading();
        return Size{std::ceil(width), std::ceil(lineHeight * double(lines(text).size()))};
    }

    LayerRaster drawText(const std::string& text, const TextStyle& style, const LayerShadow& shadow,
                         Size frameSize, double scale) override {
        if (text.empty() || !(style.pointSize > 0) || !(scale > 0)) {
            return LayerRaster{};
        }
        QRawFont font = rawFont(style.fontName, style.pointSize * scale);
        double stroke = std::fabs(style.strokeWidth) / 100 * style.pointSize * scale;
        double shadowReach =
            (std::max(std::fabs(shadow.offset.width), std::fabs(shadow.offset.height)) +
             shadow.blurRadius * 3) *
            scale;
        int margin = int(std::ceil(stroke + shadowReach + 2));
        int width = int(std::ceil(frameSize.width * scale)) + 2 * margin;
        int height = int(std::ceil(frameSize.height * scale)) + 2 * margin;
        if (!isAllowedPictureSize(width, height)) {
            return LayerRaster{};
        }

        // The glyph outlines, each line centred in the frame, lines from the top.
        QPainterPath path;
        double lineHeight = font.ascent() + font.descent() + font.leading();
        double baseline = margin + font.ascent();
        for (const QString& line : lines(text)) {
            double x = margin + (frameSize.width * scale - lineWidth(font, line)) / 2;
            addLine(path, font, line, QPointF(x, baseline));
            baseline += lineHeight;
        }

        QImage glyphs(width, height, QImage::Format_RGBA8888_Premultiplied);
        glyphs.fill(Qt::transparent);
        {
            QPainter painter(&glyphs);
            painter.setRenderHint(QPainter::Antialiasing);
            if (style.strokeWidth <= 0) {
                painter.fillPath(path, toQColor(style.fill));
            }
            if (style.strokeWidth != 0) {
                QPen pen(toQColor(style.strokeColor), stroke);
                pen.setJoinStyle(Qt::RoundJoin);
                painter.strokePath(path, pen);
            }
        }

        QImage result(width, height, QImage::Format_RGBA8888_Premultiplied);
        result.fill(Qt::transparent);
        double shadowAlpha = shadow.color.alpha * shadow.opacity;
        if (shadowAlpha > 0) {
            // The shadow is the glyphs' coverage in the shadow colour, blurred and offset
            // (a positive height moves it up).
            std::vector<float> alpha(size_t(width) * size_t(height));
            for (int y = 0; y < height; ++y) {
                const uchar* p = glyphs.constScanLine(y);
                for (int x = 0; x < width; ++x) {
                    alpha[size_t(y) * size_t(width) + size_t(x)] = float(p[x * 4 + 3]) / 255.0f;
                }
            }
            if (shadow.blurRadius > 0) {
                blurAlpha(alpha, width, height, shadow.blurRadius * scale);
            }
            int dx = int(std::lround(shadow.offset.width * scale));
            int dy = int(std::lround(-shadow.offset.height * scale));
            double r = shadow.color.red * 255, g = shadow.color.green * 255,
                   b = shadow.color.blue * 255;
            for (int y = 0; y < height; ++y) {
                int sy = y - dy;
                if (sy < 0 || sy >= height) {
                    continue;
                }
                uchar* out = result.scanLine(y);
                for (int x = 0; x < width; ++x) {
                    int sx = x - dx;
                    if (sx < 0 || sx >= width) {
                        continue;
                    }
                    double a = alpha[size_t(sy) * size_t(width) + size_t(sx)] * shadowAlpha;
                    out[x * 4 + 0] = uchar(std::lround(r * a));
                    out[x * 4 + 1] = uchar(std::lround(g * a));
                    out[x * 4 + 2] = uchar(std::lround(b * a));
                    out[x * 4 + 3] = uchar(std::lround(255 * a));
                }
            }
        }
        {
            QPainter painter(&result);
            painter.drawImage(0, 0, glyphs);
        }
        return toRaster(result, -margin, -margin);
    }

    LayerRaster drawShape(const ShapeStyle& shape, Size frameSize, double scale) override {
        double lineWidth = shape.lineWidth * scale;
        int margin = int(std::ceil(lineWidth)) + 1;
        // The path's extent in pixels, from the layer's bottom-left corner, y up.
        double left = std::min(0.0, shape.path.minX()) * scale;
        double bottom = std::min(0.0, shape.path.minY()) * scale;
        double right = std::max(frameSize.width, shape.path.maxX()) * scale;
        double top = std::max(frameSize.height, shape.path.maxY()) * scale;
        int width = int(std::ceil(right - left)) + 2 * margin;
        int height = int(std::ceil(top - bottom)) + 2 * margin;
        if (!isAllowedPictureSize(width, height)) {
            return LayerRaster{};
        }
        QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            // Picture pixels: x from the left edge, y down from the top edge.
            QRectF rect(shape.path.minX() * scale - left + margin,
                        top - shape.path.maxY() * scale + margin, shape.path.width() * scale,
                        shape.path.height() * scale);
            painter.fillRect(rect, toQColor(shape.fillColor));
            QPen pen(toQColor(shape.strokeColor), lineWidth);
            if (!shape.dashPattern.empty() && shape.lineWidth > 0) {
                // Qt counts dashes in line widths.
                QList<qreal> dashes;
                for (double length : shape.dashPattern) {
                    dashes.append(length / shape.lineWidth);
                }
                pen.setDashPattern(dashes);
            }
            pen.setJoinStyle(Qt::MiterJoin);
            pen.setCapStyle(Qt::FlatCap);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect);
        }
        // The frame's top-left corner lies at (margin - left, margin + top - frame height).
        int originX = -int(std::lround(margin - left));
        int originY = -int(std::lround(margin + top - frameSize.height * scale));
        return toRaster(image, originX, originY);
    }

    Result<Image> loadImage(const std::filesystem::path& file) override {
        QImageReader reader(QString::fromStdString(file.string()));
        // The size comes from the header, before anything is decoded: a file that does not
        // say it is damaged or of a kind whose size only decoding would tell.
        QSize size = reader.size();
        if (!size.isValid()) {
            return Error{"cannot read the image " + file.string() + ": " +
                         (reader.canRead() ? "its header gives no picture size"
                                           : reader.errorString().toStdString())};
        }
        if (!isAllowedPictureSize(size.width(), size.height())) {
            return Error{file.string() + " is too large: pictures may be " + kPictureSizeLimits};
        }
        QImage image = reader.read();
        if (image.isNull()) {
            return Error{"cannot read the image " + file.string() + ": " +
                         reader.errorString().toStdString()};
        }
        if (!isAllowedPictureSize(image.width(), image.height())) {
            return Error{file.string() + " is larger than its header says"};
        }
        image = image.convertToFormat(QImage::Format_RGBA8888);
        Image result(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y) {
            std::memcpy(result.row(y), image.constScanLine(y), size_t(image.width()) * 4);
        }
        return result;
    }

    Image scaledImage(const Image& image, int width, int height) override {
        if (image.isEmpty() || width <= 0 || height <= 0) {
            return Image{};
        }
        QImage source(image.pixels.data(), image.width, image.height, image.stride,
                      QImage::Format_RGBA8888);
        QImage scaled = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied)
                            .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_RGBA8888);
        Image result(scaled.width(), scaled.height());
        for (int y = 0; y < scaled.height(); ++y) {
            std::memcpy(result.row(y), scaled.constScanLine(y), size_t(scaled.width()) * 4);
        }
        return result;
    }

private:
    static QByteArray readResource(const char* name) {
        QFile file(name);
        QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (data.isEmpty()) {
            PINDLE_LOG_ERROR("captions", "the caption face %s is missing from the program", name);
        }
        return data;
    }

    QRawFont rawFont(const std::string& name, double pixelSize) const {
        const QByteArray& data = name == "OpenSans-BoldItalic" ? fonts_[1] : fonts_[0];
        return QRawFont(data, pixelSize);
    }

    static QStringList lines(const std::string& text) {
        return QString::fromStdString(text).split(QLatin1Char('\n'));
    }

    static double lineWidth(const QRawFont& font, const QString& line) {
        QList<quint32> glyphs = font.glyphIndexesForString(line);
        QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
        double width = 0;
        for (const QPointF& advance : advances) {
            width += advance.x();
        }
        return width;
    }

    static void addLine(QPainterPath& path, const QRawFont& font, const QString& line,
                        QPointF origin) {
        QList<quint32> glyphs = font.glyphIndexesForString(line);
        QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
        QPointF pen = origin;
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            path.addPath(font.pathForGlyph(glyphs[i]).translated(pen));
            pen.rx() += advances[i].x();
        }
    }

    QByteArray fonts_[2];
};

}  // namespace

std::shared_ptr<LayerRenderer> makeLayerRenderer() {
    return std::make_shared<QtLayerRenderer>();
}

void installLayerRenderer() {
    setLayerRenderer(makeLayerRenderer());
}

}  // namespace pindle::qt
