// The capture encoder's x264 choices side by side: for each preset and tune, at the bit
// rate the capture asks for, the CPU time per frame and the fidelity of the decoded movie
// (PSNR and SSIM against the uncompressed frames), on screen-like and photographic content.
//
//   pindle_encoder_settings_bench [--frames N] [--sizes 1280x720,1920x1080]
//
// The frames come from ffmpeg's test sources (a UI with scrolling text, a zooming fractal
// with hue shift and grain) and from random 8 x 8 tiles repainted every frame (the capture
// benchmark's worst case). Each choice encodes every frame through the same session the
// capture uses; ffmpeg decodes the stream and compares it with the source frames.

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "base/log.h"
#include "cpu_time.h"
#include "platform/ffmpeg/ffmpeg_compression.h"
#include "test_support.h"

namespace pindle {
namespace {

struct Content {
    std::string name;
    std::vector<PixelBufferPtr> frames;
    std::filesystem::path raw;  // the same frames, NV12, one after the other
};

int captureBitRate(int width, int height) {
    const float area = float(width * height);
    return int(std::min(double(area * 11.4f) * 60.0, 120'000'000.0));
}

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<PixelBufferPtr> readRaw(const std::filesystem::path& raw, int width, int height,
                                    int count) {
    std::vector<PixelBufferPtr> frames;
    std::ifstream in(raw, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        auto frame = PixelBuffer::make420v(width, height);
        if (!in.read(reinterpret_cast<char*>(frame->storage.data()),
                     std::streamsize(frame->storage.size()))) {
            break;
        }
        frames.push_back(frame);
    }
    return frames;
}

Content fromFFmpeg(const std::string& name, const std::string& source, int width, int height,
                   int count, const std::filesystem::path& dir) {
    Content content{name, {}, dir / (name + ".nv12")};
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i \"" + source +
                                "\" -frames:v " + std::to_string(count) + " -s " + size +
                                " -pix_fmt nv12 -f rawvideo " + content.raw.string();
    if (run(command) != 0) {
        std::fprintf(stderr, "making the %s frames failed\n", name.c_str());
        return content;
    }
    content.frames = readRaw(content.raw, width, height, count);
    return content;
}

// Random 8 x 8 tiles, new in every frame, in video range.
Content tiles(int width, int height, int count, const std::filesystem::path& dir) {
    Content content{"tiles", {}, dir / "tiles.nv12"};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(16, 235);
    std::ofstream out(content.raw, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        auto frame = PixelBuffer::make420v(width, height);
        for (int ty = 0; ty < height; ty += 8) {
            for (int tx = 0; tx < width; tx += 8) {
                const auto y = uint8_t(sample(random));
                const auto cb = uint8_t(sample(random));
                const auto cr = uint8_t(sample(random));
                for (int row = ty; row < std::min(height, ty + 8); ++row) {
                    for (int col = tx; col < std::min(width, tx + 8); ++col) {
                        frame->planes[0][row * frame->strides[0] + col] = y;
                    }
                }
                for (int row = ty / 2; row < std::min(height / 2, ty / 2 + 4); ++row) {
                    for (int col = tx; col < std::min(width, tx + 8); col += 2) {
                        frame->planes[1][row * frame->strides[1] + col] = cb;
                        frame->planes[1][row * frame->strides[1] + col + 1] = cr;
                    }
                }
            }
        }
        out.write(reinterpret_cast<const char*>(frame->storage.data()),
                  std::streamsize(frame->storage.size()));
        content.frames.push_back(frame);
    }
    return content;
}

struct Measurement {
    double cpuMsPerFrame = 0;
    double bytesPerFrame = 0;
    double psnrY = 0;
    double psnrWorstFrame = 0;
    double ssim = 0;
    double ssimWorstFrame = 0;
};

// Mean and worst frame of one statistic ("key:value" fields) in an ffmpeg stats file.
std::pair<double, double> statistic(const std::filesystem::path& file, const std::string& key) {
    std::ifstream in(file);
    double sum = 0, worst = 1e9;
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find(key + ":");
        if (at == std::string::npos) {
            continue;
        }
        const double value = std::atof(line.c_str() + at + key.size() + 1);
        sum += value;
        worst = std::min(worst, value);
        ++count;
    }
    return {count ? sum / count : 0, count ? worst : 0};
}

Measurement measure(const Content& content, const ffmpeg::X264Settings& settings, int width,
                    int height, const std::filesystem::path& dir) {
    Measurement result;
    std::mutex mutex;
    std::vector<SampleBufferPtr> samples;
    auto session = ffmpeg::makeCompressionSessionWithSettings(
        width, height, kCodecH264,
        [&](const Status&, SampleBufferPtr sample) {
            std::lock_guard lock(mutex);
            if (sample) {
                samples.push_back(std::move(sample));
            }
        },
        settings);
    if (!session) {
        return result;
    }
    auto& s = **session;
    (void)s.setMaxKeyFrameInterval(1);
    (void)s.setAverageBitRate(captureBitRate(width, height));
    if (!s.prepareToEncodeFrames()) {
        return result;
    }
    const double before = processCpuSeconds();
    for (size_t i = 0; i < content.frames.size(); ++i) {
        (void)s.encodeFrame(content.frames[i], MediaTime::make(int64_t(i), 60),
                            MediaTime::make(1, 60), true);
    }
    s.completeFrames();
    const double cpu = processCpuSeconds() - before;
    const auto stream = dir / "out.h264";
    {
        std::ofstream out(stream, std::ios::binary);
        const auto& extradata = samples.front()->formatDescription->extradata;
        out.write(reinterpret_cast<const char*>(extradata.data()),
                  std::streamsize(extradata.size()));
        size_t bytes = 0;
        for (const auto& sample : samples) {
            out.write(reinterpret_cast<const char*>(sample->data.data()),
                      std::streamsize(sample->data.size()));
            bytes += sample->data.size();
        }
        result.bytesPerFrame = double(bytes) / double(samples.size());
    }
    result.cpuMsPerFrame = cpu * 1000 / double(content.frames.size());
    const auto psnr = dir / "psnr.txt";
    const auto ssim = dir / "ssim.txt";
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    run("ffmpeg -nostdin -v error -y -i " + stream.string() + " -f rawvideo -pix_fmt nv12 -s " +
        size + " -i " + content.raw.string() +
        " -lavfi \"[0:v]settb=1/60,setpts=N,split[a0][a1];"
        "[1:v]settb=1/60,setpts=N,split[b0][b1];[a0][b0]psnr=stats_file=" +
        psnr.string() + ";[a1][b1]ssim=stats_file=" + ssim.string() + "\" -f null -");
    std::tie(result.psnrY, result.psnrWorstFrame) = statistic(psnr, "psnr_y");
    std::tie(result.ssim, result.ssimWorstFrame) = statistic(ssim, "All");
    return result;
}

}  // namespace
}  // namespace pindle

