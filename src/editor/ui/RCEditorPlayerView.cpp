#include "editor/ui/RCEditorPlayerView.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QResizeEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "captions/LayerCompositor.h"
#include "editor/CropEditing.h"
#include "editor/GIFExportCache.h"
#include "editor/RCEditorCaptions.h"
#include "editor/RCLoopingAVPlayer.h"
#include "editor/RCRecordingLayers.h"
#include "editor/ui/GIFClipboard.h"

namespace pindle::ui {

namespace {

// Plays the recording in a looping player and paints the frames it hands over. The captions
// are those of the recording's own timeline (not the edit's output timeline), so that a
// caption shows while the playhead is inside its range whatever the loop type; they and the
// watermark are drawn by the compositor the exports use.
class RCLoopingPlayerView final : public RCEditorPlayerView, private RCPlayerFrameSink {
public:
    RCLoopingPlayerView(RCRecordingPtr recording, QWidget* parent)
        : RCEditorPlayerView(parent), recording_(std::move(recording)) {
        setMinimumSize(320, 180);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (recording_ && recording_->asset()) {
            player_ = std::make_unique<RCLoopingAVPlayer>(recording_);
            player_->setFrameSink(this);
            playback_ = std::make_unique<RCLoopingPlayerPlayback>(*player_);
        }
        reloadLayers();
    }

    ~RCLoopingPlayerView() override {
        setDragOutCache(nullptr);
        stop();
    }

    void setLoopType(int64_t loopType) override {
        if (player_) {
            player_->setLoopType(loopType);
        }
    }
    void setPlaybackRange(MediaTime start, MediaTime end) override {
        if (player_) {
            player_->setReversePlaybackEndTime(start);
            player_->setForwardPlaybackEndTime(end);
        }
    }
    void setPlaybackSpeed(double speed) override {
        if (player_) {
            player_->setPlaybackSpeed(speed);
        }
    }
    void seekExactly(MediaTime time) override {
        if (player_) {
            player_->seekToTime(time);
        }
    }
    void play() override {
        if (player_) {
            player_->play();
        }
    }
    void pause() override {
        if (player_) {
            player_->pause();
        }
    }
    bool isPlaying() const override { return player_ && player_->isPlaying(); }
    MediaTime currentTime() const override {
        return player_ ? player_->currentTime() : MediaTime::zero();
    }
    void setMuted(bool muted) override {
        if (player_) {
            player_->setMuted(muted);
        }
    }
    int addPeriodicTimeObserver(MediaTime interval, std::function<void(MediaTime)> block) override {
        return player_ ? player_->addPeriodicTimeObserver(interval, std::move(block)) : 0;
    }
    void removeTimeObserver(int token) override {
        if (player_) {
            player_->removeTimeObserver(token);
        }
    }

    void reloadLayers() override {
        CaptionLayerOptions options;
        options.highlightSelected = editMode_;
        captionsLayer_ =
            recording_ ? generateCaptionsLayerWithOptions(*recording_, options) : nullptr;
        watermarkLayer_ = recording_ ? generateWatermarkLayer(*recording_) : nullptr;
        // The watermark sits on the cropped picture; the frame drawn on is the whole one.
        if (auto crop = recording_ ? recording_->editedCrop() : std::nullopt;
            crop && watermarkLayer_) {
            placeLayerTreeInCrop(*watermarkLayer_, *crop, recording_->dimensions());
        }
        composed_ = false;
        update();
    }

    void setCropEditing(CropEditing* editing) override {
        cropEditing_ = editing;
        dragOutStart_.reset();
        frameSizeChanged();
    }
    void cropChanged() override {
        reloadLayers();
        frameSizeChanged();
    }

    void stop() override {
        if (player_) {
            player_->pause();
            player_->setFrameSink(nullptr);
            playback_.reset();
            // Joins the decoding thread.
            player_.reset();
        }
    }

    void setCaptionsModel(RCEditorCaptionsModel* model) override {
        endCaptionDrag();
        model_ = model;
        if (model_) {
            model_->setPreviewSize(Size{double(width()), double(height())});
        }
    }
    void setEditModeEnabled(bool enabled) override {
        if (enabled == editMode_) {
            return;
        }
        editMode_ = enabled;
        if (!enabled) {
            endCaptionDrag();
        }
        reloadLayers();
        frameSizeChanged();
    }
    bool editModeEnabled() const override { return editMode_; }

