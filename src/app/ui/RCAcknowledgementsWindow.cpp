#include "app/ui/RCAcknowledgementsWindow.h"

#include <QFile>

#include "base/log.h"

namespace pindle::ui {

RCAcknowledgementsWindow::RCAcknowledgementsWindow() {
    setWindowTitle("Acknowledgements — Pindle Capture");
    setOpenExternalLinks(true);
    setReadOnly(true);
    document()->setDocumentMargin(18);
    resize(620, 640);
    QFile file(":/pindle/Acknowledgements.markdown");
    if (!file.open(QIODevice::ReadOnly)) {
        PINDLE_LOG_ERROR("app", "Unable to load Acknowledgements.markdown file");
        return;
    }
    setMarkdown(QString::fromUtf8(file.readAll()));
}

}  // namespace pindle::ui
