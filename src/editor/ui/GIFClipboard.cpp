#include "editor/ui/GIFClipboard.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace pindle::ui {

QMimeData* makeGIFMimeData(const std::filesystem::path& gif) {
    QFile file(QString::fromStdString(gif.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setData("image/gif", bytes);
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(gif.string()))});
    return data;
}

}  // namespace pindle::ui
