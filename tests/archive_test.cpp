#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "base/keyed_archive.h"
#include "fake_movies.h"
#include "library/RCRecording.h"

namespace pindle {
namespace {

std::shared_ptr<RCTimedCaption> sampleCaption() {
    auto caption = std::make_shared<RCTimedCaption>();
    caption->videoDimensions = Size{1280.5, 720.25};
    caption->videoDuration = MediaTime::make(2401, 600);
    caption->text = "Grüße \"quoted\"\n";
    caption->animation = RCTimedCaptionAnimation::animationWithType(CaptionAnimationType::Fade);
    caption->startTime = MediaTime::make(1, 3);
    caption->endTime = MediaTime::make(90001, 90000);
    caption->fontName = kCaptionFontItalicized;
    caption->color = Color{0.1, 0.2, 1.0 / 3.0, 0.75};
    caption->size = CaptionSize::XS;
    caption->setCenterPosition(Point{-0.1, 1e300});
    caption->setSelected(true);
    return caption;
}

std::string archiveRoot(const RCRecording& recording) {
    KeyedArchiver archiver;
    archiver.encodeObject(&recording, KeyedArchiver::kRootKey);
    return archiver.archivedData();
}

TEST(KeyedArchive, RecordingRoundTripKeepsCodedFieldsOnly) {
    test::FakeMovies movies;
    movies.add("/movies/a b#%.mp4", test::FakeMovies::video(1280, 720, 4, 30));
    auto recording = RCRecording::recordingWithURL("/movies/a b#%.mp4");
    recording->setIsClip(true);
    auto parameters = recording->editParameters();
    parameters->setTrimmedStartTime(MediaTime::make(-7, 90000));
    parameters->setTrimmedEndTime(MediaTime::positiveInfinity());
    parameters->setLoopType(kLoopTypePingPong);
    parameters->setResizeValue(-3);  // codes are stored as they are, with their sign
    parameters->setFrameRate(kFrameRateHD);
    parameters->setIsClip(true);
    parameters->captions().push_back(sampleCaption());

    auto data = archiveRoot(*recording);
    auto root = KeyedUnarchiver::forData(data);
    ASSERT_TRUE(root) << root.error().message;
    auto decoded = root->decodeObject<RCRecording>(KeyedArchiver::kRootKey);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->url(), "/movies/a b#%.mp4");
    EXPECT_NE(decoded->guid(), recording->guid());
    EXPECT_TRUE(decoded->isReady());
    EXPECT_FALSE(decoded->isClip());
    EXPECT_EQ(decoded->dimensions(), (Size{1280, 720}));  // read again from the movie

    auto back = decoded->editParameters();
    EXPECT_EQ(back->trimmedStartTime().value, -7);
    EXPECT_EQ(back->trimmedStartTime().timescale, 90000);
    EXPECT_TRUE(back->trimmedEndTime().isPositiveInfinity());
    EXPECT_EQ(back->resizeValue(), -3);
    EXPECT_EQ(back->frameRate(), kFrameRateHD);
    EXPECT_FALSE(back->isClip());

