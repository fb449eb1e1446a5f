#include "movie_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace pindle::test {
namespace {

// Whether a length-prefixed (MP4) H.264 sample holds an IDR slice (NAL type 5).
bool holdsIdr(const uint8_t* data, int size) {
    int at = 0;
    while (at + 4 < size) {
        const int length =
            (data[at] << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) | data[at + 3];
        at += 4;
        if (length <= 0 || at + length > size) {
            return false;
        }
        if ((data[at] & 0x1f) == 5) {
            return true;
        }
        at += length;
    }
    return false;
}

}  // namespace

MovieProbe probeMovie(const std::filesystem::path& file) {
    MovieProbe probe;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) {
        return probe;
    }
    if (avformat_find_stream_info(format, nullptr) < 0) {
        avformat_close_input(&format);
        return probe;
    }
    probe.opened = true;
    int video = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            ++probe.videoStreams;
            video = int(i);
        } else {
            ++probe.otherStreams;
        }
    }
    if (video < 0) {
        avformat_close_input(&format);
        return probe;
    }
    AVStream* stream = format->streams[video];
    probe.codec = avcodec_get_name(stream->codecpar->codec_id);
    probe.width = stream->codecpar->width;
    probe.height = stream->codecpar->height;
    if (stream->duration != AV_NOPTS_VALUE) {
        probe.durationSeconds = double(stream->duration) * av_q2d(stream->time_base);
    }
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(context, stream->codecpar);
    avcodec_open2(context, decoder, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto takeFrames = [&] {
        while (avcodec_receive_frame(context, frame) >= 0) {
            ++probe.decodedFrames;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video) {
            probe.ptsSeconds.push_back(double(packet->pts) * av_q2d(stream->time_base));
            probe.keyFrames.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
            probe.idrFrames.push_back(holdsIdr(packet->data, packet->size));
            if (avcodec_send_packet(context, packet) >= 0) {
                takeFrames();
            }
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    takeFrames();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return probe;
}

}  // namespace pindle::test
