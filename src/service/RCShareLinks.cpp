#include "service/RCShareLinks.h"

#include "service/URL.h"

namespace pindle {
namespace {

constexpr const char* kTwitter = "https://twitter.com";
constexpr const char* kReddit = "https://www.reddit.com";
constexpr const char* kTumblr = "https://www.tumblr.com";
constexpr const char* kPinterest = "https://www.pinterest.com";

}  // namespace

std::string RCPINDLEUtilities::gifPageURLForGIFID(const std::string& gifID,
                                                  const ServiceEndpoints& endpoints) {
    return endpoints.web + "/gifs/" + gifID;
}

std::string RCPINDLEUtilities::mediaURLForGIFID(const std::string& gifID,
                                                const ServiceEndpoints& endpoints) {
    return endpoints.media + "/media/" + gifID + "/pindle.gif";
}

std::string RCPINDLEUtilities::tumblrMediaURLForGIFID(const std::string& gifID,
                                                      const ServiceEndpoints& endpoints) {
    return endpoints.media + "/media/" + gifID + "/pindle-tumblr.gif";
}

std::string RCPINDLEUtilities::channelURLForUsername(const std::string& username,
                                                     const ServiceEndpoints& endpoints) {
    return endpoints.web + "/channel/" + username;
}

std::string RCShareLinks::encodeForQuery(const std::string& text) {
    return percentEscape(text, "!$&'()*+,;=:@/?");
}

std::optional<std::string> RCShareLinks::shareURL(RCShareTarget target, const std::string& gifID,
                                                  const ServiceEndpoints& endpoints) {
    if (gifID.empty()) {
        return std::nullopt;
    }
    const std::string page = RCPINDLEUtilities::gifPageURLForGIFID(gifID, endpoints);
    std::string text;
    switch (target) {
        case RCShareTarget::Email:
            text = "mailto: ?body=" + page + " (via PINDLE)";
            break;
        case RCShareTarget::Facebook:
            text = endpoints.facebook + "/sharer/sharer.php?u=" + page;
            break;
        case RCShareTarget::Twitter:
            text = std::string(kTwitter) + "/home?status=" + page + " via @pindle";
            break;
        case RCShareTarget::Reddit:
            text = std::string(kReddit) + "/submit?url=" + page;
            break;
        case RCShareTarget::Tumblr:
            text = std::string(kTumblr) + "/widgets/share/tool?canonicalUrl=" + page +
                   "&content=" + RCPINDLEUtilities::tumblrMediaURLForGIFID(gifID, endpoints) +
                   "&title=&caption=(via PINDLE)&clickthroughUrl=" + page +
                   "&posttype=photo&tags=pindle";
            break;
        case RCShareTarget::Pinterest:
            text = std::string(kPinterest) + "/pin/create/button/?url=" + page +
                   "&media=" + RCPINDLEUtilities::mediaURLForGIFID(gifID, endpoints) +
                   "&description=via PINDLE";
            break;
    }
    return encodeForQuery(text);
}

}  // namespace pindle
