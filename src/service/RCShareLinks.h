#pragma once

#include <optional>
#include <string>

#include "service/ServiceEndpoints.h"

namespace pindle {

// The addresses of a GIF on the service.
class RCPINDLEUtilities {
public:
    // The GIF's page on the public web site: web + "/gifs/" + id.
    static std::string gifPageURLForGIFID(
        const std::string& gifID, const ServiceEndpoints& endpoints = ServiceEndpoints::current());
    // The GIF file: media + "/media/" + id + "/pindle.gif".
    static std::string mediaURLForGIFID(
        const std::string& gifID, const ServiceEndpoints& endpoints = ServiceEndpoints::current());
    // The GIF file made for Tumblr: media + "/media/" + id + "/pindle-tumblr.gif".
    static std::string tumblrMediaURLForGIFID(
        const std::string& gifID, const ServiceEndpoints& endpoints = ServiceEndpoints::current());
    // The address of the user's channel page: web + "/channel/" + user name.
    static std::string channelURLForUsername(
        const std::string& username,
        const ServiceEndpoints& endpoints = ServiceEndpoints::current());
};

// Where each share button sends an uploaded GIF.
enum class RCShareTarget { Email, Facebook, Twitter, Reddit, Tumblr, Pinterest };

class RCShareLinks {
public:
    // The address that shares the GIF on target, ready to open; nothing without an id.
    static std::optional<std::string> shareURL(
        RCShareTarget target, const std::string& gifID,
        const ServiceEndpoints& endpoints = ServiceEndpoints::current());
    // text with every byte outside the query characters (letters, digits and
    // -._~!$&'()*+,;=:@/?) percent-escaped: a space becomes %20, nested addresses stay.
    static std::string encodeForQuery(const std::string& text);
};

}  // namespace pindle
