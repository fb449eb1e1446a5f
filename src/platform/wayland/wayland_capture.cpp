#include "platform/wayland/wayland_capture.h"

#include <linux/dma-buf.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "platform/capture_backend.h"
#include "platform/wayland/screencast_portal.h"
#include "platform/wayland/wayland_geometry.h"
#include "platform/wayland/wayland_outputs.h"

namespace pindle::wayland {
namespace {

constexpr const char* kTag = "wayland-capture";

AVPixelFormat avFormat(uint32_t spaFormat) {
    switch (spaFormat) {
        case SPA_VIDEO_FORMAT_BGRx:
            return AV_PIX_FMT_BGR0;
        case SPA_VIDEO_FORMAT_BGRA:
            return AV_PIX_FMT_BGRA;
        case SPA_VIDEO_FORMAT_RGBx:
            return AV_PIX_FMT_RGB0;
        case SPA_VIDEO_FORMAT_RGBA:
            return AV_PIX_FMT_RGBA;
        case SPA_VIDEO_FORMAT_xRGB:
            return AV_PIX_FMT_0RGB;
        case SPA_VIDEO_FORMAT_xBGR:
            return AV_PIX_FMT_0BGR;
        default:
            return AV_PIX_FMT_NONE;
    }
}

// ---- the PipeWire stream: its callbacks run on PipeWire's thread

// What the stream shares with the capture thread.
struct Shared {
    std::mutex mutex;
    int streamWidth = 0;  // 0 until a format is agreed
    int streamHeight = 0;
    uint32_t spaFormat = SPA_VIDEO_FORMAT_UNKNOWN;
    PixelRect crop;               // the stream pixels to keep, set by the capture thread
    std::vector<uint8_t> pixels;  // the crop of the newest frame, 4 bytes a pixel, packed
    PixelRect pixelsRect;         // where pixels came from
    uint64_t serial = 0;          // counts frames copied
    std::string failure;          // set when the stream broke
    std::condition_variable changed;
};

class PipeWireStream {
public:
    explicit PipeWireStream(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    ~PipeWireStream() { close(); }

    Status open(int fd, uint32_t nodeID) {
        static std::once_flag initialised;
        std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
        loop_ = pw_thread_loop_new("pindle.pipewire", nullptr);
        if (loop_ == nullptr) {
            ::close(fd);
            return Error{"cannot start PipeWire's thread"};
        }
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
            ::close(fd);
            return Error{"cannot start PipeWire"};
        }
        pw_thread_loop_lock(loop_);
        Status status = connect(fd, nodeID);
        pw_thread_loop_unlock(loop_);
        return status;
    }

