// Fuzz target for the service's replies: any bytes as the reply a server sends to a JSON
// request, through the HTTP layer's operation (status and content-type checks, charset,
// JSON decoding with its depth limit) and the service client's normalisation of the reply.
//
// The input is a reply as it comes over the wire, without the status line's protocol:
//   STATUS\n
//   Name: value\n ...
//   \n
//   body
// Checks beyond "no crash": exactly one of a reply object and an error arrives; a reply is
// always a JSON object that holds the decoded value (as it is, or under "response"); an
// object prints and reads back unchanged, so a later log line or store cannot throw.
//
// Standalone (default build): service_reply_fuzzer -seconds=N tests/fuzz/service_reply_corpus
// libFuzzer (fuzz preset): service_reply_fuzzer -dict=tests/fuzz/service_reply.dict CORPUS

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/dispatch.h"
#include "base/log.h"
#include "platform/http.h"
#include "service/AFHTTPClient.h"
#include "service/AFHTTPRequestOperation.h"
#include "service/ServiceResponse.h"

namespace {

// Hands out the reply of the current input, whatever was asked.
class ReplyTransport final : public pindle::http::Transport {
public:
    pindle::http::Response reply;
    pindle::http::Outcome perform(const pindle::http::Request&,
                                  const pindle::http::UploadProgress&) override {
        return reply;
    }
};

pindle::http::Response parseReply(std::string_view input) {
    pindle::http::Response reply;
    auto line = [&input]() {
        size_t end = input.find('\n');
        std::string_view text = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        return text;
    };
    reply.statusCode = std::strtol(std::string(line()).c_str(), nullptr, 10);
    reply.url = "https://api.example/v1/";
    for (std::string_view header = line(); !header.empty() && !input.empty(); header = line()) {
        size_t colon = header.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string_view value = header.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        reply.headers.set(std::string(header.substr(0, colon)), std::string(value));
    }
    reply.body = std::string(input);
    return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::shared_ptr<ReplyTransport> transport = [] {
        pindle::log::setSink([](pindle::log::Level, const std::string&, const std::string&) {});
        auto made = std::make_shared<ReplyTransport>();
        pindle::http::setTransport(made);
        return made;
    }();
    static pindle::AFHTTPClient client("https://api.example/v1/");
    // Each operation holds the transport; these are the holders between inputs.
    static const long idleHolders = transport.use_count();

    transport->reply = parseReply(std::string_view(reinterpret_cast<const char*>(data), size));
    // What the layer reads of the headers: neither may throw, whatever the field holds.
    (void)transport->reply.mimeType();
    (void)transport->reply.textEncodingName();

    bool done = false;
    std::optional<nlohmann::json> response;
    std::optional<pindle::HTTPError> error;
    pindle::sendServiceRequest(client, client.requestWithMethod("GET", "user/profile", nullptr),
                               [&](const std::optional<nlohmann::json>& value,
                                   const std::optional<pindle::HTTPError>& failure) {
                                   response = value;
                                   error = failure;
                                   done = true;
                               });
    if (!pindle::dispatch::runUntil([&] { return done; }, std::chrono::seconds(30))) {
        std::abort();  // a reply that never completes its request
    }
    // The operation is released on a queue's thread once the reply is handed over. Waiting
    // for it keeps each input's allocations and releases within the input, which the leak
    // check after an input relies on; an operation never released is a fault of its own.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (transport.use_count() > idleHolders) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::abort();
        }
        std::this_thread::yield();
    }
    if (response.has_value() == error.has_value() || (response && !response->is_object())) {
        std::abort();
    }
    if (response) {
        // The decoded body again, independently: the reply holds it.
        auto [decoded, failure] = pindle::AFJSONRequestOperation::decode(
            transport->reply.body, transport->reply.textEncodingName());
        if (!decoded || failure ||
            (decoded->is_object() ? *response != *decoded : (*response)["response"] != *decoded)) {
            std::abort();
        }
        if (nlohmann::json::parse(response->dump()) != *response) {
            std::abort();
        }
        // Form encoding of any JSON value (the same code encodes request parameters).
        (void)pindle::AFQueryStringFromParameters(*response);
    }
    return 0;
}
