#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "base/geometry.h"

namespace pindle::test {

// A private X server (Xvfb with RandR) for the length of a test. The display number is
// the one Xvfb picks itself (-displayfd), so tests may run side by side.
class Xvfb {
public:
    explicit Xvfb(const std::string& screen = "1920x1080x24");
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    bool isRunning() const { return !display_.empty(); }
    // Ends the server now, as when an X session goes away; display() keeps its name.
    void stop();
    // ":N"
    const std::string& display() const { return display_; }

private:
    int pid_ = -1;
    std::string display_;
};

// A window that fills a rectangle of root pixels (origin top-left) and is repainted about
// 120 times a second: a red band along its top edge (height / 16 pixels), and below it a white
// bar that moves across stripes of blue, so every frame differs from the one before it.
class MovingContent {
public:
    struct PixelArea {
        int x, y, width, height;
    };
    // detailed: instead of stripes and a bar, the whole area is repainted with 8 x 8 tiles of
    // random colours, content an encoder needs many bits for (benchmarks use it).
    MovingContent(const std::string& display, PixelArea area, bool detailed = false);
    ~MovingContent();
    MovingContent(const MovingContent&) = delete;
    MovingContent& operator=(const MovingContent&) = delete;

    bool isShowing() const { return showing_; }
    // Repaints done so far.
    long repaints() const { return repaints_; }

private:
    void run(const std::string& display, PixelArea area, bool detailed);

    std::atomic<bool> stop_{false};
    std::atomic<bool> showing_{false};
    std::atomic<long> repaints_{0};
    std::thread thread_;
};

// The colour (0xRRGGBB) of one pixel of the root window as the screen shows it; 0xffffffff
// when it cannot be read.
uint32_t rootPixel(const std::string& display, int x, int y);

// A clock a recording can be read by: a window over area, and margin pixels around it, whose
// top half of area holds kBits bars, kOne for a 1 and kZero for a 0, giving the milliseconds
// since the pattern appeared (most significant bit leftmost); everything else is
// kBackground. It lies below every other window, and is repainted every few milliseconds,
// each time in one request, so a grab never sees half a number.
class ClockPattern {
public:
    static constexpr int kBits = 16;
    static constexpr uint32_t kZero = 0x0000ffu;        // blue
    static constexpr uint32_t kOne = 0xffff00u;         // yellow
    static constexpr uint32_t kBackground = 0x00c000u;  // green

    ClockPattern(const std::string& display, MovingContent::PixelArea area, int margin);
    ~ClockPattern();
    ClockPattern(const ClockPattern&) = delete;
    ClockPattern& operator=(const ClockPattern&) = delete;

    bool isShowing() const { return showing_; }
    // The pattern's clock now, in milliseconds.
    int64_t now() const;

private:
    void run(const std::string& display, MovingContent::PixelArea area, int margin);

    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::atomic<bool> stop_{false};
    std::atomic<bool> showing_{false};
    std::thread thread_;
};

// Polls condition every 50 ms until it holds or timeout passes; its last answer.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

}  // namespace pindle::test
