#include "editor/ui/RCEditorPlayerView.h"

#include <QPainter>
#include <QTimer>

namespace pindle::ui {

namespace {

// Frames are decoded at most this large: the preview is never shown larger on a desktop.
constexpr Size kLargestFrame{1920, 1200};

}  // namespace

RCStillFrameView::RCStillFrameView(RCRecordingPtr recording, QWidget* parent)
    : RCEditorPlayerView(parent), recording_(std::move(recording)) {
    setMinimumSize(320, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void RCStillFrameView::setPlaybackRange(MediaTime start, MediaTime) {
    start_ = start;
}

void RCStillFrameView::play() {
    // Holding still, "playing" shows where playback starts.
    seekExactly(start_);
}

void RCStillFrameView::seekExactly(MediaTime time) {
    time_ = time;
    // A knob drag seeks on every move: decode once for the latest of them.
    if (!decodePending_) {
        decodePending_ = true;
        QTimer::singleShot(0, this, [this] { decode(); });
    }
}

void RCStillFrameView::decode() {
    decodePending_ = false;
    auto movie = recording_ ? recording_->asset() : nullptr;
    if (!movie) {
        return;
    }
    auto image = movie->copyImageAtTime(time_, kLargestFrame);
    if (!image) {
        return;
    }
    frame_ = QImage(image->pixels.data(), image->width, image->height, image->stride,
                    QImage::Format_RGBA8888)
                 .copy();
    update();
}

QSize RCStillFrameView::sizeHint() const {
    Size size = recording_ ? recording_->dimensions() : Size{};
    if (!(size.width > 0 && size.height > 0)) {
        return {640, 360};
    }
    // At most 720 x 480 at first, keeping the movie's shape.
    double scale = std::min({1.0, 720 / size.width, 480 / size.height});
    return {int(size.width * scale), int(size.height * scale)};
}

void RCStillFrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (frame_.isNull()) {
        painter.setPen(QColor(0xa0, 0xa0, 0xa8));
        painter.drawText(
            rect(), Qt::AlignCenter,
            recording_ && recording_->asset() ? "" : "The movie of this capture cannot be read.");
        return;
    }
    QSizeF fitted = QSizeF(frame_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                  fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, frame_);
}

RCEditorPlayerView* makeEditorPlayerView(RCRecordingPtr recording, QWidget* parent) {
    return new RCStillFrameView(std::move(recording), parent);
}

}  // namespace pindle::ui