    void close() {
        if (loop_ == nullptr) {
            return;
        }
        pw_thread_loop_lock(loop_);
        if (stream_ != nullptr) {
            pw_stream_disconnect(stream_);
            pw_stream_destroy(stream_);
            stream_ = nullptr;
        }
        if (core_ != nullptr) {
            pw_core_disconnect(core_);
            core_ = nullptr;
        }
        pw_thread_loop_unlock(loop_);
        pw_thread_loop_stop(loop_);
        if (context_ != nullptr) {
            pw_context_destroy(context_);
            context_ = nullptr;
        }
        pw_thread_loop_destroy(loop_);
        loop_ = nullptr;
    }

private:
    Status connect(int fd, uint32_t nodeID) {
        core_ = pw_context_connect_fd(context_, fd, nullptr, 0);  // takes fd
        if (core_ == nullptr) {
            return Error{std::string("cannot connect to PipeWire: ") + std::strerror(errno)};
        }
        static const pw_core_events coreEvents = [] {
            pw_core_events events{};
            events.version = PW_VERSION_CORE_EVENTS;
            events.error = [](void* data, uint32_t id, int, int res, const char* message) {
                if (id == PW_ID_CORE) {
                    static_cast<PipeWireStream*>(data)->fail(
                        std::string("PipeWire: ") + (message ? message : std::strerror(-res)));
                }
            };
            return events;
        }();
        pw_core_add_listener(core_, &coreListener_, &coreEvents, this);

        stream_ = pw_stream_new(core_, "pindle-capture",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                  "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (stream_ == nullptr) {
            return Error{"cannot make a PipeWire stream"};
        }
        static const pw_stream_events streamEvents = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = [](void* data, pw_stream_state, pw_stream_state state,
                                      const char* error) {
                if (state == PW_STREAM_STATE_ERROR) {
                    static_cast<PipeWireStream*>(data)->fail(
                        std::string("the PipeWire stream failed: ") + (error ? error : "?"));
                } else if (state == PW_STREAM_STATE_UNCONNECTED) {
                    static_cast<PipeWireStream*>(data)->fail("the screen-cast stream ended");
                }
            };
            events.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
                static_cast<PipeWireStream*>(data)->paramChanged(id, param);
            };
            events.process = [](void* data) { static_cast<PipeWireStream*>(data)->process(); };
            return events;
        }();
        pw_stream_add_listener(stream_, &streamListener_, &streamEvents, this);

        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
        spa_rectangle minSize = SPA_RECTANGLE(1, 1);
        spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
        spa_fraction defaultRate = SPA_FRACTION(60, 1);
        spa_fraction minRate = SPA_FRACTION(0, 1);
        spa_fraction maxRate = SPA_FRACTION(1000, 1);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(7, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                   SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx,
                                   SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                                   SPA_VIDEO_FORMAT_xBGR),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
        const int r = pw_stream_connect(
            stream_, PW_DIRECTION_INPUT, nodeID,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 1);
        if (r < 0) {
            return Error{std::string("cannot connect to the screen-cast stream: ") +
                         std::strerror(-r)};
        }
        return Ok{};
    }

    void fail(std::string why) {
        std::lock_guard lock(shared_->mutex);
        if (shared_->failure.empty()) {
            shared_->failure = std::move(why);
        }
        shared_->changed.notify_all();
    }

