#include "service/AFHTTPRequestOperation.h"

#include <cstdio>

#include "base/dispatch.h"

namespace pindle {
namespace {

// Reply bodies are decoded here, never on the main thread.
dispatch::QueuePtr jsonProcessingQueue() {
    return dispatch::globalQueue(dispatch::Priority::Default);
}

// "200-299", "200,204,300-302".
std::string describeCodes(const std::set<long>& codes) {
    std::string text;
    auto it = codes.begin();
    while (it != codes.end()) {
        long first = *it;
        long last = first;
        auto next = std::next(it);
        while (next != codes.end() && *next == last + 1) {
            last = *next;
            ++next;
        }
        if (!text.empty()) {
            text += ",";
        }
        text += first == last ? std::to_string(first)
                              : std::to_string(first) + "-" + std::to_string(last);
        it = next;
    }
    return text;
}

std::string describeTypes(const std::set<std::string>& types) {
    std::string text;
    for (const std::string& type : types) {
        text += (text.empty() ? "" : ", ") + type;
    }
    return "{(" + text + ")}";
}

// Whether text is well-formed UTF-8.
bool isUTF8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t codePoint = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if ((byte & 0xE0) == 0xC0) {
            extra = 1;
            codePoint = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            extra = 2;
            codePoint = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            extra = 3;
            codePoint = byte & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (codePoint < kSmallest[extra] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string latin1ToUTF8(const std::string& text) {
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// The start of a body for an error text, with anything but printable ASCII as "?".
std::string printablePrefix(const std::string& body) {
    std::string text = body.substr(0, 64);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            c = '?';
        }
    }
    return body.size() > text.size() ? text + "..." : text;
}

}  // namespace

// ---- AFURLConnectionOperation

AFURLConnectionOperation::AFURLConnectionOperation(http::Request request)
    : request_(std::make_shared<const http::Request>(std::move(request))),
      transport_(http::currentTransport()) {}

const std::string& AFURLConnectionOperation::responseData() const {
    static const std::string kNone;
    return response_ ? response_->body : kNone;
}

void AFURLConnectionOperation::start() {
    State expected = State::Ready;
    if (!state_.compare_exchange_strong(expected, State::Executing)) {
        return;
    }
    http::UploadProgress progress;
    if (uploadProgress_) {
        progress = [this](uint64_t sent, uint64_t total, uint64_t expectedTotal) {
            reportProgress(sent, total, expectedTotal);
        };
    }
    // This runs as a task of the operation queue, where an exception would end the program.
    http::Outcome outcome;
    try {
        outcome = transport_->perform(*request_, progress);
    } catch (const std::exception& error) {
        outcome = http::TransportError{http::kTransportFailedCode, error.what()};
    } catch (...) {
        outcome = http::TransportError{http::kTransportFailedCode, "the transfer failed"};
    }
    if (auto* response = std::get_if<http::Response>(&outcome)) {
        response_ = std::make_shared<const http::Response>(std::move(*response));
    } else {
        const auto& failure = std::get<http::TransportError>(outcome);
        transportError_ =
            HTTPError{kHTTPTransportErrorDomain, failure.code, failure.message, {}, request_, {}};
    }
    finish();
}

void AFURLConnectionOperation::reportProgress(uint64_t bytesSent, uint64_t totalSent,
                                              uint64_t totalExpected) {
    std::lock_guard lock(progressMutex_);
    pendingBytes_ += bytesSent;
    pendingTotal_ = totalSent;
    pendingExpected_ = totalExpected;
    if (progressQueued_) {
        return;
    }
    progressQueued_ = true;
    dispatch::mainQueue()->async([self = shared_from_this()] {
        uint64_t bytes = 0;
        uint64_t total = 0;
        uint64_t expected = 0;
        {
            std::lock_guard deliveryLock(self->progressMutex_);
            bytes = std::exchange(self->pendingBytes_, 0);
            total = self->pendingTotal_;
            expected = self->pendingExpected_;
            self->progressQueued_ = false;
        }
        if (self->uploadProgress_) {
            self->uploadProgress_(bytes, total, expected);
        }
    });
}

// ---- AFHTTPRequestOperation

AFHTTPRequestOperation::AFHTTPRequestOperation(http::Request request)
    : AFURLConnectionOperation(std::move(request)) {}

const std::set<long>& AFHTTPRequestOperation::acceptableStatusCodes() const {
    static const std::set<long> codes = [] {
        std::set<long> all;
        for (long code = 200; code <= 299; ++code) {
            all.insert(code);
        }
        return all;
    }();
    return codes;
}

const std::set<std::string>& AFHTTPRequestOperation::acceptableContentTypes() const {
    static const std::set<std::string> any;
    return any;
}

bool AFHTTPRequestOperation::hasAcceptableStatusCode() const {
    if (!response()) {
        return false;
    }
    // A reply that is not HTTP has no status code and counts as 200.
    long code = response()->statusCode == 0 ? 200 : response()->statusCode;
    return acceptableStatusCodes().count(code) > 0;
}

bool AFHTTPRequestOperation::hasAcceptableContentType() const {
    if (!response()) {
        return false;
    }
    if (acceptableContentTypes().empty()) {
        return true;
    }
    std::string type = response()->mimeType();
    return acceptableContentTypes().count(type.empty() ? "application/octet-stream" : type) > 0;
}

std::optional<HTTPError> AFHTTPRequestOperation::error() const {
    if (transportError()) {
        return transportError();
    }
    if (!response()) {
        return std::nullopt;
    }
    if (!hasAcceptableStatusCode()) {
        char text[256];
        std::snprintf(text, sizeof text, "Expected status code in (%s), got %ld",
                      describeCodes(acceptableStatusCodes()).c_str(), response()->statusCode);
        return HTTPError{kAFNetworkingErrorDomain,
                         kAFNetworkingBadServerResponseCode,
                         text,
                         {},
                         request_,
                         response()};
    }
    if (!hasAcceptableContentType()) {
        std::string type = response()->mimeType();
        std::string text = "Expected content type " + describeTypes(acceptableContentTypes()) +
                           ", got " + (type.empty() ? "application/octet-stream" : type);
        return HTTPError{kAFNetworkingErrorDomain,
                         kAFNetworkingCannotDecodeContentCode,
                         text,
                         {},
                         request_,
                         response()};
    }
    return std::nullopt;
}

void AFHTTPRequestOperation::setCompletionBlockWithSuccess(DataSuccess success, Failure failure) {
    dataSuccess_ = std::move(success);
    failure_ = std::move(failure);
}

void AFHTTPRequestOperation::fail(HTTPError error) {
    auto self = std::static_pointer_cast<AFHTTPRequestOperation>(shared_from_this());
    dispatch::mainQueue()->async([self, error = std::move(error)] {
        self->markFinished();
        if (auto failure = std::exchange(self->failure_, nullptr)) {
            failure(*self, error);
        }
        self->dataSuccess_ = nullptr;
    });
}

void AFHTTPRequestOperation::finish() {
    if (auto failed = error()) {
        fail(std::move(*failed));
        return;
    }
    auto self = std::static_pointer_cast<AFHTTPRequestOperation>(shared_from_this());
    dispatch::mainQueue()->async([self] {
        self->markFinished();
        if (auto success = std::exchange(self->dataSuccess_, nullptr)) {
            success(*self, self->responseData());
        }
        self->failure_ = nullptr;
    });
}

// ---- AFJSONRequestOperation

AFJSONRequestOperation::AFJSONRequestOperation(http::Request request)
    : AFHTTPRequestOperation(std::move(request)) {}

const std::set<std::string>& AFJSONRequestOperation::acceptableContentTypes() const {
    static const std::set<std::string> types = {"application/json", "text/json", "text/javascript"};
    return types;
}

void AFJSONRequestOperation::setCompletionBlockWithSuccess(JSONSuccess success, Failure failure) {
    jsonSuccess_ = std::move(success);
    failure_ = std::move(failure);
}

std::pair<std::optional<nlohmann::json>, std::optional<HTTPError>> AFJSONRequestOperation::decode(
    const std::string& body, const std::string& textEncodingName) {
    if (body.empty() || body == " ") {
        return {std::nullopt, std::nullopt};
    }
    std::string text = body;
    if (textEncodingName == "iso-8859-1" || textEncodingName == "latin1") {
        text = latin1ToUTF8(body);
    }
    if (!isUTF8(text)) {
        return {std::nullopt, HTTPError{kAFNetworkingErrorDomain,
                                        kAFNetworkingCannotDecodeContentCode,
                                        "Operation responseData failed decoding as a UTF-8 string",
                                        "Could not decode string: " + printablePrefix(body),
                                        {},
                                        {}}};
    }
    auto refusal = [](std::string description) {
        return std::pair<std::optional<nlohmann::json>, std::optional<HTTPError>>{
            std::nullopt,
            HTTPError{kJSONErrorDomain, kJSONParseErrorCode, std::move(description), {}, {}, {}}};
    };
    // Copying, comparing or printing a value recurses once per level of nesting: a deep
    // reply is refused while it is read, before anything holds it whole. The parser calls
    // back with the number of containers around the one that opens.
    struct TooDeep {};
    auto limitDepth = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
        if ((event == nlohmann::json::parse_event_t::object_start ||
             event == nlohmann::json::parse_event_t::array_start) &&
            depth >= kMaxReplyDepth) {
            throw TooDeep{};
        }
        return true;
    };
    try {
        return {nlohmann::json::parse(text, limitDepth), std::nullopt};
    } catch (const TooDeep&) {
        return refusal("The reply is nested deeper than " + std::to_string(kMaxReplyDepth) +
                       " levels");
    } catch (const nlohmann::json::parse_error& error) {
        return refusal(std::string("The reply is not valid JSON: ") + error.what());
    } catch (const std::exception& error) {
        return refusal(std::string("The reply could not be read: ") + error.what());
    }
}

void AFJSONRequestOperation::finish() {
    if (auto failed = error()) {
        fail(std::move(*failed));
        return;
    }
    auto self = std::static_pointer_cast<AFJSONRequestOperation>(shared_from_this());
    jsonProcessingQueue()->async([self] {
        auto [value, decodeError] =
            decode(self->responseData(), self->response()->textEncodingName());
        if (decodeError) {
            decodeError->failingRequest = self->request_;
            decodeError->failingResponse = self->response();
            self->fail(std::move(*decodeError));
            return;
        }
        dispatch::mainQueue()->async([self, value = std::move(value)] {
            self->markFinished();
            if (auto success = std::exchange(self->jsonSuccess_, nullptr)) {
                success(*self, value);
            }
            self->failure_ = nullptr;
        });
    });
}

}  // namespace pindle
