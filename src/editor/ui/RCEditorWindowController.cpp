#include "editor/ui/RCEditorWindowController.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSizeGrip>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <limits>

#include "editor/ui/RCEditorCaptionsViewController.h"
#include "editor/ui/RCEditorOptionsViewController.h"
#include "editor/ui/RCEditorPlayerView.h"
#include "ui/PaintedButton.h"
#include "ui/ScreenGeometry.h"
#include "ui/Theme.h"

namespace pindle::ui {

namespace {

constexpr int kTitleBarHeight = 30;
// Room kept between the editor and the capture window when it opens beside it.
constexpr int kSpacing = 8;

const char* const kTabStyle =
    "QPushButton { background: transparent; border: none; border-bottom: 2px solid "
    "transparent; padding: 6px 14px; color: #a0a0a8; font-weight: bold; }"
    "QPushButton:checked { color: #ececee; border-bottom: 2px solid #8e4df0; }";

}  // namespace

RCEditorWindowController::RCEditorWindowController(RCRecordingPtr recording,
                                                   RCEditorWindowDelegate& delegate,
                                                   RCEditorEnvironment environment, QWidget* anchor)
    // A dialog-type window, so that the window manager keeps it with the capture window it
    // belongs to (its transient parent), in front of it.
    : QWidget(nullptr, (anchor ? Qt::Dialog : Qt::Window) | Qt::FramelessWindowHint),
      recording_(std::move(recording)),
      delegate_(delegate),
      environment_(std::move(environment)),
      anchor_(anchor) {
    setObjectName("darkPanel");
    setAttribute(Qt::WA_StyledBackground);
    setFocusPolicy(Qt::StrongFocus);
    setWindowTitle("Editor — Pindle Capture");

    playerView_ = makeEditorPlayerView(recording_, this);
    playerView_->setObjectName("playerView");
    playerView_->setMuted(true);
    playerView_->play();

    optionsTab_ = new QPushButton("Options");
    captionsTab_ = new QPushButton("Captions");
    for (QPushButton* tab : {optionsTab_, captionsTab_}) {
        tab->setCheckable(true);
        tab->setFocusPolicy(Qt::NoFocus);
        tab->setCursor(Qt::PointingHandCursor);
        tab->setStyleSheet(kTabStyle);
    }
    optionsTab_->setObjectName("optionsTab");
    captionsTab_->setObjectName("captionsTab");
    connect(optionsTab_, &QPushButton::clicked, this, &RCEditorWindowController::showOptionsView);
    connect(captionsTab_, &QPushButton::clicked, this, &RCEditorWindowController::showCaptionsView);

    options_ = new RCEditorOptionsViewController(recording_, playerView_, environment_, this);
    captions_ = new RCEditorCaptionsViewController(recording_, playerView_, environment_);
    captionsView_ = captions_;
    togglePlayPause_ = [this] {
        if (captions_) {
            captions_->togglePlayPause();
        }
    };
    tabs_ = new QStackedWidget;
    tabs_->addWidget(options_);
    tabs_->addWidget(captionsView_);
    connect(options_, &RCEditorOptionsViewController::sheetShown, this,
            &RCEditorWindowController::setDimmed);

    auto* tabBar = new QHBoxLayout;
    tabBar->setContentsMargins(12, 0, 12, 0);
    tabBar->setSpacing(4);
    tabBar->addWidget(optionsTab_);
    tabBar->addWidget(captionsTab_);
    tabBar->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    titleBar_ = makeTitleBar();
    layout->addWidget(titleBar_);
    auto* preview = new QVBoxLayout;
    preview->setContentsMargins(12, 4, 12, 8);
    preview->addWidget(playerView_, 1);
    layout->addLayout(preview, 1);
    layout->addLayout(tabBar);
    auto* rule = new QWidget;
    rule->setFixedHeight(1);
    rule->setStyleSheet(QString("background: %1;").arg(theme::border().name()));
    layout->addWidget(rule);
    layout->addWidget(tabs_);
    auto* grip = new QSizeGrip(this);
    grip->setObjectName("resizeGrip");
    layout->addWidget(grip, 0, Qt::AlignRight | Qt::AlignBottom);

    dimmer_ = new QWidget(this);
    dimmer_->setObjectName("sheetDimmer");
    dimmer_->setStyleSheet("background: rgba(0, 0, 0, 110);");
    dimmer_->hide();

    showOptionsView();

    auto& center = NotificationCenter::defaultCenter();
    auto observe = [&](const std::string& name, std::function<void()> handler) {
        if (!name.empty()) {
            observers_.push_back(center.addObserver(
                name, nullptr, [handler = std::move(handler)](const Notification&) { handler(); }));
        }
    };
    QPointer<RCEditorWindowController> self(this);
    observe(environment_.captureStartNotification, [self] {
        if (self) {
            self->setCaptureRunning(true);
        }
    });
    observe(environment_.captureStopNotification, [self] {
        if (self) {
            self->setCaptureRunning(false);
        }
    });
    observe(environment_.watermarkUpdateNotification, [self] {
        if (self) {
            self->playerView_->reloadLayers();
            self->options_->watermarkChanged();
        }
    });
    setCaptureRunning(environment_.isCapturing && environment_.isCapturing());
    adjustSize();
}

RCEditorWindowController::~RCEditorWindowController() = default;

QWidget* RCEditorWindowController::makeTitleBar() {
    auto* bar = new QWidget;
    bar->setObjectName("editorTitleBar");
    bar->setFixedHeight(kTitleBarHeight);
    auto* title = new QLabel(windowTitle());
    title->setObjectName("dimLabel");
    title->setAlignment(Qt::AlignCenter);
    auto* closeButton = new PaintedButton(
        QSize(22, 22),
        [](QPainter& p, const QRectF& box, bool hovered) {
            QRectF mark = box.adjusted(7, 7, -7, -7);
            p.setPen(
                QPen(hovered ? theme::text() : theme::dimText(), 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(mark.topLeft(), mark.bottomRight());
            p.drawLine(mark.topRight(), mark.bottomLeft());
        },
        bar);
    closeButton->setObjectName("closeButton");
    closeButton->setToolTip("Close");
    connect(closeButton, &QAbstractButton::clicked, this, [this] { close(); });
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(8, 4, 8, 0);
    layout->addWidget(closeButton);
    layout->addWidget(title, 1);
    layout->addSpacing(closeButton->width());
    bar->installEventFilter(this);
    title->installEventFilter(this);
    return bar;
}

bool RCEditorWindowController::eventFilter(QObject* watched, QEvent* event) {
    // The title bar moves the window, through the window manager.
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void RCEditorWindowController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    dimmer_->setGeometry(rect());
}

void RCEditorWindowController::setDimmed(bool dimmed) {
    dimmer_->setGeometry(rect());
    dimmer_->setVisible(dimmed);
    if (dimmed) {
        dimmer_->raise();
    }
}

void RCEditorWindowController::showTab(int index) {
    bool captionsWereShowing = tabs_->currentWidget() == captionsView_ && captionsView_;
    tabs_->setCurrentIndex(index);
    if (captions_) {
        if (index == 1) {
            captions_->tabShown();
        } else if (captionsWereShowing) {
            captions_->tabHidden();
        }
    }
    optionsTab_->setChecked(index == 0);
    captionsTab_->setChecked(index == 1);
}

void RCEditorWindowController::showOptionsView() {
    showTab(0);
}

void RCEditorWindowController::showCaptionsView() {
    showTab(1);
}

RCEditorCaptionsViewController* RCEditorWindowController::captionsViewController() const {
    return captions_;
}

bool RCEditorWindowController::optionsViewIsShowing() const {
    return tabs_->currentIndex() == 0;
}

bool RCEditorWindowController::captionsViewIsShowing() const {
    return tabs_->currentIndex() == 1;
}

void RCEditorWindowController::setCaptionsView(QWidget* view,
                                               std::function<void()> togglePlayPause) {
    bool showing = captionsViewIsShowing();
    if (captions_ && captions_ == captionsView_) {
        if (showing) {
            captions_->tabHidden();
        }
        captions_->prepareForClose();
    }
    tabs_->removeWidget(captionsView_);
    captionsView_->deleteLater();
    captionsView_ = view;
    captions_ = qobject_cast<RCEditorCaptionsViewController*>(view);
    tabs_->addWidget(view);
    togglePlayPause_ = std::move(togglePlayPause);
    showTab(showing ? 1 : 0);
}

void RCEditorWindowController::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        // The space bar plays and pauses the captions editor's preview, and only there.
        if (captionsViewIsShowing() && togglePlayPause_) {
            togglePlayPause_();
        }
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Close)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void RCEditorWindowController::setCaptureRunning(bool running) {
    if (running == aboveOthers_) {
        return;
    }
    aboveOthers_ = running;
    bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, running);
    // Changing the flags hides a shown window.
    if (visible) {
        show();
    }
}

void RCEditorWindowController::placeInFrontOfAnchor() {
    QScreen* screen = anchor_ ? anchor_->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    QRect available = screen->availableGeometry();
    QSize size = frameSize().boundedTo(available.size());
    resize(size);
    if (!anchor_) {
        move(available.center() - rect().center());
        return;
    }
    // Beside the capture window where there is room (below, above, right, left), so that
    // neither hides the other. Always wholly on its screen.
    QRect anchor = anchor_->frameGeometry();
    int centredX = anchor.center().x() - size.width() / 2;
    int centredY = anchor.center().y() - size.height() / 2;
    const QPoint candidates[] = {
        {centredX, anchor.bottom() + 1 + kSpacing},
        {centredX, anchor.top() - kSpacing - size.height()},
        {anchor.right() + 1 + kSpacing, centredY},
        {anchor.left() - kSpacing - size.width(), centredY},
    };
    auto clampedInto = [&](QPoint origin) {
        origin.setX(std::clamp(origin.x(), available.left(), available.right() + 1 - size.width()));
        origin.setY(
            std::clamp(origin.y(), available.top(), available.bottom() + 1 - size.height()));
        return origin;
    };
    // Where no place is free, the one that hides least of the capture window.
    QPoint best = clampedInto({centredX, centredY});
    qint64 leastHidden = std::numeric_limits<qint64>::max();
    for (QPoint candidate : candidates) {
        QPoint inside = clampedInto(candidate);
        QRect hidden = QRect(inside, size).intersected(anchor);
        qint64 area = hidden.isEmpty() ? 0 : qint64(hidden.width()) * hidden.height();
        if (area < leastHidden) {
            leastHidden = area;
            best = inside;
        }
    }
    move(best);
}

Rect RCEditorWindowController::windowFrame() const {
    return toGlobal(QRectF(geometry()));
}

void RCEditorWindowController::setWindowFrame(const Rect& frame) {
    setGeometry(fromGlobal(frame).toRect());
    placed_ = true;
}

void RCEditorWindowController::showWindow() {
    if (!placed_) {
        placeInFrontOfAnchor();
        placed_ = true;
    }
    if (anchor_) {
        // Kept in front of the capture window, which stays above ordinary windows.
        winId();
        if (QWindow* handle = windowHandle(); handle && anchor_->windowHandle()) {
            handle->setTransientParent(anchor_->windowHandle());
        }
    }
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
    if (captions_) {
        captions_->prepareForClose();
    }
    options_->prepareForClose();
    delegate_.editorWindowControllerWillClose(this);
    hide();
}

void RCEditorWindowController::closeEvent(QCloseEvent* event) {
    // Closed by the user: the library forgets the editor, which deletes it later.
    event->ignore();
    close();
}

}  // namespace pindle::ui
