#pragma once

#include <string>
#include <vector>

namespace pindle::cli {

// `pindle-capture export (RECORDING-INDEX | MOVIE) --to PATH [options]`: exports a library
// recording or a movie file as the editor would. Returns the exit status.
int runExportVerb(const std::vector<std::string>& args);

extern const char* const kExportUsage;

}  // namespace pindle::cli
