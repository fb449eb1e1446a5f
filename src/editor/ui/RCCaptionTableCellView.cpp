#include "editor/ui/RCCaptionTableCellView.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "editor/ui/RCRangeSliderView.h"
#include "ui/PaintedButton.h"
#include "ui/Theme.h"

namespace pindle::ui {

namespace {

// The row's columns, left to right.
constexpr int kHandleWidth = 22;
constexpr int kTextLeft = kHandleWidth + 4;
constexpr int kTextWidth = 190;
constexpr int kSliderLeft = kTextLeft + kTextWidth + 8;
constexpr int kDeleteWidth = 26;
constexpr int kSliderHeight = 26;

// Six dots: where a row is taken to be dragged.
class DragHandle : public QWidget {
public:
    DragHandle(std::function<void()> dragged, QWidget* parent)
        : QWidget(parent), dragged_(std::move(dragged)) {
        setObjectName("captionDragHandle");
        setCursor(Qt::OpenHandCursor);
        setToolTip("Drag to change the order of the captions");
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(underMouse() ? theme::text() : theme::dimText());
        QPointF centre = QRectF(rect()).center();
        for (int column = -1; column <= 1; column += 2) {
            for (int line = -1; line <= 1; ++line) {
                p.drawEllipse(centre + QPointF(column * 3, line * 5), 1.6, 1.6);
            }
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        pressedAt_ = event->position().toPoint();
        pressed_ = event->button() == Qt::LeftButton;
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (pressed_ && (event->position().toPoint() - pressedAt_).manhattanLength() >=
                            QApplication::startDragDistance()) {
            pressed_ = false;
            dragged_();
        }
    }
    void mouseReleaseEvent(QMouseEvent*) override { pressed_ = false; }

private:
    std::function<void()> dragged_;
    QPoint pressedAt_;
    bool pressed_ = false;
};

// Covers an inactive row: dims it and turns a click anywhere on it into selecting the row.
class DisabledGlass : public QWidget {
public:
    DisabledGlass(std::function<void()> clicked, QWidget* parent)
        : QWidget(parent), clicked_(std::move(clicked)) {
        setObjectName("captionDisabledGlass");
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor(0x26, 0x26, 0x28, 128));
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            clicked_();
        }
    }

private:
    std::function<void()> clicked_;
};

}  // namespace

RCCaptionTableCellView::RCCaptionTableCellView(int row, QWidget* parent)
    : QWidget(parent), row_(row) {
    setObjectName("captionRow");
    setFixedHeight(kHeight);

    handle_ = new DragHandle([this] { emit dragRequested(row_); }, this);
    text_ = new QLabel(this);
    text_->setObjectName("captionTextPreview");
    text_->setStyleSheet(QString("color: %1;").arg(theme::text().name()));
    sliderView_ = new RCRangeSliderView(slider_, this);
    sliderView_->setObjectName("captionTimeRangeSlider");
    sliderView_->setFixedHeight(kSliderHeight);
    sliderView_->setMinimumWidth(40);
    connect(sliderView_, &RCRangeSliderView::sliderChanged, this,
            [this](RCRangeSlider::Part part, bool mouseDown) {
                emit rangeChanged(row_, slider_.lowerValue(), slider_.upperValue(), part,
                                  mouseDown);
            });
    auto* remove = new PaintedButton(
        QSize(kDeleteWidth - 4, kDeleteWidth - 4),
        [this](QPainter& p, const QRectF& box, bool hovered) {
            QRectF mark = box.adjusted(7, 7, -7, -7);
            QColor colour = !isEnabled() ? theme::border()
                            : hovered    ? theme::red()
                                         : theme::dimText();
            p.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(mark.topLeft(), mark.bottomRight());
            p.drawLine(mark.topRight(), mark.bottomLeft());
        },
        this);
    remove->setObjectName("captionDeleteButton");
    remove->setToolTip("Delete this caption");
    connect(remove, &QAbstractButton::clicked, this, [this] { emit deleteClicked(row_); });
    deleteButton_ = remove;
    glass_ = new DisabledGlass([this] { emit selectClicked(row_); }, this);
    glass_->hide();
}

double RCCaptionTableCellView::timelineLeft() {
    return kSliderLeft + RCRangeSliderView::trackLeft();
}

double RCCaptionTableCellView::timelineWidth(int width) {
    int sliderWidth = std::max(40, width - kSliderLeft - kDeleteWidth - 4);
    return std::max(1.0, double(sliderWidth - 2 * RCRangeSliderView::trackLeft()));
}

void RCCaptionTableCellView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    int w = width();
    int h = height();
    handle_->setGeometry(0, 0, kHandleWidth, h);
    text_->setGeometry(kTextLeft, 0, kTextWidth, h);
    int sliderWidth = std::max(40, w - kSliderLeft - kDeleteWidth - 4);
    sliderView_->setGeometry(kSliderLeft, (h - kSliderHeight) / 2, sliderWidth, kSliderHeight);
    deleteButton_->move(w - kDeleteWidth + 1, (h - deleteButton_->height()) / 2);
    glass_->setGeometry(kHandleWidth, 0, w - kHandleWidth, h);
    if (glass_->isVisible()) {
        glass_->raise();
    }
}

void RCCaptionTableCellView::setText(const QString& text) {
    if (text_->text() != text) {
        text_->setText(text);
    }
}

void RCCaptionTableCellView::setRange(double lower, double upper) {
    if (isDraggingRange()) {
        return;
    }
    slider_.setLowerValue(lower);
    slider_.setUpperValue(upper);
    sliderView_->update();
}

void RCCaptionTableCellView::setRowEnabled(bool enabled) {
    enabled_ = enabled;
    deleteButton_->setEnabled(enabled);
    glass_->setVisible(!enabled);
    if (!enabled) {
        glass_->raise();
    }
}

void RCCaptionTableCellView::cancelRangeDrag() {
    sliderView_->cancelDrag();
}

bool RCCaptionTableCellView::isDraggingRange() const {
    return sliderView_->draggedPart() != RCRangeSlider::Part::none;
}

}  // namespace pindle::ui
