#include "upload/Scheduler.h"

#include "base/dispatch.h"

namespace pindle {

Scheduler mainQueueScheduler() {
    return [](std::chrono::milliseconds delay, std::function<void()> task) {
        dispatch::after(delay, dispatch::mainQueue(), std::move(task));
    };
}

}  // namespace pindle
