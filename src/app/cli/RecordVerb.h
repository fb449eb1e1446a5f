#pragma once

#include <string>
#include <vector>

namespace pindle::cli {

// `pindle-capture record --region X,Y,W,H --seconds N [--capture-last-at S]... [--cursor]
// [--clicks]`: captures a region of the X display for N seconds with the capture engine,
// requests a capture-last at each S, stops, and prints each new recording's movie and facts
// and the frames delivered and dropped. The region is in screen points from the top-left
// corner of the primary display, as screen tools show positions.
int runRecord(const std::vector<std::string>& args);

}  // namespace pindle::cli
