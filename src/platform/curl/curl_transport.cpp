#include "platform/curl/curl_transport.h"

#include <curl/curl.h>

#include <strings.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

namespace pindle::curl {
namespace {

constexpr long kMaxRedirections = 10;
constexpr long kUploadBufferBytes = 512 * 1024;
// The header block of one reply; more ends the transfer.
constexpr size_t kMaxHeaderBytes = 64 * 1024;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct URLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// The state of one transfer, seen by libcurl's callbacks.
struct Transfer {
    const http::Request* request = nullptr;
    const http::UploadProgress* progress = nullptr;
    http::Response response;
    uint64_t reportedSent = 0;
    size_t headerBytes = 0;
    // Why a callback ended the transfer; empty while none did.
    std::string failure;
    long failureCode = 0;

    // Ends the transfer from a callback with this reason (the first one given stays).
    void fail(long code, std::string reason) {
        if (failure.empty()) {
            failureCode = code;
            failure = std::move(reason);
        }
    }
};

// The callbacks run inside libcurl's C code: no exception may leave them. Each catches
// everything, records it and returns the value that makes libcurl end the transfer.
void failFromException(Transfer& transfer, const char* what) {
    try {
        transfer.fail(http::kTransportFailedCode, what);
    } catch (...) {
        // No memory for the text: the transfer still ends, with libcurl's own message.
    }
}

std::string tooLargeMessage(uint64_t limit) {
    return "the server's reply is larger than " + http::describeByteCount(limit);
}

// "30 s", "1.5 s".
std::string describeDuration(std::chrono::milliseconds duration) {
    char text[32];
    if (duration.count() % 1000 == 0) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(duration.count() / 1000));
    } else {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
    }
    return text;
}

size_t receiveBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    try {
        size_t length = size * count;
        uint64_t limit = transfer->request->limits.maxResponseBytes;
        if (transfer->response.body.size() + length > limit) {
            transfer->fail(http::kReplyTooLargeCode, tooLargeMessage(limit));
            return 0;
        }
        transfer->response.body.append(data, length);
        return length;
    } catch (const std::exception& error) {
        failFromException(*transfer, error.what());
    } catch (...) {
        failFromException(*transfer, "the reply could not be stored");
    }
    return 0;
}

// Keeps the header fields of the last reply only (redirections and "100 Continue" come
// first).
size_t receiveHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    try {
        std::string line(data, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.rfind("HTTP/", 0) == 0) {
            transfer->response.headers = http::Headers();
            transfer->headerBytes = 0;
            return size * count;
        }
        transfer->headerBytes += size * count;
        if (transfer->headerBytes > kMaxHeaderBytes) {
            transfer->fail(http::kReplyTooLargeCode, "the server's reply headers are larger than " +
                                                         http::describeByteCount(kMaxHeaderBytes));
            return 0;
        }
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t valueStart = line.find_first_not_of(" \t", colon + 1);
            std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
            std::string name = line.substr(0, colon);
            auto existing = transfer->response.headers.value(name);
            transfer->response.headers.set(name, existing ? *existing + ", " + value : value);
        }
        return size * count;
    } catch (const std::exception& error) {
        failFromException(*transfer, error.what());
    } catch (...) {
        failFromException(*transfer, "the reply's headers could not be stored");
    }
    return 0;
}

size_t sendBody(char* buffer, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    try {
        int64_t read =
            transfer->request->bodyStream->read(reinterpret_cast<uint8_t*>(buffer), size * count);
        if (read >= 0) {
            return static_cast<size_t>(read);
        }
        transfer->fail(CURLE_READ_ERROR, "the request body could not be read");
    } catch (const std::exception& error) {
        failFromException(*transfer, error.what());
    } catch (...) {
        failFromException(*transfer, "the request body could not be read");
    }
    return CURL_READFUNC_ABORT;
}

int seekBody(void* user, curl_off_t offset, int origin) {
    auto* transfer = static_cast<Transfer*>(user);
    try {
        if (offset == 0 && origin == SEEK_SET && transfer->request->bodyStream->rewind()) {
            transfer->reportedSent = 0;
            return CURL_SEEKFUNC_OK;
        }
        return CURL_SEEKFUNC_CANTSEEK;
    } catch (const std::exception& error) {
        failFromException(*transfer, error.what());
    } catch (...) {
        failFromException(*transfer, "the request body could not be read again");
    }
    return CURL_SEEKFUNC_FAIL;
}

int reportProgress(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                   curl_off_t uploadNow) {
    auto* transfer = static_cast<Transfer*>(user);
    try {
        auto sent = static_cast<uint64_t>(uploadNow);
        if (transfer->progress && *transfer->progress && sent > transfer->reportedSent) {
            uint64_t expected = uploadTotal > 0 ? static_cast<uint64_t>(uploadTotal) : sent;
            (*transfer->progress)(sent - transfer->reportedSent, sent, expected);
            transfer->reportedSent = sent;
        }
        return 0;
    } catch (const std::exception& error) {
        failFromException(*transfer, error.what());
    } catch (...) {
        failFromException(*transfer, "the upload progress could not be reported");
    }
    return 1;
}

// "https://host" of an address; the address itself when it cannot be split.
std::string originOf(const char* address) {
    std::unique_ptr<CURLU, URLDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address, 0) != CURLUE_OK) {
        return address;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    std::string origin = address;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        origin = std::string(scheme) + "://" + host;
    }
    curl_free(scheme);
    curl_free(host);
    return origin;
}

