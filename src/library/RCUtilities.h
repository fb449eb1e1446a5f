#pragma once

#include <map>
#include <string>

#include "base/file_url.h"
#include "base/geometry.h"

namespace pindle {

// Stateless helpers shared by every subsystem.
class RCUtilities {
public:
    // A new random UUID: 36 characters, upper-case hexadecimal, groups 8-4-4-4-12.
    static std::string makeGUID();
    // Now as "MMM-dd-yyyy HH-mm-ss" in the user's locale and time zone ("Dec-06-2026
    // 23-09-02"): the default name of a saved file.
    static std::string makeTempFileName();
    static bool compareFloat(float a, float b, float epsilon);
    // The factor that scales a to fit inside b keeping its aspect ratio.
    static double scaleToAspectFitRect(const Rect& a, const Rect& b);
    // a scaled by that factor, centred on b's centre.
    static Rect aspectFitRect(const Rect& a, const Rect& b);
    static void openBrowserWithURL(const std::string& url);
    // The key=value pieces of the address's fragment (after '#'), split at '&'. A piece
    // without '=' is skipped; a value ends at a further '='; a later key wins.
    static std::map<std::string, std::string> parseFragmentsFromURL(const std::string& url);
};

}  // namespace pindle
