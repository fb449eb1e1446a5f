#pragma once

#include <string>
#include <vector>

namespace pindle::cli {

// `pindle-capture toggle` and `pindle-capture capture-last`: ask the running application,
// over the session bus, to start or stop a capture or to save its last seconds.
int runToggle(const std::vector<std::string>& args);
int runCaptureLast(const std::vector<std::string>& args);

}  // namespace pindle::cli
