#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pindle::test {

// A request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string path;
    std::string query;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    uint64_t bodyLength = 0;  // also counted when bodies are not kept

    // The first header of that name (any case); empty when absent.
    std::string header(const std::string& name) const;
    // The query's key=value pairs, percent-decoded.
    std::map<std::string, std::string> queryItems() const;
};

struct CannedReply {
    CannedReply() = default;
    CannedReply(int statusCode, std::string type, std::string text)
        : status(statusCode), contentType(std::move(type)), body(std::move(text)) {}

    int status = 200;
    std::string contentType = "application/json";  // empty: no Content-Type header
    std::string body = "{}";
    // Further header fields ("Location" of a redirection).
    std::vector<std::pair<std::string, std::string>> headers;
    // The reply waits this long before its first byte.
    std::chrono::milliseconds delay{0};
    // When not empty the reply has no length and never ends: after body it sends these
    // bytes again and again, one piece every streamInterval, until the client hangs up.
    std::string stream;
    std::chrono::milliseconds streamInterval{0};
    // The connection is closed without a reply, as by a server that went away.
    bool hangUp = false;
};

// A small HTTP/1.1 server on 127.0.0.1 and a free port, for tests and benchmarks. It records
// every request and answers from its routes (404 for others), one connection per request.
// Stops and joins its threads when destroyed.
class LoopbackServer {
public:
    using Handler = std::function<CannedReply(const RecordedRequest&)>;

    // keepBodies false: bodies are read and counted, not stored (large uploads).
    explicit LoopbackServer(bool keepBodies = true);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    void route(const std::string& method, const std::string& path, Handler handler);
    void route(const std::string& method, const std::string& path, CannedReply reply);

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string url() const;

    std::vector<RecordedRequest> requests() const;
    // Waits until count requests were answered.
    bool waitForRequests(size_t count, int timeoutMilliseconds = 10000) const;

private:
    void acceptLoop();
    void serve(int connection);

    bool keepBodies_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    mutable std::mutex mutex_;  // guards routes_, requests_, workers_
    mutable std::condition_variable answered_;
    std::map<std::pair<std::string, std::string>, Handler> routes_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::thread> workers_;
};

// One part of a multipart/form-data body.
struct FormPart {
    std::vector<std::pair<std::string, std::string>> headers;
    std::string name;
    std::string fileName;  // empty for a plain field
    std::string body;

    std::string header(const std::string& name) const;
};

// Splits a multipart/form-data body by the boundary named in contentType. Throws
// std::runtime_error when the body does not follow the format.
std::vector<FormPart> parseMultipart(const std::string& contentType, const std::string& body);

}  // namespace pindle::test
