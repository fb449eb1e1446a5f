#include "app/ui/RCGIFCollectionWindow.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include "ui/Theme.h"

namespace pindle::ui {
namespace {

QImage toQImage(const Image& image) {
    QImage wrapped(image.pixels.data(), image.width, image.height, image.stride,
                   QImage::Format_RGBA8888);
    return wrapped.copy();
}

}  // namespace

RCGIFCollectionWindow::RCGIFCollectionWindow(RCGIFCollectionWindowController& controller,
                                             QWidget* parent)
    : QWidget(parent), controller_(controller) {
    setObjectName("libraryStrip");
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    setAccessibleName("Captures");
    loadingTimer_.setInterval(80);
    connect(&loadingTimer_, &QTimer::timeout, this, [this] {
        loadingPhase_ = std::fmod(loadingPhase_ + 0.0625, 1.0);
        update();
    });
}

void RCGIFCollectionWindow::reloadCollectionViewData() {
    bool anyLoading = false;
    QHash<QString, QPixmap> kept;
    for (size_t i = 0; i < controller_.numberOfItems(); ++i) {
        RCRecordingPtr recording = controller_.recordingForItem(i);
        QString guid = QString::fromStdString(recording->guid());
        if (thumbnails_.contains(guid)) {
            kept.insert(guid, thumbnails_.value(guid));
        }
        anyLoading = anyLoading || !recording->isReady();
    }
    thumbnails_ = kept;
    if (anyLoading) {
        loadingTimer_.start();
    } else {
        loadingTimer_.stop();
    }
    if (hovered_ && *hovered_ >= controller_.numberOfItems()) {
        hovered_.reset();
    }
    clampScroll();
    update();
}

QRect RCGIFCollectionWindow::cellRect(size_t item) const {
    return QRect(static_cast<int>(item) * kCellSize - scroll_ + kMargin, kMargin, kCellSize,
                 kCellSize);
}

QRect RCGIFCollectionWindow::deleteButtonRect(size_t item) const {
    QRect cell = cellRect(item);
    return QRect(cell.right() + 1 - kDeleteButtonWidth, cell.top() + 5, kDeleteButtonWidth,
                 kDeleteButtonHeight);
}

std::optional<size_t> RCGIFCollectionWindow::itemAt(QPoint point) const {
    if (point.y() < kMargin || point.y() >= kMargin + kCellSize) {
        return std::nullopt;
    }
    int x = point.x() + scroll_ - kMargin;
    if (x < 0) {
        return std::nullopt;
    }
    auto item = static_cast<size_t>(x / kCellSize);
    if (item >= controller_.numberOfItems()) {
        return std::nullopt;
    }
    return item;
}

QPixmap RCGIFCollectionWindow::thumbnailFor(const RCRecordingPtr& recording) {
    QString guid = QString::fromStdString(recording->guid());
    auto found = thumbnails_.find(guid);
    if (found != thumbnails_.end()) {
        return found.value();
    }
    ImagePtr image = recording->thumbnail();
    if (!image || image->isEmpty()) {
        return {};
    }
    QPixmap pixmap = QPixmap::fromImage(toQImage(*image));
    thumbnails_.insert(guid, pixmap);
    return pixmap;
}

void RCGIFCollectionWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), theme::background().darker(115));
    p.fillRect(QRect(0, 0, width(), 1), theme::border());
    size_t count = controller_.numberOfItems();
    if (count == 0) {
        p.setPen(theme::dimText());
        p.drawText(rect(), Qt::AlignCenter, "Your captures will appear here");
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (size_t i = 0; i < count; ++i) {
        QRect cell = cellRect(i);
        if (cell.right() < 0 || cell.left() > width()) {
            continue;  // only visible cells decode their thumbnails
        }
        RCRecordingPtr recording = controller_.recordingForItem(i);
        // The thumbnail view: inset 5 on the left and bottom, 5 shorter at the top.
        QRectF box(cell.left() + 5, cell.top() + 5, cell.width() - 5, cell.height() - 10);
        QPainterPath clip;
        clip.addRect(box);
        p.save();
        p.setClipPath(clip);
        QPixmap thumbnail = recording->isReady() ? thumbnailFor(recording) : QPixmap();
        if (!thumbnail.isNull()) {
            // Aspect fill: cover the box, centred.
            QSizeF size =
                QSizeF(thumbnail.size()).scaled(box.size(), Qt::KeepAspectRatioByExpanding);
            QRectF target(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2,
                          size.width(), size.height());
            p.drawPixmap(target, thumbnail, QRectF(thumbnail.rect()));
        } else {
            p.fillRect(box, Qt::black);
            if (!recording->isReady()) {
                theme::drawLoadingAnimated(p, box, loadingPhase_);
            }
        }
        p.restore();
        bool highlighted = controller_.isItemHighlighted(i);
        double borderWidth = highlighted ? 5 : 1;
        p.setPen(QPen(highlighted ? theme::green() : QColor(Qt::black), borderWidth));
        p.setBrush(Qt::NoBrush);
        p.drawRect(
            box.adjusted(borderWidth / 2, borderWidth / 2, -borderWidth / 2, -borderWidth / 2));

        if (hovered_ == i) {
            QRectF button = deleteButtonRect(i);
            QPointF centre = button.center();
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, 200));
            p.drawEllipse(centre, 8, 8);
            p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(centre + QPointF(-3.2, -3.2), centre + QPointF(3.2, 3.2));
            p.drawLine(centre + QPointF(-3.2, 3.2), centre + QPointF(3.2, -3.2));
        }
    }
}

void RCGIFCollectionWindow::mouseMoveEvent(QMouseEvent* event) {
    auto item = itemAt(event->position().toPoint());
    if (item != hovered_) {
        hovered_ = item;
        update();
    }
    bool overDelete = item && deleteButtonRect(*item).contains(event->position().toPoint());
    setCursor(item && (overDelete || controller_.recordingForItem(*item)->isReady())
                  ? Qt::PointingHandCursor
                  : Qt::ArrowCursor);
    setToolTip(overDelete ? "Delete this capture" : QString());
}

void RCGIFCollectionWindow::mousePressEvent(QMouseEvent* event) {
    pressed_ =
        event->button() == Qt::LeftButton ? itemAt(event->position().toPoint()) : std::nullopt;
    event->accept();
}

void RCGIFCollectionWindow::mouseReleaseEvent(QMouseEvent* event) {
    QPoint point = event->position().toPoint();
    auto item = itemAt(point);
    bool same = pressed_ && item == pressed_;
    pressed_.reset();
    event->accept();
    if (!same) {
        return;
    }
    if (deleteButtonRect(*item).contains(point)) {
        controller_.deleteButtonClicked(controller_.recordingForItem(*item));
    } else {
        controller_.didSelectItem(*item);
    }
}

void RCGIFCollectionWindow::leaveEvent(QEvent*) {
    hovered_.reset();
    update();
}

void RCGIFCollectionWindow::wheelEvent(QWheelEvent* event) {
    QPoint delta = event->angleDelta();
    int step = delta.x() != 0 ? delta.x() : delta.y();
    scroll_ -= step / 2;
    clampScroll();
    hovered_ = itemAt(event->position().toPoint());
    update();
    event->accept();
}

void RCGIFCollectionWindow::resizeEvent(QResizeEvent*) {
    clampScroll();
}

void RCGIFCollectionWindow::clampScroll() {
    int content = static_cast<int>(controller_.numberOfItems()) * kCellSize + 2 * kMargin;
    scroll_ = std::clamp(scroll_, 0, std::max(0, content - width()));
}

}  // namespace pindle::ui
