#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "platform/qt/main_queue_driver.h"
#include "xvfb_support.h"

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

// The main of a program whose tests drive widgets in its own process: a private X server
// with the given screen ("WxHxDEPTH"), DISPLAY and Qt's X platform set for it, and a
// QApplication whose loop drives the main queue. setUp runs once the application exists; its
// false, or an X server that does not start, ends the program with status 1. Listing the
// tests needs neither.
inline int runWidgetTests(int argc, char** argv, const std::string& screen,
                          const std::function<bool()>& setUp = {}) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    Xvfb server(screen);
    if (!server.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    qt::installMainQueueDriver();
    if (setUp && !setUp()) {
        return 1;
    }
    return RUN_ALL_TESTS();
}

}  // namespace pindle::test
