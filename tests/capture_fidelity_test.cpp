// The capture's pictures survive encoding: frames grabbed from a real X server, encoded as
// the capture encodes them, decode to within the visually lossless threshold of the grabbed
// frames.

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <xcb/xcb.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "base/dispatch.h"
#include "capture/CaptureGeometry.h"
#include "capture/RCH264Encoder.h"
#include "platform/ffmpeg/ffmpeg_compression.h"
#include "platform/x11/x11_capture.h"
#include "xvfb_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

// PSNR a frame must reach in each plane: above about 45 dB differences in 8-bit pictures
// are not visible.
constexpr double kVisuallyLosslessDB = 45.0;

class Frames : public VideoDataOutputDelegate, public RCH264EncoderDelegate {
public:
    void captureOutput(const SampleBufferPtr& sample) override {
        std::lock_guard lock(mutex_);
        grabbed_.push_back(sample);
        changed_.notify_all();
    }
    void captureOutputDidFail(const Error&) override {}
    void encoder(RCH264Encoder&, const SampleBufferPtr& sample) override {
        std::lock_guard lock(mutex_);
        encoded_.push_back(sample);
    }
    std::vector<SampleBufferPtr> waitForGrabbed(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 20s, [&] { return grabbed_.size() >= count; });
        return grabbed_;
    }
    std::vector<SampleBufferPtr> encoded() {
        std::lock_guard lock(mutex_);
        return encoded_;
    }

private:
    std::mutex mutex_;  // guards grabbed_, encoded_
    std::condition_variable changed_;
    std::vector<SampleBufferPtr> grabbed_;
    std::vector<SampleBufferPtr> encoded_;
};

double psnr(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int width, int height,
            int step = 1) {
    double squared = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double d = double(a[y * strideA + x * step]) - double(b[y * strideB + x]);
            squared += d * d;
        }
    }
    const double mse = squared / (double(width) * height);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A window of small text in the X server's "fixed" font, lines of several colours on white:
// the fine, high-contrast detail screen recordings are made of. Stays until the connection
// closes.
class TextWindow {
public:
    TextWindow(const std::string& display, int x, int y, int width, int height)
        : c_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(c_) != 0) {
            return;
        }
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t window = xcb_generate_id(c_);
        const uint32_t values[] = {screen->white_pixel, 1};  // background, override-redirect
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, screen->root, int16_t(x), int16_t(y),
                          uint16_t(width), uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                          values);
        xcb_map_window(c_, window);
        const xcb_font_t font = xcb_generate_id(c_);
        xcb_open_font(c_, font, 5, "fixed");
        const xcb_gcontext_t gc = xcb_generate_id(c_);
        const uint32_t gcValues[] = {0, screen->white_pixel, font};
        xcb_create_gc(c_, gc, window, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT,
                      gcValues);
        const char* words[] = {"capture", "frame", "encoder", "0x3fa9", "ring",  "pixel",
                               "42",      "key",   "movie",   "{ }",    "width", "->"};
        for (int line = 0; line * 13 + 12 < height; ++line) {
            const uint32_t colour = (line % 3 == 0)   ? 0x000000u
                                    : (line % 3 == 1) ? 0x1040a0u
                                                      : 0xb02020u;
            xcb_change_gc(c_, gc, XCB_GC_FOREGROUND, &colour);
            std::string text;
            for (int word = 0; int(text.size()) * 6 < width; ++word) {
                text += words[(line * 7 + word * 5) % 12];
                text += ' ';
            }
            xcb_image_text_8(c_, uint8_t(std::min<size_t>(text.size(), 255)), window, gc, 2,
                             int16_t(line * 13 + 11), text.c_str());
        }
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    ~TextWindow() { xcb_disconnect(c_); }

private:
    xcb_connection_t* c_;
};

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

