#pragma once

#include <functional>
#include <string>

namespace pindle {

// Where the online service and Facebook are reached: scheme, host and port of each, without
// a trailing "/". Each can be moved with an environment variable (tests point them at a
// server on loopback):
//
//   api            PINDLE_API_URL             sign-in, profile, signed-in GIF uploads
//   upload         PINDLE_UPLOAD_URL          anonymous uploads, signed-in clip uploads
//   web            PINDLE_WEB_URL             public pages: GIFs, channels, sign-up
//   media          PINDLE_MEDIA_URL           the GIF files themselves
//   facebookGraph  PINDLE_FACEBOOK_GRAPH_URL  Graph API and the OAuth page
//   facebook       PINDLE_FACEBOOK_URL        login-success page and sharer
struct ServiceEndpoints {
    std::string api = "https://api.pindle.com";
    std::string upload = "https://upload.pindle.com";
    std::string web = "http://pindle.com";
    std::string media = "http://media.pindle.com";
    std::string facebookGraph = "https://graph.facebook.com";
    std::string facebook = "https://www.facebook.com";

    using EnvironmentLookup = std::function<const char*(const char*)>;
    // Pure: the defaults, overridden by the non-empty variables lookup finds.
    static ServiceEndpoints fromEnvironment(const EnvironmentLookup& lookup);
    // The process's endpoints, read from its environment once.
    static const ServiceEndpoints& current();
};

}  // namespace pindle
