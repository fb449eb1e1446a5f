#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "base/result.h"
#include "library/RCEditParameters.h"

namespace pindle {

// What a GIF of a recording's edit depends on: the edit parameters (a copy) and the
// frame-rate code, which their comparison leaves out.
struct GIFEditState {
    std::shared_ptr<const RCEditParameters> parameters;
    int64_t frameRate = kFrameRateStandard;

    static GIFEditState of(const RCEditParameters* parameters);
    bool operator==(const GIFEditState& other) const;
};

// The GIF of the current edit for dragging out and copying: exported once in the
// background, and kept in the temporary folder for the next request of the same edit.
//
// The export runs elsewhere; every hook and callback is called on the main thread, and the
// cache is used only there. Files handed to a requester stay until the temporary folder is
// emptied at quit (a paste or a drop may read them later); files nobody was given are
// deleted when the edit they show is replaced, or when the cache goes.
class GIFExportCache {
public:
    using Path = std::filesystem::path;
    using Progress = std::function<void(float)>;
    // The GIF's file; empty when it could not be made.
    using Done = std::function<void(const Path&)>;

    struct Hooks {
        // A new file name with the extension "gif"; empty when none can be made.
        std::function<Path()> makeTempFile;
        // Writes the GIF of the current edit to the file, in the background; progress (0 to
        // 1) and done come on the main thread.
        std::function<void(const Path&, Progress, std::function<void(Status)>)> exportGIF;
        std::function<void(const Path&)> deleteFile;
    };

    explicit GIFExportCache(Hooks hooks);
    // Abandons a running export: its file is deleted when it ends, and nobody hears of it.
    ~GIFExportCache();
    GIFExportCache(const GIFExportCache&) = delete;
    GIFExportCache& operator=(const GIFExportCache&) = delete;

    // The GIF of state: done at once when it is made already, else when its export ends
    // (one is started unless it runs), with progress until then. Returns a ticket for
    // stopWaiting (0 when done was called at once).
    int request(const GIFEditState& state, Progress progress, Done done);
    // The requester of ticket no longer waits; the export goes on and its file is kept.
    void stopWaiting(int ticket);
    // Something outside the state changed (the watermark), or nobody wants the GIF any more
    // (the editor closes): the next request exports again. A request replaced by this or by
    // a request of another edit hears done with no file.
    void invalidate();
    bool isExporting() const;

private:
    struct Job;
    void replace(std::shared_ptr<Job> job);

    Hooks hooks_;
    std::shared_ptr<Job> current_;
    int lastTicket_ = 0;
};

}  // namespace pindle
