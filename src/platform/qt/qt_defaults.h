#pragma once

#include <filesystem>
#include <memory>

#include "platform/defaults.h"

namespace pindle::qt {

// Defaults kept in an INI file through QSettings.
std::unique_ptr<Defaults> makeSettingsFileDefaults(const std::filesystem::path& iniFile);

}  // namespace pindle::qt