// The sentence for a transfer that libcurl ended on one of the time limits.
std::string timeoutMessage(CURL* handle, const http::Limits& limits,
                           std::chrono::steady_clock::duration elapsed) {
    curl_off_t connected = 0;
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected);
    if (connected == 0) {
        return "could not connect to the server within " + describeDuration(limits.connectTimeout);
    }
    // libcurl's timers run on a clock of its own and may fire a moment before this one
    // has counted the whole limit.
    constexpr auto kClockSlack = std::chrono::milliseconds(100);
    if (limits.totalTimeout.count() > 0 && elapsed + kClockSlack >= limits.totalTimeout) {
        return "the server did not answer within " + describeDuration(limits.totalTimeout);
    }
    return "the transfer stalled: less than " + std::to_string(limits.lowSpeedBytes) +
           " bytes a second for " +
           describeDuration(
               std::chrono::duration_cast<std::chrono::milliseconds>(limits.lowSpeedTime));
}

class CurlTransport final : public http::Transport {
public:
    CurlTransport() {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }

    http::Outcome perform(const http::Request& request,
                          const http::UploadProgress& progress) override {
        try {
            return performTransfer(request, progress);
        } catch (const std::exception& error) {
            return http::TransportError{http::kTransportFailedCode, error.what()};
        } catch (...) {
            return http::TransportError{http::kTransportFailedCode, "the transfer failed"};
        }
    }

private:
    static http::Outcome performTransfer(const http::Request& request,
                                         const http::UploadProgress& progress) {
        std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
        if (!easy) {
            return http::TransportError{CURLE_FAILED_INIT, "cannot start a transfer"};
        }
        Transfer transfer;
        transfer.request = &request;
        transfer.progress = &progress;
        CURL* handle = easy.get();
        char errorText[CURL_ERROR_SIZE] = {};

        curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
        // A followed redirection never leaves TLS: an address read over HTTPS is not read
        // again in plain text.
        bool secure = strncasecmp(request.url.c_str(), "https:", 6) == 0;
        curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        bool follow = request.mayFollowRedirections();
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
        curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirections);
        const http::Limits& limits = request.limits;
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(limits.connectTimeout.count()));
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS,
                         static_cast<long>(limits.totalTimeout.count()));
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(limits.lowSpeedTime.count()));
        // A declared length over the limit ends the transfer before the body; the body
        // callback holds the limit for replies without one.
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(limits.maxResponseBytes));
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receiveBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, receiveHeader);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);

        bool hasBody = request.bodyStream || !request.body.empty();
        if (request.method == "GET") {
            curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        } else if (request.method == "HEAD") {
            curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
        } else {
            if (request.method != "POST") {
                curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
            }
            curl_easy_setopt(handle, CURLOPT_POST, 1L);
            if (request.bodyStream) {
                curl_easy_setopt(handle, CURLOPT_READFUNCTION, sendBody);
                curl_easy_setopt(handle, CURLOPT_READDATA, &transfer);
                curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, seekBody);
                curl_easy_setopt(handle, CURLOPT_SEEKDATA, &transfer);
                curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
                curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(request.bodyStream->length()));
            } else {
                curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
                curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(request.body.size()));
            }
        }

        curl_slist* list = nullptr;
        for (const auto& [name, value] : request.headers.fields()) {
            // The length comes from the body given above; libcurl writes it itself.
            if (hasBody && strcasecmp(name.c_str(), "Content-Length") == 0) {
                continue;
            }
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            list = curl_slist_append(list, line.c_str());
        }
        // Sends the body at once instead of waiting for "100 Continue".
        list = curl_slist_append(list, "Expect:");
        std::unique_ptr<curl_slist, ListDeleter> headerList(list);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list);

        auto started = std::chrono::steady_clock::now();
        CURLcode result = curl_easy_perform(handle);
        if (!transfer.failure.empty()) {
            return http::TransportError{transfer.failureCode, transfer.failure};
        }
        if (result == CURLE_FILESIZE_EXCEEDED) {
            return http::TransportError{http::kReplyTooLargeCode,
                                        tooLargeMessage(limits.maxResponseBytes)};
        }
        if (result == CURLE_OPERATION_TIMEDOUT) {
            return http::TransportError{
                http::kTimedOutCode,
                timeoutMessage(handle, limits, std::chrono::steady_clock::now() - started)};
        }
        if (result != CURLE_OK) {
            std::string message = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
            return http::TransportError{static_cast<long>(result), message};
        }
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.response.statusCode);
        char* redirection = nullptr;
        if (!follow && transfer.response.statusCode / 100 == 3 &&
            curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &redirection) == CURLE_OK &&
            redirection != nullptr) {
            return http::TransportError{
                http::kRedirectionRefusedCode,
                "the server redirected the request to " + originOf(redirection) +
                    "; a request that carries a body or credentials is not sent on"};
        }
        char* effectiveURL = nullptr;
        if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effectiveURL) == CURLE_OK &&
            effectiveURL != nullptr) {
            transfer.response.url = effectiveURL;
        }
        return std::move(transfer.response);
    }
};

}  // namespace

std::shared_ptr<http::Transport> makeTransport() {
    return std::make_shared<CurlTransport>();
}

}  // namespace pindle::curl
