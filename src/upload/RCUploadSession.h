#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "service/RCPINDLEMetadata.h"
#include "service/ServiceResponse.h"
#include "upload/RCUploadButton.h"

namespace pindle {

// One upload sheet's work: export the recording to a temporary movie, send it with the
// metadata, and keep the confirm button's state. It outlives its sheet: closing the sheet
// detaches the sheet's handler and the work goes on to its end, when the temporary movie is
// deleted all the same.
//
// Main thread only; the hooks' callbacks must arrive on the main thread.
class RCUploadSession : public std::enable_shared_from_this<RCUploadSession> {
public:
    using Path = std::filesystem::path;
    using Progress = std::function<void(float)>;

    struct Hooks {
        // A new temporary file name with the extension "mp4"; empty when none can be made.
        std::function<Path()> makeTempFile;
        // Writes the edited recording to file.
        std::function<void(const Path& file, Progress, std::function<void(Status)>)> exportMovie;
        // Sends file to the service.
        std::function<void(const Path& file, const RCPINDLEMetadata&, bool isClip, Progress,
                           ResponseCompletion)>
            upload;
        std::function<void(const Path& file)> deleteFile;
        // The address of the GIF's page for an id.
        std::function<std::string(const std::string& gifID)> pageAddress;
        // The diagnostic log.
        std::function<void(const std::string& line)> log;
    };

    // What the sheet hears: every change of the button or of the running state, and the
    // end of an upload with the new GIF's id (empty on failure).
    struct Listener {
        std::function<void()> changed;
        std::function<void(const std::string& gifID)> finished;
    };

    static std::shared_ptr<RCUploadSession> make(Hooks hooks, bool isClip,
                                                 Scheduler scheduler = mainQueueScheduler());

    // Starts an upload when the button takes presses; false otherwise (one is running, or
    // one is done, or no temporary file could be made).
    bool confirmUpload(const RCPINDLEMetadata& metadata);

    // Null detaches the sheet: nothing is called any more.
    void setListener(std::optional<Listener> listener);

    bool isRunning() const { return running_; }
    // The metadata view's confirm button, and the success view's button with the page
    // address and its copy button.
    const RCUploadButton& confirmButton() const { return confirmButton_; }
    RCUploadButton& confirmButton() { return confirmButton_; }
    const RCUploadButton& successButton() const { return successButton_; }
    RCUploadButton& successButton() { return successButton_; }
    const std::optional<std::string>& gifID() const { return gifID_; }
    // The temporary movie of the attempt under way; empty between attempts.
    const Path& temporaryFile() const { return temporaryFile_; }

private:
    RCUploadSession(Hooks hooks, bool isClip, Scheduler scheduler);

    void exported(const RCPINDLEMetadata& metadata, Status status);
    void replied(const std::optional<nlohmann::json>& response,
                 const std::optional<HTTPError>& error);
    void finish(const std::string& gifID);
    void changed();
    void log(const std::string& line) const;

    Hooks hooks_;
    bool isClip_;
    RCUploadButton confirmButton_;
    RCUploadButton successButton_;
    std::optional<Listener> listener_;
    bool running_ = false;
    Path temporaryFile_;
    std::optional<std::string> gifID_;
};

}  // namespace pindle
