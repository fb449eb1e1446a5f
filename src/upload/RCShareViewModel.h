#pragma once

#include <optional>
#include <string>

#include "service/RCShareLinks.h"

namespace pindle {

// The share view without its window: six buttons that stay disabled under the "upload
// first" overlay until the uploaded GIF's id is known.
class RCShareViewModel {
public:
    static constexpr const char* kUploadRequiredText =
        "You need to click UPLOAD before you can share";

    void setUploadedPINDLEGIFID(std::optional<std::string> gifID);
    const std::optional<std::string>& uploadedPINDLEGIFID() const { return gifID_; }

    bool buttonsEnabled() const { return gifID_.has_value(); }
    bool overlayShown() const { return !gifID_.has_value(); }

    // The address a share button opens; nothing without an id.
    std::optional<std::string> shareAddress(RCShareTarget target,
                                            const ServiceEndpoints& endpoints) const;

private:
    std::optional<std::string> gifID_;
};

}  // namespace pindle
