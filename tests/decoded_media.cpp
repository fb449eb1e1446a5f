#include "decoded_media.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pindle::test {

DecodedMovie decodeMedia(const std::filesystem::path& file, size_t maxFrames) {
    DecodedMovie movie;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) {
        movie.error = "cannot open " + file.string();
        return movie;
    }
    avformat_find_stream_info(format, nullptr);
    int videoIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    movie.hasAudio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
    if (format->duration != AV_NOPTS_VALUE) {
        movie.durationSeconds = double(format->duration) / AV_TIME_BASE;
    }
    if (videoIndex < 0) {
        movie.error = "no video stream";
        avformat_close_input(&format);
        return movie;
    }
    AVStream* stream = format->streams[videoIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, stream->codecpar);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    movie.codec = codec->name;
    movie.width = stream->codecpar->width;
    movie.height = stream->codecpar->height;
    double timeBase = av_q2d(stream->time_base);

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* scaler = nullptr;
    bool truncated = false;
    int64_t lastPacketPts = INT64_MIN;
    auto receive = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            DecodedFrame out;
            out.image = Image(frame->width, frame->height);
            scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                          AVPixelFormat(frame->format), frame->width, frame->height,
                                          AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr);
            // swscale writes whole SIMD blocks, so it gets a padded buffer of its own.
            uint8_t* dst[4] = {};
            int dstStride[4] = {};
            av_image_alloc(dst, dstStride, frame->width, frame->height, AV_PIX_FMT_RGBA, 64);
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
            for (int y = 0; y < frame->height; ++y) {
                std::memcpy(out.image.row(y), dst[0] + size_t(y) * dstStride[0],
                            size_t(out.image.stride));
            }
            av_freep(&dst[0]);
            int64_t pts = frame->best_effort_timestamp;
            out.seconds = pts == AV_NOPTS_VALUE ? NAN : double(pts) * timeBase;
            out.durationSeconds = double(frame->pkt_duration) * timeBase;
            if (movie.frames.size() < maxFrames) {
                movie.frames.push_back(std::move(out));
            } else {
                truncated = true;
            }
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == videoIndex) {
            if (packet->pts != AV_NOPTS_VALUE) {
                movie.reordered = movie.reordered || packet->pts < lastPacketPts;
                lastPacketPts = packet->pts;
            }
            avcodec_send_packet(context, packet);
            receive();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    receive();
    // Movies with reordered frames have no durations per frame: each frame is shown until
    // the next one, the last until the end of the track.
    for (size_t i = 0; i < movie.frames.size(); ++i) {
        DecodedFrame& shown = movie.frames[i];
        if (shown.durationSeconds > 0) {
            continue;
        }
        if (i + 1 < movie.frames.size()) {
            shown.durationSeconds = movie.frames[i + 1].seconds - shown.seconds;
        } else if (!truncated && stream->duration != AV_NOPTS_VALUE) {
            int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
            shown.durationSeconds = double(start + stream->duration) * timeBase - shown.seconds;
        }
    }
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return movie;
}

double meanAbsoluteDifference(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.isEmpty()) {
        return 255;
    }
    double sum = 0;
    for (int y = 0; y < a.height; ++y) {
        const uint8_t* pa = a.row(y);
        const uint8_t* pb = b.row(y);
        for (int x = 0; x < a.width * 4; ++x) {
            if (x % 4 != 3) {
                sum += std::abs(int(pa[x]) - int(pb[x]));
            }
        }
    }
    return sum / (double(a.width) * a.height * 3);
}

bool makeTestMovie(const std::filesystem::path& file, int width, int height, int fps,
                   double seconds, bool withAudio, int keyFrameInterval) {
    char command[1024];
    std::snprintf(command, sizeof command,
                  "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=%dx%d:rate=%d:"
                  "duration=%g %s -c:v libx264 -preset ultrafast -crf 12 -g %d -pix_fmt yuv420p %s "
                  "-shortest '%s'",
                  width, height, fps, seconds,
                  withAudio ? "-f lavfi -i sine=frequency=440:duration=30" : "",
                  std::max(keyFrameInterval, 1), withAudio ? "-c:a aac" : "", file.c_str());
    return std::system(command) == 0;
}

}  // namespace pindle::test
