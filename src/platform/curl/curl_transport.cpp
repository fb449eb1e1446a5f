#include "platform/curl/curl_transport.h"

#include <curl/curl.h>

#include <strings.h>
#include <cstring>
#include <mutex>

namespace pindle::curl {
namespace {

constexpr long kConnectTimeoutSeconds = 60;
// A transfer that moves less than one byte a second for this long is given up.
constexpr long kStallTimeoutSeconds = 60;
constexpr long kMaxRedirections = 10;
constexpr long kUploadBufferBytes = 512 * 1024;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The state of one transfer, seen by libcurl's callbacks.
struct Transfer {
    const http::Request* request = nullptr;
    const http::UploadProgress* progress = nullptr;
    http::Response response;
    uint64_t reportedSent = 0;
    bool bodyFailed = false;
    bool inHeaderBlock = false;
};

size_t receiveBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    transfer->response.body.append(data, size * count);
    return size * count;
}

// Keeps the header fields of the last reply only (redirections and "100 Continue" come
// first).
size_t receiveHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    if (line.rfind("HTTP/", 0) == 0) {
        transfer->response.headers = http::Headers();
        return size * count;
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
}

size_t sendBody(char* buffer, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    int64_t read =
        transfer->request->bodyStream->read(reinterpret_cast<uint8_t*>(buffer), size * count);
    if (read < 0) {
        transfer->bodyFailed = true;
        return CURL_READFUNC_ABORT;
    }
    return static_cast<size_t>(read);
}

int seekBody(void* user, curl_off_t offset, int origin) {
    auto* transfer = static_cast<Transfer*>(user);
    if (offset == 0 && origin == SEEK_SET && transfer->request->bodyStream->rewind()) {
        transfer->reportedSent = 0;
        return CURL_SEEKFUNC_OK;
    }
    return CURL_SEEKFUNC_CANTSEEK;
}

int reportProgress(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                   curl_off_t uploadNow) {
    auto* transfer = static_cast<Transfer*>(user);
    auto sent = static_cast<uint64_t>(uploadNow);
    if (transfer->progress && *transfer->progress && sent > transfer->reportedSent) {
        uint64_t expected = uploadTotal > 0 ? static_cast<uint64_t>(uploadTotal) : sent;
        (*transfer->progress)(sent - transfer->reportedSent, sent, expected);
        transfer->reportedSent = sent;
    }
    return 0;
}

class CurlTransport final : public http::Transport {
public:
    CurlTransport() {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }

    http::Outcome perform(const http::Request& request,
                          const http::UploadProgress& progress) override {
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
        // A redirection never leaves TLS: a body or address with credentials sent over HTTPS
        // must not be repeated in plain text.
        bool secure = strncasecmp(request.url.c_str(), "https:", 6) == 0;
        curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirections);
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kStallTimeoutSeconds);
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

        CURLcode result = curl_easy_perform(handle);
        if (result != CURLE_OK) {
            std::string message = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
            if (transfer.bodyFailed) {
                message = "the request body could not be read";
            }
            return http::TransportError{static_cast<long>(result), message};
        }
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.response.statusCode);
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
