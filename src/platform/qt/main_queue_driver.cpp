#include "platform/qt/main_queue_driver.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>

#include "base/dispatch.h"

namespace pindle::qt {

void installMainQueueDriver() {
    // One wake-up in flight at a time is enough: it drains everything queued before it runs.
    static std::atomic<bool> wakeupPending{false};
    dispatch::setMainQueueWakeup([] {
        if (wakeupPending.exchange(true)) {
            return;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [] {
                wakeupPending = false;
                dispatch::drainMainQueue();
            },
            Qt::QueuedConnection);
    });
    dispatch::drainMainQueue();
}

}  // namespace pindle::qt
