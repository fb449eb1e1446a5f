#include "capture/ui/RCCaptureWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "capture/ui/RCCaptureButtons.h"
#include "capture/ui/RCCaptureGlassWindow.h"
#include "capture/ui/RCCaptureSizeWindow.h"
#include "ui/PaintedButton.h"
#include "ui/ScreenGeometry.h"
#include "ui/Theme.h"

namespace pindle::ui {

// The grip in the control strip's bottom-right corner; dragging it resizes the window.
class ResizeGrip : public QWidget {
public:
    explicit ResizeGrip(RCCaptureWindow* window) : QWidget(window), window_(window) {
        setFixedSize(14, 14);
        setCursor(Qt::SizeFDiagCursor);
        setToolTip("Drag to resize the region");
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(theme::dimText(), 1.2));
        for (int i = 1; i <= 3; ++i) {
            double d = i * 4.0;
            p.drawLine(QPointF(width() - d, height() - 1.5), QPointF(width() - 1.5, height() - d));
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        start_ = event->globalPosition().toPoint();
        startSize_ = window_->size();
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (event->buttons() & Qt::LeftButton) {
            window_->gripDragged(start_, startSize_, event->globalPosition().toPoint());
        }
        event->accept();
    }

private:
    RCCaptureWindow* window_;
    QPoint start_;
    QSize startSize_;
};

RCCaptureWindow::RCCaptureWindow(RCUserSettings& settings,
                                 std::unique_ptr<RCCaptureEngineControl> engine)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      controller_(std::make_unique<RCCaptureWindowController>(settings, std::move(engine))) {
    setObjectName("captureWindow");
    setWindowTitle("Pindle Capture");
    setAttribute(Qt::WA_QuitOnClose, false);
    // Through XWayland the shape's hole is not see-through on its own: the compositor shows
    // what a window's pixels say, so the hole's pixels must be transparent ones.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        setAttribute(Qt::WA_TranslucentBackground);
    }
    setMouseTracking(true);

    titleBar_ = new QWidget(this);
    logoButton_ = new PaintedButton(
        {22, 22},
        [](QPainter& p, const QRectF& box, bool) {
            theme::drawLogo(p, box.adjusted(3, 3, -3, -3));
        },
        titleBar_);
    logoButton_->setToolTip("Pindle Capture menu");
    logoButton_->setAccessibleName("Application menu");
    titleLabel_ = new QLabel("Pindle Capture", titleBar_);
    titleLabel_->setObjectName("dimLabel");
    minimizeButton_ = new PaintedButton(
        {24, 22},
        [](QPainter& p, const QRectF& box, bool hovered) {
            p.setPen(QPen(hovered ? theme::text() : theme::dimText(), 1.6));
            QPointF c = box.center();
            p.drawLine(c + QPointF(-5, 3), c + QPointF(5, 3));
        },
        titleBar_);
    minimizeButton_->setToolTip("Minimize");
    minimizeButton_->setAccessibleName("Minimize");
    closeButton_ = new PaintedButton(
        {24, 22},
        [](QPainter& p, const QRectF& box, bool hovered) {
            p.setPen(QPen(hovered ? theme::red().lighter(130) : theme::dimText(), 1.6));
            QPointF c = box.center();
            p.drawLine(c + QPointF(-4.5, -4.5), c + QPointF(4.5, 4.5));
            p.drawLine(c + QPointF(-4.5, 4.5), c + QPointF(4.5, -4.5));
        },
        titleBar_);
    closeButton_->setToolTip("Quit Pindle Capture");
    closeButton_->setAccessibleName("Close");
    auto* titleLayout = new QHBoxLayout(titleBar_);
    titleLayout->setContentsMargins(6, 2, 4, 2);
    titleLayout->setSpacing(6);
    titleLayout->addWidget(logoButton_);
    titleLayout->addWidget(titleLabel_);
    titleLayout->addStretch();
    titleLayout->addWidget(minimizeButton_);
    titleLayout->addWidget(closeButton_);

    controlStrip_ = new QWidget(this);
    captureButton_ = new RCCaptureButton(controlStrip_);
    captureButton_->setFixedSize(34, 34);
    captureLastButton_ = new RCCaptureLastButton(controlStrip_);
    captureLastButton_->setFixedSize(132, 26);
    captureLastButton_->hide();
    captureDimensionsLabel_ = new QPushButton(controlStrip_);
    captureDimensionsLabel_->setObjectName("sizeLabel");
    captureDimensionsLabel_->setCursor(Qt::PointingHandCursor);
    captureDimensionsLabel_->setToolTip("Set the region's size");
    captureDimensionsLabel_->setFocusPolicy(Qt::NoFocus);
    captureDimensionsLabel_->setMinimumWidth(0);
    gearButton_ = new PaintedButton(
        {28, 28},
        [](QPainter& p, const QRectF& box, bool hovered) {
            theme::drawGear(p, box.adjusted(6, 6, -6, -6),
                            hovered ? theme::text() : theme::dimText());
        },
        controlStrip_);
    gearButton_->setToolTip("Settings");
    gearButton_->setAccessibleName("Settings");
    resizeHandleView_ = new ResizeGrip(this);
    auto* stripLayout = new QHBoxLayout(controlStrip_);
    stripLayout->setContentsMargins(8, 4, 14, 4);
    stripLayout->setSpacing(8);
    stripLayout->addWidget(captureButton_);
    stripLayout->addWidget(captureLastButton_);
    stripLayout->addStretch();
    stripLayout->addWidget(captureDimensionsLabel_);
    stripLayout->addWidget(gearButton_);

