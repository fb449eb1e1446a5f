#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/media.h"

namespace pindle::test {

// Movie facts for logic tests, which build without a decoder: openMovie finds the facts
// registered for a path (or fails, as for a missing file). Frames cannot be read.
class FakeMovies {
public:
    FakeMovies() {
        media::setMovieOpener(
            [state = state_](const std::filesystem::path& file) -> Result<media::MoviePtr> {
                std::lock_guard lock(state->mutex);
                auto found = state->movies.find(file.string());
                if (found == state->movies.end()) {
                    return Error{"cannot open " + file.string()};
                }
                return media::MoviePtr(std::make_shared<Movie>(file, found->second));
            });
    }
    ~FakeMovies() { media::setMovieOpener({}); }

    void add(const std::filesystem::path& file, media::MovieInfo info) {
        std::lock_guard lock(state_->mutex);
        state_->movies[file.string()] = info;
    }

    // A movie with one video track of the given size, duration (timescale 600) and rate.
    static media::MovieInfo video(double width, double height, double seconds, float fps) {
        media::MovieInfo info;
        info.videoTrackCount = 1;
        info.naturalSize = Size{width, height};
        info.duration = MediaTime::makeWithSeconds(seconds, 600);
        info.nominalFrameRate = fps;
        return info;
    }

private:
    class Movie final : public media::Movie {
    public:
        Movie(std::filesystem::path file, media::MovieInfo info)
            : path_(std::move(file)), info_(info) {}
        const std::filesystem::path& path() const override { return path_; }
        const media::MovieInfo& info() const override { return info_; }
        Result<std::unique_ptr<media::FrameReader>> makeFrameReader(
            const media::FrameReaderOptions&) const override {
            return Error{"frames are not available in logic tests"};
        }
        Result<std::vector<MediaTime>> presentationTimes() const override {
            return Error{"frames are not available in logic tests"};
        }

    private:
        std::filesystem::path path_;
        media::MovieInfo info_;
    };

    struct State {
        std::mutex mutex;
        std::map<std::string, media::MovieInfo> movies;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace pindle::test
