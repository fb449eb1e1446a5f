#pragma once

namespace pindle::qt {

// Opens addresses through QDesktopServices. Call once the QGuiApplication exists.
void installURLOpener();

}  // namespace pindle::qt
