#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "library/RCRecording.h"

namespace pindle::cli {

// `pindle-capture export (RECORDING-INDEX | MOVIE) --to PATH [options]`: exports a library
// recording or a movie file as the editor would. Returns the exit status.
int runExportVerb(const std::vector<std::string>& args);

extern const char* const kExportUsage;

// A fresh recording of a library item ("1" is the newest) or a movie file, with a copy of a
// library item's edits: what export reads.
Result<RCRecordingPtr> openExportSource(const std::string& source);
// The library's own recording at item, whose changes the store keeps.
Result<RCRecordingPtr> storedLibraryRecording(const std::string& item);

}  // namespace pindle::cli
