#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/x11/frame_overlay.h"
#include "platform/x11/x11_capture.h"
#include "platform/x11/x11_geometry.h"
#include "xvfb_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;
using namespace x11;

TEST(X11Geometry, MonitorsBecomeScreensInGlobalPointsPrimaryFirst) {
    // A 1280x1024 monitor left of the 1920x1080 primary, tops aligned; a third below the
    // primary.
    const std::vector<Monitor> monitors = {
        {7, {0, 0, 1280, 1024}, false, "left"},
        {8, {1280, 0, 1920, 1080}, true, "primary"},
        {9, {1280, 1080, 1920, 1080}, false, "below"},
    };
    const auto screens = screensForMonitors(monitors, 1.0);
    ASSERT_EQ(screens.size(), 3u);
    EXPECT_EQ(screens[0].displayID, 8u);
    EXPECT_EQ(screens[0].frame, (Rect{{0, 0}, {1920, 1080}}));
    EXPECT_EQ(screens[1].frame, (Rect{{-1280, 56}, {1280, 1024}}));
    EXPECT_EQ(screens[2].frame, (Rect{{0, -1080}, {1920, 1080}}));
    // At two pixels per point every frame halves.
    EXPECT_EQ(screensForMonitors(monitors, 2.0)[1].frame, (Rect{{-640, 28}, {640, 512}}));

    // Points from the primary's top-left, y down.
    EXPECT_EQ(monitorsContaining(monitors, {10, 10}, 1.0), std::vector<DisplayID>{8});
    EXPECT_EQ(monitorsContaining(monitors, {-10, 10}, 1.0), std::vector<DisplayID>{7});
    EXPECT_EQ(monitorsContaining(monitors, {10, 1090}, 1.0), std::vector<DisplayID>{9});
    EXPECT_TRUE(monitorsContaining(monitors, {-10, 1050}, 1.0).empty());

    // Crop (points from the monitor's bottom-left, y up) to root pixels, kept on the monitor.
    const PixelRect primary{1280, 0, 1920, 1080};
    EXPECT_EQ(grabRectForCrop(primary, {{100, 80}, {320, 240}}, 1.0),
              (PixelRect{1380, 760, 320, 240}));
    EXPECT_EQ(grabRectForCrop(primary, {{100, 80}, {320, 240}}, 2.0),
              (PixelRect{1480, 440, 640, 480}));
    EXPECT_EQ(grabRectForCrop(primary, {{1800, 1000}, {320, 240}}, 1.0),
              (PixelRect{3080, 0, 120, 80}));
    EXPECT_EQ(grabRectForCrop(primary, {{3000, 0}, {20, 20}}, 1.0), PixelRect{});
    EXPECT_EQ(outputSizeForCrop({{0, 0}, {301.6, 200.4}}), (PixelRect{0, 0, 302, 200}));

    EXPECT_EQ(scaleFactorForDpi(0), 1.0);
    EXPECT_EQ(scaleFactorForDpi(96), 1.0);
    EXPECT_EQ(scaleFactorForDpi(120), 1.25);
    EXPECT_EQ(scaleFactorForDpi(192), 2.0);
    EXPECT_EQ(scaleFactorForDpi(72), 1.0);
}

// Keeps the frames a session delivers.
class FrameSink : public VideoDataOutputDelegate {
public:
    void captureOutput(const SampleBufferPtr& sample) override {
        std::lock_guard lock(mutex_);
        frames_.push_back(sample);
        arrived_.notify_all();
    }
    std::vector<SampleBufferPtr> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    // The first frame delivered after now.
    SampleBufferPtr nextFrame() {
        std::unique_lock lock(mutex_);
        const size_t seen = frames_.size();
        arrived_.wait_for(lock, 5s, [&] { return frames_.size() > seen; });
        return frames_.size() > seen ? frames_.back() : nullptr;
    }
    void captureOutputDidFail(const Error& error) override {
        std::lock_guard lock(mutex_);
        failures_.push_back(error.message);
        arrived_.notify_all();
    }
    // The session's failure reports, once there is one or after timeout.
    std::vector<std::string> failures(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, timeout, [&] { return !failures_.empty(); });
        return failures_;
    }

private:
    std::mutex mutex_;  // guards frames_, failures_
    std::condition_variable arrived_;
    std::vector<SampleBufferPtr> frames_;
    std::vector<std::string> failures_;
};

double meanLuma(const PixelBuffer& frame, int x0, int y0, int width, int height) {
    double sum = 0;
    for (int y = y0; y < y0 + height; ++y) {
        for (int x = x0; x < x0 + width; ++x) {
            sum += frame.planes[0][y * frame.strides[0] + x];
        }
    }
    return sum / (width * height);
}