int main(int argc, char** argv) {
    using namespace pindle;
    int count = 120;
    std::vector<std::pair<int, int>> sizes = {{1280, 720}, {1920, 1080}};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--frames") {
            count = std::atoi(argv[i + 1]);
        } else if (arg == "--sizes") {
            sizes.clear();
            std::string list = argv[i + 1];
            for (size_t at = 0; at < list.size();) {
                int w = 0, h = 0;
                std::sscanf(list.c_str() + at, "%dx%d", &w, &h);
                sizes.emplace_back(w, h);
                const auto comma = list.find(',', at);
                at = comma == std::string::npos ? list.size() : comma + 1;
            }
        }
    }
    log::setLevel(log::Level::Error);
    // Without zerolatency x264 holds frames back until it is flushed, which a capture that
    // writes its ring at any moment cannot have; one such row shows what it would buy.
    const std::vector<ffmpeg::X264Settings> choices = {{"ultrafast", ""},
                                                       {"ultrafast", "zerolatency"},
                                                       {"ultrafast", "stillimage,zerolatency"},
                                                       {"superfast", "zerolatency"},
                                                       {"veryfast", "zerolatency"}};
    test::TempDir dir;
    std::printf(
        "every frame a key frame, %d frames per content; CPU is process time per frame\n"
        "(all threads), fidelity of the decoded stream against the source frames\n",
        count);
    for (const auto& [width, height] : sizes) {
        const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
        const std::string screen =
            "color=c=0xECEFF4:s=" + std::to_string(width) + "x" + std::to_string(height) +
            ":r=60,drawbox=x=0:y=0:w=iw:h=40:color=0x2E3440:t=fill,"
            "drawbox=x=0:y=40:w=260:h=ih:color=0xD8DEE9:t=fill,"
            "drawtext=fontfile=" +
            font +
            ":text='build_the_export_pipeline(frame) // a line of code':x=300:y=h-t*240:"
            "fontsize=18:fontcolor=0x3B4252,"
            "drawtext=fontfile=" +
            font +
            ":text='%{n} %{pts} scrolling text and numbers':x=300:y=100+mod(n*4\\,400):"
            "fontsize=22:fontcolor=0x2E3440,"
            "drawgrid=w=120:h=48:t=1:c=0xB0B8C8";
        const std::string photo = "mandelbrot=s=" + std::to_string(width) + "x" +
                                  std::to_string(height) +
                                  ":r=60:start_scale=0.8:end_scale=0.3:end_pts=200,"
                                  "hue=h=t*40,noise=alls=8:allf=t";
        std::vector<Content> contents;
        contents.push_back(fromFFmpeg("screen", screen, width, height, count, dir.path()));
        contents.push_back(fromFFmpeg("photo", photo, width, height, count, dir.path()));
        contents.push_back(tiles(width, height, count, dir.path()));
        std::printf("\n%dx%d at %d bit/s (%.2f bits per pixel per frame)\n", width, height,
                    captureBitRate(width, height),
                    captureBitRate(width, height) / 60.0 / (width * height));
        std::printf("%-8s %-22s %9s %10s %8s %8s %8s %8s\n", "content", "preset/tune", "CPU ms",
                    "KB/frame", "PSNR-Y", "worst", "SSIM", "worst");
        for (const auto& content : contents) {
            if (content.frames.empty()) {
                continue;
            }
            for (const auto& choice : choices) {
                const auto m = measure(content, choice, width, height, dir.path());
                const std::string name =
                    choice.preset + "/" + (choice.tune.empty() ? "none" : choice.tune);
                std::printf("%-8s %-22s %9.2f %10.1f %8.2f %8.2f %8.5f %8.5f\n",
                            content.name.c_str(), name.c_str(), m.cpuMsPerFrame,
                            m.bytesPerFrame / 1000, m.psnrY, m.psnrWorstFrame, m.ssim,
                            m.ssimWorstFrame);
                std::fflush(stdout);
            }
            std::filesystem::remove(content.raw);
        }
    }
    return 0;
}
