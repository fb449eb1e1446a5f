#include "xvfb_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace pindle::test {

namespace {

// Waits, five seconds at most, for a drawing thread to have shown its first picture.
void waitUntilShowing(const std::atomic<bool>& showing) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!showing && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Maps a window of one colour that the window manager leaves alone (override-redirect).
xcb_window_t mapPlainWindow(xcb_connection_t* c, xcb_screen_t* screen, int x, int y, int width,
                            int height, uint32_t background) {
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {background, 1};  // background, override-redirect
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, int16_t(x), int16_t(y),
                      uint16_t(width), uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, window);
    return window;
}

}  // namespace

Xvfb::Xvfb(const std::string& screen) {
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    const std::string fdText = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", screen.c_str(),
               "+extension", "RANDR", "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        number.push_back(c);
    }
    close(fds[0]);
    if (!number.empty()) {
        display_ = ":" + number;
    }
}

Xvfb::~Xvfb() {
    stop();
}

void Xvfb::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

MovingContent::MovingContent(const std::string& display, PixelArea area, bool detailed) {
    thread_ = std::thread([this, display, area, detailed] { run(display, area, detailed); });
    waitUntilShowing(showing_);
}

MovingContent::~MovingContent() {
    stop_ = true;
    thread_.join();
}

void MovingContent::run(const std::string& display, PixelArea area, bool detailed) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c) != 0) {
        xcb_disconnect(c);
        return;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window =
        mapPlainWindow(c, screen, area.x, area.y, area.width, area.height, screen->black_pixel);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip
    showing_ = true;

    const int barWidth = std::max(8, area.width / 10);
    long frame = 0;
    std::vector<std::vector<xcb_rectangle_t>> tiles(16);
    uint32_t seed = 12345;
    while (!stop_ && detailed) {
        for (auto& group : tiles) {
            group.clear();
        }
        for (int y = 0; y < area.height; y += 8) {
            for (int x = 0; x < area.width; x += 8) {
                seed = seed * 1664525u + 1013904223u;
                tiles[seed >> 28].push_back({int16_t(x), int16_t(y), 8, 8});
            }
        }
        for (uint32_t colour = 0; colour < tiles.size(); ++colour) {
            const uint32_t pixel = colour * 0x0f1f2fu ^ 0x336699u;
            xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &pixel);
            xcb_poly_fill_rectangle(c, window, gc, uint32_t(tiles[colour].size()),
                                    tiles[colour].data());
        }
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip
        repaints_ = ++frame;
        std::this_thread::sleep_for(std::chrono::microseconds(8000));
    }
    while (!stop_) {
        // A red band along the top edge, stripes in shades of blue below it, and a white bar
        // under the band at a position that moves each repaint.
        const int stripe = std::max(4, area.height / 16);
        for (int y = 0, i = 0; y < area.height; y += stripe, ++i) {
            const uint32_t colour = i == 0 ? 0xff0000u : (i % 2 == 0) ? 0x203060u : 0x4060a0u;
            xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
            const xcb_rectangle_t band{0, int16_t(y), uint16_t(area.width), uint16_t(stripe)};
            xcb_poly_fill_rectangle(c, window, gc, 1, &band);
        }
        const uint32_t white = 0xffffffu;
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &white);
        const int x = int((frame * 7) % std::max(1, area.width - barWidth));
        const xcb_rectangle_t bar{int16_t(x), int16_t(stripe), uint16_t(barWidth),
                                  uint16_t(std::max(1, area.height - stripe))};
        xcb_poly_fill_rectangle(c, window, gc, 1, &bar);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip
        ++frame;
        repaints_ = frame;
        std::this_thread::sleep_for(std::chrono::microseconds(8000));
    }
    xcb_disconnect(c);
}

uint32_t rootPixel(const std::string& display, int x, int y) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    uint32_t pixel = 0xffffffffu;
    if (xcb_connection_has_error(c) == 0) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_get_image_reply_t* reply =
            xcb_get_image_reply(c,
                                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root,
                                              int16_t(x), int16_t(y), 1, 1, ~0u),
                                nullptr);
        if (reply != nullptr && xcb_get_image_data_length(reply) >= 4) {
            const uint8_t* data = xcb_get_image_data(reply);
            pixel = uint32_t(data[2]) << 16 | uint32_t(data[1]) << 8 | data[0];  // BGRX
        }
        free(reply);
    }
    xcb_disconnect(c);
    return pixel;
}

ClockPattern::ClockPattern(const std::string& display, MovingContent::PixelArea area, int margin) {
    thread_ = std::thread([this, display, area, margin] { run(display, area, margin); });
    waitUntilShowing(showing_);
}

ClockPattern::~ClockPattern() {
    stop_ = true;
    thread_.join();
}

int64_t ClockPattern::now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

void ClockPattern::run(const std::string& display, MovingContent::PixelArea area, int margin) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c) != 0) {
        xcb_disconnect(c);
        return;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window =
        mapPlainWindow(c, screen, area.x - margin, area.y - margin, area.width + 2 * margin,
                       area.height + 2 * margin, kBackground);
    // Below every other window, as a desktop background: windows over it hide it.
    const uint32_t below = XCB_STACK_MODE_BELOW;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &below);
    // The bars are drawn off screen and copied onto the window in one request.
    const int codeHeight = area.height / 2;
    const xcb_pixmap_t code = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, code, window, uint16_t(area.width),
                      uint16_t(codeHeight));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip
    showing_ = true;

    while (!stop_) {
        const auto value = uint32_t(now()) & ((1u << kBits) - 1);
        std::vector<xcb_rectangle_t> bars[2];
        for (int bit = 0; bit < kBits; ++bit) {
            const int x0 = bit * area.width / kBits;
            const int x1 = (bit + 1) * area.width / kBits;
            bars[(value >> (kBits - 1 - bit)) & 1u].push_back(
                {int16_t(x0), 0, uint16_t(x1 - x0), uint16_t(codeHeight)});
        }
        for (uint32_t one = 0; one < 2; ++one) {
            const uint32_t colour = one != 0 ? kOne : kZero;
            xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
            xcb_poly_fill_rectangle(c, code, gc, uint32_t(bars[one].size()), bars[one].data());
        }
        xcb_copy_area(c, code, window, gc, 0, 0, int16_t(margin), int16_t(margin),
                      uint16_t(area.width), uint16_t(codeHeight));
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    xcb_disconnect(c);
}

}  // namespace pindle::test
