#pragma once

#include <filesystem>

class QMimeData;

namespace pindle::ui {

// What a copied or dragged GIF offers: its bytes as image/gif, for programs that paste
// pictures (a pixmap would lose the animation), and its file as text/uri-list, for file
// managers, browsers and chats. The file must stay while the data may be asked for. Null when
// the file cannot be read.
QMimeData* makeGIFMimeData(const std::filesystem::path& gif);

}  // namespace pindle::ui
