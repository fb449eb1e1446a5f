#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <vector>

namespace pindle {

// A fixed-capacity ring of shared references that keeps the newest elements written to it.
//
// Overwriting a slot drops the reference that was there. There is no removal, clearing or
// resizing: to start afresh, make a new ring. The ring has no lock: writes and read-outs of
// one ring must not overlap (the capture engine runs both on its buffer queue).
template <typename T>
class RCCircularBuffer {
public:
    using Element = std::shared_ptr<T>;

    // capacity >= 0; a ring of capacity 0 must not be written to.
    explicit RCCircularBuffer(int64_t capacity)
        : buffer_(size_t(capacity < 0 ? 0 : capacity)), capacity_(capacity < 0 ? 0 : capacity) {}

    void writeWithNewElement(Element element) {
        assert(capacity_ > 0);
        buffer_[size_t(writeIndex_ % capacity_)] = std::move(element);
        ++writeIndex_;
    }

    // The elements, oldest first; the ring is unchanged. Holds exactly count() elements.
    std::vector<Element> readAsNSArray() const {
        std::vector<Element> elements;
        elements.reserve(size_t(count()));
        if (capacity_ < writeIndex_) {
            for (int64_t i = 0; i < capacity_; ++i) {
                elements.push_back(buffer_[size_t((writeIndex_ + i) % capacity_)]);
            }
        } else {
            elements.assign(buffer_.begin(), buffer_.begin() + ptrdiff_t(writeIndex_));
        }
        return elements;
    }

    int64_t count() const { return writeIndex_ < capacity_ ? writeIndex_ : capacity_; }
    int64_t capacity() const { return capacity_; }
    // Writes ever made.
    int64_t writeIndex() const { return writeIndex_; }

private:
    std::vector<Element> buffer_;
    const int64_t capacity_;
    int64_t writeIndex_ = 0;
};

}  // namespace pindle
