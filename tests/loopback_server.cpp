#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace pindle::test {
namespace {

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string findHeader(const std::vector<std::pair<std::string, std::string>>& headers,
                       const std::string& name) {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return {};
}

std::string percentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool sendAll(int socket, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t count = ::send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) {
            return false;
        }
        sent += static_cast<size_t>(count);
    }
    return true;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 307:
            return "Temporary Redirect";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    return findHeader(headers, name);
}

std::map<std::string, std::string> RecordedRequest::queryItems() const {
    std::map<std::string, std::string> items;
    size_t start = 0;
    while (start < query.size()) {
        size_t end = query.find('&', start);
        std::string piece = query.substr(start, end == std::string::npos ? end : end - start);
        size_t equals = piece.find('=');
        items[percentDecode(piece.substr(0, equals))] =
            equals == std::string::npos ? "" : percentDecode(piece.substr(equals + 1));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return items;
}

std::string FormPart::header(const std::string& headerName) const {
    return findHeader(headers, headerName);
}

LoopbackServer::LoopbackServer(bool keepBodies) : keepBodies_(keepBodies) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0) {
        throw std::runtime_error("cannot listen on the loopback interface");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptThread_.join();
    ::close(listener_);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

std::string LoopbackServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void LoopbackServer::route(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[{method, path}] = std::move(handler);
}

void LoopbackServer::route(const std::string& method, const std::string& path, CannedReply reply) {
    route(method, path, [reply](const RecordedRequest&) { return reply; });
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackServer::waitForRequests(size_t count, int timeoutMilliseconds) const {
    std::unique_lock lock(mutex_);
    return answered_.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                              [&] { return requests_.size() >= count; });
}

void LoopbackServer::acceptLoop() {
    while (!stopping_) {
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (stopping_) {
                return;
            }
            continue;
        }
        std::lock_guard lock(mutex_);
        workers_.emplace_back([this, connection] {
            serve(connection);
            ::close(connection);
        });
    }
}

void LoopbackServer::serve(int connection) {
    std::string buffer;
    std::vector<char> chunk(256 * 1024);
    auto receive = [&]() -> bool {
        pollfd poller{connection, POLLIN, 0};
        if (::poll(&poller, 1, 30000) <= 0) {
            return false;
        }
        ssize_t count = ::recv(connection, chunk.data(), chunk.size(), 0);
        if (count <= 0) {
            return false;
        }
        buffer.append(chunk.data(), static_cast<size_t>(count));
        return true;
    };
    size_t headerEnd;
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!receive()) {
            return;
        }
    }
    RecordedRequest request;
    std::string head = buffer.substr(0, headerEnd);
    buffer.erase(0, headerEnd + 4);
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    size_t firstSpace = requestLine.find(' ');
    size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = question == std::string::npos ? "" : request.target.substr(question + 1);
    size_t start = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (start < head.size()) {
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end == std::string::npos ? end : end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    if (strcasecmp(request.header("Expect").c_str(), "100-continue") == 0) {
        sendAll(connection, "HTTP/1.1 100 Continue\r\n\r\n");
    }
    std::string lengthText = request.header("Content-Length");
    uint64_t expected = lengthText.empty() ? 0 : std::stoull(lengthText);
    uint64_t received = 0;
    for (;;) {
        uint64_t take = std::min<uint64_t>(buffer.size(), expected - received);
        if (keepBodies_) {
            request.body.append(buffer, 0, take);
        }
        received += take;
        buffer.clear();
        if (received >= expected || !receive()) {
            break;
        }
    }
    request.bodyLength = received;

    Handler handler;
    {
        std::lock_guard lock(mutex_);
        auto found = routes_.find({request.method, request.path});
        if (found != routes_.end()) {
            handler = found->second;
        }
    }
    CannedReply reply = handler ? handler(request) : CannedReply{404, "text/plain", "no route"};
    if (reply.hangUp) {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(request));
        }
        answered_.notify_all();
        return;
    }
    std::string response =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
    if (!reply.contentType.empty()) {
        response += "Content-Type: " + reply.contentType + "\r\n";
    }
    for (const auto& [name, value] : reply.headers) {
        response += name + ": " + value + "\r\n";
    }
    if (reply.stream.empty()) {
        response += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    response += "Connection: close\r\n\r\n" + reply.body;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    // Waits in small steps, so that a server being destroyed does not wait for it.
    auto pause = [&](std::chrono::milliseconds duration) {
        auto until = std::chrono::steady_clock::now() + duration;
        while (!stopping_ && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return !stopping_;
    };
    bool sent = pause(reply.delay) && sendAll(connection, response);
    answered_.notify_all();
    if (!sent) {
        return;
    }
    if (!reply.stream.empty()) {
        while (pause(reply.streamInterval) && sendAll(connection, reply.stream)) {
        }
    }
    ::shutdown(connection, SHUT_WR);
}

std::vector<FormPart> parseMultipart(const std::string& contentType, const std::string& body) {
    const std::string key = "boundary=";
    size_t at = contentType.find(key);
    if (contentType.rfind("multipart/form-data", 0) != 0 || at == std::string::npos) {
        throw std::runtime_error("not a multipart/form-data type: " + contentType);
    }
    std::string boundary = contentType.substr(at + key.size());
    std::string delimiter = "--" + boundary;
    if (body.compare(0, delimiter.size() + 2, delimiter + "\r\n") != 0) {
        throw std::runtime_error("the body does not open with the boundary");
    }
    std::string closing = "\r\n" + delimiter + "--\r\n";
    if (body.size() < closing.size() ||
        body.compare(body.size() - closing.size(), closing.size(), closing) != 0) {
        throw std::runtime_error("the body does not end with the closing boundary");
    }
    std::vector<FormPart> parts;
    size_t position = delimiter.size() + 2;
    const std::string separator = "\r\n" + delimiter;
    while (position < body.size()) {
        size_t next = body.find(separator, position);
        if (next == std::string::npos) {
            throw std::runtime_error("a part has no end");
        }
        std::string section = body.substr(position, next - position);
        size_t blank = section.find("\r\n\r\n");
        if (blank == std::string::npos) {
            throw std::runtime_error("a part has no header block");
        }
        FormPart part;
        size_t lineStart = 0;
        while (lineStart < blank) {
            size_t lineEnd = section.find("\r\n", lineStart);
            std::string line = section.substr(lineStart, lineEnd - lineStart);
            size_t colon = line.find(':');
            if (colon == std::string::npos) {
                throw std::runtime_error("a part header has no colon: " + line);
            }
            part.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
            lineStart = lineEnd + 2;
        }
        part.body = section.substr(blank + 4);
        std::string disposition = part.header("Content-Disposition");
        auto quoted = [&](const std::string& field) -> std::string {
            std::string marker = field + "=\"";
            size_t begin = disposition.find(marker);
            if (begin == std::string::npos) {
                return {};
            }
            begin += marker.size();
            return disposition.substr(begin, disposition.find('"', begin) - begin);
        };
        part.name = quoted("; name");
        part.fileName = quoted("filename");
        parts.push_back(std::move(part));
        position = next + separator.size();
        if (body.compare(position, 2, "--") == 0) {
            break;
        }
        position += 2;  // CRLF after the delimiter
    }
    return parts;
}

}  // namespace pindle::test
