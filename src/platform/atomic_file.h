#pragma once

#include <filesystem>
#include <string_view>

#include "platform/result.h"

namespace pindle {

// Replaces file with data so that a crash or power loss at any moment leaves either the
// old file or the new one, never a mixture: the data goes to a temporary file beside it,
// which is flushed to disk and then renamed over file. The directory must exist.
Status writeFileAtomically(const std::filesystem::path& file, std::string_view data);

}  // namespace pindle
