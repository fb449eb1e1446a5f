#pragma once

#include <memory>

#include "platform/keyboard.h"

namespace pindle::qt {

// The keyboard of the X server the Qt application runs on: key codes are X key codes,
// translated with xkbcommon for the active layout group; the hot key is a passive grab on
// the root window, also taken with Caps Lock and Num Lock held so that they do not stop it.
// Both return nothing usable (no text, no binding) when the application is not on X11.
// Create them on the main thread after the QGuiApplication exists.
std::shared_ptr<KeyboardLayout> makeX11KeyboardLayout();
std::shared_ptr<GlobalHotKey> makeX11GlobalHotKey();

}  // namespace pindle::qt

namespace pindle::qt {

// Whether a compositing manager runs on the application's X screen (it owns the
// _NET_WM_CM_Sn selection). false off X11.
bool compositingManagerRunning();

}  // namespace pindle::qt
