#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <thread>

namespace pindle::test {

// Processes Qt events until condition holds or limit passes; its last answer. For tests
// that drive widgets in their own process.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(3)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace pindle::test