    void captionMoved(int index) override {
        auto parameters = recording_ ? recording_->editParameters() : nullptr;
        if (!parameters || !captionsLayer_) {
            return;
        }
        const CaptionList& captions = parameters->captions();
        // The layer tree holds one sublayer per caption, in list order; anything else means it
        // is out of date and is rebuilt.
        if (index < 0 || size_t(index) >= captions.size() ||
            captionsLayer_->sublayerCount() != captions.size()) {
            reloadLayers();
            return;
        }
        RCLayer& layer = *captionsLayer_->sublayers()[size_t(index)];
        Point centre = captions[size_t(index)]->centerPosition();
        layer.frame.origin =
            Point{centre.x - layer.frame.size.width / 2, centre.y - layer.frame.size.height / 2};
        composed_ = false;
        update();
    }

    RCCaptionsPlayback* captionsPlayback() override { return playback_.get(); }

    void setDragOutCache(GIFExportCache* cache) override {
        if (dragOutCache_ && dragOutTicket_) {
            dragOutCache_->stopWaiting(dragOutTicket_);
        }
        dragOutCache_ = cache;
        dragOutStart_.reset();
        dragOutWaiting_ = false;
        dragOutTicket_ = 0;
        dragOutProgress_.reset();
        unsetCursor();
        update();
    }
    std::optional<float> dragOutProgress() const override { return dragOutProgress_; }

    QSize sizeHint() const override {
        Size size = recording_ ? recording_->dimensions() : Size{};
        if (!(size.width > 0 && size.height > 0)) {
            return {640, 360};
        }
        // At most 720 x 480 at first, keeping the movie's shape.
        double scale = std::min({1.0, 720 / size.width, 480 / size.height});
        return {int(size.width * scale), int(size.height * scale)};
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        RCEditorPlayerView::resizeEvent(event);
        if (model_) {
            model_->setPreviewSize(Size{double(width()), double(height())});
        }
        frameSizeChanged();
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (!frame_) {
            if (!player_) {
                painter.setPen(QColor(0xa0, 0xa0, 0xa8));
                painter.drawText(rect(), Qt::AlignCenter,
                                 "The movie of this capture cannot be read.");
            }
            return;
        }
        const Image& picture = composedFrame();
        QImage image(picture.pixels.data(), picture.width, picture.height, picture.stride,
                     QImage::Format_RGBA8888);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(fittedRect(), image, shownPart(picture));
        if (cropEditing_) {
            paintCropOverlay(painter);
        }
        if (dragOutProgress_) {
            paintDragOutProgress(painter, *dragOutProgress_);
        }
        if (!shownOnce_) {
            shownOnce_ = true;
            QMetaObject::invokeMethod(this, &RCEditorPlayerView::readyForDisplay,
                                      Qt::QueuedConnection);
        }
        emit painted(frameTime_);
    }

    // A press on the selected caption starts dragging it; one on another caption selects it.
    void mousePressEvent(QMouseEvent* event) override {
        // Crop mode takes the mouse before dragging out.
        if (cropEditing_ && event->button() == Qt::LeftButton) {
            cropEditing_->press(picturePoint(event), grabDistance());
            update();
            return;
        }
        if (!editMode_ && dragOutCache_ && event->button() == Qt::LeftButton) {
            dragOutStart_ = event->position().toPoint();
            return;
        }
        if (!editMode_ || !model_ || event->button() != Qt::LeftButton) {
            RCEditorPlayerView::mousePressEvent(event);
            return;
        }
        model_->previewMouseDown(viewPoint(event));
        if (model_->isDraggingCaption()) {
            setCursor(Qt::CrossCursor);
        }
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (cropEditing_ && cropEditing_->isDragging()) {
            cropEditing_->drag(picturePoint(event));
            update();
            return;
        }
        if (dragOutStart_ && (event->buttons() & Qt::LeftButton) &&
            (event->position().toPoint() - *dragOutStart_).manhattanLength() >=
                QApplication::startDragDistance()) {
            dragOutStart_.reset();
            dragOut();
            return;
        }
        if (model_ && model_->isDraggingCaption()) {
            model_->previewMouseDragged(viewPoint(event));
        }
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (cropEditing_ && cropEditing_->isDragging() && event->button() == Qt::LeftButton) {
            cropEditing_->drag(picturePoint(event));
            if (cropEditing_->release()) {
                emit cropEdited();
            }
            update();
            return;
        }
        if (event->button() == Qt::LeftButton) {
            // A GIF still being made is kept for the next drag, but not dragged now.
            dragOutStart_.reset();
            dragOutWaiting_ = false;
            endCaptionDrag();
        }
    }

private:
    void showFrame(const ImagePtr& image, MediaTime time) override {
        frame_ = image;
        frameTime_ = time;
        composed_ = false;
        update();
    }

    static Point viewPoint(const QMouseEvent* event) {
        return Point{event->position().x(), event->position().y()};
    }

