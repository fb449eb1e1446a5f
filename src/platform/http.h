#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// Carrying one HTTP request to its server and its reply back. The HTTP layer of the service
// code builds the requests and judges the replies; a transport only moves the bytes.
namespace pindle::http {

// Header fields in the order they were set. Names compare without regard to case.
class Headers {
public:
    using Field = std::pair<std::string, std::string>;

    std::optional<std::string> value(const std::string& name) const;
    // Replaces every field of that name, or adds one at the end.
    void set(const std::string& name, const std::string& value);
    void remove(const std::string& name);
    const std::vector<Field>& fields() const { return fields_; }

private:
    std::vector<Field> fields_;
};

// A request body read on demand, so a large upload is never held in memory.
// Called on the transport's thread, one call at a time.
class BodyStream {
public:
    virtual ~BodyStream() = default;
    // The total number of bytes read() will give.
    virtual uint64_t length() const = 0;
    // Copies up to capacity next bytes into buffer: their count, 0 at the end, -1 on a read
    // failure (the transfer then fails).
    virtual int64_t read(uint8_t* buffer, size_t capacity) = 0;
    // Starts again from the first byte (a transport may resend the body); false when it
    // cannot.
    virtual bool rewind() = 0;
};

// How much a reply may hold and how long a transfer may take. A transfer that passes one
// ends with a TransportError that names the limit.
struct Limits {
    static constexpr uint64_t kJSONReplyBytes = 8 * 1024 * 1024;
    static constexpr uint64_t kImageReplyBytes = 20 * 1024 * 1024;

    // The largest reply body taken; a larger one ends the transfer.
    uint64_t maxResponseBytes = kJSONReplyBytes;
    // Opening the connection, TLS included.
    std::chrono::milliseconds connectTimeout = std::chrono::seconds(30);
    // The whole exchange, from connecting to the last byte of the reply; zero for none.
    std::chrono::milliseconds totalTimeout = std::chrono::minutes(2);
    // A transfer that moves fewer than lowSpeedBytes a second in either direction for
    // lowSpeedTime is given up: this catches a server that trickles its reply or stays
    // silent, however long the total allows.
    long lowSpeedBytes = 256;
    std::chrono::seconds lowSpeedTime = std::chrono::seconds(30);
};

struct Request {
    std::string method = "GET";
    std::string url;
    Headers headers;
    // The body: bodyStream when set, else these bytes (none for an empty text).
    std::string body;
    std::shared_ptr<BodyStream> bodyStream;
    // Set for requests whose address or headers carry the user's credentials or tokens.
    bool carriesCredentials = false;
    Limits limits;

    // Redirections are followed only for plain reads: a request that carries a body or
    // credentials is never sent on to an address the server names (another host, or plain
    // HTTP after HTTPS); its redirection ends the transfer with an error.
    bool mayFollowRedirections() const;
};

struct Response {
    long statusCode = 0;
    std::string url;  // after redirections
    Headers headers;
    std::string body;

    // The media type of "Content-Type" in lower case, without parameters; empty without one.
    std::string mimeType() const;
    // The "charset" parameter of "Content-Type" in lower case; empty without one.
    std::string textEncodingName() const;
};

// A transfer that did not end with a reply: no connection, time-out, TLS failure, a body
// that could not be read. code is the transport's own, or one of the codes below for the
// failures every transport reports alike; message says what happened.
struct TransportError {
    long code = 0;
    std::string message;
};

inline constexpr long kNoTransportCode = -1;
// The reply body is larger than Limits::maxResponseBytes.
inline constexpr long kReplyTooLargeCode = -2;
// A time limit of Limits passed.
inline constexpr long kTimedOutCode = -3;
// A request that may not follow redirections was redirected.
inline constexpr long kRedirectionRefusedCode = -4;
// The transport failed in a way of its own (out of memory, a body stream that threw).
inline constexpr long kTransportFailedCode = -5;

// "8 MiB", "512 KiB", "100 bytes".
std::string describeByteCount(uint64_t bytes);

using Outcome = std::variant<Response, TransportError>;

// bytesSent since the last call, totalSent so far, totalExpected in the body.
using UploadProgress =
    std::function<void(uint64_t bytesSent, uint64_t totalSent, uint64_t totalExpected)>;

class Transport {
public:
    virtual ~Transport() = default;
    // Sends request and waits for the whole reply. Blocks the calling thread; may run on
    // several threads at once. progress (optional) is called on the calling thread while the
    // body goes out. Redirections are followed as Request::mayFollowRedirections() says;
    // TLS certificates are verified; request.limits hold. Never throws.
    virtual Outcome perform(const Request& request, const UploadProgress& progress) = 0;
};

// The transport the HTTP layer uses. Until the application installs one, every transfer
// fails with a TransportError that says so.
std::shared_ptr<Transport> currentTransport();
void setTransport(std::shared_ptr<Transport> transport);

}  // namespace pindle::http
