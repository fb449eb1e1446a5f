#include "service/AFMultipartFormData.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

namespace pindle {
namespace {

constexpr const char* kCRLF = "\r\n";

// A field or file name inside the quotes of a Content-Disposition header, written as browsers
// write form data: a quote or a line break would otherwise end the name or the header and
// let the text after it pass for headers or parts of its own.
std::string quotedName(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"') {
            quoted += "%22";
        } else if (c == '\r') {
            quoted += "%0D";
        } else if (c == '\n') {
            quoted += "%0A";
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

HTTPError fileError(const std::string& reason) {
    return HTTPError{kAFNetworkingErrorDomain, kAFNetworkingBadURLCode, reason, reason, {}, {}};
}

}  // namespace

// ---- AFHTTPBodyPart

std::string AFHTTPBodyPart::boundaryBytes() const {
    return hasInitialBoundary ? "--" + boundary + kCRLF
                              : std::string(kCRLF) + "--" + boundary + kCRLF;
}

std::string AFHTTPBodyPart::headerBytes() const {
    std::string text;
    for (const auto& [name, value] : headers.fields()) {
        text += name + ": " + value + kCRLF;
    }
    return text + kCRLF;
}

std::string AFHTTPBodyPart::finalBoundaryBytes() const {
    return hasFinalBoundary ? std::string(kCRLF) + "--" + boundary + "--" + kCRLF : std::string();
}

uint64_t AFHTTPBodyPart::contentLength() const {
    return boundaryBytes().size() + headerBytes().size() + bodyContentLength +
           finalBoundaryBytes().size();
}

// ---- AFMultipartBodyStream

AFMultipartBodyStream::AFMultipartBodyStream(std::vector<AFHTTPBodyPart> parts)
    : parts_(std::move(parts)) {
    for (const AFHTTPBodyPart& part : parts_) {
        length_ += part.contentLength();
    }
    rewind();
}

bool AFMultipartBodyStream::rewind() {
    file_ = std::ifstream();
    partIndex_ = 0;
    phase_ = parts_.empty() ? Phase::Done : Phase::Boundary;
    phaseOffset_ = 0;
    phaseText_ = parts_.empty() ? std::string() : phaseText();
    return true;
}

std::string AFMultipartBodyStream::phaseText() const {
    const AFHTTPBodyPart& part = parts_[partIndex_];
    switch (phase_) {
        case Phase::Boundary:
            return part.boundaryBytes();
        case Phase::Headers:
            return part.headerBytes();
        case Phase::Body:
            return part.bodyFile ? std::string() : part.bodyData;
        case Phase::FinalBoundary:
            return part.finalBoundaryBytes();
        case Phase::Done:
            break;
    }
    return {};
}

void AFMultipartBodyStream::nextPhase() {
    phaseOffset_ = 0;
    file_ = std::ifstream();
    switch (phase_) {
        case Phase::Boundary:
            phase_ = Phase::Headers;
            break;
        case Phase::Headers:
            phase_ = Phase::Body;
            break;
        case Phase::Body:
            phase_ = Phase::FinalBoundary;
            break;
        case Phase::FinalBoundary:
            ++partIndex_;
            phase_ = partIndex_ < parts_.size() ? Phase::Boundary : Phase::Done;
            break;
        case Phase::Done:
            break;
    }
    phaseText_ = phase_ == Phase::Done ? std::string() : phaseText();
}

int64_t AFMultipartBodyStream::read(uint8_t* buffer, size_t capacity) {
    size_t written = 0;
    while (written < capacity && phase_ != Phase::Done) {
        const AFHTTPBodyPart& part = parts_[partIndex_];
        if (phase_ == Phase::Body && part.bodyFile) {
            uint64_t left = part.bodyContentLength - phaseOffset_;
            if (left == 0) {
                nextPhase();
                continue;
            }
            if (!file_.is_open()) {
                file_.open(*part.bodyFile, std::ios::binary);
                if (!file_) {
                    return -1;
                }
            }
            auto want = static_cast<std::streamsize>(std::min<uint64_t>(left, capacity - written));
            file_.read(reinterpret_cast<char*>(buffer + written), want);
            std::streamsize got = file_.gcount();
            if (got <= 0) {
                return -1;  // the file shrank since its length was taken
            }
            written += static_cast<size_t>(got);
            phaseOffset_ += static_cast<uint64_t>(got);
            continue;
        }
        uint64_t left = phaseText_.size() - phaseOffset_;
        if (left == 0) {
            nextPhase();
            continue;
        }
        size_t count = static_cast<size_t>(std::min<uint64_t>(left, capacity - written));
        std::memcpy(buffer + written, phaseText_.data() + phaseOffset_, count);
        written += count;
        phaseOffset_ += count;
    }
    return static_cast<int64_t>(written);
}

// ---- AFStreamingMultipartFormData

AFStreamingMultipartFormData::AFStreamingMultipartFormData(http::Request request,
                                                           std::string boundary)
    : request_(std::move(request)), boundary_(std::move(boundary)) {}

std::string AFStreamingMultipartFormData::makeBoundary() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    char text[32];
    std::snprintf(text, sizeof text, "Boundary+%08X%08X", static_cast<unsigned>(generator()),
                  static_cast<unsigned>(generator()));
    return text;
}

bool AFStreamingMultipartFormData::appendPartWithFileURL(const std::filesystem::path& file,
                                                         const std::string& name,
                                                         const std::string& fileName,
                                                         const std::string& mimeType,
                                                         HTTPError* error) {
    if (file.empty() || !file.is_absolute()) {
        if (error != nullptr) {
            *error = fileError("Expected URL to be a file URL");
        }
        return false;
    }
    std::error_code status;
    uint64_t size = std::filesystem::file_size(file, status);
    if (status || !std::filesystem::is_regular_file(file, status)) {
        if (error != nullptr) {
            *error = fileError("File URL not reachable.");
        }
        return false;
    }
    AFHTTPBodyPart part;
    part.headers.set("Content-Disposition",
                     "form-data; name=" + quotedName(name) + "; filename=" + quotedName(fileName));
    part.headers.set("Content-Type", mimeType);
    part.bodyFile = file;
    part.bodyContentLength = size;
    part.boundary = boundary_;
    parts_.push_back(std::move(part));
    return true;
}

void AFStreamingMultipartFormData::appendPartWithFormData(std::string data,
                                                          const std::string& name) {
    http::Headers headers;
    headers.set("Content-Disposition", "form-data; name=" + quotedName(name));
    appendPartWithHeaders(std::move(headers), std::move(data));
}

void AFStreamingMultipartFormData::appendPartWithHeaders(http::Headers headers, std::string body) {
    AFHTTPBodyPart part;
    part.headers = std::move(headers);
    part.bodyContentLength = body.size();
    part.bodyData = std::move(body);
    part.boundary = boundary_;
    parts_.push_back(std::move(part));
}

http::Request AFStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
    if (parts_.empty()) {
        return request_;
    }
    parts_.front().hasInitialBoundary = true;
    parts_.back().hasFinalBoundary = true;
    auto stream = std::make_shared<AFMultipartBodyStream>(std::move(parts_));
    parts_.clear();
    http::Request request = request_;
    request.headers.set("Content-Type", "multipart/form-data; boundary=" + boundary_);
    request.headers.set("Content-Length", std::to_string(stream->length()));
    request.body.clear();
    request.bodyStream = std::move(stream);
    return request;
}

}  // namespace pindle
