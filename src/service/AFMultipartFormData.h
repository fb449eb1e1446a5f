#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/http.h"
#include "service/HTTPError.h"

namespace pindle {

// One part of a multipart/form-data body: its header fields and its content, bytes in
// memory or a file read while the body is sent.
class AFHTTPBodyPart {
public:
    http::Headers headers;
    std::string bodyData;
    std::optional<std::filesystem::path> bodyFile;
    uint64_t bodyContentLength = 0;
    std::string boundary;
    bool hasInitialBoundary = false;
    bool hasFinalBoundary = false;

    // The pieces of the part as they go out.
    std::string boundaryBytes() const;
    std::string headerBytes() const;
    std::string finalBoundaryBytes() const;
    uint64_t contentLength() const;
};

// The body of a multipart request, produced part after part as it is read. A file part's
// file is opened when its content is reached and read in small pieces, so the body is never
// held in memory.
class AFMultipartBodyStream final : public http::BodyStream {
public:
    explicit AFMultipartBodyStream(std::vector<AFHTTPBodyPart> parts);

    uint64_t length() const override { return length_; }
    int64_t read(uint8_t* buffer, size_t capacity) override;
    bool rewind() override;

    const std::vector<AFHTTPBodyPart>& parts() const { return parts_; }

private:
    enum class Phase { Boundary, Headers, Body, FinalBoundary, Done };

    // The text of the current phase of the current part (file content excepted).
    std::string phaseText() const;
    void nextPhase();

    std::vector<AFHTTPBodyPart> parts_;
    uint64_t length_ = 0;
    size_t partIndex_ = 0;
    Phase phase_ = Phase::Boundary;
    uint64_t phaseOffset_ = 0;
    std::string phaseText_;
    std::ifstream file_;
};

// Builds a multipart/form-data request: parts are added in order, then the request gets
// its content type, length and body stream.
class AFStreamingMultipartFormData {
public:
    AFStreamingMultipartFormData(http::Request request, std::string boundary);

    // A new boundary: "Boundary+" and two random 32-bit numbers in upper-case hex.
    static std::string makeBoundary();

    // Adds a part whose content is read from file at sending time; its length is the
    // file's size now. false, with error filled when given, when file is no existing file.
    bool appendPartWithFileURL(const std::filesystem::path& file, const std::string& name,
                               const std::string& fileName, const std::string& mimeType,
                               HTTPError* error = nullptr);
    void appendPartWithFormData(std::string data, const std::string& name);
    void appendPartWithHeaders(http::Headers headers, std::string body);

    // The request with its multipart body; unchanged when no part was added.
    http::Request requestByFinalizingMultipartFormData();

    const std::string& boundary() const { return boundary_; }

private:
    http::Request request_;
    std::string boundary_;
    std::vector<AFHTTPBodyPart> parts_;
};

}  // namespace pindle
