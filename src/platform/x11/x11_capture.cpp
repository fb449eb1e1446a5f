#include "platform/x11/x11_capture.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <libyuv/convert_from_argb.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "base/log.h"
#include "platform/capture_backend.h"
#include "platform/x11/frame_overlay.h"
#include "platform/x11/x11_geometry.h"

namespace pindle::x11 {
namespace {

constexpr const char* kTag = "x11-capture";
constexpr auto kClickMarkLifetime = std::chrono::milliseconds(400);

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

Result<Connection> connect(const std::string& displayName) {
    Connection connection(
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), nullptr));
    if (!connection || xcb_connection_has_error(connection.get()) != 0) {
        const char* shown = displayName.empty() ? std::getenv("DISPLAY") : displayName.c_str();
        return Error{std::string("cannot connect to the X display ") +
                     (shown != nullptr ? shown : "(DISPLAY is not set)")};
    }
    return connection;
}

xcb_screen_t* defaultScreen(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
}

std::string atomName(xcb_connection_t* c, xcb_atom_t atom) {
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply) {
        return {};
    }
    return std::string(xcb_get_atom_name_name(reply.get()),
                       size_t(xcb_get_atom_name_name_length(reply.get())));
}

// RandR monitors; the whole root window as one monitor when RandR has none to offer.
std::vector<Monitor> queryMonitors(xcb_connection_t* c, xcb_screen_t* screen) {
    std::vector<Monitor> monitors;
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (version && (version->major_version > 1 || version->minor_version >= 5)) {
        Reply<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen->root, 1), nullptr));
        if (reply) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t* info = it.data;
                if (info->width == 0 || info->height == 0) {
                    continue;
                }
                monitors.push_back(Monitor{info->name,
                                           {info->x, info->y, info->width, info->height},
                                           info->primary != 0,
                                           atomName(c, info->name)});
            }
        }
    }
    if (monitors.empty()) {
        monitors.push_back(
            Monitor{1, {0, 0, screen->width_in_pixels, screen->height_in_pixels}, true, "root"});
    }
    return monitors;
}

// Xft.dpi from the root window's resource database; 0 when it is not set.
double queryDpi(xcb_connection_t* c, xcb_screen_t* screen) {
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, screen->root, XCB_ATOM_RESOURCE_MANAGER,
                                                XCB_ATOM_STRING, 0, 1 << 16),
                               nullptr));
    if (!reply) {
        return 0;
    }
    const std::string resources(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                size_t(xcb_get_property_value_length(reply.get())));
    const auto key = resources.find("Xft.dpi:");
    if (key == std::string::npos) {
        return 0;
    }
    return std::atof(resources.c_str() + key + 8);
}

// ---- the platform

class Platform final : public ScreenCapturePlatform {
public:
    explicit Platform(std::string displayName) : displayName_(std::move(displayName)) {}

    std::vector<Screen> screens() override {
        std::lock_guard lock(mutex_);
        if (!ensureConnection()) {
            return {};
        }
        xcb_screen_t* screen = defaultScreen(connection_.get());
        return screensForMonitors(queryMonitors(connection_.get(), screen),
                                  scaleFactorForDpi(queryDpi(connection_.get(), screen)));
    }

    std::vector<DisplayID> displaysWithPoint(Point point) override {
        std::lock_guard lock(mutex_);
        if (!ensureConnection()) {
            return {};
        }
        xcb_screen_t* screen = defaultScreen(connection_.get());
        return monitorsContaining(queryMonitors(connection_.get(), screen), point,
                                  scaleFactorForDpi(queryDpi(connection_.get(), screen)));
    }

    std::unique_ptr<CaptureSession> makeSession() override;

    std::shared_ptr<ScreenInput> makeScreenInput(DisplayID displayID) override {
        return std::make_shared<ScreenInput>(displayID, true);
    }

private:
    bool ensureConnection() {
        if (connection_ && xcb_connection_has_error(connection_.get()) == 0) {
            return true;
        }
        auto connection = connect(displayName_);
        if (!connection) {
            PINDLE_LOG_ERROR(kTag, "%s", connection.error().message.c_str());
            return false;
        }
        connection_ = std::move(connection.value());
        return true;
    }

    const std::string displayName_;
    std::mutex mutex_;  // guards connection_
    Connection connection_;
};

// ---- pixel buffers, recycled so that a steady capture allocates nothing per frame

