// A small window that accepts file drops, for the end-to-end test of dragging a GIF out of
// the editor. It prints "ready" once shown, then one line per drop: "drop <path>" for each
// local file, and "gif <bytes>" when the drop also offered image/gif; it quits after a drop.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class DropTarget : public QWidget {
public:
    DropTarget() {
        setAcceptDrops(true);
        setWindowTitle("drop target");
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls()) {
            event->acceptProposedAction();
        }
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        for (const QUrl& url : event->mimeData()->urls()) {
            std::printf("drop %s\n", url.toLocalFile().toUtf8().constData());
        }
        if (event->mimeData()->hasFormat("image/gif")) {
            std::printf("gif %lld\n",
                        static_cast<long long>(event->mimeData()->data("image/gif").size()));
        }
        std::fflush(stdout);
        event->acceptProposedAction();
        QTimer::singleShot(0, qApp, &QApplication::quit);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    DropTarget window;
    window.setGeometry(1000, 100, 240, 240);
    window.show();
    QTimer::singleShot(500, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    QTimer::singleShot(60000, &app, &QApplication::quit);
    return QApplication::exec();
}