    connect(captureButton_, &RCCaptureButton::captureButtonClicked, this,
            [this] { controller_->toggleCapture(); });
    connect(captureLastButton_, &RCCaptureLastButton::clicked, this,
            [this] { controller_->captureLastButtonClicked(); });
    connect(captureDimensionsLabel_, &QPushButton::clicked, this,
            &RCCaptureWindow::openCaptureSizeSheet);
    // The gear menu opens on mouse-down.
    connect(gearButton_, &QAbstractButton::pressed, this, &RCCaptureWindow::openGearMenu);
    connect(minimizeButton_, &QAbstractButton::clicked, this, &RCCaptureWindow::miniaturize);
    connect(closeButton_, &QAbstractButton::clicked, this, &RCCaptureWindow::requestQuit);
    countdownTimer_.setInterval(static_cast<int>(RCCaptureWindowController::kTickInterval.count()));
    connect(&countdownTimer_, &QTimer::timeout, this, [this] { controller_->countdownTick(); });

    resize(640 + static_cast<int>(chromeWidth()), 320 + static_cast<int>(chromeHeight()));
    controller_->windowDidLoad(this);
    loaded_ = true;
}

RCCaptureWindow::~RCCaptureWindow() {
    // The strip's controller goes first: it closes an open editor.
    libraryOwner_.reset();
    if (glassWindow_) {
        glassWindow_->close();
    }
}

void RCCaptureWindow::setLibraryView(QWidget* view, std::shared_ptr<void> owner) {
    libraryOwner_ = std::move(owner);
    QRect old = geometry();
    int oldLibrary = libraryHeight();
    libraryView_ = view;
    view->setParent(this);
    view->show();
    setGeometry(old.x(), old.y(), old.width(), old.height() - oldLibrary + libraryHeight());
    layoutParts();
}

void RCCaptureWindow::setApplicationMenu(QMenu* menu) {
    connect(logoButton_, &QAbstractButton::clicked, this, [this, menu] {
        menu->popup(logoButton_->mapToGlobal(QPoint(0, logoButton_->height() + 2)));
    });
}

int RCCaptureWindow::libraryHeight() const {
    return libraryView_ ? libraryView_->sizeHint().height() : 0;
}

QRect RCCaptureWindow::regionRect() const {
    int regionHeight = height() - libraryHeight() - kTitleBarHeight - kControlStripHeight;
    return QRect(kBorder, kTitleBarHeight, width() - 2 * kBorder, std::max(0, regionHeight));
}

void RCCaptureWindow::layoutParts() {
    QRect region = regionRect();
    titleBar_->setGeometry(0, 0, width(), kTitleBarHeight);
    controlStrip_->setGeometry(0, region.bottom() + 1, width(), kControlStripHeight);
    resizeHandleView_->move(
        width() - resizeHandleView_->width() - 1,
        region.bottom() + 1 + kControlStripHeight - resizeHandleView_->height() - 1);
    resizeHandleView_->raise();
    if (libraryView_) {
        libraryView_->setGeometry(0, height() - libraryHeight(), width(), libraryHeight());
    }
    updateShape();
}

void RCCaptureWindow::updateShape() {
    QRegion shape(rect());
    shape -= QRegion(regionRect());
    setMask(shape);
}

void RCCaptureWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), theme::background());
    QRect region = regionRect();
    p.fillRect(QRect(0, kTitleBarHeight - 1, width(), 1), theme::border());
    // A line around the hole marks the region; red while recording.
    QColor edge = appearance_.captureViewVisible ? QColor(0x6a, 0x6a, 0x72) : theme::red();
    p.setPen(Qt::NoPen);
    p.setBrush(edge);
    QRect outline = region.adjusted(-kBorder, -kBorder, kBorder, kBorder);
    p.drawRect(outline.left(), outline.top(), outline.width(), kBorder);
    p.drawRect(outline.left(), region.bottom() + 1, outline.width(), kBorder);
    p.drawRect(outline.left(), outline.top(), kBorder, outline.height());
    p.drawRect(region.right() + 1, outline.top(), kBorder, outline.height());
}

void RCCaptureWindow::resizeEvent(QResizeEvent*) {
    layoutParts();
    if (loaded_) {
        controller_->windowDidMoveOrResize();
    }
}