    // Asks for the GIF of the edit; the drag starts when it is ready, unless the button was
    // let go by then. The window stays responsive meanwhile, the progress on the preview.
    void dragOut() {
        if (dragOutTicket_) {
            dragOutCache_->stopWaiting(dragOutTicket_);
            dragOutTicket_ = 0;
        }
        dragOutWaiting_ = true;
        auto parameters = recording_ ? recording_->editParameters() : nullptr;
        QPointer<RCLoopingPlayerView> self(this);
        int ticket = dragOutCache_->request(
            GIFEditState::of(parameters.get()),
            [self](float fraction) {
                if (self && self->dragOutProgress_) {
                    self->dragOutProgress_ = fraction;
                    self->update();
                }
            },
            [self](const std::filesystem::path& gif) {
                if (self) {
                    self->dragOutReady(gif);
                }
            });
        if (ticket != 0) {
            dragOutTicket_ = ticket;
            dragOutProgress_ = 0.0f;
            setCursor(Qt::BusyCursor);
            update();
        }
    }

    void dragOutReady(const std::filesystem::path& gif) {
        dragOutTicket_ = 0;
        dragOutProgress_.reset();
        unsetCursor();
        update();
        if (gif.empty() || !dragOutWaiting_) {
            return;
        }
        dragOutWaiting_ = false;
        // Outside the export's completion: the drag runs an event loop of its own.
        QTimer::singleShot(0, this, [this, gif] { dragFile(gif); });
    }

