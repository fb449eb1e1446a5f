#include <gtest/gtest.h>

#include <cmath>

#include "base/media_time.h"

namespace pindle {
namespace {

TEST(MediaTime, ComparesInstantsAcrossTimescales) {
    EXPECT_EQ(MediaTime::make(600, 600), MediaTime::make(1000, 1000));
    EXPECT_EQ(MediaTime::make(1, 30), MediaTime::make(20, 600));
    EXPECT_LT(MediaTime::make(1, 3), MediaTime::make(333334, 1000000));
    EXPECT_GT(MediaTime::make(1, 3), MediaTime::make(333333, 1000000));
    // Values whose cross products overflow 64 bits still compare exactly.
    EXPECT_LT(MediaTime::make(INT64_MAX - 1, 1000000007), MediaTime::make(INT64_MAX, 1000000007));
    EXPECT_EQ(MediaTime::make(-5, 10), MediaTime::make(-1, 2));
}

TEST(MediaTime, OrdersSpecialTimes) {
    MediaTime numbers[] = {MediaTime::make(-1000000, 1), MediaTime::zero(),
                           MediaTime::make(INT64_MAX, 1)};
    for (const MediaTime& t : numbers) {
        EXPECT_LT(MediaTime::negativeInfinity(), t);
        EXPECT_LT(t, MediaTime::positiveInfinity());
    }
    EXPECT_LT(MediaTime::positiveInfinity(), MediaTime::indefinite());
    EXPECT_LT(MediaTime::indefinite(), MediaTime::invalid());
    EXPECT_EQ(MediaTime::invalid(), MediaTime::invalid());
    EXPECT_FALSE(MediaTime::make(1, 0).isValid());
    EXPECT_TRUE(MediaTime::zero().isNumeric());
    EXPECT_EQ(MediaTime::zero().seconds(), 0.0);
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
}

TEST(MediaTime, AddsAndSubtractsOnTheCommonTimescale) {
    MediaTime sum = MediaTime::make(1, 600) + MediaTime::make(1, 1000);
    EXPECT_EQ(sum.timescale, 3000);
    EXPECT_EQ(sum.value, 8);
    EXPECT_FALSE(sum.hasBeenRounded());

    MediaTime same = MediaTime::make(900, 600) - MediaTime::make(300, 600);
    EXPECT_EQ(same.timescale, 600);
    EXPECT_EQ(same.value, 600);

    // Timescales whose least common multiple does not fit: the larger one, rounded.
    MediaTime rounded = MediaTime::make(1, 2147483647) + MediaTime::make(1, 2147483646);
    EXPECT_EQ(rounded.timescale, 2147483647);
    EXPECT_TRUE(rounded.hasBeenRounded());
    EXPECT_EQ(rounded.value, 2);

    EXPECT_FALSE((MediaTime::invalid() + MediaTime::zero()).isValid());
    EXPECT_TRUE((MediaTime::positiveInfinity() + MediaTime::make(5, 1)).isPositiveInfinity());
    EXPECT_FALSE((MediaTime::positiveInfinity() - MediaTime::positiveInfinity()).isValid());
    EXPECT_TRUE((MediaTime::make(INT64_MAX, 1) + MediaTime::make(1, 1)).isPositiveInfinity());
}

TEST(MediaTime, MultipliesKeepingTheTimescale) {
    MediaTime doubled = MediaTime::make(7, 15) * 2;
    EXPECT_EQ(doubled.value, 14);
    EXPECT_EQ(doubled.timescale, 15);

    MediaTime scaled = MediaTime::make(10, 600).multipliedBy(0.25);
    EXPECT_EQ(scaled.timescale, 600);
    EXPECT_EQ(scaled.value, 3);  // 2.5 rounds away from zero
    EXPECT_TRUE(scaled.hasBeenRounded());
    EXPECT_EQ(MediaTime::make(-10, 600).multipliedBy(0.25).value, -3);
    EXPECT_TRUE((MediaTime::negativeInfinity() * -3).isPositiveInfinity());
}

TEST(MediaTime, ConvertsSecondsAndScales) {
    MediaTime t = MediaTime::makeWithSeconds(1.0 / 3.0, 600);
    EXPECT_EQ(t.value, 200);
    EXPECT_EQ(t.timescale, 600);
    EXPECT_DOUBLE_EQ(MediaTime::make(3, 4).seconds(), 0.75);
    EXPECT_EQ(MediaTime::make(1001, 30000).convertScale(600).value, 20);
    EXPECT_TRUE(MediaTime::make(1001, 30000).convertScale(600).hasBeenRounded());
    EXPECT_FALSE(MediaTime::makeWithSeconds(std::nan(""), 600).isValid());
}

}  // namespace
}  // namespace pindle
