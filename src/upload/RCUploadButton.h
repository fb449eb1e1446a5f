#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "upload/Scheduler.h"

namespace pindle {

// The upload sheet's confirm button without its window: the upload state, the progress bar,
// the title and colours, and the page address with its copy button once the GIF is up.
//
// Main thread only. changed (optional) is called after every change the button makes by
// itself (the timed resets), so the view can repaint.
class RCUploadButton {
public:
    enum class UploadState { notStarted = 0, inProgress = 1, completed = 2 };
    enum class Colour { darkPurple, darkGrey, green, white, red };

    static constexpr const char* kUploadTitle = "UPLOAD";
    static constexpr const char* kUploadingTitle = "UPLOADING...";
    static constexpr const char* kProcessingTitle = "PROCESSING...";
    static constexpr const char* kDoneTitle = "DONE";
    static constexpr const char* kFailedTitle = "UPLOAD FAILED";
    static constexpr const char* kCopyTitle = "COPY";
    static constexpr const char* kCopiedIcon = "\u2713";
    static constexpr std::chrono::milliseconds kResetDelay{2000};

    explicit RCUploadButton(Scheduler scheduler = mainQueueScheduler());

    void setChangedHandler(std::function<void()> changed) { changed_ = std::move(changed); }

    void showUploadNotStarted();
    // Ignored when fraction is below the progress shown: the bar never moves back.
    void showUploadInProgress(float fraction);
    void showUploadProcessing();
    void showUploadCompleted();
    void showUploadCompletedWithURL(const std::string& address);
    // "UPLOAD FAILED" in red, then "UPLOAD" again after kResetDelay (unless something else
    // was shown meanwhile).
    void showUploadError();

    // The export fills the first half of the bar, the transfer the second; a transfer that
    // has sent everything shows "PROCESSING..." until the reply comes.
    void showExportProgress(float fraction);
    void showTransferProgress(float fraction);

    // Presses start an upload only while none is running or done.
    bool acceptsPress() const { return state_ == UploadState::notStarted; }

    // The copy button: returns the text for the clipboard and shows the check mark, which
    // goes back to "COPY" after kResetDelay.
    std::string copyPressed();

    UploadState uploadState() const { return state_; }
    float progress() const { return progress_; }
    const std::string& title() const { return title_; }
    bool titleHidden() const { return titleHidden_; }
    Colour colour() const { return colour_; }
    Colour hoverColour() const { return hoverColour_; }
    bool addressShown() const { return addressShown_; }
    const std::string& address() const { return address_; }
    // "COPY", or empty while the check mark shows.
    const std::string& copyTitle() const { return copyTitle_; }
    bool copyShowsCheck() const { return copyShowsCheck_; }

private:
    void set(UploadState state, float progress, const char* title, Colour colour, Colour hover);
    // Runs task after kResetDelay unless the button is gone by then.
    void later(std::function<void()> task);

    Scheduler scheduler_;
    std::function<void()> changed_;
    UploadState state_ = UploadState::notStarted;
    float progress_ = 0;
    std::string title_ = kUploadTitle;
    bool titleHidden_ = false;
    Colour colour_ = Colour::darkPurple;
    Colour hoverColour_ = Colour::darkPurple;
    bool addressShown_ = false;
    std::string address_;
    std::string copyTitle_ = kCopyTitle;
    bool copyShowsCheck_ = false;
    // Bumped by every display change and every copy, so that a reset scheduled before a
    // later change leaves that change alone.
    uint64_t displayGeneration_ = 0;
    uint64_t copyGeneration_ = 0;
    // Scheduled resets that fire after the button is gone see this expired.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace pindle
