#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"

namespace pindle {

class RCUserSettings;

// The capture size sheet's rules: the fields, the recently used sizes, the aspect lock and
// the limits. The sheet window shows what this holds and reports the user's actions.
class RCCaptureSizeWindowController {
public:
    static constexpr Size kMinimumSize{80, 50};
    static constexpr Size kMaximumSize{2560, 1600};
    static constexpr size_t kMostRecentSizes = 10;

    struct Alert {
        std::string messageText;
        std::string informativeText;
    };

    // didSetSize is told the confirmed size (the delegate's captureSizeWindow:didSetSize:).
    RCCaptureSizeWindowController(Size initialCaptureSize, RCUserSettings& settings,
                                  std::function<void(Size)> didSetSize);

    Size initialCaptureSize() const { return initial_; }

    // The text fields. A field holds a positive whole number or nothing (while typing).
    std::optional<long> width() const { return width_; }
    std::optional<long> height() const { return height_; }
    void setWidthText(const std::string& text);
    void setHeightText(const std::string& text);
    std::string widthText() const;
    std::string heightText() const;

    // "Recently Used" then one title per stored size.
    std::vector<std::string> presetTitles() const;
    // Item 0 does nothing; item n puts stored size n - 1 into the fields.
    void presetChanged(size_t item);
    // Checking the box sets the height from the width at the initial aspect ratio, once.
    void lockAspectRatioCheckboxChanged(bool checked);

    // Validates; on success remembers the size, reports it and returns nothing (the sheet
    // ends). Otherwise returns the alert to show, and the sheet stays open.
    std::optional<Alert> okButtonClicked();

    // Whether text is acceptable while typing in a size field: empty, or a decimal whole
    // number greater than 0.
    static bool isPartialStringValid(const std::string& text);
    static std::optional<Alert> validate(long width, long height);
    // The stored list after confirming size: that size first, no duplicates, at most 10.
    static std::vector<Size> rememberSize(std::vector<Size> presets, Size size);

private:
    Size initial_;
    RCUserSettings& settings_;
    std::function<void(Size)> didSetSize_;
    std::optional<long> width_;
    std::optional<long> height_;
};

}  // namespace pindle
