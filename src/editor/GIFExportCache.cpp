#include "editor/GIFExportCache.h"

#include <utility>
#include <vector>

namespace pindle {

GIFEditState GIFEditState::of(const RCEditParameters* parameters) {
    GIFEditState state;
    if (parameters != nullptr) {
        state.parameters = parameters->copy();
        state.frameRate = parameters->frameRate();
    }
    return state;
}

bool GIFEditState::operator==(const GIFEditState& other) const {
    const RCEditParameters* theirs = other.parameters.get();
    bool sameEdit = parameters ? parameters->isEqualToEditParameters(theirs)
                    : theirs   ? theirs->isEqualToEditParameters(nullptr)
                               : true;
    return sameEdit && frameRate == other.frameRate;
}

// One export and what became of it. Its completion holds it, not the cache, so it can end
// after the cache is gone.
struct GIFExportCache::Job {
    struct Waiter {
        int ticket;
        Progress progress;
        Done done;
    };
    GIFEditState state;
    Path file;
    std::function<void(const Path&)> deleteFile;
    bool finished = false;
    bool failed = false;
    bool handedOut = false;
    // Replaced or abandoned: the file goes as soon as nobody needs it.
    bool dropped = false;
    std::vector<Waiter> waiters;

    void hand(const Done& to) {
        handedOut = handedOut || !failed;
        to(failed ? Path() : file);
    }
    // Waiters told hear of no file.
    void discard(bool tellWaiters) {
        dropped = true;
        for (const Waiter& waiter : std::exchange(waiters, {})) {
            if (tellWaiters && waiter.done) {
                waiter.done(Path());
            }
        }
        if (finished && !handedOut && !failed) {
            deleteFile(file);
        }
    }
};

GIFExportCache::GIFExportCache(Hooks hooks) : hooks_(std::move(hooks)) {}

GIFExportCache::~GIFExportCache() {
    if (current_) {
        current_->discard(false);
    }
}

void GIFExportCache::replace(std::shared_ptr<Job> job) {
    // Taken out first: a waiter told of the end may ask again.
    std::shared_ptr<Job> old = std::exchange(current_, std::move(job));
    if (old) {
        old->discard(true);
    }
}

int GIFExportCache::request(const GIFEditState& state, Progress progress, Done done) {
    if (current_ && current_->state == state && !(current_->finished && current_->failed)) {
        if (current_->finished) {
            current_->hand(done);
            return 0;
        }
        current_->waiters.push_back({++lastTicket_, std::move(progress), std::move(done)});
        return lastTicket_;
    }
    Path file = hooks_.makeTempFile ? hooks_.makeTempFile() : Path();
    if (file.empty()) {
        replace(nullptr);
        done(Path());
        return 0;
    }
    auto job = std::make_shared<Job>();
    job->state = state;
    job->file = file;
    job->deleteFile = hooks_.deleteFile;
    job->waiters.push_back({++lastTicket_, std::move(progress), std::move(done)});
    replace(job);
    hooks_.exportGIF(
        file,
        [job](float fraction) {
            for (const Job::Waiter& waiter : job->waiters) {
                if (waiter.progress) {
                    waiter.progress(fraction);
                }
            }
        },
        [job](Status status) {
            job->finished = true;
            job->failed = !status;
            if (job->dropped) {
                job->deleteFile(job->file);
                return;
            }
            for (const Job::Waiter& waiter : std::exchange(job->waiters, {})) {
                job->hand(waiter.done);
            }
        });
    return lastTicket_;
}

void GIFExportCache::stopWaiting(int ticket) {
    if (current_) {
        std::erase_if(current_->waiters,
                      [ticket](const Job::Waiter& waiter) { return waiter.ticket == ticket; });
    }
}

void GIFExportCache::invalidate() {
    replace(nullptr);
}

bool GIFExportCache::isExporting() const {
    return current_ && !current_->finished;
}

}  // namespace pindle
