#include "platform/http.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace pindle::http {
namespace {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return {};
    }
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

class MissingTransport final : public Transport {
public:
    Outcome perform(const Request&, const UploadProgress&) override {
        return TransportError{kNoTransportCode, "no HTTP transport is installed"};
    }
};

std::mutex gMutex;  // guards gTransport
std::shared_ptr<Transport> gTransport;

}  // namespace

std::optional<std::string> Headers::value(const std::string& name) const {
    for (const Field& field : fields_) {
        if (sameName(field.first, name)) {
            return field.second;
        }
    }
    return std::nullopt;
}

void Headers::set(const std::string& name, const std::string& value) {
    remove(name);
    fields_.emplace_back(name, value);
}

void Headers::remove(const std::string& name) {
    std::erase_if(fields_, [&](const Field& field) { return sameName(field.first, name); });
}

std::string Response::mimeType() const {
    auto type = headers.value("Content-Type");
    if (!type) {
        return {};
    }
    return lower(trim(type->substr(0, type->find(';'))));
}

std::string Response::textEncodingName() const {
    auto type = headers.value("Content-Type");
    if (!type) {
        return {};
    }
    size_t at = type->find(';');
    while (at != std::string::npos) {
        size_t next = type->find(';', at + 1);
        std::string parameter = trim(type->substr(at + 1, next - at - 1));
        size_t equals = parameter.find('=');
        if (equals != std::string::npos && lower(trim(parameter.substr(0, equals))) == "charset") {
            std::string value = trim(parameter.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return lower(value);
        }
        at = next;
    }
    return {};
}

bool Request::mayFollowRedirections() const {
    return !carriesCredentials && (method == "GET" || method == "HEAD") && !bodyStream &&
           body.empty();
}

std::string describeByteCount(uint64_t bytes) {
    constexpr uint64_t kKiB = 1024;
    constexpr uint64_t kMiB = 1024 * kKiB;
    if (bytes >= kMiB && bytes % kMiB == 0) {
        return std::to_string(bytes / kMiB) + " MiB";
    }
    if (bytes >= kKiB && bytes % kKiB == 0) {
        return std::to_string(bytes / kKiB) + " KiB";
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::shared_ptr<Transport> currentTransport() {
    std::lock_guard lock(gMutex);
    if (!gTransport) {
        gTransport = std::make_shared<MissingTransport>();
    }
    return gTransport;
}

void setTransport(std::shared_ptr<Transport> transport) {
    std::lock_guard lock(gMutex);
    gTransport = std::move(transport);
}

}  // namespace pindle::http
