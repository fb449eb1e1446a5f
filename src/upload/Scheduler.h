#pragma once

#include <chrono>
#include <functional>

namespace pindle {

// Runs a task once after a delay, on the main queue. The windows' timed resets go through
// one of these so that tests can run them without waiting.
using Scheduler = std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;

// dispatch::after on the main queue.
Scheduler mainQueueScheduler();

}  // namespace pindle
