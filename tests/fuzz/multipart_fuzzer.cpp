// Fuzz target for the multipart/form-data bodies the service client sends: any bytes as the
// form's parameters (a JSON value, as the client's callers pass them; other bytes as one
// field's value) and as an attached file, read back in chunks of changing sizes.
//
// Checks beyond "no crash": the stream gives exactly Content-Length bytes, the same bytes
// again after a rewind, and a body a server can split back into the parts: one per field and
// the file, each with a single Content-Disposition header naming its field, and the field's
// value unchanged.
//
// Standalone (default build): multipart_fuzzer -seconds=N tests/fuzz/multipart_corpus
// libFuzzer (fuzz preset): multipart_fuzzer CORPUS tests/fuzz/multipart_corpus

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "service/AFHTTPClient.h"
#include "service/AFMultipartFormData.h"

namespace {

std::string readAll(pindle::http::BodyStream& stream, uint32_t chunkSeed) {
    std::string body;
    uint8_t buffer[4096];
    for (;;) {
        chunkSeed = chunkSeed * 1103515245u + 12345u;
        size_t capacity = 1 + (chunkSeed >> 16) % sizeof buffer;
        int64_t got = stream.read(buffer, capacity);
        if (got < 0 || static_cast<size_t>(got) > capacity) {
            std::abort();
        }
        if (got == 0) {
            return body;
        }
        body.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path attachment =
        std::filesystem::temp_directory_path() /
        ("multipart-fuzzer-" + std::to_string(::getpid()) + ".bin");
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // PARAMETERS \0 FILE CONTENT
    size_t split = input.find('\0');
    std::string_view parameterText = input.substr(0, split);
    std::string fileContent(split == std::string_view::npos ? "" : input.substr(split + 1));
    nlohmann::json parameters = nlohmann::json::parse(parameterText, nullptr, false);
    if (parameters.is_discarded()) {
        parameters = nlohmann::json::object({{"value", std::string(parameterText)}});
    }
    {
        std::ofstream out(attachment, std::ios::binary | std::ios::trunc);
        out << fileContent;
    }

    pindle::AFHTTPClient client("https://upload.example/v1/");
    bool attached = false;
    pindle::http::Request request = client.multipartFormRequestWithMethod(
        "POST", "upload", parameters, [&](pindle::AFStreamingMultipartFormData& form) {
            attached = form.appendPartWithFileURL(attachment, "file", "file.mp4", "image/mp4");
        });
    if (!attached) {
        std::abort();
    }
    auto pairs = pindle::AFQueryStringPairsFromDictionary(parameters);
    if (!request.bodyStream) {
        std::abort();
    }
    request.bodyStream->rewind();
    uint32_t seed = static_cast<uint32_t>(size * 2654435761u);
    std::string body = readAll(*request.bodyStream, seed);
    request.bodyStream->rewind();
    std::string again = readAll(*request.bodyStream, seed ^ 0x5bd1e995u);
    std::filesystem::remove(attachment);
    auto declared = request.headers.value("Content-Length");
    if (body != again || body.size() != request.bodyStream->length() || !declared ||
        *declared != std::to_string(body.size())) {
        std::abort();
    }

    // Split the body back into parts, as a server does.
    std::string type = request.headers.value("Content-Type").value_or("");
    std::string boundary = type.substr(type.find("boundary=") + 9);
    std::string delimiter = "\r\n--" + boundary;
    if (body.rfind("--" + boundary + "\r\n", 0) != 0 || body.size() < delimiter.size() + 4 ||
        body.compare(body.size() - delimiter.size() - 4, std::string::npos, delimiter + "--\r\n") !=
            0) {
        std::abort();
    }
    std::string_view rest(body);
    rest.remove_prefix(boundary.size() + 4);
    std::vector<std::string_view> parts;
    for (size_t end; (end = rest.find(delimiter)) != std::string_view::npos;) {
        parts.push_back(rest.substr(0, end));
        rest.remove_prefix(end + delimiter.size() + 2);
    }
    if (parts.size() != pairs.size() + 1) {
        return 0;  // a value that holds the random boundary: no body can avoid that
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        size_t headersEnd = parts[i].find("\r\n\r\n");
        if (headersEnd == std::string_view::npos) {
            std::abort();
        }
        std::string_view headers = parts[i].substr(0, headersEnd + 2);
        std::string_view value = parts[i].substr(headersEnd + 4);
        size_t lines = 0;
        for (size_t at = 0; (at = headers.find("\r\n", at)) != std::string_view::npos; at += 2) {
            ++lines;
        }
        bool isFile = i == parts.size() - 1;
        // One line per header: a field name cannot start a header or a part of its own.
        if (lines != (isFile ? 2u : 1u) ||
            headers.rfind("Content-Disposition: form-data; ", 0) != 0) {
            std::abort();
        }
        if (value != (isFile ? std::string_view(fileContent)
                             : std::string_view(pindle::AFTextForValue(pairs[i].value)))) {
            std::abort();
        }
    }
    return 0;
}
