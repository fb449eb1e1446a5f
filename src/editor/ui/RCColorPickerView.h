#pragma once

#include <QColor>
#include <QWidget>

#include <vector>

namespace pindle::ui {

// A row of round colour swatches; the selected one is ringed. Clicking a swatch selects it,
// as do the left and right arrow keys while the picker has the keyboard.
class RCColorPickerView : public QWidget {
    Q_OBJECT

public:
    explicit RCColorPickerView(std::vector<QColor> colors, QWidget* parent = nullptr);

    const std::vector<QColor>& colors() const { return colors_; }
    // -1: none selected.
    int selectedIndex() const { return selected_; }
    void setSelectedIndex(int index);
    // The centre of swatch index, for whoever needs to point at it.
    QPoint swatchCenter(int index) const;

    QSize sizeHint() const override;

signals:
    void colorSelected(int index);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent*) override { update(); }
    void focusOutEvent(QFocusEvent*) override { update(); }

private:
    std::vector<QColor> colors_;
    int selected_ = -1;
};

}  // namespace pindle::ui
