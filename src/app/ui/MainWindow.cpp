#include "app/ui/MainWindow.h"

#include <QLabel>

namespace pindle {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle("Pindle Capture");
    auto* label = new QLabel("Pindle Capture", this);
    label->setAlignment(Qt::AlignCenter);
    setCentralWidget(label);
    resize(640, 320);
}

}  // namespace pindle
