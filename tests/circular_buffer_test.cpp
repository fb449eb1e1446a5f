#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "capture/RCCircularBuffer.h"

namespace pindle {
namespace {

using Ring = RCCircularBuffer<const int>;

std::vector<int> values(const Ring& ring) {
    std::vector<int> out;
    for (const auto& element : ring.readAsNSArray()) {
        out.push_back(*element);
    }
    return out;
}

TEST(CircularBuffer, ReadsOutOldestFirstAcrossWrapAround) {
    struct Row {
        int writes;
        std::vector<int> expected;
    };
    const std::vector<Row> rows = {
        {0, {}},        {1, {0}},       {2, {0, 1}},    {3, {0, 1, 2}},
        {4, {1, 2, 3}}, {5, {2, 3, 4}}, {6, {3, 4, 5}}, {10, {7, 8, 9}},
    };
    for (const Row& row : rows) {
        Ring ring(3);
        for (int i = 0; i < row.writes; ++i) {
            ring.writeWithNewElement(std::make_shared<const int>(i));
        }
        EXPECT_EQ(values(ring), row.expected) << row.writes << " writes";
        EXPECT_EQ(ring.count(), int64_t(row.expected.size())) << row.writes << " writes";
        EXPECT_EQ(values(ring), row.expected) << "a read-out changed the ring";
    }
}

TEST(CircularBuffer, ReleasesOverwrittenElementsAndKeepsTheOthers) {
    auto ring = std::make_unique<Ring>(3);
    std::vector<std::weak_ptr<const int>> written;
    for (int i = 0; i < 5; ++i) {
        auto element = std::make_shared<const int>(i);
        written.push_back(element);
        ring->writeWithNewElement(std::move(element));
    }
    EXPECT_TRUE(written[0].expired());
    EXPECT_TRUE(written[1].expired());
    for (int i = 2; i < 5; ++i) {
        EXPECT_FALSE(written[size_t(i)].expired()) << i;
    }
    {
        auto snapshot = ring->readAsNSArray();
        ring = std::make_unique<Ring>(3);  // the engine's reset: a new ring, the old dropped
        EXPECT_FALSE(written[2].expired()) << "a read-out keeps its elements";
    }
    EXPECT_TRUE(written[2].expired());
    EXPECT_TRUE(written[4].expired());
}

}  // namespace
}  // namespace pindle
