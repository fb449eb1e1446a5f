#include "platform/qt/qt_desktop.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "base/dispatch.h"
#include "platform/desktop.h"

namespace pindle::qt {

void installURLOpener() {
    desktop::setURLOpener([](const std::string& url) {
        QUrl address(QString::fromStdString(url));
        if (!address.isValid()) {
            return false;
        }
        bool opened = false;
        dispatch::mainQueue()->sync([&] { opened = QDesktopServices::openUrl(address); });
        return opened;
    });
}

}  // namespace pindle::qt