class PixelBufferPool {
public:
    PixelBufferPtr make(int width, int height) {
        std::shared_ptr<PixelBuffer> buffer;
        {
            std::lock_guard lock(state_->mutex);
            auto& free = state_->free;
            while (!free.empty() && buffer == nullptr) {
                std::unique_ptr<PixelBuffer> candidate = std::move(free.back());
                free.pop_back();
                if (candidate->width == width && candidate->height == height) {
                    buffer = adopt(std::move(candidate));
                }
            }
        }
        if (!buffer) {
            auto fresh = std::make_unique<PixelBuffer>();
            fresh->reset420v(width, height);
            buffer = adopt(std::move(fresh));
        }
        return buffer;
    }

private:
    struct State {
        std::mutex mutex;  // guards free
        std::vector<std::unique_ptr<PixelBuffer>> free;
    };

    std::shared_ptr<PixelBuffer> adopt(std::unique_ptr<PixelBuffer> buffer) {
        std::weak_ptr<State> weakState = state_;
        return std::shared_ptr<PixelBuffer>(buffer.release(), [weakState](PixelBuffer* p) {
            std::unique_ptr<PixelBuffer> owned(p);
            if (auto state = weakState.lock()) {
                std::lock_guard lock(state->mutex);
                if (state->free.size() < 8) {
                    state->free.push_back(std::move(owned));
                }
            }
        });
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// ---- grabbing: state of the capture thread only

class Grabber {
public:
    ~Grabber() {
        releaseSharedMemory();
        sws_freeContext(sws_);
    }

    Status open(const std::string& displayName) {
        auto connection = connect(displayName);
        if (!connection) {
            return connection.error();
        }
        connection_ = std::move(connection.value());
        xcb_connection_t* c = connection_.get();
        screen_ = defaultScreen(c);
        monitors_ = queryMonitors(c, screen_);
        scale_ = scaleFactorForDpi(queryDpi(c, screen_));

        // 32 bits per pixel is what every true-colour server offers for depth 24 and 32.
        bool has32 = false;
        const xcb_setup_t* setup = xcb_get_setup(c);
        for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
            if (it.data->depth == screen_->root_depth && it.data->bits_per_pixel == 32) {
                has32 = true;
            }
        }
        if (!has32 || screen_->root_depth < 24) {
            return Error{
                "the X display's pixel format is not supported (only 24 or 32 bit "
                "true colour is)"};
        }
        sourceFormat_ = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST ? AV_PIX_FMT_BGR0
                                                                             : AV_PIX_FMT_0RGB;

        Reply<xcb_shm_query_version_reply_t> shm(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        hasShm_ = shm != nullptr;
        if (!hasShm_) {
            PINDLE_LOG_WARNING(kTag, "MIT-SHM is not available; grabbing through GetImage");
        }
        Reply<xcb_xfixes_query_version_reply_t> xfixes(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        hasXFixes_ = xfixes != nullptr;

        const xcb_query_extension_reply_t* xi = xcb_get_extension_data(c, &xcb_input_id);
        if (xi != nullptr && xi->present) {
            Reply<xcb_input_xi_query_version_reply_t> version(
                xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
            if (version && version->major_version >= 2) {
                xiOpcode_ = xi->major_opcode;
                struct {
                    xcb_input_event_mask_t head;
                    uint32_t mask;
                } mask{};
                mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
                mask.head.mask_len = 1;
                mask.mask = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
                xcb_input_xi_select_events(c, screen_->root, 1, &mask.head);
                xcb_flush(c);
                hasXInput_ = true;
            }
        }
        return Ok{};
    }

    const Monitor* monitor(DisplayID displayID) const {
        for (const Monitor& m : monitors_) {
            if (m.displayID == displayID) {
                return &m;
            }
        }
        return nullptr;
    }
    double scale() const { return scale_; }
    // The X server closed the connection or it broke: nothing more can be grabbed.
    bool connectionLost() const { return xcb_connection_has_error(connection_.get()) != 0; }

    // Collects button presses for the click marks.
    void pollEvents(bool keepClicks) {
        xcb_connection_t* c = connection_.get();
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            Reply<xcb_generic_event_t> owned(event);
            if ((event->response_type & 0x7f) != XCB_GE_GENERIC || !hasXInput_) {
                continue;
            }
            auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
            if (generic->extension != xiOpcode_ ||
                generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS || !keepClicks) {
                continue;
            }
            auto* press = reinterpret_cast<xcb_input_raw_button_press_event_t*>(event);
            if (press->detail < 1 || press->detail > 3) {
                continue;  // wheel steps are no clicks
            }
            Reply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(c, xcb_query_pointer(c, screen_->root), nullptr));
            if (pointer) {
                clicks_.push_back(
                    {pointer->root_x, pointer->root_y, std::chrono::steady_clock::now()});
            }
        }
        const auto now = std::chrono::steady_clock::now();
        while (!clicks_.empty() && now - clicks_.front().when > kClickMarkLifetime) {
            clicks_.pop_front();
        }
    }

    // Grabs rect of the root window, draws the overlays and converts to a 420v picture of
    // width x height. Null when the grab failed.
    PixelBufferPtr grab(const PixelRect& rect, int width, int height, bool cursor, bool clicks) {
        uint8_t* pixels = hasShm_ ? grabShared(rect) : grabPlain(rect);
        if (pixels == nullptr) {
            return nullptr;
        }
        PixelImage image{reinterpret_cast<uint32_t*>(pixels), rect.width, rect.height, rect.width};
        if (clicks) {
            const auto now = std::chrono::steady_clock::now();
            for (const Click& click : clicks_) {
                const double age = std::chrono::duration<double>(now - click.when).count() /
                                   std::chrono::duration<double>(kClickMarkLifetime).count();
                drawClickMark(image, click.x - rect.x, click.y - rect.y, 1.0 - age);
            }
        }
        if (cursor && hasXFixes_) {
            drawCursor(image, rect);
        }
        return convert(pixels, rect, width, height);
    }

private:
    struct Click {
        int x;
        int y;
        std::chrono::steady_clock::time_point when;
    };

    uint8_t* grabShared(const PixelRect& rect) {
        xcb_connection_t* c = connection_.get();
        const size_t needed = size_t(rect.width) * rect.height * 4;
        if (needed > shmSize_ && !attachSharedMemory(needed)) {
            hasShm_ = false;
            return grabPlain(rect);
        }
        Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, screen_->root, int16_t(rect.x), int16_t(rect.y),
                              uint16_t(rect.width), uint16_t(rect.height), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, shmSegment_, 0),
            nullptr));
        if (!reply) {
            logGrabFailureOnce();
            return nullptr;
        }
        return shmAddress_;
    }

    uint8_t* grabPlain(const PixelRect& rect) {
        xcb_connection_t* c = connection_.get();
        Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, int16_t(rect.x),
                          int16_t(rect.y), uint16_t(rect.width), uint16_t(rect.height), ~0u),
            nullptr));
        if (!reply) {
            logGrabFailureOnce();
            return nullptr;
        }
        const auto* data = xcb_get_image_data(reply.get());
        plain_.assign(data, data + xcb_get_image_data_length(reply.get()));
        if (plain_.size() < size_t(rect.width) * rect.height * 4) {
            return nullptr;
        }
        return plain_.data();
    }

    bool attachSharedMemory(size_t size) {
        releaseSharedMemory();
        xcb_connection_t* c = connection_.get();
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) {
            PINDLE_LOG_WARNING(kTag, "shmget failed (%s); grabbing through GetImage",
                               std::strerror(errno));
            return false;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        shmSegment_ = xcb_generate_id(c);
        Reply<xcb_generic_error_t> error(
            xcb_request_check(c, xcb_shm_attach_checked(c, shmSegment_, uint32_t(id), 0)));
        // The segment goes away with the last detach, also if this process dies.
        shmctl(id, IPC_RMID, nullptr);
        if (error) {
            PINDLE_LOG_WARNING(kTag,
                               "the X server cannot attach shared memory (error %d); "
                               "grabbing through GetImage",
                               int(error->error_code));
            shmdt(address);
            return false;
        }
        shmAddress_ = static_cast<uint8_t*>(address);
        shmSize_ = size;
        return true;
    }

    void releaseSharedMemory() {
        if (shmAddress_ != nullptr) {
            xcb_shm_detach(connection_.get(), shmSegment_);
            xcb_flush(connection_.get());
            shmdt(shmAddress_);
            shmAddress_ = nullptr;
            shmSize_ = 0;
        }
    }

    void drawCursor(PixelImage image, const PixelRect& rect) {
        xcb_connection_t* c = connection_.get();
        Reply<xcb_xfixes_get_cursor_image_reply_t> cursor(
            xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
        if (!cursor) {
            return;
        }
        drawPremultipliedImage(image, xcb_xfixes_get_cursor_image_cursor_image(cursor.get()),
                               cursor->width, cursor->height, cursor->x - cursor->xhot - rect.x,
                               cursor->y - cursor->yhot - rect.y);
    }

    // One pass from the grabbed pixels to the encoder's picture, written into a recycled
    // buffer. The usual case (same size, little-endian pixels) goes through libyuv, several
    // times cheaper than swscale's general path; swscale handles scaling and other orders.
    PixelBufferPtr convert(const uint8_t* pixels, const PixelRect& rect, int width, int height) {
        if (rect.width == width && rect.height == height && sourceFormat_ == AV_PIX_FMT_BGR0) {
            auto buffer = std::const_pointer_cast<PixelBuffer>(pool_.make(width, height));
            libyuv::ARGBToNV12(pixels, rect.width * 4, buffer->planes[0], buffer->strides[0],
                               buffer->planes[1], buffer->strides[1], width, height);
            return buffer;
        }
        sws_ = sws_getCachedContext(sws_, rect.width, rect.height, sourceFormat_, width, height,
                                    AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (sws_ == nullptr) {
            logGrabFailureOnce();
            return nullptr;
        }
        auto buffer = std::const_pointer_cast<PixelBuffer>(pool_.make(width, height));
        const uint8_t* source[1] = {pixels};
        const int sourceStride[1] = {rect.width * 4};
        sws_scale(sws_, source, sourceStride, 0, rect.height, buffer->planes, buffer->strides);
        return buffer;
    }

    void logGrabFailureOnce() {
        if (!grabFailureLogged_) {
            grabFailureLogged_ = true;
            PINDLE_LOG_ERROR(kTag, "grabbing the screen failed; frames are skipped");
        }
    }

    Connection connection_;
    xcb_screen_t* screen_ = nullptr;
    std::vector<Monitor> monitors_;
    double scale_ = 1.0;
    AVPixelFormat sourceFormat_ = AV_PIX_FMT_BGR0;
    bool hasShm_ = false;
    bool hasXFixes_ = false;
    bool hasXInput_ = false;
    uint8_t xiOpcode_ = 0;
    xcb_shm_seg_t shmSegment_ = 0;
    uint8_t* shmAddress_ = nullptr;
    size_t shmSize_ = 0;
    std::vector<uint8_t> plain_;
    SwsContext* sws_ = nullptr;
    PixelBufferPool pool_;
    std::deque<Click> clicks_;
    bool grabFailureLogged_ = false;
};

// ---- the session

class Session final : public CaptureSession {
public:
    explicit Session(std::string displayName) : displayName_(std::move(displayName)) {}
    ~Session() override { stopRunning(); }

    void addInput(std::shared_ptr<ScreenInput> input) override {
        std::lock_guard lock(mutex_);
        std::erase(inputs_, input);
        inputs_.push_back(std::move(input));
    }

    void removeInput(const std::shared_ptr<ScreenInput>& input) override {
        std::lock_guard lock(mutex_);
        std::erase(inputs_, input);
    }

    void setSampleBufferDelegate(std::weak_ptr<VideoDataOutputDelegate> delegate,
                                 dispatch::QueuePtr queue) override {
        std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
        queue_ = std::move(queue);
    }

    void setAlwaysDiscardsLateVideoFrames(bool discards) override {
        delivery_.setDiscardsLateFrames(discards);
    }

    void setVideoPixelFormat(uint32_t pixelFormat) override {
        if (pixelFormat != kPixelFormat420v) {
            PINDLE_LOG_WARNING(kTag, "pixel format %s is not offered; frames stay 420v",
                               fourCCString(pixelFormat).c_str());
        }
    }

    Status startRunning() override {
        std::lock_guard runLock(runMutex_);
        if (thread_.joinable()) {
            if (!ended_) {
                return Ok{};
            }
            thread_.join();  // it ended on a failure: start afresh
        }
        ended_ = false;
        auto grabber = std::make_unique<Grabber>();
        if (auto opened = grabber->open(displayName_); !opened) {
            PINDLE_LOG_ERROR(kTag, "%s", opened.error().message.c_str());
            return opened.error();
        }
        stopRequested_ = false;
        running_ = true;
        thread_ = std::thread([this, g = std::move(grabber)]() mutable { run(*g); });
        return Ok{};
    }

    void stopRunning() override {
        std::lock_guard runLock(runMutex_);
        if (!thread_.joinable()) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            stopRequested_ = true;
        }
        wake_.notify_all();
        thread_.join();
        running_ = false;
    }

    bool isRunning() const override { return running_; }

    CaptureStatistics statistics() const override { return delivery_.statistics(); }

private:
    // Waits until deadline or a stop; false on a stop.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return !wake_.wait_until(lock, deadline, [this] { return stopRequested_; });
    }

    void run(Grabber& grabber) {
        dispatch::setCurrentThreadName("pindle.x11grab");
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now();
        for (;;) {
            std::shared_ptr<ScreenInput> input;
            std::weak_ptr<VideoDataOutputDelegate> delegate;
            dispatch::QueuePtr queue;
            {
                std::lock_guard lock(mutex_);
                if (stopRequested_) {
                    return;
                }
                if (!inputs_.empty()) {
                    input = inputs_.back();
                }
                delegate = delegate_;
                queue = queue_;
            }
            MediaTime frameDuration = input ? input->minFrameDuration() : MediaTime::make(1, 60);
            if (!frameDuration.isNumeric() || frameDuration.seconds() <= 0) {
                frameDuration = MediaTime::make(1, 60);
            }
            const auto period = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(frameDuration.seconds()));
            if (!sleepUntil(next)) {
                return;
            }
            // Frames are stamped with their slot on the schedule, so they are never closer
            // than the minimum frame duration. A wake-up later than a whole period moves the
            // schedule instead of causing a burst of catch-up frames.
            Clock::time_point slot = next;
            if (Clock::now() - slot > period) {
                slot = Clock::now();
            }
            next = slot + period;
            grabber.pollEvents(input && input->capturesMouseClicks());
            if (grabber.connectionLost()) {
                fail(Error{"the connection to the X display was lost"}, delegate, queue);
                return;
            }
            if (!input || !queue) {
                continue;
            }
            const Monitor* monitor = grabber.monitor(input->displayID());
            if (monitor == nullptr) {
                fail(Error{"display " + std::to_string(input->displayID()) + " is not attached"},
                     delegate, queue);
                return;
            }
            const Rect crop = input->cropRect();
            const PixelRect rect = grabRectForCrop(monitor->pixels, crop, grabber.scale());
            const PixelRect size = outputSizeForCrop(crop);
            if (rect.width <= 0) {
                continue;
            }
            if (delivery_.dropsLateFrame()) {
                continue;  // the delivery queue is still busy: spare the grab
            }
            PixelBufferPtr picture =
                grabber.grab(rect, size.width, size.height, input->capturesCursor(),
                             input->capturesMouseClicks());
            if (!picture) {
                continue;
            }
            delivery_.deliver(delivery_.sample(std::move(picture), slot, frameDuration),
                              std::move(delegate), queue);
        }
    }

    // Ends the run: no more frames can come. The delegate hears why on its queue.
    void fail(const Error& error, const std::weak_ptr<VideoDataOutputDelegate>& delegate,
              const dispatch::QueuePtr& queue) {
        ended_ = true;
        running_ = false;
        delivery_.fail(error, delegate, queue);
    }

    const std::string displayName_;
    std::mutex runMutex_;  // serialises startRunning and stopRunning
    std::mutex mutex_;     // guards inputs_, delegate_, queue_, stopRequested_
    std::condition_variable wake_;
    std::vector<std::shared_ptr<ScreenInput>> inputs_;
    std::weak_ptr<VideoDataOutputDelegate> delegate_;
    dispatch::QueuePtr queue_;
    bool stopRequested_ = false;
    std::atomic<bool> running_{false};
    std::atomic<bool> ended_{false};  // the thread ended on a failure
    std::thread thread_;
    CaptureDelivery delivery_{kTag, [this](auto deadline) { return sleepUntil(deadline); }};
};

std::unique_ptr<CaptureSession> Platform::makeSession() {
    return std::make_unique<Session>(displayName_);
}

}  // namespace

std::unique_ptr<ScreenCapturePlatform> makeScreenCapturePlatform(std::string displayName) {
    return std::make_unique<Platform>(std::move(displayName));
}

}  // namespace pindle::x11
