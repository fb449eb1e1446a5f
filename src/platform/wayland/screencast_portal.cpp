#include "platform/wayland/screencast_portal.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>

#include "base/log.h"

// sd-bus rather than Qt D-Bus: the portal's answers come as signals, and a session is
// started from a capture worker thread that must block until the answer comes. sd-bus waits
// on its own connection in the calling thread, without an event loop of the main thread, and
// keeps this backend, like the X11 one, free of Qt.
namespace pindle::wayland {
namespace {

constexpr const char* kTag = "portal";
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kDesktopPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kCursorHidden = 1;
constexpr uint32_t kCursorEmbedded = 2;
constexpr uint32_t kPersistUntilRevoked = 2;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;
struct MessageDeleter {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;
struct SlotDeleter {
    void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotDeleter>;

// An sd_bus_error freed on scope exit.
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free(&error); }
    std::string text(int code) const {
        if (error.message != nullptr) {
            return error.message;
        }
        return std::strerror(-code);
    }
};

Result<Bus> openBus() {
    sd_bus* bus = nullptr;
    if (int r = sd_bus_open_user(&bus); r < 0) {
        return Error{std::string("cannot reach the session bus: ") + std::strerror(-r)};
    }
    return Bus(bus);
}

// Reads a property of the ScreenCast interface; nullopt when it cannot be read.
std::optional<uint32_t> readProperty(sd_bus* bus, const char* name, std::string* problem) {
    BusError error;
    uint32_t value = 0;
    int r = sd_bus_get_property_trivial(bus, kPortal, kDesktopPath, kScreenCast, name, &error.error,
                                        'u', &value);
    if (r < 0) {
        if (problem != nullptr) {
            *problem = error.text(r);
        }
        return std::nullopt;
    }
    return value;
}

// Walks an a{sv}: for each key, visit is called with the message positioned on the variant;
// it reads the variant or returns false to have it skipped.
int readVardict(sd_bus_message* m, const std::function<bool(const std::string&)>& visit) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) {
        return r;
    }
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read_basic(m, 's', &key)) < 0) {
            return r;
        }
        if (!visit(key)) {
            if ((r = sd_bus_message_skip(m, "v")) < 0) {
                return r;
            }
        }
        if ((r = sd_bus_message_exit_container(m)) < 0) {
            return r;
        }
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_exit_container(m);
}

// Reads a variant holding one value of a basic type.
template <typename T>
bool readVariant(sd_bus_message* m, char type, T* value) {
    const char signature[2] = {type, 0};
    if (sd_bus_message_enter_container(m, 'v', signature) < 0) {
        return false;
    }
    bool ok = sd_bus_message_read_basic(m, type, value) >= 0;
    return sd_bus_message_exit_container(m) >= 0 && ok;
}

// Reads a variant holding a pair of 32-bit integers, (ii).
bool readPair(sd_bus_message* m, int* a, int* b) {
    if (sd_bus_message_enter_container(m, 'v', "(ii)") < 0) {
        return false;
    }
    int32_t x = 0;
    int32_t y = 0;
    bool ok = sd_bus_message_read(m, "(ii)", &x, &y) >= 0;
    *a = x;
    *b = y;
    return sd_bus_message_exit_container(m) >= 0 && ok;
}

// Appends an a{sv} of string, uint32 and bool entries.
struct Option {
    const char* key;
    char type;  // 's', 'u' or 'b'
    std::string text;
    uint32_t number = 0;
};