TEST(CaptureFidelity, DecodedFramesMatchTheGrabbedOnesWithinTheThreshold) {
    test::Xvfb xvfb;
    ASSERT_TRUE(xvfb.isRunning());
    // On the left small text, on the right random 8 x 8 tiles of colour repainted all the
    // time, so that every frame differs from the one before. The bit-rate ceiling holds for
    // this size, leaving about 3.9 bits per pixel.
    constexpr int kWidth = 960, kHeight = 540;
    TextWindow text(xvfb.display(), 320, 180, kWidth / 2, kHeight);
    test::MovingContent content(xvfb.display(), {320 + kWidth / 2, 180, kWidth / 2, kHeight}, true);
    ASSERT_TRUE(content.isShowing());
    auto platform = x11::makeScreenCapturePlatform(xvfb.display());
    const auto screens = platform->screens();
    ASSERT_FALSE(screens.empty());
    auto input = platform->makeScreenInput(screens[0].displayID);
    input->setCropRect({{320, 1080 - 180 - kHeight}, {kWidth, kHeight}});
    auto session = platform->makeSession();
    auto frames = std::make_shared<Frames>();
    auto queue = dispatch::makeSerialQueue("test.fidelity.output");
    session->setSampleBufferDelegate(frames, queue);
    session->addInput(input);
    ASSERT_TRUE(session->startRunning().ok());
    auto grabbed = frames->waitForGrabbed(30);
    session->stopRunning();
    queue->sync([] {});
    grabbed = frames->waitForGrabbed(0);
    ASSERT_GE(grabbed.size(), 20u);

    RCH264EncoderOptions options;
    options.maxKeyFrameInterval = 1;
    options.pixelBufferAttributes = kPixelFormat420v;
    options.averageBitRate = capture_geometry::bitRateForCropSize(kWidth, kHeight);
    RCH264Encoder encoder(kWidth, kHeight, options, ffmpeg::makeCompressionSession);
    ASSERT_TRUE(encoder.isValid());
    encoder.setDelegate(frames);
    for (const auto& sample : grabbed) {
        encoder.encodeFrameWithPixelBuffer(sample->imageBuffer, sample->presentationTimeStamp);
    }
    encoder.completeFrames();
    const auto encoded = frames->encoded();
    ASSERT_EQ(encoded.size(), grabbed.size());

    // Each frame is a key frame and decodes on its own.
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    ASSERT_NE(codec, nullptr);
    std::unique_ptr<AVCodecContext, CodecContextDeleter> decoder(avcodec_alloc_context3(codec));
    const auto& extradata = encoded.front()->formatDescription->extradata;
    decoder->extradata =
        static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(extradata.begin(), extradata.end(), decoder->extradata);
    decoder->extradata_size = int(extradata.size());
    ASSERT_EQ(avcodec_open2(decoder.get(), codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    double worstLuma = 99, worstChroma = 99;
    for (size_t i = 0; i < encoded.size(); ++i) {
        std::vector<uint8_t> data(encoded[i]->data);
        data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = data.data();
        packet->size = int(encoded[i]->data.size());
        ASSERT_EQ(avcodec_send_packet(decoder.get(), packet), 0) << i;
        ASSERT_EQ(avcodec_receive_frame(decoder.get(), picture), 0) << i;
        ASSERT_EQ(picture->width, kWidth);
        const PixelBuffer& source = *grabbed[i]->imageBuffer;
        worstLuma = std::min(worstLuma, psnr(source.planes[0], source.strides[0], picture->data[0],
                                             picture->linesize[0], kWidth, kHeight));
        // NV12 interleaves Cb and Cr; the decoder gives them as two planes.
        for (int plane = 1; plane <= 2; ++plane) {
            worstChroma =
                std::min(worstChroma, psnr(source.planes[1] + (plane - 1), source.strides[1],
                                           picture->data[plane], picture->linesize[plane],
                                           kWidth / 2, kHeight / 2, 2));
        }
        av_frame_unref(picture);
    }
    av_frame_free(&picture);
    av_packet_free(&packet);
    EXPECT_GE(worstLuma, kVisuallyLosslessDB);
    EXPECT_GE(worstChroma, kVisuallyLosslessDB);
}

}  // namespace
}  // namespace pindle
