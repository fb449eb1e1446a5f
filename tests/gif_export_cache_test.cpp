#include <gtest/gtest.h>

#include <set>

#include "editor/GIFExportCache.h"

namespace pindle {
namespace {

using Path = std::filesystem::path;

// Exports that end when the test says, and the files that exist.
class GIFExportCacheTest : public ::testing::Test {
protected:
    GIFExportCache::Hooks hooks() {
        GIFExportCache::Hooks made;
        made.makeTempFile = [this] { return Path("/tmp/gif-" + std::to_string(++named)); };
        made.exportGIF = [this](const Path& file, GIFExportCache::Progress progress,
                                std::function<void(Status)> done) {
            running.push_back({file, std::move(progress), std::move(done)});
        };
        made.deleteFile = [this](const Path& file) { files.erase(file); };
        return made;
    }
    // Ends the oldest running export.
    void finishExport(bool succeeds = true) {
        Export next = std::move(running.front());
        running.erase(running.begin());
        if (succeeds) {
            files.insert(next.file);
        }
        next.done(succeeds ? Status(Ok{}) : Status(Error{"disk full"}));
    }
    static GIFEditState state(double speed) {
        RCEditParameters parameters;
        parameters.setPlaybackSpeed(speed);
        return GIFEditState::of(&parameters);
    }

    struct Export {
        Path file;
        GIFExportCache::Progress progress;
        std::function<void(Status)> done;
    };
    std::vector<Export> running;
    std::set<Path> files;
    int named = 0;
};

TEST_F(GIFExportCacheTest, OneEditIsExportedOnceAndItsFileServesEveryLaterRequest) {
    GIFExportCache cache(hooks());
    std::vector<Path> drag, copy;
    float shown = 0;
    cache.request(
        state(2), [&](float f) { shown = f; }, [&](const Path& p) { drag.push_back(p); });
    cache.request(state(2), nullptr, [&](const Path& p) { copy.push_back(p); });
    ASSERT_EQ(running.size(), 1u);
    EXPECT_TRUE(cache.isExporting());
    running.front().progress(0.25f);
    EXPECT_EQ(shown, 0.25f);
    finishExport();
    EXPECT_EQ(drag, std::vector<Path>{"/tmp/gif-1"});
    EXPECT_EQ(copy, drag);
    // Ready: at once, without another export.
    EXPECT_EQ(cache.request(state(2), nullptr, [&](const Path& p) { drag.push_back(p); }), 0);
    EXPECT_TRUE(running.empty());
    EXPECT_EQ(drag.size(), 2u);

    // Another edit is exported again; the file handed out stays for a paste or drop.
    cache.request(state(4), nullptr, [&](const Path& p) { drag.push_back(p); });
    ASSERT_EQ(running.size(), 1u);
    finishExport();
    EXPECT_EQ(drag.back(), "/tmp/gif-2");
    EXPECT_EQ(files, (std::set<Path>{"/tmp/gif-1", "/tmp/gif-2"}));
    // The frame rate is part of the edit, and so is the watermark, which the cache is told of.
    RCEditParameters parameters;
    parameters.setPlaybackSpeed(4);
    parameters.setFrameRate(kFrameRateHD);
    cache.request(GIFEditState::of(&parameters), nullptr, [](const Path&) {});
    EXPECT_EQ(running.size(), 1u);
    finishExport();
    cache.invalidate();
    cache.request(GIFEditState::of(&parameters), nullptr, [](const Path&) {});
    EXPECT_EQ(running.size(), 1u);
}

TEST_F(GIFExportCacheTest, AGIFNobodyTookIsKeptForTheNextDragAndDeletedWhenReplaced) {
    GIFExportCache cache(hooks());
    int heard = 0;
    int ticket = cache.request(state(1), nullptr, [&](const Path&) { ++heard; });
    cache.stopWaiting(ticket);  // the button was let go
    finishExport();
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(files.count("/tmp/gif-1"), 1u);
    // An edit replaces it: nobody has it, so it goes.
    cache.request(state(2), nullptr, [&](const Path&) { ++heard; });
    EXPECT_EQ(files.count("/tmp/gif-1"), 0u);
    // A failed export reports no file and is tried again on the next request.
    finishExport(false);
    Path got = "unset";
    cache.request(state(2), nullptr, [&](const Path& p) { got = p; });
    ASSERT_EQ(running.size(), 1u);
    finishExport(false);
    EXPECT_EQ(got, Path());
}

TEST_F(GIFExportCacheTest, AnExportOutlivingItsCacheDeletesItsFileAndCallsNobody) {
    int heard = 0;
    {
        GIFExportCache cache(hooks());
        cache.request(
            state(1), [&](float) { ++heard; }, [&](const Path&) { ++heard; });
    }
    running.front().progress(0.5f);
    finishExport();
    EXPECT_EQ(heard, 0);
    EXPECT_TRUE(files.empty());
    // So does one abandoned when the editor closes, and a made one nobody took.
    GIFExportCache cache(hooks());
    int ticket = cache.request(state(1), nullptr, [](const Path&) {});
    cache.stopWaiting(ticket);
    finishExport();
    Path got = "unset";
    cache.request(state(2), nullptr, [&](const Path& p) { got = p; });
    cache.invalidate();  // a waiter hears of no file at once
    EXPECT_EQ(got, Path());
    got = "unset";
    finishExport();
    EXPECT_EQ(got, "unset");
    EXPECT_EQ(heard, 0);
    EXPECT_TRUE(files.empty());
}

}  // namespace
}  // namespace pindle
