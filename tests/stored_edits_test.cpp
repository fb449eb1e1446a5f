#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/keyed_archive.h"
#include "library/RCDataStore.h"

namespace pindle {
namespace {

std::string readFixture(const std::string& name) {
    std::ifstream in(std::string(PINDLE_TEST_FIXTURES) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string archived(const std::vector<RCRecordingPtr>& recordings) {
    KeyedArchiver archiver;
    archiver.encodeArray(recordings, KeyedArchiver::kRootKey);
    return archiver.archivedData();
}

MediaTime at(double seconds) {
    return MediaTime::makeWithSeconds(seconds, 600);
}

// A library saved before playback speed was stored.
TEST(StoredEdits, AnOlderLibraryLoadsEveryRecordingAndEditIntact) {
    std::string data = readFixture("library-before-speed.store");
    ASSERT_FALSE(data.empty());
    auto decoded = RCDataStore::decodeRecordings(data);
    EXPECT_TRUE(decoded.problems.empty());
    ASSERT_EQ(decoded.recordings.size(), 2u);

    auto first = decoded.recordings[0]->editParameters();
    EXPECT_EQ(decoded.recordings[0]->url().filename(), "Dec-01-2026 10-00-00.mp4");
    EXPECT_EQ(first->trimmedStartTime(), at(0.5));
    EXPECT_EQ(first->trimmedEndTime(), at(4.0));
    EXPECT_EQ(first->loopType(), kLoopTypePingPong);
    EXPECT_EQ(first->resizeValue(), kResize480);
    EXPECT_EQ(first->frameRate(), kFrameRateLow);
    EXPECT_EQ(first->playbackSpeed(), 1.0);
    ASSERT_EQ(first->captions().size(), 1u);
    EXPECT_EQ(first->captions()[0]->text, "Hello there");
    EXPECT_EQ(first->captions()[0]->startTime, at(2));
    EXPECT_EQ(first->captions()[0]->endTime, at(4));
    EXPECT_EQ(first->captions()[0]->centerPosition().x, 320);

    auto second = decoded.recordings[1]->editParameters();
    EXPECT_EQ(second->trimmedEndTime(), at(2.5));
    EXPECT_EQ(second->frameRate(), kFrameRateHD);
    EXPECT_TRUE(second->captions().empty());

    // Saved again unchanged, nothing new is written for an older version to ignore.
    EXPECT_EQ(archived(decoded.recordings).find("playbackSpeed"), std::string::npos);
    EXPECT_EQ(archived(decoded.recordings).find("cropRect"), std::string::npos);
    EXPECT_FALSE(first->cropRect());
}

TEST(StoredEdits, SpeedIsStoredBesideTheOlderKeysAndReadBack) {
    std::string data = readFixture("library-before-speed.store");
    auto decoded = RCDataStore::decodeRecordings(data);
    ASSERT_EQ(decoded.recordings.size(), 2u);
    std::string before = archived(decoded.recordings);
    decoded.recordings[0]->editParameters()->setPlaybackSpeed(2.0);
    std::string written = archived(decoded.recordings);

    auto again = RCDataStore::decodeRecordings(written);
    ASSERT_EQ(again.recordings.size(), 2u);
    auto parameters = again.recordings[0]->editParameters();
    EXPECT_EQ(parameters->playbackSpeed(), 2.0);
    EXPECT_EQ(parameters->loopType(), kLoopTypePingPong);
    EXPECT_EQ(parameters->captions().size(), 1u);
    EXPECT_EQ(again.recordings[1]->editParameters()->playbackSpeed(), 1.0);

    // An older reader sees the old keys unchanged: the new one is the only difference.
    std::string key = ",\"playbackSpeed\":2.0";
    auto found = written.find(key);
    ASSERT_NE(found, std::string::npos) << written;
    EXPECT_EQ(std::string(written).erase(found, key.size()), before);

    // A speed that is not offered, or not a number, reads as 1 and costs nothing else.
    for (const char* stored : {"3.0", "\"fast\""}) {
        std::string damaged = written;
        damaged.replace(found, key.size(), std::string(",\"playbackSpeed\":") + stored);
        auto read = RCDataStore::decodeRecordings(damaged);
        ASSERT_EQ(read.recordings.size(), 2u) << stored;
        EXPECT_EQ(read.recordings[0]->editParameters()->playbackSpeed(), 1.0) << stored;
        EXPECT_EQ(read.recordings[0]->editParameters()->captions().size(), 1u) << stored;
    }
}

TEST(StoredEdits, CropIsStoredBesideTheOlderKeysAndADamagedOneReadsAsNone) {
    auto decoded = RCDataStore::decodeRecordings(readFixture("library-before-speed.store"));
    ASSERT_EQ(decoded.recordings.size(), 2u);
    std::string before = archived(decoded.recordings);
    decoded.recordings[1]->editParameters()->setCropRect(CropRect{100, 50, 320, 240});
    std::string written = archived(decoded.recordings);

    auto again = RCDataStore::decodeRecordings(written);
    ASSERT_EQ(again.recordings.size(), 2u);
    EXPECT_EQ(again.recordings[1]->editParameters()->cropRect(), (CropRect{100, 50, 320, 240}));
    EXPECT_EQ(again.recordings[1]->editParameters()->frameRate(), kFrameRateHD);
    EXPECT_FALSE(again.recordings[0]->editParameters()->cropRect());

    std::string key = ",\"cropRect\":\"100,50,320,240\"";
    auto found = written.find(key);
    ASSERT_NE(found, std::string::npos) << written;
    EXPECT_EQ(std::string(written).erase(found, key.size()), before);

    for (const char* stored : {"\"100,50,0,240\"", "\"-1,0,5,5\"", "\"1,2,3\"", "42"}) {
        std::string damaged = written;
        damaged.replace(found, key.size(), std::string(",\"cropRect\":") + stored);
        auto read = RCDataStore::decodeRecordings(damaged);
        ASSERT_EQ(read.recordings.size(), 2u) << stored;
        EXPECT_FALSE(read.recordings[1]->editParameters()->cropRect()) << stored;
        EXPECT_EQ(read.recordings[1]->editParameters()->trimmedEndTime(), at(2.5)) << stored;
    }
}

TEST(StoredEdits, CropIsFittedToThePictureAndTheWholePictureIsNoCrop) {
    Size picture{640, 480};
    EXPECT_EQ(clampedCrop(CropRect{600, 400, 100, 100}, picture), (CropRect{600, 400, 40, 80}));
    EXPECT_EQ(clampedCrop(CropRect{-10, -10, 50, 60}, picture), (CropRect{0, 0, 40, 50}));
    EXPECT_FALSE(clampedCrop(CropRect{0, 0, 640, 480}, picture));
    EXPECT_FALSE(clampedCrop(CropRect{0, 0, 2000, 2000}, picture));
    EXPECT_FALSE(clampedCrop(CropRect{700, 10, 20, 20}, picture));
    EXPECT_FALSE(clampedCrop(CropRect{10, 10, 20, 20}, Size{0, 0}));

    EXPECT_TRUE(cropFitsInside(CropRect{100, 50, 540, 430}, picture));
    EXPECT_FALSE(cropFitsInside(CropRect{100, 50, 541, 430}, picture));

    EXPECT_EQ(parseCropRect("100,50,320,240"), (CropRect{100, 50, 320, 240}));
    for (const char* bad : {"", "1,2,3", "1,2,3,4,", "1,2,0,4", "-1,2,3,4", "1, 2,3,4", "a,b,c,d",
                            "1,2,3,99999999999", "2147483647,0,1,1"}) {
        EXPECT_FALSE(parseCropRect(bad)) << bad;
    }
}

}  // namespace
}  // namespace pindle
