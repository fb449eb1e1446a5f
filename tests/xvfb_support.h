#pragma once

#include <atomic>
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

}  // namespace pindle::test