void RCCaptureWindow::moveEvent(QMoveEvent*) {
    if (loaded_) {
        controller_->windowDidMoveOrResize();
    }
}

void RCCaptureWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && appearance_.movable) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        setCursor(Qt::ClosedHandCursor);
    }
    event->accept();
}

void RCCaptureWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
    }
    event->accept();
}

void RCCaptureWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    unsetCursor();
    event->accept();
}

void RCCaptureWindow::closeEvent(QCloseEvent* event) {
    // Closing the capture window (title bar, window manager, Alt+F4) quits the program, which
    // saves first; a busy window refuses.
    event->ignore();
    requestQuit();
}

void RCCaptureWindow::requestQuit() {
    if (quit_) {
        quit_();
    }
}

void RCCaptureWindow::gripDragged(QPoint start, QSize startSize, QPoint now) {
    if (!appearance_.resizable) {
        return;
    }
    QPoint delta = now - start;
    int captureHeight = startSize.height() - libraryHeight() + delta.y();
    // The region keeps the size sheet's smallest size.
    double minWidth = RCCaptureSizeWindowController::kMinimumSize.width + chromeWidth();
    double minHeight = RCCaptureSizeWindowController::kMinimumSize.height + chromeHeight();
    Size proposed{std::max<double>(startSize.width() + delta.x(), minWidth),
                  std::max<double>(captureHeight, minHeight)};
    Size size = controller_->windowWillResize(proposed);
    resize(static_cast<int>(size.width), static_cast<int>(size.height) + libraryHeight());
}

void RCCaptureWindow::openCaptureSizeSheet() {
    if (sizeWindow_ || controller_->isCapturing()) {
        return;
    }
    sizeWindow_ = new RCCaptureSizeWindow(controller_->makeCaptureSizeWindowController(), this);
    sizeWindow_->open();
}

void RCCaptureWindow::showWindow() {
    show();
    raise();
    activateWindow();
}

bool RCCaptureWindow::isMiniaturized() const {
    return isMinimized();
}

void RCCaptureWindow::miniaturize() {
    showMinimized();
}

void RCCaptureWindow::deminiaturize() {
    showNormal();
    raise();
    activateWindow();
}

void RCCaptureWindow::openGearMenu() {
    if (openGearMenu_ && appearance_.gearButtonVisible) {
        openGearMenu_(gearButton_);
    }
}

Rect RCCaptureWindow::windowFrame() const {
    QRect frame = geometry();
    frame.setHeight(frame.height() - libraryHeight());
    return toGlobal(QRectF(frame));
}

Rect RCCaptureWindow::captureViewFrame() const {
    QRect region = regionRect();
    return toGlobal(QRectF(QRect(mapToGlobal(region.topLeft()), region.size())));
}

void RCCaptureWindow::setWindowFrame(const Rect& frame, bool) {
    QRect target = fromGlobal(frame).toRect();
    target.setHeight(target.height() + libraryHeight());
    setGeometry(target);
}

std::vector<Rect> RCCaptureWindow::displayFrames() const {
    return globalScreenFrames();
}

void RCCaptureWindow::showDimensionsText(const std::string& text) {
    captureDimensionsLabel_->setText(QString::fromStdString(text));
}

void RCCaptureWindow::applyAppearance(const RCCaptureWindowAppearance& appearance) {
    appearance_ = appearance;
    for (QWidget* part :
         {static_cast<QWidget*>(logoButton_), static_cast<QWidget*>(titleLabel_),
          static_cast<QWidget*>(minimizeButton_), static_cast<QWidget*>(closeButton_)}) {
        part->setVisible(appearance.titleBarVisible);
    }
    gearButton_->setVisible(appearance.gearButtonVisible);
    resizeHandleView_->setVisible(appearance.resizable);
    captureButton_->setIsCapturing(appearance.recordButtonCapturing);
    captureLastButton_->setVisible(appearance.captureLastButtonVisible);
    if (!appearance.movable) {
        dragging_ = false;
    }
    if (libraryView_) {
        libraryView_->setEnabled(appearance.captureViewVisible);
    }
    if (appearance.dimmedGlassFrame && !glassWindow_) {
        // Without a compositing manager the glass would paint the screen black: leave the
        // screen undimmed then.
        if (RCCaptureGlassWindow::canDrawTranslucency()) {
            QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
            glassWindow_ = new RCCaptureGlassWindow(
                screen->geometry(), fromGlobal(*appearance.dimmedGlassFrame), frameGeometry());
            glassWindow_->show();
            raise();
        }
    } else if (!appearance.dimmedGlassFrame && glassWindow_) {
        glassWindow_->close();
    }
    update();
}

void RCCaptureWindow::captureLastButtonChanged(const RCCaptureLastButtonModel& model) {
    captureLastButton_->showModel(model);
}

void RCCaptureWindow::setCountdownTimerRunning(bool running) {
    if (running) {
        countdownTimer_.start();
    } else {
        countdownTimer_.stop();
    }
}

}  // namespace pindle::ui
