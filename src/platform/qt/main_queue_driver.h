#pragma once

namespace pindle::qt {

// Feeds the main dispatch queue from the running Qt event loop: every task queued on the
// main queue wakes the loop, which runs the queued tasks. Call once on the main thread after
// the QCoreApplication exists.
void installMainQueueDriver();

}  // namespace pindle::qt