    void paramChanged(uint32_t id, const spa_pod* param) {
        if (param == nullptr || id != SPA_PARAM_Format) {
            return;
        }
        uint32_t mediaType = 0;
        uint32_t mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
            mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
            return;
        }
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) {
            return;
        }
        {
            std::lock_guard lock(shared_->mutex);
            shared_->streamWidth = int(info.size.width);
            shared_->streamHeight = int(info.size.height);
            shared_->spaFormat = info.format;
            shared_->changed.notify_all();
        }
        PINDLE_LOG_INFO(kTag, "stream format %ux%u, video format %u", info.size.width,
                        info.size.height, info.format);

        // Shared memory first; DMA-BUF is taken where the compositor insists and mapped for
        // reading.
        uint8_t buffer[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr) |
                                     (1 << SPA_DATA_DmaBuf))));
        pw_stream_update_params(stream_, params, 1);
    }

    void process() {
        // Only the newest frame matters: older ones queued meanwhile go straight back.
        pw_buffer* newest = nullptr;
        while (pw_buffer* b = pw_stream_dequeue_buffer(stream_)) {
            if (newest != nullptr) {
                pw_stream_queue_buffer(stream_, newest);
            }
            newest = b;
        }
        if (newest == nullptr) {
            return;
        }
        copyCrop(newest->buffer);
        pw_stream_queue_buffer(stream_, newest);
    }

    void copyCrop(spa_buffer* buffer) {
        if (buffer->n_datas < 1) {
            return;
        }
        spa_data& data = buffer->datas[0];
        if (data.chunk == nullptr || data.chunk->size == 0 ||
            (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0) {
            return;  // no new picture in this buffer
        }
        const uint8_t* base = static_cast<const uint8_t*>(data.data);
        void* mapped = nullptr;
        if (base == nullptr && data.type == SPA_DATA_DmaBuf && data.fd >= 0) {
            mapped = mmap(nullptr, data.maxsize + data.mapoffset, PROT_READ, MAP_SHARED,
                          int(data.fd), 0);
            if (mapped == MAP_FAILED) {
                return;
            }
            dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
            ioctl(int(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
            base = static_cast<const uint8_t*>(mapped) + data.mapoffset;
        }
        if (base != nullptr) {
            std::lock_guard lock(shared_->mutex);
            const int width = shared_->streamWidth;
            const int height = shared_->streamHeight;
            const int stride = data.chunk->stride > 0 ? data.chunk->stride : width * 4;
            const uint8_t* frame = base + data.chunk->offset % std::max(1u, data.maxsize);
            // Until the capture thread has said which part it wants, the whole frame.
            const PixelRect crop =
                shared_->crop.width > 0 ? shared_->crop : PixelRect{0, 0, width, height};
            const size_t needed = size_t(stride) * height;
            if (crop.width > 0 && crop.x + crop.width <= width && crop.y + crop.height <= height &&
                needed <= data.maxsize) {
                shared_->pixels.resize(size_t(crop.width) * crop.height * 4);
                for (int row = 0; row < crop.height; ++row) {
                    std::memcpy(shared_->pixels.data() + size_t(row) * crop.width * 4,
                                frame + size_t(crop.y + row) * stride + size_t(crop.x) * 4,
                                size_t(crop.width) * 4);
                }
                shared_->pixelsRect = crop;
                shared_->serial++;
            }
        }
        if (mapped != nullptr) {
            dma_buf_sync sync{DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ};
            ioctl(int(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
            munmap(mapped, data.maxsize + data.mapoffset);
        }
    }

    std::shared_ptr<Shared> shared_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook coreListener_{};
    spa_hook streamListener_{};
};

// ---- pixel buffers, recycled so that a steady capture allocates nothing per frame

class PixelBufferPool {
public:
    std::shared_ptr<PixelBuffer> make(int width, int height) {
        std::unique_ptr<PixelBuffer> buffer;
        {
            std::lock_guard lock(state_->mutex);
            auto& free = state_->free;
            while (!free.empty() && !buffer) {
                std::unique_ptr<PixelBuffer> candidate = std::move(free.back());
                free.pop_back();
                if (candidate->width == width && candidate->height == height) {
                    buffer = std::move(candidate);
                }
            }
        }
        if (!buffer) {
            buffer = std::make_unique<PixelBuffer>();
            buffer->reset420v(width, height);
        }
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

private:
    struct State {
        std::mutex mutex;  // guards free
        std::vector<std::unique_ptr<PixelBuffer>> free;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// ---- the session

class Session final : public CaptureSession {
public:
    explicit Session(std::shared_ptr<Defaults> settings) : settings_(std::move(settings)) {}
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
            thread_.join();
            closeStream();
        }
        ended_ = false;
        if (auto opened = openStream(); !opened) {
            PINDLE_LOG_ERROR(kTag, "%s", opened.error().message.c_str());
            closeStream();
            return opened.error();
        }
        stopRequested_ = false;
        running_ = true;
        thread_ = std::thread([this] { run(); });
        return Ok{};
    }

    void stopRunning() override {
        std::lock_guard runLock(runMutex_);
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                stopRequested_ = true;
            }
            wake_.notify_all();
            thread_.join();
        }
        closeStream();
        running_ = false;
    }

    bool isRunning() const override { return running_; }

    CaptureStatistics statistics() const override { return delivery_.statistics(); }

private:
    Status openStream() {
        std::shared_ptr<ScreenInput> input;
        {
            std::lock_guard lock(mutex_);
            if (!inputs_.empty()) {
                input = inputs_.back();
            }
        }
        if (!input) {
            return Error{"no display to capture was chosen"};
        }
        auto outputs = queryOutputs();
        if (!outputs) {
            return outputs.error();
        }
        PortalRequest request;
        request.embedCursor = input->capturesCursor();
        if (settings_) {
            request.restoreToken = settings_->stringForKey(kRestoreTokenKey).value_or("");
        }
        auto session = startScreenCast(request);
        if (!session) {
            return session.error();
        }
        portal_ = std::move(session.value());
        if (settings_ && !portal_->restoreToken().empty()) {
            settings_->setString(kRestoreTokenKey, portal_->restoreToken());
            settings_->synchronize();
        }

        const PortalStream& stream = portal_->stream();
        const Output* wanted = nullptr;
        for (const Output& o : *outputs) {
            if (o.displayID == input->displayID()) {
                wanted = &o;
            }
        }
        if (wanted == nullptr) {
            return Error{"display " + std::to_string(input->displayID()) + " is not attached"};
        }
        if (stream.hasPlace) {
            const Output* shared =
                outputForStream(*outputs, stream.x, stream.y, stream.width, stream.height);
            if (shared != wanted) {
                // Ask again next time rather than share the same wrong screen.
                if (settings_) {
                    settings_->remove(kRestoreTokenKey);
                    settings_->synchronize();
                }
                return Error{"the desktop shared " +
                             (shared ? "the screen \"" + shared->name + "\"" : "another screen") +
                             ", but the capture region is on \"" + wanted->name +
                             "\"; choose that screen when the desktop asks"};
            }
        }
        logicalSize_ = Size{double(wanted->logical.width), double(wanted->logical.height)};

        shared_ = std::make_shared<Shared>();
        stream_ = std::make_unique<PipeWireStream>(shared_);
        if (auto opened = stream_->open(portal_->takePipeWireFd(), stream.nodeID); !opened) {
            return opened.error();
        }
        // The format comes within a moment of connecting; without it nothing can be cropped.
        std::unique_lock lock(shared_->mutex);
        if (!shared_->changed.wait_for(lock, std::chrono::seconds(5), [&] {
                return shared_->streamWidth > 0 || !shared_->failure.empty();
            })) {
            return Error{"the screen-cast stream agreed no picture format with PipeWire"};
        }
        if (!shared_->failure.empty()) {
            return Error{shared_->failure};
        }
        if (avFormat(shared_->spaFormat) == AV_PIX_FMT_NONE) {
            return Error{"the screen-cast stream's pixel format is not supported"};
        }
        return Ok{};
    }

    void closeStream() {
        if (shared_) {
            uint64_t pictures = 0;
            {
                std::lock_guard lock(shared_->mutex);
                pictures = shared_->serial;
            }
            PINDLE_LOG_INFO(
                kTag, "stopped: %llu pictures from the compositor, %llu frames delivered",
                static_cast<unsigned long long>(pictures),
                static_cast<unsigned long long>(delivery_.statistics().framesDelivered));
        }
        stream_.reset();
        portal_.reset();
        shared_.reset();
        sws_freeContext(sws_);
        sws_ = nullptr;
        last_.reset();
    }

    bool sleepUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return !wake_.wait_until(lock, deadline, [this] { return stopRequested_; });
    }

    // Converts the newest copied crop to a 420v picture of width x height; the last picture
    // again when no frame came since (the compositor sends frames only on change).
    PixelBufferPtr picture(const PixelRect& rect, int width, int height) {
        uint32_t spaFormat = 0;
        {
            std::lock_guard lock(shared_->mutex);
            shared_->crop = rect;
            spaFormat = shared_->spaFormat;
            const PixelRect& copied = shared_->pixelsRect;
            if (shared_->serial != lastSerial_ && rect.x >= copied.x && rect.y >= copied.y &&
                rect.x + rect.width <= copied.x + copied.width &&
                rect.y + rect.height <= copied.y + copied.height) {
                lastSerial_ = shared_->serial;
                working_.swap(shared_->pixels);
                workingRect_ = copied;
                fresh_ = true;
            }
        }
        if (fresh_) {
            fresh_ = false;
            sws_ = sws_getCachedContext(sws_, rect.width, rect.height, avFormat(spaFormat), width,
                                        height, AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr, nullptr,
                                        nullptr);
            const PixelRect& w = workingRect_;
            if (sws_ == nullptr || working_.size() < size_t(w.width) * w.height * 4) {
                return last_;
            }
            auto buffer = pool_.make(width, height);
            const uint8_t* source[1] = {
                working_.data() + (size_t(rect.y - w.y) * w.width + size_t(rect.x - w.x)) * 4};
            const int sourceStride[1] = {w.width * 4};
            sws_scale(sws_, source, sourceStride, 0, rect.height, buffer->planes, buffer->strides);
            last_ = std::move(buffer);
        }
        if (last_ && (last_->width != width || last_->height != height)) {
            return nullptr;  // the crop changed size: wait for a frame of the new one
        }
        return last_;
    }

    void run() {
        dispatch::setCurrentThreadName("pindle.wlgrab");
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
            // Stamped with the slot on the schedule; a late wake-up moves the schedule rather
            // than bursting.
            Clock::time_point slot = next;
            if (Clock::now() - slot > period) {
                slot = Clock::now();
            }
            next = slot + period;

            int streamWidth = 0;
            int streamHeight = 0;
            {
                std::lock_guard lock(shared_->mutex);
                if (!shared_->failure.empty()) {
                    const Error error{shared_->failure};
                    fail(error, delegate, queue);
                    return;
                }
                streamWidth = shared_->streamWidth;
                streamHeight = shared_->streamHeight;
            }
            if (!input || !queue) {
                continue;
            }
            const Rect crop = input->cropRect();
            const PixelRect rect = streamRectForCrop(crop, logicalSize_, streamWidth, streamHeight);
            const PixelRect size = outputSizeForCrop(crop);
            if (rect.width <= 0) {
                continue;
            }
            if (delivery_.dropsLateFrame()) {
                continue;
            }
            PixelBufferPtr frame = picture(rect, size.width, size.height);
            if (!frame) {
                continue;
            }
            delivery_.deliver(delivery_.sample(std::move(frame), slot, frameDuration),
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

    const std::shared_ptr<Defaults> settings_;
    std::mutex runMutex_;  // serialises startRunning and stopRunning
    std::mutex mutex_;     // guards inputs_, delegate_, queue_, stopRequested_
    std::condition_variable wake_;
    std::vector<std::shared_ptr<ScreenInput>> inputs_;
    std::weak_ptr<VideoDataOutputDelegate> delegate_;
    dispatch::QueuePtr queue_;
    bool stopRequested_ = false;
    std::atomic<bool> running_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
    CaptureDelivery delivery_{kTag, [this](auto deadline) { return sleepUntil(deadline); }};

    // Made by startRunning, used by the capture thread, closed once it ended.
    std::unique_ptr<ScreenCastSession> portal_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<PipeWireStream> stream_;
    Size logicalSize_;
    // The capture thread's own.
    std::vector<uint8_t> working_;
    PixelRect workingRect_;
    uint64_t lastSerial_ = 0;
    bool fresh_ = false;
    SwsContext* sws_ = nullptr;
    PixelBufferPool pool_;
    PixelBufferPtr last_;
};

class Platform final : public ScreenCapturePlatform {
public:
    explicit Platform(std::shared_ptr<Defaults> settings) : settings_(std::move(settings)) {}

    std::vector<Screen> screens() override {
        auto outputs = queryOutputs();
        if (!outputs) {
            PINDLE_LOG_ERROR(kTag, "%s", outputs.error().message.c_str());
            return {};
        }
        return screensForOutputs(*outputs);
    }

    std::vector<DisplayID> displaysWithPoint(Point point) override {
        auto outputs = queryOutputs();
        return outputs ? outputsContaining(*outputs, point) : std::vector<DisplayID>{};
    }

    std::unique_ptr<CaptureSession> makeSession() override {
        return std::make_unique<Session>(settings_);
    }

    std::shared_ptr<ScreenInput> makeScreenInput(DisplayID displayID) override {
        return std::make_shared<ScreenInput>(displayID, true);
    }

private:
    std::shared_ptr<Defaults> settings_;
};

}  // namespace

std::unique_ptr<ScreenCapturePlatform> makeScreenCapturePlatform(
    std::shared_ptr<Defaults> settings) {
    return std::make_unique<Platform>(std::move(settings));
}

std::string pipeWireVersion() {
    return pw_get_library_version();
}

}  // namespace pindle::wayland
