#include "upload/RCUploadSession.h"

#include "upload/RCUploadForm.h"

namespace pindle {

std::shared_ptr<RCUploadSession> RCUploadSession::make(Hooks hooks, bool isClip,
                                                       Scheduler scheduler) {
    return std::shared_ptr<RCUploadSession>(
        new RCUploadSession(std::move(hooks), isClip, std::move(scheduler)));
}

RCUploadSession::RCUploadSession(Hooks hooks, bool isClip, Scheduler scheduler)
    : hooks_(std::move(hooks)),
      isClip_(isClip),
      confirmButton_(scheduler),
      successButton_(scheduler) {
    confirmButton_.setChangedHandler([this] { changed(); });
    successButton_.setChangedHandler([this] { changed(); });
}

void RCUploadSession::setListener(std::optional<Listener> listener) {
    listener_ = std::move(listener);
}

void RCUploadSession::log(const std::string& line) const {
    if (hooks_.log) {
        hooks_.log(line);
    }
}

void RCUploadSession::changed() {
    if (listener_ && listener_->changed) {
        listener_->changed();
    }
}

bool RCUploadSession::confirmUpload(const RCPINDLEMetadata& metadata) {
    if (running_ || !confirmButton_.acceptsPress()) {
        return false;
    }
    Path file = hooks_.makeTempFile ? hooks_.makeTempFile() : Path();
    if (file.empty()) {
        log("Issue uploading file: no temporary file could be made");
        confirmButton_.showUploadError();
        changed();
        return false;
    }
    running_ = true;
    temporaryFile_ = file;
    confirmButton_.showUploadInProgress(0);
    changed();
    // The callbacks hold the session, so the work ends even when the sheet is gone.
    auto self = shared_from_this();
    hooks_.exportMovie(
        file,
        [self](float fraction) {
            self->confirmButton_.showExportProgress(fraction);
            self->changed();
        },
        [self, metadata](Status status) { self->exported(metadata, status); });
    return true;
}

void RCUploadSession::exported(const RCPINDLEMetadata& metadata, Status status) {
    if (!status) {
        log("Issue uploading file: the movie could not be made: " + status.error().message);
        confirmButton_.showUploadError();
        finish("");
        return;
    }
    auto self = shared_from_this();
    hooks_.upload(
        temporaryFile_, metadata, isClip_,
        [self](float fraction) {
            self->confirmButton_.showTransferProgress(fraction);
            self->changed();
        },
        [self](const std::optional<nlohmann::json>& response,
               const std::optional<HTTPError>& error) { self->replied(response, error); });
}

void RCUploadSession::replied(const std::optional<nlohmann::json>& response,
                              const std::optional<HTTPError>& error) {
    RCUploadReply reply = readUploadReply(response, error);
    if (!reply.gifID) {
        log(reply.logLine);
        confirmButton_.showUploadError();
        finish("");
        return;
    }
    gifID_ = reply.gifID;
    std::string address = hooks_.pageAddress ? hooks_.pageAddress(*reply.gifID) : *reply.gifID;
    successButton_.showUploadCompletedWithURL(address);
    confirmButton_.showUploadNotStarted();
    finish(*reply.gifID);
}

void RCUploadSession::finish(const std::string& gifID) {
    running_ = false;
    if (hooks_.deleteFile) {
        hooks_.deleteFile(temporaryFile_);
    }
    temporaryFile_.clear();
    changed();
    if (listener_ && listener_->finished) {
        listener_->finished(gifID);
    }
}

}  // namespace pindle
