#include "upload/RCShareViewModel.h"

namespace pindle {

void RCShareViewModel::setUploadedPINDLEGIFID(std::optional<std::string> gifID) {
    if (gifID && gifID->empty()) {
        gifID.reset();
    }
    gifID_ = std::move(gifID);
}

std::optional<std::string> RCShareViewModel::shareAddress(RCShareTarget target,
                                                          const ServiceEndpoints& endpoints) const {
    if (!gifID_) {
        return std::nullopt;
    }
    return RCShareLinks::shareURL(target, *gifID_, endpoints);
}

}  // namespace pindle
