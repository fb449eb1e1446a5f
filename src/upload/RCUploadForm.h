#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "editor/RCExportOptions.h"
#include "library/RCRecording.h"
#include "service/HTTPError.h"
#include "service/RCPINDLEMetadata.h"

namespace pindle {

// The upload sheet's form without its window: which fields show, the two lists, the
// metadata read from the fields, the export made for the upload and the reading of the
// service's reply.

// Which of the optional fields the form shows.
struct RCUploadFieldVisibility {
    bool staffFields = false;  // user name, channel, rating list, privacy list
    bool clipFields = false;   // title and description

    bool operator==(const RCUploadFieldVisibility&) const = default;
};
RCUploadFieldVisibility uploadFieldVisibility(bool signedIn, bool isStaff, bool isClip);

struct RCRatingItem {
    const char* label;
    RCPINDLEMetadata::Rating rating;
};
struct RCPrivacyItem {
    const char* label;
    bool isHidden;
};
// "Unrated", "G", "PG", "PG-13", "R"; the first is selected at first.
const std::vector<RCRatingItem>& ratingItems();
// "Public", "Private"; the first is selected at first.
const std::vector<RCPrivacyItem>& privacyItems();

// What the fields hold when the upload starts.
struct RCUploadFormInput {
    std::string sourceURL;
    std::string tags;
    std::string username;
    std::string channel;
    std::string title;
    std::string description;
    int ratingIndex = 0;
    int privacyIndex = 0;
};

// The metadata of an upload. Fields the form hides are not read: a user who is not staff
// uploads unrated, public, without user name or channel, and a GIF carries no title or
// description. A clip without a title is named after timeNow (a name in the form
// "MMM-dd-yyyy HH-mm-ss"). An index outside its list reads as the list's first item.
RCPINDLEMetadata uploadMetadata(const RCUploadFormInput& input,
                                const RCUploadFieldVisibility& visibility, bool isClip,
                                const std::function<std::string()>& timeNow);

// The export of the edited recording that is uploaded: trim, loop, frame rate, playback
// speed, captions and watermark drawn, at the recording's own size; sound only with the
// normal loop.
RCExportOptions uploadExportOptions(const RCRecording& recording);

// The reading of the upload's reply: the new GIF's id, or the line for the log.
struct RCUploadReply {
    std::optional<std::string> gifID;
    std::string logLine;  // empty on success
};
RCUploadReply readUploadReply(const std::optional<nlohmann::json>& response,
                              const std::optional<HTTPError>& error);

}  // namespace pindle