int appendOptions(sd_bus_message* m, const std::vector<Option>& options) {
    int r = sd_bus_message_open_container(m, 'a', "{sv}");
    for (const Option& option : options) {
        if (r < 0) {
            break;
        }
        const char signature[2] = {option.type, 0};
        r = sd_bus_message_open_container(m, 'e', "sv");
        if (r >= 0) {
            r = sd_bus_message_append_basic(m, 's', option.key);
        }
        if (r >= 0) {
            r = sd_bus_message_open_container(m, 'v', signature);
        }
        if (r >= 0) {
            if (option.type == 's') {
                r = sd_bus_message_append_basic(m, 's', option.text.c_str());
            } else {
                const uint32_t value = option.number;  // 'u', and 'b' as a 0 or 1 int
                const int flag = value != 0 ? 1 : 0;
                r = option.type == 'b' ? sd_bus_message_append_basic(m, 'b', &flag)
                                       : sd_bus_message_append_basic(m, 'u', &value);
            }
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(m);
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(m);
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(m);
    }
    return r;
}

class Session final : public ScreenCastSession {
public:
    Session(Bus bus, std::string handle) : bus_(std::move(bus)), handle_(std::move(handle)) {}
    ~Session() override {
        if (fd_ >= 0) {
            close(fd_);
        }
        if (bus_ && !handle_.empty()) {
            BusError error;
            sd_bus_call_method(bus_.get(), kPortal, handle_.c_str(),
                               "org.freedesktop.portal.Session", "Close", &error.error, nullptr,
                               "");
        }
    }

    const PortalStream& stream() const override { return stream_; }
    const std::string& restoreToken() const override { return restoreToken_; }
    int takePipeWireFd() override { return std::exchange(fd_, -1); }

    // One request: calls method with the arguments append writes (after the session handle
    // when there is one), then waits for the Response signal of its request object.
    // readResults reads the results vardict of a successful answer.
    Status request(const char* method, const std::vector<Option>& options, int timeoutSeconds,
                   const std::function<bool(sd_bus_message*, const std::string&)>& readResult) {
        const std::string token = "pindle" + std::to_string(++serial_);
        const char* unique = nullptr;
        if (int r = sd_bus_get_unique_name(bus_.get(), &unique); r < 0) {
            return Error{std::string("the session bus gave no name: ") + std::strerror(-r)};
        }
        std::string sender = unique + 1;  // ":1.42" is "1_42" in the request's path
        for (char& c : sender) {
            if (c == '.') {
                c = '_';
            }
        }
        const std::string path = std::string(kDesktopPath) + "/request/" + sender + "/" + token;

        struct Answer {
            bool received = false;
            uint32_t code = 2;
            Message message;
        } answer;
        sd_bus_slot* rawSlot = nullptr;
        int r = sd_bus_match_signal(
            bus_.get(), &rawSlot, kPortal, path.c_str(), "org.freedesktop.portal.Request",
            "Response",
            [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
                auto* a = static_cast<Answer*>(data);
                a->received = true;
                sd_bus_message_read_basic(m, 'u', &a->code);
                a->message.reset(sd_bus_message_ref(m));
                return 0;
            },
            &answer);
        if (r < 0) {
            return Error{std::string("cannot listen to the portal: ") + std::strerror(-r)};
        }
        Slot slot(rawSlot);

        sd_bus_message* rawCall = nullptr;
        r = sd_bus_message_new_method_call(bus_.get(), &rawCall, kPortal, kDesktopPath, kScreenCast,
                                           method);
        Message call(rawCall);
        if (r >= 0 && !handle_.empty()) {
            r = sd_bus_message_append_basic(call.get(), 'o', handle_.c_str());
        }
        if (r >= 0 && std::strcmp(method, "Start") == 0) {
            r = sd_bus_message_append_basic(call.get(), 's', "");  // no parent window
        }
        std::vector<Option> all = options;
        all.push_back({"handle_token", 's', token});
        if (r >= 0) {
            r = appendOptions(call.get(), all);
        }
        if (r < 0) {
            return Error{std::string("cannot ask the portal: ") + std::strerror(-r)};
        }
        BusError error;
        sd_bus_message* rawReply = nullptr;
        r = sd_bus_call(bus_.get(), call.get(), 10'000'000, &error.error, &rawReply);
        Message reply(rawReply);
        if (r < 0) {
            return Error{std::string("the desktop portal failed at ") + method + ": " +
                         error.text(r)};
        }

        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
        while (!answer.received) {
            r = sd_bus_process(bus_.get(), nullptr);
            if (r < 0) {
                return Error{std::string("the session bus connection failed: ") +
                             std::strerror(-r)};
            }
            if (r > 0) {
                continue;
            }
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                return Error{std::string("the desktop portal did not answer ") + method};
            }
            sd_bus_wait(
                bus_.get(),
                uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(left).count()));
        }
        if (answer.code == 1) {
            return Error{"screen sharing was cancelled in the desktop's dialog"};
        }
        if (answer.code != 0) {
            return Error{std::string("the desktop portal refused to share the screen (") + method +
                         " answered " + std::to_string(answer.code) + ")"};
        }
        r = readVardict(answer.message.get(), [&](const std::string& key) {
            return readResult(answer.message.get(), key);
        });
        if (r < 0) {
            return Error{std::string("the desktop portal's answer to ") + method +
                         " cannot be read"};
        }
        return Ok{};
    }

    Status openPipeWire() {
        BusError error;
        sd_bus_message* rawReply = nullptr;
        sd_bus_message* rawCall = nullptr;
        int r = sd_bus_message_new_method_call(bus_.get(), &rawCall, kPortal, kDesktopPath,
                                               kScreenCast, "OpenPipeWireRemote");
        Message call(rawCall);
        if (r >= 0) {
            r = sd_bus_message_append_basic(call.get(), 'o', handle_.c_str());
        }
        if (r >= 0) {
            r = appendOptions(call.get(), {});
        }
        if (r >= 0) {
            r = sd_bus_call(bus_.get(), call.get(), 10'000'000, &error.error, &rawReply);
        }
        Message reply(rawReply);
        int fd = -1;
        if (r >= 0) {
            r = sd_bus_message_read_basic(reply.get(), 'h', &fd);
        }
        if (r < 0 || fd < 0) {
            return Error{"the desktop portal gave no PipeWire connection: " + error.text(r)};
        }
        fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);  // the message owns fd
        if (fd_ < 0) {
            return Error{std::string("cannot keep the PipeWire connection: ") +
                         std::strerror(errno)};
        }
        return Ok{};
    }

    Bus bus_;
    std::string handle_;
    PortalStream stream_;
    std::string restoreToken_;
    int fd_ = -1;
    int serial_ = 0;
};

}  // namespace

