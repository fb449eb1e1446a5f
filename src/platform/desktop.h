#pragma once

#include <functional>
#include <string>

// Asking the desktop to open an address with the user's default handler.
namespace pindle::desktop {

// false when no handler took the address.
bool openURL(const std::string& url);

// The application installs the window system's opener; without one, openURL() hands the
// address to xdg-open.
void setURLOpener(std::function<bool(const std::string&)> opener);

}  // namespace pindle::desktop
