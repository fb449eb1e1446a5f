#include "upload/RCUploadForm.h"

#include "editor/RCRecordingLayers.h"
#include "library/RCEditParameters.h"

namespace pindle {

RCUploadFieldVisibility uploadFieldVisibility(bool signedIn, bool isStaff, bool isClip) {
    return {signedIn && isStaff, isClip};
}

const std::vector<RCRatingItem>& ratingItems() {
    static const std::vector<RCRatingItem> items = {
        {"Unrated", RCPINDLEMetadata::Rating::Unrated},
        {"G", RCPINDLEMetadata::Rating::G},
        {"PG", RCPINDLEMetadata::Rating::PG},
        {"PG-13", RCPINDLEMetadata::Rating::PG13},
        {"R", RCPINDLEMetadata::Rating::R},
    };
    return items;
}

const std::vector<RCPrivacyItem>& privacyItems() {
    static const std::vector<RCPrivacyItem> items = {{"Public", false}, {"Private", true}};
    return items;
}

namespace {

template <typename Item>
const Item& itemAt(const std::vector<Item>& items, int index) {
    return index >= 0 && size_t(index) < items.size() ? items[size_t(index)] : items.front();
}

}  // namespace

RCPINDLEMetadata uploadMetadata(const RCUploadFormInput& input,
                                const RCUploadFieldVisibility& visibility, bool isClip,
                                const std::function<std::string()>& timeNow) {
    RCPINDLEMetadata metadata;
    metadata.sourceURLString = input.sourceURL;
    metadata.tags = input.tags;
    if (visibility.staffFields) {
        metadata.username = input.username;
        metadata.channelID = input.channel;
        metadata.rating = itemAt(ratingItems(), input.ratingIndex).rating;
        metadata.isHidden = itemAt(privacyItems(), input.privacyIndex).isHidden;
    }
    if (isClip) {
        metadata.title = !input.title.empty() ? input.title : (timeNow ? timeNow() : "");
        metadata.videoDescription = input.description;
    }
    return metadata;
}

RCExportOptions uploadExportOptions(const RCRecording& recording) {
    RCExportOptions options;
    auto parameters = recording.editParameters();
    int64_t loopType = parameters ? parameters->loopType() : kLoopTypeNormal;
    options.loopType = loopType;
    options.startTime = recording.editedStartTime();
    options.endTime = recording.editedEndTime();
    addExportLayers(options, recording);
    options.fps = recording.editedFPS();
    options.speed = parameters ? parameters->playbackSpeed() : 1.0;
    options.exportAudio = loopType == kLoopTypeNormal;
    return options;
}

RCUploadReply readUploadReply(const std::optional<nlohmann::json>& response,
                              const std::optional<HTTPError>& error) {
    if (error) {
        return {std::nullopt, "Issue uploading file: " + error->localizedDescription};
    }
    if (response && response->is_object()) {
        auto data = response->find("data");
        if (data != response->end() && data->is_object()) {
            auto id = data->find("id");
            if (id != data->end() && id->is_string() && !id->get<std::string>().empty()) {
                return {id->get<std::string>(), ""};
            }
        }
    }
    return {std::nullopt,
            "File upload response not as expected: " + (response ? response->dump() : "null")};
}

}  // namespace pindle
