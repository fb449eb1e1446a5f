#include "editor/ui/RCEditorWindowController.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/ScreenGeometry.h"

namespace pindle::ui {

RCEditorWindowController::RCEditorWindowController(RCRecordingPtr recording,
                                                   RCEditorWindowDelegate& delegate)
    : QWidget(nullptr, Qt::Window), recording_(std::move(recording)), delegate_(delegate) {
    setObjectName("darkPanel");
    setAttribute(Qt::WA_StyledBackground);
    setWindowTitle(QString("%1 — Pindle Capture")
                       .arg(QString::fromStdString(recording_->url().filename().string())));
    auto* frame = new QLabel;
    frame->setAlignment(Qt::AlignCenter);
    frame->setMinimumSize(320, 180);
    frame->setStyleSheet("background: black;");
    Size maximum{720, 480};
    if (auto movie = recording_->asset()) {
        auto image = movie->copyImageAtTime(MediaTime::zero(), maximum);
        if (image) {
            QImage picture(image->pixels.data(), image->width, image->height, image->stride,
                           QImage::Format_RGBA8888);
            frame->setPixmap(QPixmap::fromImage(picture.copy()));
        }
    }
    if (!frame->pixmap().isNull()) {
        frame->setFixedSize(frame->pixmap().size());
    } else {
        frame->setText("The movie of this capture cannot be read.");
    }
    auto* facts = new QLabel(factsText(*recording_));
    facts->setObjectName("dimLabel");
    facts->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 14);
    layout->setSpacing(10);
    layout->addWidget(frame, 0, Qt::AlignCenter);
    layout->addWidget(facts);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

QString RCEditorWindowController::factsText(const RCRecording& recording) {
    Size size = recording.dimensions();
    return QString("%1 s  ·  %2 × %3  ·  %4 fps  ·  %5 frames")
        .arg(recording.duration().seconds(), 0, 'f', 1)
        .arg(static_cast<int>(size.width))
        .arg(static_cast<int>(size.height))
        .arg(static_cast<double>(recording.FPS()), 0, 'f', 0)
        .arg(static_cast<qulonglong>(recording.frameCount()));
}

Rect RCEditorWindowController::windowFrame() const {
    return toGlobal(QRectF(geometry()));
}

void RCEditorWindowController::setWindowFrame(const Rect& frame) {
    setGeometry(fromGlobal(frame).toRect());
}

void RCEditorWindowController::showWindow() {
    show();
    raise();
    activateWindow();
}

void RCEditorWindowController::bringToFront() {
    showWindow();
}

void RCEditorWindowController::close() {
    if (closing_) {
        return;
    }
    closing_ = true;
    delegate_.editorWindowControllerWillClose(this);
    hide();
}

void RCEditorWindowController::closeEvent(QCloseEvent* event) {
    // Closed by the user: the library forgets the editor, which deletes it later.
    event->ignore();
    close();
}

}  // namespace pindle::ui