PortalInfo queryScreenCastPortal() {
    PortalInfo info;
    auto bus = openBus();
    if (!bus) {
        info.problem = bus.error().message;
        return info;
    }
    std::string problem;
    auto version = readProperty(bus->get(), "version", &problem);
    if (!version) {
        info.problem = "the desktop portal offers no screen casting (" + problem + ")";
        return info;
    }
    info.offersScreenCast = true;
    info.version = *version;
    info.sourceTypes = readProperty(bus->get(), "AvailableSourceTypes", nullptr).value_or(0);
    info.cursorModes = readProperty(bus->get(), "AvailableCursorModes", nullptr).value_or(0);
    if ((info.sourceTypes & kSourceMonitor) == 0) {
        info.offersScreenCast = false;
        info.problem = "the desktop portal cannot share a whole screen";
    }
    return info;
}

Result<std::unique_ptr<ScreenCastSession>> startScreenCast(const PortalRequest& request) {
    const PortalInfo info = queryScreenCastPortal();
    if (!info.offersScreenCast) {
        return Error{info.problem};
    }
    auto bus = openBus();
    if (!bus) {
        return bus.error();
    }
    auto session = std::make_unique<Session>(std::move(bus.value()), std::string{});

    std::string handle;
    auto created =
        session->request("CreateSession", {{"session_handle_token", 's', "pindle"}}, 30,
                         [&](sd_bus_message* m, const std::string& key) {
                             const char* value = nullptr;
                             if (key == "session_handle" && readVariant(m, 's', &value)) {
                                 handle = value;
                                 return true;
                             }
                             return false;
                         });
    if (!created) {
        return created.error();
    }
    if (handle.empty()) {
        return Error{"the desktop portal made no screen-cast session"};
    }
    session->handle_ = handle;

    uint32_t cursor = 0;
    if (request.embedCursor && (info.cursorModes & kCursorEmbedded) != 0) {
        cursor = kCursorEmbedded;
    } else if ((info.cursorModes & kCursorHidden) != 0) {
        cursor = kCursorHidden;
    }
    std::vector<Option> select{{"types", 'u', {}, kSourceMonitor}, {"multiple", 'b', {}, 0}};
    if (cursor != 0) {
        select.push_back({"cursor_mode", 'u', {}, cursor});
    }
    if (info.version >= 4) {
        select.push_back({"persist_mode", 'u', {}, kPersistUntilRevoked});
        if (!request.restoreToken.empty()) {
            select.push_back({"restore_token", 's', request.restoreToken});
        }
    }
    if (auto selected = session->request("SelectSources", select, 30,
                                         [](sd_bus_message*, const std::string&) { return false; });
        !selected) {
        return selected.error();
    }

    bool haveStream = false;
    auto started = session->request(
        "Start", {}, request.timeoutSeconds, [&](sd_bus_message* m, const std::string& key) {
            if (key == "restore_token") {
                const char* value = nullptr;
                if (readVariant(m, 's', &value)) {
                    session->restoreToken_ = value;
                    return true;
                }
                return false;
            }
            if (key != "streams" || sd_bus_message_enter_container(m, 'v', "a(ua{sv})") < 0) {
                return false;
            }
            sd_bus_message_enter_container(m, 'a', "(ua{sv})");
            while (sd_bus_message_enter_container(m, 'r', "ua{sv}") > 0) {
                PortalStream stream;
                sd_bus_message_read_basic(m, 'u', &stream.nodeID);
                bool hasPosition = false;
                bool hasSize = false;
                readVardict(m, [&](const std::string& property) {
                    if (property == "position") {
                        return hasPosition = readPair(m, &stream.x, &stream.y);
                    }
                    if (property == "size") {
                        return hasSize = readPair(m, &stream.width, &stream.height);
                    }
                    return false;
                });
                stream.hasPlace = hasPosition && hasSize;
                sd_bus_message_exit_container(m);
                if (!haveStream) {
                    session->stream_ = stream;
                    haveStream = true;
                }
            }
            sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
            return true;
        });
    if (!started) {
        return started.error();
    }
    if (!haveStream) {
        return Error{"the desktop portal shared no screen"};
    }
    if (auto opened = session->openPipeWire(); !opened) {
        return opened.error();
    }
    PINDLE_LOG_INFO(kTag, "sharing PipeWire node %u (%d,%d %dx%d)%s", session->stream_.nodeID,
                    session->stream_.x, session->stream_.y, session->stream_.width,
                    session->stream_.height,
                    session->restoreToken_.empty() ? "" : " with a restore token");
    return std::unique_ptr<ScreenCastSession>(std::move(session));
}

}  // namespace pindle::wayland
