#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/media_time.h"

// Media samples handed between the capture session, the encoder, the frame ring and the
// movie writer. Everything here is immutable once made and travels between threads as
// std::shared_ptr<const T>, so a sample is never copied on its way to a movie file.
namespace pindle {

constexpr uint32_t fourCC(char a, char b, char c, char d) {
    return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) |
           (uint32_t(uint8_t(c)) << 8) | uint32_t(uint8_t(d));
}

// Media types and subtypes as four-character codes.
constexpr uint32_t kMediaTypeVideo = fourCC('v', 'i', 'd', 'e');
constexpr uint32_t kMediaTypeAudio = fourCC('s', 'o', 'u', 'n');
constexpr uint32_t kCodecH264 = fourCC('a', 'v', 'c', '1');
constexpr uint32_t kAudioFormatLinearPCM = fourCC('l', 'p', 'c', 'm');
constexpr uint32_t kAudioFormatAAC = fourCC('a', 'a', 'c', ' ');
// Bi-planar 4:2:0 Y'CbCr, video range: a full-size luma plane, then a half-size plane of
// interleaved Cb, Cr (NV12).
constexpr uint32_t kPixelFormat420v = fourCC('4', '2', '0', 'v');

// What a stream of samples holds. For H.264 video, parameterSets are the sequence and
// picture parameter sets, each a NAL unit without start code; extradata is the same as the
// encoder produced it (Annex B), for muxers.
struct FormatDescription {
    uint32_t mediaType = 0;
    uint32_t mediaSubType = 0;
    int width = 0;
    int height = 0;
    std::vector<std::vector<uint8_t>> parameterSets;
    std::vector<uint8_t> extradata;
    // Audio only.
    int sampleRate = 0;
    int channelCount = 0;
};
using FormatDescriptionPtr = std::shared_ptr<const FormatDescription>;

// One uncompressed picture. For 420v, planes[0] is luma (height rows), planes[1] the
// interleaved chroma (height / 2 rows); width and height are even.
struct PixelBuffer {
    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    int strides[2] = {0, 0};
    uint8_t* planes[2] = {nullptr, nullptr};
    std::vector<uint8_t> storage;  // owns what planes point into

    // A 420v buffer with tightly packed planes, uninitialised samples.
    static std::shared_ptr<PixelBuffer> make420v(int width, int height);
    // Makes this a 420v buffer of that size with tightly packed planes.
    void reset420v(int width, int height);
};
using PixelBufferPtr = std::shared_ptr<const PixelBuffer>;

// One sample: an encoded packet, or a captured picture, with its times and its format.
struct SampleBuffer {
    FormatDescriptionPtr formatDescription;
    MediaTime presentationTimeStamp = MediaTime::invalid();
    MediaTime duration = MediaTime::invalid();
    bool dataIsReady = true;
    bool isKeyFrame = false;
    std::vector<uint8_t> data;   // encoded samples: the packet (H.264 in Annex B form)
    PixelBufferPtr imageBuffer;  // captured pictures

    uint32_t mediaType() const { return formatDescription ? formatDescription->mediaType : 0; }
    uint32_t mediaSubType() const {
        return formatDescription ? formatDescription->mediaSubType : 0;
    }
};
using SampleBufferPtr = std::shared_ptr<const SampleBuffer>;

// "avc1" style text of a four-character code, for logs.
std::string fourCCString(uint32_t code);

}  // namespace pindle
