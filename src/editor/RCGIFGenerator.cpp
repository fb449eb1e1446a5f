#include "editor/RCGIFGenerator.h"

#include <cmath>

#include "base/dispatch.h"
#include "base/log.h"
#include "captions/LayerCompositor.h"
#include "editor/FrameAtTime.h"
#include "editor/GIFTiming.h"
#include "editor/MovieSpeed.h"
#include "editor/RCMovieOperations.h"
#include "library/RCFileManager.h"
#include "platform/image_output.h"

namespace pindle {
namespace {

constexpr const char* kTag = "export";

// The options as the video stage reads them, defaults filled in.
struct VideoSettings {
    float width = 0;
    float height = 0;
    MediaTime start;
    MediaTime end;
    int64_t loopType = 0;
    bool exportAudio = false;
};

VideoSettings readVideoOptions(const RCExportOptions& options, const RCRecording& recording) {
    VideoSettings settings;
    Size dimensions = options.crop ? options.crop->size() : recording.dimensions();
    settings.width = options.width.value_or(float(dimensions.width));
    settings.height = options.height.value_or(float(dimensions.height));
    settings.start = options.startTime.value_or(MediaTime::zero());
    settings.end = options.endTime.value_or(recording.duration());
    settings.loopType = options.loopType.value_or(0);
    settings.exportAudio = options.exportAudio.value_or(false);
    return settings;
}

bool sameSizeInPixels(Size natural, float width, float height) {
    return std::lround(natural.width) == std::lround(width) &&
           std::lround(natural.height) == std::lround(height);
}

// Deletes a temporary file when the stage that made it ends, whichever way it ends.
class TempFile {
public:
    TempFile(RCFileManager& files, const std::string& extension)
        : files_(files), path_(files.makeTempFileWithExtension(extension)) {}
    ~TempFile() { files_.deleteFile(path_); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    RCFileManager& files_;
    std::filesystem::path path_;
};

// The composition's video as pieces of its one source movie, or nothing when it has
// several.
std::optional<std::vector<media::SegmentCopy>> segmentsOfOneMovie(
    const RCComposition& composition) {
    std::vector<media::SegmentCopy> segments;
    for (const auto& segment : composition.video) {
        if (segment.movie->path() != composition.video.front().movie->path()) {
            return std::nullopt;
        }
        segments.push_back({segment.start, segment.duration, segment.at, segment.reversed});
    }
    return segments;
}

Status logged(const Error& error) {
    PINDLE_LOG_ERROR(kTag, "%s", error.message.c_str());
    return error;
}

// Refuses an output that is the movie it is made from (the same file, also through a link),
// which the finished output would replace, and an output that is a folder.
Status checkOutput(const std::filesystem::path& output, const std::filesystem::path& source) {
    std::error_code error;
    if (std::filesystem::equivalent(output, source, error)) {
        return logged(Error{"cannot write " + output.string() + " over " + source.string() +
                            ", the movie it is made from"});
    }
    if (std::filesystem::is_directory(output, error)) {
        return logged(Error{output.string() + " is a folder; the output needs a file name"});
    }
    return Ok{};
}

}  // namespace

MediaTime RCComposition::duration() const {
    MediaTime end = MediaTime::zero();
    for (const Segment& segment : video) {
        end = MediaTime::maximum(end, segment.at + segment.duration);
    }
    return end;
}

std::shared_ptr<RCGIFGenerator> RCGIFGenerator::initWithRecording(RCRecordingPtr recording) {
    return std::make_shared<RCGIFGenerator>(std::move(recording),
                                            RCFileManager::getCurrentInstance());
}

RCGIFGenerator::RCGIFGenerator(RCRecordingPtr recording, RCFileManager& files)
    : recording_(std::move(recording)), files_(files) {}

bool RCGIFGenerator::isPassthrough(const RCExportOptions& options) {
    auto draws = [](const RCExportLayerPtr& layer) { return layer && layer->sublayerCount() > 0; };
    return !draws(options.captionsLayer) && !draws(options.watermarkLayer);
}

void drawExportLayers(Image& frame, MediaTime time, const RCExportOptions& options) {
    double seconds = time.seconds();
    for (const RCExportLayerPtr& layer : {options.captionsLayer, options.watermarkLayer}) {
        if (layer && layer->sublayerCount() > 0) {
            drawLayerTree(frame, *layer, seconds);
        }
    }
}

void RCGIFGenerator::runInBackground(std::function<Status(const Progress&)> work, Progress progress,
                                     Completion completion) {
    auto self = shared_from_this();
    dispatch::globalQueue(dispatch::Priority::High)
        ->async([self, work = std::move(work), progress = std::move(progress),
                 completion = std::move(completion)] {
            Progress onMain;
            if (progress) {
                onMain = [progress](float value) {
                    dispatch::mainQueue()->async([progress, value] { progress(value); });
                };
            }
            Status result = work(onMain);
            if (completion) {
                dispatch::mainQueue()->async([completion, result] { completion(result); });
            }
        });
}

void RCGIFGenerator::makeJPEG(const Path& output, MediaTime time, Size size, Completion completion,
                              std::optional<CropRect> crop) {
    runInBackground([this, output, time, size,
                     crop](const Progress&) { return makeJPEGNow(output, time, size, crop); },
                    nullptr, std::move(completion));
}

void RCGIFGenerator::makeVideo(const Path& output, RCExportOptions options, Progress progress,
                               Completion completion) {
    runInBackground(
        [this, output, options = std::move(options)](const Progress& onMain) {
            return makeVideoNow(output, options, onMain, media::EncodingQuality::Delivery);
        },
        std::move(progress), std::move(completion));
}

void RCGIFGenerator::makeGIF(const Path& output, RCExportOptions options, Progress progress,
                             Completion completion) {
    runInBackground([this, output, options = std::move(options)](
                        const Progress& onMain) { return makeGIFNow(output, options, onMain); },
                    std::move(progress), std::move(completion));
}

void RCGIFGenerator::exportVideoComposition(std::shared_ptr<const RCComposition> composition,
                                            RCExportOptions options, const Path& output,
                                            Progress progress, Completion completion) {
    runInBackground(
        [this, composition, output, options = std::move(options)](const Progress& onMain) {
            return exportVideoCompositionNow(*composition, options, output, onMain,
                                             media::EncodingQuality::Delivery);
        },
        std::move(progress), std::move(completion));
}

void RCGIFGenerator::convertVideo(const Path& movie, const Path& gif, RCExportOptions options,
                                  Progress progress, Completion completion) {
    runInBackground(
        [this, movie, gif, options = std::move(options)](const Progress& onMain) {
            return convertVideoNow(movie, gif, options, onMain);
        },
        std::move(progress), std::move(completion));
}

Status RCGIFGenerator::makeJPEGNow(const Path& output, MediaTime time, Size size,
                                   std::optional<CropRect> crop) {
    media::MoviePtr movie = recording_->asset();
    auto images = imageOutput();
    if (!movie || !images) {
        return logged(Error{"the recording's movie cannot be read"});
    }
    if (Status checked = checkOutput(output, movie->path()); !checked) {
        return checked;
    }
    auto image = movie->copyImageAtTime(time, size, crop);
    if (!image) {
        return logged(image.error());
    }
    Status written = images->writeJPEG(*image, output);
    if (!written) {
        return logged(written.error());
    }
    return Ok{};
}

Status RCGIFGenerator::makeVideoNow(const Path& output, const RCExportOptions& options,
                                    const Progress& progress, media::EncodingQuality quality) {
    if (options.speed.value_or(1.0) != 1.0) {
        return makeVideoAtSpeedNow(output, options, progress, quality);
    }
    media::MoviePtr movie = recording_->asset();
    if (!movie || !movie->info().hasVideo()) {
        return logged(Error{"the recording's movie cannot be read"});
    }
    if (Status checked = checkOutput(output, movie->path()); !checked) {
        return checked;
    }
    VideoSettings settings = readVideoOptions(options, *recording_);
    MediaTime duration = settings.end - settings.start;
    if (!duration.isNumeric() || duration <= MediaTime::zero()) {
        return logged(Error{"the clip from " + settings.start.description() + " to " +
                            settings.end.description() + " is empty"});
    }

    auto composition = std::make_shared<RCComposition>();
    composition->naturalSize = movie->info().naturalSize;
    composition->nominalFrameRate = movie->info().nominalFrameRate;
    if (settings.loopType == 0) {
        composition->video.push_back({movie, settings.start, duration, MediaTime::zero()});
        if (settings.exportAudio && recording_->hasAudio()) {
            composition->audio = media::AudioRange{movie->path(), settings.start, duration};
        }
    } else {
        // The clip played backwards: the same range counted from the end of the movie, on
        // the reversed movie's timeline. Nothing is reversed yet; the export copies or
        // reads just that range backwards.
        RCComposition::Segment backward{movie, movie->info().duration - settings.end, duration,
                                        MediaTime::zero(), true};
        if (settings.loopType != 1) {
            composition->video.push_back({movie, settings.start, duration, MediaTime::zero()});
            backward.at = duration;
        }
        composition->video.push_back(backward);
    }

    Size picture = options.crop ? options.crop->size() : composition->naturalSize;
    bool sizeMatches = sameSizeInPixels(picture, settings.width, settings.height);
    auto segments = segmentsOfOneMovie(*composition);
    auto movies = media::movieOutput();
    if (!sizeMatches && !options.crop && isPassthrough(options) && segments && movies) {
        // Nothing is drawn: the clip's pictures go from the recording straight to the
        // output size, without a composed movie in between.
        media::MovieWriterSettings resized;
        resized.width = int(std::lround(settings.width));
        resized.height = int(std::lround(settings.height));
        resized.quality = quality;
        resized.nominalFrameRate = composition->nominalFrameRate;
        resized.audio = composition->audio;
        Status encoded =
            movies->encodeSegments(movie->path(), *segments, resized, output, progress);
        if (encoded) {
            if (progress) {
                progress(1);
            }
            return Ok{};
        }
        PINDLE_LOG_INFO(kTag, "resizing a composed movie instead: %s",
                        encoded.error().message.c_str());
    }
    // Every writer puts its file in the output's place only when it is complete, so the
    // composed movie of the size asked for is the output itself.
    if (sizeMatches) {
        return exportVideoCompositionNow(*composition, options, output, progress, quality);
    }
    TempFile composed(files_, "mp4");
    Status exported = exportVideoCompositionNow(*composition, options, composed.path(), progress,
                                                media::EncodingQuality::Intermediate);
    if (!exported) {
        return exported;
    }
    auto composedMovie = media::openMovie(composed.path());
    if (!composedMovie) {
        return logged(composedMovie.error());
    }
    auto resized = movie_operations::resizedAssetWithOutputURL(
        **composedMovie, output, Size{settings.width, settings.height}, quality);
    if (!resized) {
        return logged(Error{"cannot resize the clip: " + resized.error().message});
    }
    return Ok{};
}

Status RCGIFGenerator::exportVideoCompositionNow(const RCComposition& composition,
                                                 const RCExportOptions& options, const Path& output,
                                                 const Progress& progress,
                                                 media::EncodingQuality quality) {
    if (composition.video.empty()) {
        return logged(Error{"nothing to export"});
    }
    for (const auto& segment : composition.video) {
        if (Status checked = checkOutput(output, segment.movie->path()); !checked) {
            return checked;
        }
    }
    if (options.captionsLayer) {
        options.captionsLayer->display();
    }
    auto movies = media::movieOutput();
    if (!movies) {
        return logged(Error{"no movie writer installed"});
    }
    bool passthrough = isPassthrough(options);
    auto segments = segmentsOfOneMovie(composition);
    if (passthrough && segments && !options.crop) {
        Status copied = movies->copySegments(composition.video.front().movie->path(), *segments,
                                             composition.audio.has_value(), output);
        if (copied) {
            if (progress) {
                progress(1);
            }
            return Ok{};
        }
        PINDLE_LOG_INFO(kTag, "re-encoding instead of copying: %s", copied.error().message.c_str());
    }

    // A cropped composition is drawn at the crop's size from the part of each frame it keeps.
    Size picture = options.crop ? options.crop->size() : composition.naturalSize;
    media::MovieWriterSettings settings;
    settings.width = int(std::lround(picture.width));
    settings.height = int(std::lround(picture.height));
    settings.quality = quality;
    settings.audio = composition.audio;
    // Drawn frames come at a steady rate: the "fps" option truncated to whole frames per
    // second. Copied pictures keep the times of their source.
    float fps = options.fps.value_or(composition.nominalFrameRate);
    std::optional<int32_t> drawnRate;
    if (!passthrough && fps >= 1) {
        drawnRate = int32_t(std::floor(fps));
    }
    settings.nominalFrameRate = drawnRate ? float(*drawnRate) : composition.nominalFrameRate;
    auto writer = movies->makeWriter(output, settings);
    if (!writer) {
        return logged(writer.error());
    }
    MediaTime total = composition.duration();
    MediaTime lastTime = MediaTime::invalid();
    for (const auto& original : composition.video) {
        RCComposition::Segment segment = original;
        // A reversed segment is read from a reversed copy of just its range.
        std::optional<TempFile> reversedFile;
        if (segment.reversed) {
            reversedFile.emplace(files_, "mp4");
            auto reversed = movie_operations::reversedPartWithOutputURL(
                *segment.movie, reversedFile->path(),
                {segment.start, segment.start + segment.duration},
                media::EncodingQuality::Intermediate);
            if (!reversed) {
                return logged(Error{"cannot reverse the clip: " + reversed.error().message});
            }
            segment.movie = *reversed;
            segment.start = MediaTime::zero();
        }
        media::FrameReaderOptions readerOptions;
        readerOptions.start = segment.start;
        readerOptions.end = segment.start + segment.duration;
        readerOptions.crop = options.crop;
        auto reader = segment.movie->makeFrameReader(readerOptions);
        if (!reader) {
            return logged(reader.error());
        }
        auto emit = [&](const media::Frame& frame, MediaTime time) -> Status {
            if (lastTime.isValid() && time <= lastTime) {
                return Ok{};
            }
            lastTime = time;
            Status added = Ok{};
            if (passthrough) {
                added = (*writer)->appendFrame(*frame.image, time);
            } else {
                Image drawn = *frame.image;
                drawExportLayers(drawn, time, options);
                added = (*writer)->appendFrame(drawn, time);
            }
            if (progress && total > MediaTime::zero()) {
                progress(float(std::min(1.0, time.seconds() / total.seconds())));
            }
            return added;
        };
        if (drawnRate) {
            FrameAtTime frames(std::move(*reader));
            int64_t first = int64_t(std::ceil(segment.at.seconds() * *drawnRate - 1e-9));
            for (int64_t k = first;; ++k) {
                MediaTime time = MediaTime::make(k, *drawnRate);
                if (time >= segment.at + segment.duration) {
                    break;
                }
                auto frame = frames.at(segment.start + (time - segment.at));
                if (!frame) {
                    return logged(frame.error());
                }
                if (Status added = emit(**frame, time); !added) {
                    return logged(added.error());
                }
            }
        } else {
            while (true) {
                auto next = (*reader)->nextFrame();
                if (!next) {
                    return logged(next.error());
                }
                if (!next->has_value()) {
                    break;
                }
                const media::Frame& frame = **next;
                if (!frame.image) {
                    continue;
                }
                MediaTime offset =
                    MediaTime::maximum(frame.presentationTime - segment.start, MediaTime::zero());
                if (Status added = emit(frame, segment.at + offset); !added) {
                    return logged(added.error());
                }
            }
        }
    }
    Status finished = (*writer)->finish(total);
    if (!finished) {
        return logged(finished.error());
    }
    return Ok{};
}

Status RCGIFGenerator::makeVideoAtSpeedNow(const Path& output, const RCExportOptions& options,
                                           const Progress& progress,
                                           media::EncodingQuality quality) {
    if (Status checked = movie_speed::checkSpeed(*options.speed); !checked) {
        return logged(checked.error());
    }
    if (Status checked = checkOutput(output, recording_->url()); !checked) {
        return checked;
    }
    // The clip is made at its recorded speed, captions and watermark drawn, then played
    // at the speed asked for: every layer stays on the pictures it covers. The sound is
    // left out, as it cannot follow the pictures.
    RCExportOptions recorded = options;
    recorded.speed.reset();
    recorded.exportAudio.reset();
    Progress firstHalf, secondHalf;
    if (progress) {
        firstHalf = [progress](float p) { progress(p * 0.5f); };
        secondHalf = [progress](float p) { progress(0.5f + p * 0.5f); };
    }
    TempFile movie(files_, "mp4");
    Status made =
        makeVideoNow(movie.path(), recorded, firstHalf, media::EncodingQuality::Intermediate);
    if (!made) {
        return made;
    }
    auto opened = media::openMovie(movie.path());
    if (!opened) {
        return logged(opened.error());
    }
    Status written =
        movie_speed::writeAtSpeed(**opened, output, *options.speed, quality, secondHalf);
    if (!written) {
        return logged(written.error());
    }
    return Ok{};
}

Status RCGIFGenerator::makeGIFNow(const Path& output, const RCExportOptions& options,
                                  const Progress& progress) {
    // Checked before the movie stage, which takes the longer half of the time.
    if (Status checked = checkOutput(output, recording_->url()); !checked) {
        return checked;
    }
    // The composed movie keeps the recording's size and the GIF stage scales the frames it
    // reads: a resized copy would cost one more encoding and decoding of every frame. The
    // caption and watermark layers are drawn by the GIF stage too, onto each GIF frame at
    // its time, which is the same time on the composed movie's timeline: the movie then
    // stays a copy of the recording's pictures where the source allows.
    RCExportOptions videoOptions;
    videoOptions.startTime = options.startTime;
    videoOptions.endTime = options.endTime;
    videoOptions.loopType = options.loopType;
    TempFile movie(files_, "mp4");
    Progress firstHalf, secondHalf;
    if (progress) {
        firstHalf = [progress](float p) { progress(p * 0.5f); };
        secondHalf = [progress](float p) { progress(0.5f + p * 0.5f); };
    }
    Status made =
        makeVideoNow(movie.path(), videoOptions, firstHalf, media::EncodingQuality::Intermediate);
    if (!made) {
        return made;
    }
    RCExportOptions gifOptions;
    gifOptions.fps = options.fps;
    gifOptions.speed = options.speed;
    gifOptions.width = options.width;
    gifOptions.height = options.height;
    gifOptions.captionsLayer = options.captionsLayer;
    gifOptions.watermarkLayer = options.watermarkLayer;
    // The composed movie keeps the whole picture; the GIF stage crops it as it scales.
    gifOptions.crop = options.crop;
    return convertVideoNow(movie.path(), output, gifOptions, secondHalf);
}

Status RCGIFGenerator::convertVideoNow(const Path& moviePath, const Path& gifPath,
                                       const RCExportOptions& options, const Progress& progress) {
    if (Status checked = checkOutput(gifPath, moviePath); !checked) {
        return checked;
    }
    auto movie = media::openMovie(moviePath);
    if (!movie) {
        return logged(movie.error());
    }
    const media::MovieInfo& info = (*movie)->info();
    if (!info.hasVideo()) {
        return logged(Error{moviePath.string() + " has no video"});
    }
    float fps = gif_timing::samplingRate(options.fps.value_or(0), info.nominalFrameRate);
    // Frames are shown at fps and taken from the movie at sourceRate: faster playback takes
    // pictures further apart and shows them for as long.
    double speed = options.speed.value_or(1.0);
    if (!(speed > 0) || !std::isfinite(speed)) {
        return logged(Error{"cannot play the clip at speed " + std::to_string(speed)});
    }
    float sourceRate = float(double(fps) / speed);
    int64_t count = gif_timing::frameCount(info.duration.seconds(), sourceRate);
    if (count <= 0) {
        return logged(Error{"the clip is shorter than one GIF frame"});
    }
    media::FrameReaderOptions readerOptions;
    readerOptions.sampleRate = sourceRate;
    readerOptions.crop = options.crop;
    Size shown = options.crop ? options.crop->size() : info.naturalSize;
    std::optional<Size> asked;
    if (options.width && options.height) {
        int width = int(std::lround(*options.width));
        int height = int(std::lround(*options.height));
        if (width <= 0 || height <= 0) {
            return logged(Error{"cannot resize the clip to " + std::to_string(width) + "x" +
                                std::to_string(height) + " pixels"});
        }
        asked = Size{double(width), double(height)};
        if (!sameSizeInPixels(shown, *options.width, *options.height)) {
            readerOptions.width = width;
            readerOptions.height = height;
        }
    }
    auto images = imageOutput();
    if (!images) {
        return logged(Error{"no image writer installed"});
    }
    auto reader = (*movie)->makeFrameReader(readerOptions);
    if (!reader) {
        return logged(reader.error());
    }
    FrameAtTime frames(std::move(*reader));
    // Without a size asked for, the GIF takes the size of the pictures the movie decodes
    // to, not the one its header declares, which may be anything.
    auto first = frames.at(gif_timing::sampleTime(0, sourceRate));
    if (!first) {
        return logged(first.error());
    }
    Size size =
        asked ? *asked : Size{double((*first)->image->width), double((*first)->image->height)};
    auto gif = images->createGIF(gifPath, int(size.width), int(size.height));
    if (!gif) {
        return logged(gif.error());
    }
    bool draws = !isPassthrough(options);
    for (int64_t i = 0; i < count; ++i) {
        // The layers are timed on the movie's pictures, so a caption covers the same
        // pictures at any speed.
        MediaTime pictureTime = gif_timing::sampleTime(i, sourceRate);
        auto frame = frames.at(pictureTime);
        if (!frame) {
            return logged(frame.error());
        }
        const Image* picture = (*frame)->image.get();
        Image drawn;
        if (draws) {
            drawn = *picture;
            drawExportLayers(drawn, pictureTime, options);
            picture = &drawn;
        }
        Status added = (*gif)->addFrame(*picture, gif_timing::delayCentiseconds(i, fps));
        if (!added) {
            return logged(added.error());
        }
        if (progress) {
            progress(float(i + 1) / float(count));
        }
    }
    Status finished = (*gif)->finish();
    if (!finished) {
        return logged(finished.error());
    }
    return Ok{};
}

}  // namespace pindle
