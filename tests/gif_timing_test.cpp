#include <gtest/gtest.h>

#include <cmath>

#include "editor/GIFTiming.h"
#include "editor/RCBatchExport.h"

namespace pindle {
namespace {

TEST(GIFTiming, DelaysKeepTheRunningTotalOnTheFrameTimes) {
    EXPECT_EQ(gif_timing::delayCentiseconds(0, 15), 7);
    EXPECT_EQ(gif_timing::delayCentiseconds(1, 15), 7);
    EXPECT_EQ(gif_timing::delayCentiseconds(2, 15), 6);
    for (float fps : {10.0f, 15.0f, 23.0f, 30.0f, 24.0f}) {
        SCOPED_TRACE(fps);
        int total = 0;
        for (int64_t i = 0; i < 3000; ++i) {
            int delay = gif_timing::delayCentiseconds(i, fps);
            ASSERT_GE(delay, 3);
            total += delay;
            // The end of frame i is (i + 1) / fps seconds; the total never drifts from it.
            ASSERT_LT(std::abs(total - double(i + 1) * 100.0 / fps), 1.0) << "frame " << i;
        }
    }
    // A whole clip lands exactly: 60 frames at 15 per second last 4 s.
    int sum = 0;
    for (int i = 0; i < 60; ++i) {
        sum += gif_timing::delayCentiseconds(i, 15);
    }
    EXPECT_EQ(sum, 400);
}

TEST(GIFTiming, FrameCountsAndRates) {
    EXPECT_EQ(gif_timing::samplingRate(60, 25), 30);
    EXPECT_EQ(gif_timing::samplingRate(10, 25), 10);
    EXPECT_EQ(gif_timing::samplingRate(0, 60), 30);  // no request: the movie's, capped
    EXPECT_EQ(gif_timing::samplingRate(0, 24), 24);
    EXPECT_EQ(gif_timing::frameCount(4.0, 15), 60);
    EXPECT_EQ(gif_timing::frameCount(4.0, 30), 120);
    EXPECT_EQ(gif_timing::frameCount(0.05, 15), 0);  // shorter than one frame interval
    EXPECT_EQ(gif_timing::frameCount(2.5, 15), 37);
    // Never a hair before the frame that starts there (a 30-per-second frame at 7/15 s).
    for (int64_t i = 0; i < 300; ++i) {
        ASSERT_GE(gif_timing::sampleTime(i, 15), MediaTime::make(i * 6000, 90000)) << i;
        ASSERT_GE(gif_timing::sampleTime(i, 29.97f), MediaTime::make(i * 1001, 30000)) << i;
    }
}

TEST(BatchExport, FileNamesCarryTheSizesWithoutDecimals) {
    RCBatchFileNames names = batchFileNames(640, 359.6, 224.7);
    EXPECT_EQ(names.still, "Still JPG (640x360).jpg");
    EXPECT_EQ(names.video, "Video MP4 (640x360).mp4");
    EXPECT_EQ(names.smallGIF, "Small GIF (400x225).gif");
    EXPECT_EQ(names.largeGIF, "Large GIF (640x360).gif");
}

}  // namespace
}  // namespace pindle
