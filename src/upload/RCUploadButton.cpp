#include "upload/RCUploadButton.h"

#include <algorithm>

namespace pindle {

RCUploadButton::RCUploadButton(Scheduler scheduler) : scheduler_(std::move(scheduler)) {}

void RCUploadButton::set(UploadState state, float progress, const char* title, Colour colour,
                         Colour hover) {
    state_ = state;
    progress_ = std::clamp(progress, 0.0f, 1.0f);
    title_ = title;
    titleHidden_ = false;
    colour_ = colour;
    hoverColour_ = hover;
    addressShown_ = false;
    ++displayGeneration_;
}

void RCUploadButton::showUploadNotStarted() {
    set(UploadState::notStarted, 0, kUploadTitle, Colour::darkPurple, Colour::darkPurple);
}

void RCUploadButton::showUploadInProgress(float fraction) {
    if (state_ == UploadState::inProgress && fraction < progress_) {
        return;
    }
    set(UploadState::inProgress, fraction, kUploadingTitle, colour_, Colour::darkGrey);
}

void RCUploadButton::showUploadProcessing() {
    set(UploadState::inProgress, 1, kProcessingTitle, Colour::green, Colour::green);
}

void RCUploadButton::showUploadCompleted() {
    bool shown = addressShown_;
    set(UploadState::completed, 1, kDoneTitle, Colour::green, Colour::green);
    addressShown_ = shown;
}

void RCUploadButton::showUploadCompletedWithURL(const std::string& address) {
    set(UploadState::completed, 1, "", Colour::white, Colour::white);
    titleHidden_ = true;
    address_ = address;
    addressShown_ = true;
}

void RCUploadButton::showUploadError() {
    showUploadNotStarted();
    set(UploadState::notStarted, 0, kFailedTitle, Colour::red, Colour::red);
    uint64_t generation = displayGeneration_;
    later([this, generation] {
        if (displayGeneration_ == generation) {
            showUploadNotStarted();
        }
    });
}

void RCUploadButton::showExportProgress(float fraction) {
    showUploadInProgress(std::clamp(fraction, 0.0f, 1.0f) * 0.5f);
}

void RCUploadButton::showTransferProgress(float fraction) {
    float value = 0.5f + 0.5f * std::clamp(fraction, 0.0f, 1.0f);
    if (value < 1.0f) {
        showUploadInProgress(value);
    } else {
        showUploadProcessing();
    }
}

std::string RCUploadButton::copyPressed() {
    copyTitle_.clear();
    copyShowsCheck_ = true;
    uint64_t generation = ++copyGeneration_;
    later([this, generation] {
        if (copyGeneration_ == generation) {
            copyTitle_ = kCopyTitle;
            copyShowsCheck_ = false;
        }
    });
    return address_;
}

void RCUploadButton::later(std::function<void()> task) {
    if (!scheduler_) {
        return;
    }
    std::weak_ptr<int> alive = alive_;
    scheduler_(kResetDelay, [this, alive, task = std::move(task)] {
        if (alive.expired()) {
            return;
        }
        task();
        if (changed_) {
            changed_();
        }
    });
}

}  // namespace pindle
