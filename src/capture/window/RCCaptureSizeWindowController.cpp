#include "capture/window/RCCaptureSizeWindowController.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "settings/RCUserSettings.h"

namespace pindle {
namespace {

std::optional<long> parseField(const std::string& text) {
    if (!RCCaptureSizeWindowController::isPartialStringValid(text) || text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

RCCaptureSizeWindowController::RCCaptureSizeWindowController(Size initialCaptureSize,
                                                             RCUserSettings& settings,
                                                             std::function<void(Size)> didSetSize)
    : initial_(initialCaptureSize),
      settings_(settings),
      didSetSize_(std::move(didSetSize)),
      width_(static_cast<long>(initialCaptureSize.width)),
      height_(static_cast<long>(initialCaptureSize.height)) {}

bool RCCaptureSizeWindowController::isPartialStringValid(const std::string& text) {
    if (text.empty()) {
        return true;
    }
    if (text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return std::strtol(text.c_str(), nullptr, 10) > 0;
}

void RCCaptureSizeWindowController::setWidthText(const std::string& text) {
    width_ = parseField(text);
}

void RCCaptureSizeWindowController::setHeightText(const std::string& text) {
    height_ = parseField(text);
}

std::string RCCaptureSizeWindowController::widthText() const {
    return width_ ? std::to_string(*width_) : std::string();
}

std::string RCCaptureSizeWindowController::heightText() const {
    return height_ ? std::to_string(*height_) : std::string();
}

std::vector<std::string> RCCaptureSizeWindowController::presetTitles() const {
    std::vector<std::string> titles = {"Recently Used"};
    for (const Size& size : settings_.captureSizePresets()) {
        titles.push_back(std::to_string(static_cast<long>(size.width)) + " x " +
                         std::to_string(static_cast<long>(size.height)) + " pixels");
    }
    return titles;
}

void RCCaptureSizeWindowController::presetChanged(size_t item) {
    const auto& presets = settings_.captureSizePresets();
    if (item == 0 || item > presets.size()) {
        return;
    }
    width_ = static_cast<long>(presets[item - 1].width);
    height_ = static_cast<long>(presets[item - 1].height);
}

void RCCaptureSizeWindowController::lockAspectRatioCheckboxChanged(bool checked) {
    if (!checked || !width_ || initial_.width <= 0) {
        return;
    }
    float ratio = static_cast<float>(initial_.height) / static_cast<float>(initial_.width);
    long height = std::lround(static_cast<float>(*width_) * ratio);
    height_ = height > 0 ? std::optional<long>(height) : std::nullopt;
}

std::optional<RCCaptureSizeWindowController::Alert> RCCaptureSizeWindowController::validate(
    long width, long height) {
    // The limits are whole numbers; the fields hold at most nine digits.
    auto w = static_cast<double>(width);
    auto h = static_cast<double>(height);
    if (w > kMaximumSize.width || h > kMaximumSize.height) {
        return Alert{"Capture Size Too Big", "Maximum size is 2560 x 1600 pixels."};
    }
    if (w < kMinimumSize.width || h < kMinimumSize.height) {
        return Alert{"Capture Size Too Small", "Minimum size is 80 x 50 pixels."};
    }
    return std::nullopt;
}

std::vector<Size> RCCaptureSizeWindowController::rememberSize(std::vector<Size> presets,
                                                              Size size) {
    auto same = std::find(presets.begin(), presets.end(), size);
    if (same != presets.end()) {
        presets.erase(same);
    }
    presets.insert(presets.begin(), size);
    if (presets.size() > kMostRecentSizes) {
        presets.resize(kMostRecentSizes);
    }
    return presets;
}

std::optional<RCCaptureSizeWindowController::Alert>
RCCaptureSizeWindowController::okButtonClicked() {
    // An empty field counts as 0: too small.
    long width = width_.value_or(0);
    long height = height_.value_or(0);
    if (auto alert = validate(width, height)) {
        return alert;
    }
    Size size{static_cast<double>(width), static_cast<double>(height)};
    settings_.setCaptureSizePresets(rememberSize(settings_.captureSizePresets(), size));
    if (didSetSize_) {
        didSetSize_(size);
    }
    return std::nullopt;
}

}  // namespace pindle
