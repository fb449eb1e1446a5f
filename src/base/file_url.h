#pragma once

#include <string>

namespace pindle {

// File addresses: "file://" and the percent-encoded absolute path.
std::string fileURLFromPath(const std::string& absolutePath);
// The path of a "file://" address; empty when the text is no local file address.
std::string pathFromFileURL(const std::string& url);

}  // namespace pindle
