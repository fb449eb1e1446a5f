#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/http.h"
#include "service/HTTPError.h"

namespace pindle {

// One request sent once: ready, then executing, then finished.
//
// The transfer runs on the thread that calls start() (a client's operation queue). The
// upload progress handler is called on the main queue; reports that pile up while the main
// queue is busy are merged into one.
class AFURLConnectionOperation : public std::enable_shared_from_this<AFURLConnectionOperation> {
public:
    enum class State { Ready, Executing, Finished };
    using UploadProgressBlock = std::function<void(
        uint64_t bytesWritten, uint64_t totalBytesWritten, uint64_t totalBytesExpectedToWrite)>;

    explicit AFURLConnectionOperation(http::Request request);
    virtual ~AFURLConnectionOperation() = default;

    const http::Request& request() const { return *request_; }
    // The reply and the transport's failure: set once the transfer has ended.
    const std::shared_ptr<const http::Response>& response() const { return response_; }
    const std::optional<HTTPError>& transportError() const { return transportError_; }
    const std::string& responseData() const;
    State state() const { return state_.load(); }

    void setUploadProgressBlock(UploadProgressBlock block) { uploadProgress_ = std::move(block); }

    // Runs the transfer, then finish(). Only the first call does anything.
    void start();

protected:
    // Called on the transfer's thread once it has ended.
    virtual void finish() = 0;
    void markFinished() { state_ = State::Finished; }

    std::shared_ptr<const http::Request> request_;
    std::shared_ptr<http::Transport> transport_;

private:
    void reportProgress(uint64_t bytesSent, uint64_t totalSent, uint64_t totalExpected);

    std::atomic<State> state_{State::Ready};
    std::shared_ptr<const http::Response> response_;
    std::optional<HTTPError> transportError_;
    UploadProgressBlock uploadProgress_;

    std::mutex progressMutex_;  // guards the pending progress report below
    uint64_t pendingBytes_ = 0;
    uint64_t pendingTotal_ = 0;
    uint64_t pendingExpected_ = 0;
    bool progressQueued_ = false;
};

// A request whose reply is judged by its status code and content type. Success and failure
// handlers run on the main queue.
class AFHTTPRequestOperation : public AFURLConnectionOperation {
public:
    using Failure = std::function<void(AFHTTPRequestOperation&, const HTTPError&)>;
    using DataSuccess = std::function<void(AFHTTPRequestOperation&, const std::string& data)>;

    explicit AFHTTPRequestOperation(http::Request request);

    // 200 to 299.
    virtual const std::set<long>& acceptableStatusCodes() const;
    // Empty: any content type.
    virtual const std::set<std::string>& acceptableContentTypes() const;
    bool hasAcceptableStatusCode() const;
    bool hasAcceptableContentType() const;

    // The transport's error, or the refusal of the reply; nothing for an accepted reply.
    std::optional<HTTPError> error() const;

    // success receives the reply body.
    void setCompletionBlockWithSuccess(DataSuccess success, Failure failure);

protected:
    void finish() override;
    // Delivers failure on the main queue and ends the operation.
    void fail(HTTPError error);

    Failure failure_;

private:
    DataSuccess dataSuccess_;
};

// A request whose reply must be JSON. The body is decoded off the main thread; the decoded
// value (nothing for an empty body) goes to the success handler on the main queue.
class AFJSONRequestOperation : public AFHTTPRequestOperation {
public:
    using JSONSuccess = std::function<void(AFHTTPRequestOperation&,
                                           const std::optional<nlohmann::json>& responseJSON)>;

    explicit AFJSONRequestOperation(http::Request request);

    // "application/json", "text/json", "text/javascript".
    const std::set<std::string>& acceptableContentTypes() const override;

    void setCompletionBlockWithSuccess(JSONSuccess success, Failure failure);

    // Replies nested deeper than this many arrays and objects are refused.
    static constexpr int kMaxReplyDepth = 256;

    // Decodes a reply body: nothing for an empty body or a single space, the value, or the
    // error of a body that is not UTF-8 text, not JSON or nested too deep.
    static std::pair<std::optional<nlohmann::json>, std::optional<HTTPError>> decode(
        const std::string& body, const std::string& textEncodingName);

protected:
    void finish() override;

private:
    JSONSuccess jsonSuccess_;
};

}  // namespace pindle
