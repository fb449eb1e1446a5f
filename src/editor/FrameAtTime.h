#pragma once

#include <memory>
#include <optional>

#include "base/result.h"
#include "platform/media.h"

namespace pindle {

// The frame of a reader shown at successive times: the last frame starting at or before
// the time, or the first frame for times before it. Times must not go backwards.
class FrameAtTime {
public:
    explicit FrameAtTime(std::unique_ptr<media::FrameReader> reader) : reader_(std::move(reader)) {}

    Result<const media::Frame*> at(MediaTime time) {
        if (!started_) {
            started_ = true;
            if (Status read = advance(); !read) {
                return read.error();
            }
            if (!next_) {
                return Error{"the movie has no frames"};
            }
            current_ = std::move(next_);
            if (Status read = advance(); !read) {
                return read.error();
            }
        }
        while (next_ && next_->presentationTime <= time) {
            current_ = std::move(next_);
            if (Status read = advance(); !read) {
                return read.error();
            }
        }
        return &*current_;
    }

private:
    Status advance() {
        next_.reset();
        while (true) {
            auto frame = reader_->nextFrame();
            if (!frame) {
                return frame.error();
            }
            if (!frame->has_value() || (*frame)->image) {
                next_ = std::move(*frame);
                return Ok{};
            }
        }
    }

    std::unique_ptr<media::FrameReader> reader_;
    bool started_ = false;
    std::optional<media::Frame> current_;
    std::optional<media::Frame> next_;
};

}  // namespace pindle