    void dragFile(const std::filesystem::path& gif) {
        QMimeData* mime = makeGIFMimeData(gif);
        if (mime == nullptr) {
            return;
        }
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        if (frame_) {
            // The picture as the preview shows it: cropped, with its captions and watermark.
            const Image& picture = composedFrame();
            QImage image(picture.pixels.data(), picture.width, picture.height, picture.stride,
                         QImage::Format_RGBA8888);
            drag->setPixmap(QPixmap::fromImage(
                image.copy(shownPart(picture).toAlignedRect())
                    .scaled(160, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        }
        drag->exec(Qt::CopyAction);
    }

    // A bar along the bottom of the picture with what is being made.
    void paintDragOutProgress(QPainter& painter, float fraction) {
        QRectF picture = fittedRect();
        QRectF band(picture.left(), picture.bottom() - 28, picture.width(), 28);
        painter.fillRect(band, QColor(0, 0, 0, 170));
        QRectF bar(band.left(), band.bottom() - 4, band.width() * double(fraction), 4);
        painter.fillRect(bar, QColor(0x4a, 0x9e, 0xff));
        painter.setPen(QColor(0xec, 0xec, 0xee));
        painter.drawText(band.adjusted(0, 0, 0, -4), Qt::AlignCenter,
                         QString("Preparing the GIF\u2026 %1%").arg(int(fraction * 100)));
    }

    void endCaptionDrag() {
        if (model_ && model_->isDraggingCaption()) {
            model_->previewMouseUp();
        }
        unsetCursor();
    }

    Size movieSize() const {
        Size movie = recording_ ? recording_->dimensions() : Size{};
        return movie.width > 0 && movie.height > 0 ? movie
               : frame_ && !frame_->isEmpty() ? Size{double(frame_->width), double(frame_->height)}
                                              : Size{double(width()), double(height())};
    }

    // The part of the recording shown, in its pixels from the top-left corner: the edit's
    // crop, except while the crop or the captions are edited, which shows the whole picture.
    Rect shownRect() const {
        auto crop =
            recording_ && !cropEditing_ && !editMode_ ? recording_->editedCrop() : std::nullopt;
        if (crop) {
            return Rect{Point{double(crop->x), double(crop->y)}, crop->size()};
        }
        return Rect{Point{}, movieSize()};
    }

    // The shown part of the recording in the pixels of picture, a frame as decoded.
    QRectF shownPart(const Image& picture) const {
        Rect shown = shownRect();
        Size movie = movieSize();
        double kx = movie.width > 0 ? picture.width / movie.width : 1;
        double ky = movie.height > 0 ? picture.height / movie.height : 1;
        return {shown.origin.x * kx, shown.origin.y * ky, shown.size.width * kx,
                shown.size.height * ky};
    }

    // The shown rectangle in the view: as large as fits, centred. With the whole picture shown
    // it is the captions model's displayedRect, so that a press lands where the caption is drawn.
    QRectF fittedRect() const {
        Rect fitted =
            aspectFitRect(shownRect().size, Rect{Point{}, Size{double(width()), double(height())}});
        return {fitted.origin.x, fitted.origin.y, fitted.size.width, fitted.size.height};
    }

    // Frames are decoded at the size they are shown at, in device pixels, so that painting
    // only copies.
    void frameSizeChanged() {
        composed_ = false;
        update();
        if (!player_) {
            return;
        }
        Size movie = movieSize();
        double ratio = devicePixelRatioF();
        double scale = fittedRect().width() / std::max(1.0, shownRect().size.width) * ratio;
        // A crop is decoded at most at the recording's own size, or as large as the whole
        // picture would be.
        Rect whole = aspectFitRect(movie, Rect{Point{}, Size{double(width()), double(height())}});
        scale = std::min(scale, std::max(1.0, whole.size.width / movie.width * ratio));
        player_->setFrameSize(Size{std::max(1.0, std::round(movie.width * scale)),
                                   std::max(1.0, std::round(movie.height * scale))});
    }

    // A view point in the recording's pixels (crop mode shows the whole picture).
    Point picturePoint(const QMouseEvent* event) const {
        QRectF fitted = fittedRect();
        Size movie = movieSize();
        return Point{(event->position().x() - fitted.x()) * movie.width / fitted.width(),
                     (event->position().y() - fitted.y()) * movie.height / fitted.height()};
    }
    // Eight view pixels in the recording's pixels.
    double grabDistance() const {
        return 8 * movieSize().width / std::max(1.0, fittedRect().width());
    }

    // The crop's rectangle and handles over the whole picture, the outside dimmed.
    void paintCropOverlay(QPainter& painter) {
        QRectF fitted = fittedRect();
        Size movie = movieSize();
        double k = fitted.width() / movie.width;
        CropRect r = cropEditing_->rect();
        QRectF crop(fitted.x() + r.x * k, fitted.y() + r.y * k, r.width * k, r.height * k);
        QPainterPath outside;
        outside.addRect(fitted);
        outside.addRect(crop);
        painter.fillPath(outside, QColor(0, 0, 0, 150));
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(crop);
        painter.setBrush(Qt::white);
        for (double x : {crop.left(), crop.center().x(), crop.right()}) {
            for (double y : {crop.top(), crop.center().y(), crop.bottom()}) {
                if (x != crop.center().x() || y != crop.center().y()) {
                    painter.drawRect(QRectF(x - 4, y - 4, 8, 8));
                }
            }
        }
    }

    static bool draws(const RCLayerPtr& layer) { return layer && layer->sublayerCount() > 0; }

    // The frame on screen with the layers drawn over it at its time; the frame itself when
    // there is nothing to draw. Drawn once per frame into a reused picture.
    const Image& composedFrame() {
        if (!draws(captionsLayer_) && !draws(watermarkLayer_)) {
            return *frame_;
        }
        if (!composed_) {
            if (composedPicture_.width != frame_->width ||
                composedPicture_.height != frame_->height) {
                composedPicture_ = Image(frame_->width, frame_->height);
            }
            for (int y = 0; y < frame_->height; ++y) {
                std::memcpy(composedPicture_.row(y), frame_->row(y), size_t(frame_->width) * 4);
            }
            double seconds = frameTime_.seconds();
            for (const RCLayerPtr& layer : {captionsLayer_, watermarkLayer_}) {
                if (draws(layer)) {
                    drawLayerTree(composedPicture_, *layer, seconds);
                }
            }
            composed_ = true;
        }
        return composedPicture_;
    }

    RCRecordingPtr recording_;
    std::unique_ptr<RCLoopingAVPlayer> player_;
    std::unique_ptr<RCLoopingPlayerPlayback> playback_;  // over player_
    RCEditorCaptionsModel* model_ = nullptr;
    bool editMode_ = false;
    CropEditing* cropEditing_ = nullptr;  // crop mode while set
    std::optional<QPoint> dragOutStart_;  // a press that may become a drag out
    GIFExportCache* dragOutCache_ = nullptr;
    bool dragOutWaiting_ = false;  // the button is held since a drag out began
    int dragOutTicket_ = 0;        // the cache's, while a GIF is made for a drag
    std::optional<float> dragOutProgress_;
    ImagePtr frame_;
    MediaTime frameTime_ = MediaTime::zero();
    RCLayerPtr captionsLayer_;
    RCLayerPtr watermarkLayer_;
    Image composedPicture_;
    bool composed_ = false;  // composedPicture_ is frame_ with the layers drawn over it
    bool shownOnce_ = false;
};

}  // namespace

RCEditorPlayerView* makeEditorPlayerView(RCRecordingPtr recording, QWidget* parent) {
    return new RCLoopingPlayerView(std::move(recording), parent);
}

}  // namespace pindle::ui