int countLumaAbove(const PixelBuffer& frame, int rows, double threshold) {
    int count = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            count += frame.planes[0][y * frame.strides[0] + x] > threshold;
        }
    }
    return count;
}

class X11Capture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb_.isRunning()) << "Xvfb did not start";
        platform_ = makeScreenCapturePlatform(xvfb_.display());
    }

    test::Xvfb xvfb_;
    std::unique_ptr<ScreenCapturePlatform> platform_;
};

TEST_F(X11Capture, DeliversCroppedMovingFramesWithRisingTimes) {
    const auto screens = platform_->screens();
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0].frame, (Rect{{0, 0}, {1920, 1080}}));
    EXPECT_EQ(platform_->displaysWithPoint({100, 100}),
              std::vector<DisplayID>{screens[0].displayID});
    EXPECT_TRUE(platform_->displaysWithPoint({2000, 100}).empty());

    // The crop's bottom-left is 80 points above the screen's bottom edge.
    test::MovingContent content(xvfb_.display(), {100, 1080 - 80 - 240, 320, 240});
    ASSERT_TRUE(content.isShowing());
    auto input = platform_->makeScreenInput(screens[0].displayID);
    input->setCropRect({{100, 80}, {320, 240}});
    auto session = platform_->makeSession();
    auto sink = std::make_shared<FrameSink>();
    auto queue = dispatch::makeSerialQueue("test.capture.output");
    session->setSampleBufferDelegate(sink, queue);
    session->addInput(input);
    ASSERT_TRUE(session->startRunning().ok());
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (sink->frames().size() < 30 && std::chrono::steady_clock::now() < deadline) {
        sink->nextFrame();
    }
    session->stopRunning();
    queue->sync([] {});
    const auto afterStop = sink->frames().size();
    std::this_thread::sleep_for(100ms);

    const auto frames = sink->frames();
    EXPECT_EQ(frames.size(), afterStop) << "frames after stopRunning returned";
    ASSERT_GE(frames.size(), 10u);
    EXPECT_EQ(session->statistics().framesDelivered, frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const PixelBuffer& picture = *frames[i]->imageBuffer;
        ASSERT_EQ(picture.pixelFormat, kPixelFormat420v);
        ASSERT_EQ(picture.width, 320);
        ASSERT_EQ(picture.height, 240);
        if (i > 0) {
            EXPECT_GT(frames[i]->presentationTimeStamp, frames[i - 1]->presentationTimeStamp);
            // At most 60 frames a second.
            EXPECT_GE(
                (frames[i]->presentationTimeStamp - frames[i - 1]->presentationTimeStamp).seconds(),
                1.0 / 60 - 0.002);
        }
    }
    // The red band is the frame's top edge (video-range luma of red is 81); blue stripes and
    // the white bar lie below it.
    const PixelBuffer& first = *frames.front()->imageBuffer;
    EXPECT_NEAR(meanLuma(first, 0, 2, 320, 8), 81, 6);
    EXPECT_LT(meanLuma(first, 0, 16, 320, 220), 120);
    bool moved = false;
    for (const auto& frame : frames) {
        moved = moved || frame->imageBuffer->storage != first.storage;
    }
    EXPECT_TRUE(moved) << "the moving content did not move in the frames";
}

TEST_F(X11Capture, DrawsTheCursorAndMarksClicks) {
    const auto screens = platform_->screens();
    ASSERT_FALSE(screens.empty());
    test::MovingContent content(xvfb_.display(), {400, 400, 200, 160});
    ASSERT_TRUE(content.isShowing());
    // Crop: root pixels (400, 400) 200x160.
    auto input = platform_->makeScreenInput(screens[0].displayID);
    input->setCropRect({{400, 1080 - 400 - 160}, {200, 160}});
    auto session = platform_->makeSession();
    auto sink = std::make_shared<FrameSink>();
    session->setSampleBufferDelegate(sink, dispatch::makeSerialQueue("test.capture.cursor"));
    session->addInput(input);
    ASSERT_TRUE(session->startRunning().ok());

    // Pointer on the red band.
    xcb_connection_t* c = xcb_connect(xvfb_.display().c_str(), nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_warp_pointer(c, XCB_NONE, screen->root, 0, 0, 0, 0, 500, 402);
    // The reply comes once the server has moved the pointer.
    free(xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr));

    const auto plain = sink->nextFrame();
    input->setCapturesCursor(true);
    sink->nextFrame();
    const auto withCursor = sink->nextFrame();
    ASSERT_TRUE(plain && withCursor);
    const int band = 160 / 16;
    EXPECT_LT(countLumaAbove(*plain->imageBuffer, band, 150) +
                  (band * 200 - countLumaAbove(*plain->imageBuffer, band, 40)),
              10)
        << "the band should be plain red without the cursor";
    const int cursorPixels = countLumaAbove(*withCursor->imageBuffer, band, 150) +
                             (band * 200 - countLumaAbove(*withCursor->imageBuffer, band, 40));
    EXPECT_GT(cursorPixels, 5) << "no cursor pixels (black or white) on the band";

    input->setCapturesCursor(false);
    input->setCapturesMouseClicks(true);
    sink->nextFrame();
    const auto beforeClick = sink->nextFrame();
    const std::string click = "DISPLAY=" + xvfb_.display() + " xdotool click 1";
    ASSERT_EQ(std::system(click.c_str()), 0);
    // The session hears of the click on its own thread: the mark shows in a frame soon after.
    // Yellow over red is brighter than the band.
    SampleBufferPtr afterClick;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline &&
           (!afterClick || countLumaAbove(*afterClick->imageBuffer, band, 110) <= 20)) {
        afterClick = sink->nextFrame();
    }
    ASSERT_TRUE(beforeClick && afterClick);
    EXPECT_EQ(countLumaAbove(*beforeClick->imageBuffer, band, 110), 0);
    EXPECT_GT(countLumaAbove(*afterClick->imageBuffer, band, 110), 20);
    session->stopRunning();
    xcb_disconnect(c);
}

