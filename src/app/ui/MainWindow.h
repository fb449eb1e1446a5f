#pragma once

#include <QMainWindow>

namespace pindle {

// The application's window until the capture window takes its place.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
};

}  // namespace pindle
