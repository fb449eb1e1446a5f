#pragma once

#include <filesystem>
#include <string>

namespace pindle::cli {

// The hidden verb of the process that keeps a copied GIF on the clipboard.
inline constexpr const char* kServeClipboardVerb = "serve-clipboard-gif";

// Puts gif on the clipboard from a process of its own, which serves it (as image/gif and as
// text/uri-list of the file) until another program takes the clipboard, at most
// kClipboardServeMinutes; the process then deletes the file and its folder. Returns once the
// clipboard is ours, or an error message.
std::string copyGIFToClipboard(const std::filesystem::path& gif);

// The serving process: run on an X display, with the file to serve; ready is written to
// standard output once the clipboard is ours. Returns the exit status.
int runClipboardServer(int argc, char** argv, const std::filesystem::path& gif);

inline constexpr int kClipboardServeMinutes = 30;

}  // namespace pindle::cli