// The X server going away mid-capture ends the session with a failure report, once, and a
// later start says the display cannot be reached instead of pretending to run.
TEST(X11CaptureSession, LosingTheXServerIsReportedAndEndsTheSession) {
    test::Xvfb xvfb("640x480x24");
    ASSERT_TRUE(xvfb.isRunning());
    auto platform = x11::makeScreenCapturePlatform(xvfb.display());
    const auto screens = platform->screens();
    ASSERT_FALSE(screens.empty());
    auto input = platform->makeScreenInput(screens[0].displayID);
    input->setCropRect({{0, 0}, {64, 64}});
    auto session = platform->makeSession();
    auto sink = std::make_shared<FrameSink>();
    auto queue = dispatch::makeSerialQueue("test.capture.loss");
    session->setSampleBufferDelegate(sink, queue);
    session->addInput(input);
    ASSERT_TRUE(session->startRunning().ok());
    ASSERT_TRUE(sink->nextFrame());

    xvfb.stop();
    const auto failures = sink->failures(5s);
    ASSERT_EQ(failures.size(), 1u) << "no report of the lost connection";
    EXPECT_NE(failures[0].find("connection to the X display was lost"), std::string::npos);
    EXPECT_FALSE(session->startRunning().ok());
    session->stopRunning();
    queue->sync([] {});
    EXPECT_EQ(sink->failures(0ms).size(), 1u);
}

// An input for a display that is not attached gets no frames: the session says so.
TEST(X11CaptureSession, InputOnADetachedDisplayIsReported) {
    test::Xvfb xvfb("640x480x24");
    ASSERT_TRUE(xvfb.isRunning());
    auto platform = x11::makeScreenCapturePlatform(xvfb.display());
    auto input = platform->makeScreenInput(4242);
    input->setCropRect({{0, 0}, {64, 64}});
    auto session = platform->makeSession();
    auto sink = std::make_shared<FrameSink>();
    session->setSampleBufferDelegate(sink, dispatch::makeSerialQueue("test.capture.detached"));
    session->addInput(input);
    ASSERT_TRUE(session->startRunning().ok());
    const auto failures = sink->failures(5s);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("display 4242 is not attached"), std::string::npos);
    session->stopRunning();
    EXPECT_TRUE(sink->frames().empty());
}

TEST(FrameOverlay, CursorIsCompositedAndClippedAtTheEdges) {
    std::vector<uint32_t> pixels(8 * 8, 0xff000000u);
    const PixelImage image{pixels.data(), 8, 8, 8};
    // 3x3 cursor: opaque white centre, half-transparent white ring (premultiplied).
    const uint32_t o = 0xffffffffu, h = 0x80808080u;
    const uint32_t cursor[9] = {h, h, h, h, o, h, h, h, h};
    drawPremultipliedImage(image, cursor, 3, 3, -1, 6);  // hangs over the left and bottom
    EXPECT_EQ(pixels[7 * 8 + 0], 0xffffffffu);           // centre
    EXPECT_EQ(pixels[6 * 8 + 0] & 0xff, 0x80u);          // ring over black
    EXPECT_EQ(pixels[6 * 8 + 2], 0xff000000u);           // outside the cursor
    EXPECT_EQ(pixels[5 * 8 + 0], 0xff000000u);
}

}  // namespace
}  // namespace pindle