    ASSERT_EQ(back->captions().size(), 1u);
    const RCTimedCaption& caption = *back->captions()[0];
    const RCTimedCaption& original = *parameters->captions()[0];
    EXPECT_EQ(caption.text, original.text);
    EXPECT_EQ(caption.color, original.color);
    EXPECT_EQ(caption.videoDimensions, original.videoDimensions);
    EXPECT_EQ(caption.centerPosition(), original.centerPosition());
    EXPECT_EQ(caption.startTime.timescale, 3);
    EXPECT_FALSE(caption.selected());
    // Animation times come back in single precision, so the caption no longer equals the
    // original, whose Fade lasts exactly 0.1 s.
    EXPECT_EQ(caption.animation->duration, double(0.1f));
    EXPECT_NE(dynamic_cast<RCTimedCaptionFadeAnimation*>(caption.animation.get()), nullptr);
    EXPECT_FALSE(caption.isEqualToCaption(original));
}

TEST(KeyedArchive, RecordsQualifiedClassNames) {
    RCEditParameters parameters;
    parameters.captions().push_back(sampleCaption());
    KeyedArchiver archiver;
    archiver.encodeObject(&parameters, KeyedArchiver::kRootKey);
    std::string data = archiver.archivedData();
    EXPECT_NE(data.find(R"("$class":"RCEditParameters")"), std::string::npos) << data;
    EXPECT_NE(data.find(R"("$class":"PINDLE_CAPTURE.RCTimedCaption")"), std::string::npos);
    EXPECT_NE(data.find(R"("$class":"PINDLE_CAPTURE.RCTimedCaptionFadeAnimation")"),
              std::string::npos);
}

TEST(KeyedArchive, ValuesAreLossless) {
    KeyedArchiver archiver;
    archiver.beginObject(KeyedArchiver::kRootKey, "Values");
    const double doubles[] = {0.1, -0.0, 1e-310, std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::infinity()};
    for (size_t i = 0; i < std::size(doubles); ++i) {
        archiver.encodeDouble(doubles[i], "d" + std::to_string(i));
    }
    archiver.encodeDouble(std::nan(""), "nan");
    archiver.encodeInt64(INT64_MIN, "min");
    archiver.encodeMediaTime(
        MediaTime{INT64_MAX, 7, MediaTime::kValid | MediaTime::kHasBeenRounded}, "time");
    archiver.encodeMediaTime(MediaTime{}, "zeroTime");
    archiver.encodeString("tab\t \"q\" \\ \x01 \xe2\x82\xac", "text");
    archiver.encodeString("bad \xff\xc3 \xed\xa0\x80 end", "invalid");
    archiver.endObject();
    auto root = KeyedUnarchiver::forData(archiver.archivedData());
    ASSERT_TRUE(root);
    auto values = root->childObject(KeyedArchiver::kRootKey);
    ASSERT_TRUE(values);
    for (size_t i = 0; i < std::size(doubles); ++i) {
        double back = values->decodeDouble("d" + std::to_string(i));
        EXPECT_EQ(std::memcmp(&back, &doubles[i], sizeof back), 0) << doubles[i];
    }
    EXPECT_TRUE(std::isnan(values->decodeDouble("nan")));
    EXPECT_EQ(values->decodeInt64("min"), INT64_MIN);
    MediaTime time = values->decodeMediaTime("time");
    EXPECT_EQ(time.value, INT64_MAX);
    EXPECT_EQ(time.timescale, 7);
    EXPECT_TRUE(time.hasBeenRounded());
    EXPECT_EQ(values->decodeString("text"), "tab\t \"q\" \\ \x01 \xe2\x82\xac");
    // Bytes that are no UTF-8 (a stray byte, a cut sequence, a surrogate) are replaced.
    EXPECT_EQ(values->decodeString("invalid"),
              "bad \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd end");
    MediaTime zero = values->decodeMediaTime("zeroTime");
    EXPECT_EQ(zero.timescale, 0);
    EXPECT_EQ(zero.flags, 0u);
    // Absent keys read as zero values; a value of the wrong kind is an error.
    EXPECT_EQ(values->decodeInt32("absent"), 0);
    EXPECT_FALSE(values->decodeMediaTime("absent").isValid());
    EXPECT_THROW(values->decodeInt32("min"), ArchiveError);  // does not fit 32 bits
    EXPECT_THROW(values->decodeString("time"), ArchiveError);
}

TEST(KeyedArchive, RejectsInvalidCaptionsAndKeepsTheRest) {
    RCEditParameters parameters;
    for (int i = 0; i < 3; ++i) {
        parameters.captions().push_back(sampleCaption());
        parameters.captions().back()->text = "caption " + std::to_string(i);
    }
    KeyedArchiver archiver;
    archiver.encodeObject(&parameters, KeyedArchiver::kRootKey);
    const std::string good = archiver.archivedData();

    auto decodeWith = [&](const std::string& from, const std::string& to) {
        std::string data = good;
        size_t at = data.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        data.replace(at, from.size(), to);
        auto root = KeyedUnarchiver::forData(data);
        EXPECT_TRUE(root);
        auto decoded = root->decodeObject<RCEditParameters>(KeyedArchiver::kRootKey);
        EXPECT_EQ(root->rejectedRecords().size(), 1u) << to;
        return decoded;
    };
    // Each damage rejects the one caption it is in.
    for (auto [from, to] : {std::pair<std::string, std::string>{R"("size":4)", R"("size":5)"},
                            {R"("text":"caption 1")", R"("txt":"caption 1")"},
                            {R"("type":1)", R"("type":9)"},
                            {R"("fontName")", R"("fontNome")"},
                            {R"("$class":"NSColor")", R"("$class":"NSColour")"},
                            {R"("$class":"PINDLE_CAPTURE.RCTimedCaptionFadeAnimation")",
                             R"("$class":"RCTimedCaptionFadeAnimation")"}}) {
        auto decoded = decodeWith(from, to);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(decoded->captions().size(), 2u) << to;
    }
}

}  // namespace
}  // namespace pindle
