#include "capture/RCCaptureEngine.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "base/log.h"
#include "capture/CaptureGeometry.h"
#include "library/RCDataStore.h"
#include "library/RCFileManager.h"
#include "library/RCRecording.h"
#include "library/RCUtilities.h"

namespace pindle {
namespace {

constexpr const char* kTag = "capture";
// The poll interval of a movie job while the writer's input is not ready for more. The
// writer takes each sample before append returns, so the job needs no pause between
// appends: a fixed pause would only add 1800 sleeps to every movie.
constexpr auto kReadinessPoll = std::chrono::milliseconds(10);

}  // namespace

std::shared_ptr<RCCaptureEngine> RCCaptureEngine::create(RCCaptureEngineEnvironment environment) {
    std::shared_ptr<RCCaptureEngine> engine(new RCCaptureEngine(std::move(environment)));
    engine->init();
    return engine;
}

RCCaptureEngine::RCCaptureEngine(RCCaptureEngineEnvironment environment)
    : environment_(std::move(environment)) {}

void RCCaptureEngine::init() {
    {
        std::lock_guard lock(mutex_);
        circularBuffer_ = std::make_shared<Ring>(kBufferCapacity);
    }
    isCapturing_ = false;
    inProcessingCount_ = 0;
    screenCaptureSession_ = environment_.screenCapture->makeSession();
    setupScreenCaptureInputs();
    captureAudioEnabled_ = false;
    outputQueue_ = dispatch::makeSerialQueue("screenCaptureOutputQueue");
    bufferQueue_ = dispatch::makeSerialQueue("screenCaptureBufferQueue");
    screenCaptureSession_->setSampleBufferDelegate(weak_from_this(), outputQueue_);
    screenCaptureSession_->setAlwaysDiscardsLateVideoFrames(true);
    screenCaptureSession_->setVideoPixelFormat(kPixelFormat420v);
}

RCCaptureEngine::~RCCaptureEngine() {
    screenCaptureSession_->stopRunning();
}

void RCCaptureEngine::setDelegate(std::weak_ptr<RCCaptureEngineDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::weak_ptr<RCCaptureEngineDelegate> RCCaptureEngine::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

RCDataStore& RCCaptureEngine::dataStore() const {
    return environment_.dataStore != nullptr ? *environment_.dataStore
                                             : RCDataStore::getCurrentInstance();
}

RCFileManager& RCCaptureEngine::fileManager() const {
    return environment_.fileManager != nullptr ? *environment_.fileManager
                                               : RCFileManager::getCurrentInstance();
}

// ---- inputs and the ring

void RCCaptureEngine::setupScreenCaptureInputs() {
    std::map<DisplayID, std::shared_ptr<ScreenInput>> inputs;
    for (const Screen& screen : environment_.screenCapture->screens()) {
        auto input = environment_.screenCapture->makeScreenInput(screen.displayID);
        input->setCropRect(screen.frame);  // a placeholder: every start sets the real crop
        input->setMinFrameDuration(kMinFrameDuration);
        input->setScaleFactor(screen.backingScaleFactor);
        if (input->supportsCursorCapture()) {
            input->setCapturesCursor(false);
        }
        input->setCapturesMouseClicks(false);
        inputs[screen.displayID] = std::move(input);
    }
    std::lock_guard lock(mutex_);
    screenCaptureInputs_ = std::move(inputs);
}

void RCCaptureEngine::setupAudioCaptureInputs(const std::string& source) {
    // Audio devices are not captured: the ring keeps its larger capacity for such a source,
    // but no audio sample ever reaches it.
    PINDLE_LOG_INFO(kTag, "audio source \"%s\" is not captured on this platform", source.c_str());
}

std::shared_ptr<ScreenInput> RCCaptureEngine::getScreenCaptureInputForScreen(const Screen& screen) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = screenCaptureInputs_.find(screen.displayID);
            it != screenCaptureInputs_.end()) {
            return it->second;
        }
    }
    setupScreenCaptureInputs();  // a display attached since the inputs were made
    std::lock_guard lock(mutex_);
    auto it = screenCaptureInputs_.find(screen.displayID);
    return it != screenCaptureInputs_.end() ? it->second : nullptr;
}

void RCCaptureEngine::resetCircularBuffer() {
    auto ring =
        std::make_shared<Ring>(captureAudioEnabled_ ? kBufferCapacityWithAudio : kBufferCapacity);
    std::lock_guard lock(mutex_);
    circularBuffer_ = std::move(ring);
}

void RCCaptureEngine::enableAudioCapture(bool enabled) {
    captureAudioEnabled_ = enabled;
    resetCircularBuffer();
}

std::shared_ptr<RCCaptureEngine::Ring> RCCaptureEngine::circularBuffer() const {
    std::lock_guard lock(mutex_);
    return circularBuffer_;
}

int64_t RCCaptureEngine::bufferedFrameCount() const {
    auto ring = circularBuffer();
    int64_t count = 0;
    bufferQueue_->sync([&] { count = ring->count(); });
    return count;
}

FormatDescriptionPtr RCCaptureEngine::videoFormatDescription() const {
    std::lock_guard lock(mutex_);
    return videoFormatDescription_;
}

std::shared_ptr<ScreenInput> RCCaptureEngine::activeInput() const {
    std::lock_guard lock(mutex_);
    return activeInput_;
}

std::shared_ptr<RCH264Encoder> RCCaptureEngine::encoder() const {
    std::lock_guard lock(mutex_);
    return encoder_;
}

CaptureStatistics RCCaptureEngine::statistics() const {
    return screenCaptureSession_->statistics();
}

// ---- start and stop

Status RCCaptureEngine::startCapturingFrame(const Rect& frame, const RCCaptureOptions& options) {
    const auto screens = environment_.screenCapture->screens();
    const Point centre = capture_geometry::displayCentreOfFrame(
        frame, screens.empty() ? Rect{} : screens.front().frame);
    auto screen = capture_geometry::screenForFrame(
        frame, screens, environment_.screenCapture->displaysWithPoint(centre));
    if (!screen) {
        PINDLE_LOG_ERROR(kTag, "not capturing: %s", screen.error().message.c_str());
        return screen.error();
    }
    const Rect crop = capture_geometry::cropRectForFrame(frame, screen->frame);
    if (crop.width() < 2 || crop.height() < 2) {
        Error error{"the capture region is too small on its display (at least 2 x 2 points)"};
        PINDLE_LOG_ERROR(kTag, "not capturing: %s", error.message.c_str());
        return error;
    }
    auto input = getScreenCaptureInputForScreen(*screen);
    if (!input) {
        return Error{"the display \"" + screen->name + "\" cannot be captured"};
    }
    if (sessionInUse_.exchange(true)) {
        return Error{"a capture is already under way"};
    }

    RCH264EncoderOptions encoderOptions;
    encoderOptions.maxKeyFrameInterval = 1;
    encoderOptions.pixelBufferAttributes = kPixelFormat420v;
    encoderOptions.averageBitRate =
        capture_geometry::bitRateForCropSize(crop.width(), crop.height());
    auto encoder = std::make_shared<RCH264Encoder>(crop.width(), crop.height(), encoderOptions,
                                                   environment_.compressionSessionFactory);
    if (!encoder->isValid()) {
        sessionInUse_ = false;
        Error error{"the capture cannot be encoded: " + encoder->failureReason()};
        PINDLE_LOG_ERROR(kTag, "not capturing: %s", error.message.c_str());
        return error;
    }
    encoder->setDelegate(weak_from_this());

    stopRequested_ = false;
    isCapturing_ = true;
    const std::string audioSource =
        environment_.audioSource ? environment_.audioSource() : std::string("None");
    if (audioSource != "None") {
        captureAudioEnabled_ = true;
        setupAudioCaptureInputs(audioSource);
    } else {
        captureAudioEnabled_ = false;
    }
    resetCircularBuffer();

    if (options.captureCursor && input->supportsCursorCapture()) {
        input->setCapturesCursor(*options.captureCursor);
    }
    if (options.captureMouseClicks) {
        input->setCapturesMouseClicks(*options.captureMouseClicks);
    }
    input->setCropRect(crop);
    screenCaptureSession_->addInput(input);

    std::shared_ptr<RCH264Encoder> previous;
    {
        std::lock_guard lock(mutex_);
        activeInput_ = input;
        previous = std::move(encoder_);
        encoder_ = std::move(encoder);
        videoFormatDescription_ = nullptr;
    }
    if (previous) {
        previous->setDelegate({});  // a late frame of the last capture must not reach this one
    }
    PINDLE_LOG_INFO(kTag, "capturing %gx%g points at (%g, %g) of display \"%s\"", crop.width(),
                    crop.height(), crop.minX(), crop.minY(), screen->name.c_str());

    auto self = shared_from_this();
    dispatch::globalQueue(dispatch::Priority::High)->async([self, input] {
        auto started = self->screenCaptureSession_->startRunning();
        if (started) {
            self->tellDelegate([](RCCaptureEngineDelegate& d, RCCaptureEngine& e) {
                d.captureEngineDidStartCapturing(e);
            });
            return;
        }
        self->screenCaptureSession_->removeInput(input);
        self->isCapturing_ = false;
        self->stopRequested_ = true;
        self->sessionInUse_ = false;
        self->tellDelegate(
            [error = started.error()](RCCaptureEngineDelegate& d, RCCaptureEngine& e) {
                d.captureEngineDidFailToStartCapturing(e, error);
            });
    });
    return Ok{};
}

void RCCaptureEngine::stopCapturing() {
    if (stopRequested_.exchange(true)) {
        return;
    }
    stopSession();
}

void RCCaptureEngine::stopSession() {
    auto self = shared_from_this();
    dispatch::globalQueue(dispatch::Priority::High)->async([self] {
        self->screenCaptureSession_->stopRunning();
        // Every frame captured before the stop reaches the ring before it is read out: the
        // delivery queue ends its frame, the encoder hands on what it holds, and the read-out
        // queues behind those writes on the buffer queue.
        self->outputQueue_->sync([] {});
        if (auto encoder = self->encoder()) {
            encoder->completeFrames();
        }
        if (auto input = self->activeInput()) {
            self->screenCaptureSession_->removeInput(input);
        }
        // The ring is taken before a new start may replace it.
        auto ring = self->circularBuffer();
        self->sessionInUse_ = false;
        int64_t frames = 0;
        self->bufferQueue_->sync([&] { frames = ring->count(); });
        self->outputRing(std::move(ring), true, [self, frames] {
            self->tellDelegate([](RCCaptureEngineDelegate& d, RCCaptureEngine& e) {
                d.captureEngineDidStopCapturing(e);
            });
            if (frames == 0) {
                // A capture that ends without one frame (the screen could not be grabbed,
                // say) saves nothing: that is a failure, not a quiet stop.
                PINDLE_LOG_ERROR(kTag, "the capture stopped without a frame; nothing is saved");
                self->tellDelegate([](RCCaptureEngineDelegate& d, RCCaptureEngine& e) {
                    d.captureEngineDidFailToOutputCapture(e, Error{"no frame was captured"});
                });
            }
        });
    });
}

// ---- the frame path

void RCCaptureEngine::captureOutput(const SampleBufferPtr& sampleBuffer) {
    if (!isCapturing_) {
        return;
    }
    if (!sampleBuffer->dataIsReady || !sampleBuffer->imageBuffer) {
        PINDLE_LOG_WARNING(kTag, "Sample Buffer not ready");
        return;
    }
    if (auto target = encoder()) {
        target->encodeFrameWithPixelBuffer(sampleBuffer->imageBuffer,
                                           sampleBuffer->presentationTimeStamp);
    }
}

void RCCaptureEngine::encoder(RCH264Encoder&, const SampleBufferPtr& sampleBuffer) {
    {
        std::lock_guard lock(mutex_);
        if (!videoFormatDescription_) {
            videoFormatDescription_ = sampleBuffer->formatDescription;
        }
    }
    appendToBuffer(sampleBuffer);
}

void RCCaptureEngine::encoderDidFail(RCH264Encoder& failed, const Error& error) {
    if (&failed != encoder().get()) {
        return;  // a late frame of an earlier capture
    }
    endCaptureAfterFailure(Error{"the capture could not be encoded: " + error.message});
}

void RCCaptureEngine::captureOutputDidFail(const Error& error) {
    endCaptureAfterFailure(Error{"the screen could not be captured: " + error.message});
}

void RCCaptureEngine::endCaptureAfterFailure(const Error& error) {
    if (!isCapturing_ || stopRequested_.exchange(true)) {
        return;  // no capture, or one already stopping
    }
    PINDLE_LOG_ERROR(kTag, "the capture ends: %s", error.message.c_str());
    tellDelegate([error](RCCaptureEngineDelegate& d, RCCaptureEngine& e) {
        d.captureEngineDidFailWhileCapturing(e, error);
    });
    stopSession();
}

void RCCaptureEngine::appendToBuffer(SampleBufferPtr sampleBuffer) {
    // The ring is looked up when the write runs, so a write queued before a reset lands in
    // the new ring.
    bufferQueue_->async([weakSelf = weak_from_this(), sample = std::move(sampleBuffer)] {
        if (auto self = weakSelf.lock()) {
            self->circularBuffer()->writeWithNewElement(sample);
        }
    });
}

// ---- movies

void RCCaptureEngine::outputCaptureResetBuffer(bool reset, std::function<void()> completion) {
    outputRing(circularBuffer(), reset, std::move(completion));
}

void RCCaptureEngine::outputRing(std::shared_ptr<Ring> ring, bool reset,
                                 std::function<void()> completion) {
    int64_t count = 0;
    bufferQueue_->sync([&] { count = ring->count(); });
    if (count < 1) {
        if (completion) {
            completion();
        }
        return;
    }
    // Counted from the request, so the owner is busy from the moment a movie is owed.
    inProcessingCount_.fetch_add(1);
    dispatch::globalQueue(dispatch::Priority::High)
        ->async([self = shared_from_this(), ring = std::move(ring), reset,
                 completion = std::move(completion)]() mutable {
            self->writeMovie(std::move(ring), reset, std::move(completion));
        });
}

void RCCaptureEngine::writeMovie(std::shared_ptr<Ring> ring, bool reset,
                                 std::function<void()> completion) {
    auto recording = std::make_shared<RCRecording>();
    dataStore().addRecording(recording);

    // The read-out runs on the buffer queue, between two writes.
    std::vector<SampleBufferPtr> samples;
    bufferQueue_->sync([&] { samples = ring->readAsNSArray(); });

    const auto url = fileManager().makeDocumentFileWithName(RCUtilities::makeGUID() + ".mp4");
    auto writer = environment_.movieWriterFactory(url, MovieFileType::MPEG4);

    FormatDescriptionPtr hint = videoFormatDescription();
    const SampleBufferPtr* firstAudio = nullptr;
    // The movie holds the newest 30 s: a ring of slow frames spans more than that, and its
    // oldest frames are the ones to leave out. It starts at a key frame.
    MediaTime newest = MediaTime::invalid();
    for (const auto& sample : samples) {
        if (sample->mediaType() == kMediaTypeVideo &&
            (!newest.isValid() || newest < sample->presentationTimeStamp)) {
            newest = sample->presentationTimeStamp;
        }
    }
    const SampleBuffer* first = nullptr;
    for (const auto& sample : samples) {
        if (sample->mediaType() == kMediaTypeVideo) {
            const bool inMovie = newest - sample->presentationTimeStamp < kMaxMovieDuration;
            if (inMovie && (first == nullptr || (!first->isKeyFrame && sample->isKeyFrame))) {
                first = sample.get();
            }
        } else if (sample->mediaType() == kMediaTypeAudio && firstAudio == nullptr) {
            firstAudio = &sample;
        }
    }
    const MediaTime start = first != nullptr ? first->presentationTimeStamp : MediaTime::invalid();
    if (!hint && first != nullptr) {
        hint = first->formatDescription;
    }
    std::shared_ptr<MovieWriterInput> videoInput;
    if (auto added = writer->addInput(kMediaTypeVideo, std::nullopt, hint); added) {
        videoInput = std::move(added.value());
        videoInput->setExpectsMediaDataInRealTime(true);
    } else {
        PINDLE_LOG_ERROR(kTag, "cannot add the video track: %s", added.error().message.c_str());
    }
    std::shared_ptr<MovieWriterInput> audioInput;
    if (firstAudio != nullptr) {
        std::optional<AudioOutputSettings> settings;
        const auto& format = (*firstAudio)->formatDescription;
        if ((*firstAudio)->mediaSubType() == kAudioFormatLinearPCM) {
            settings = AudioOutputSettings{kAudioFormatAAC, 44100.0,
                                           std::min(format->channelCount, 2), 128000};
        }
        if (auto added = writer->addInput(kMediaTypeAudio, settings, format); added) {
            audioInput = std::move(added.value());
            audioInput->setExpectsMediaDataInRealTime(true);
        } else {
            PINDLE_LOG_WARNING(kTag, "audio is left out of the movie: %s",
                               added.error().message.c_str());
        }
    }

    if (writer->startWriting() && videoInput) {
        writer->startSessionAtSourceTime(start);
        for (const auto& sample : samples) {
            if (sample->presentationTimeStamp < start) {
                continue;
            }
            const bool isAudio = sample->mediaType() == kMediaTypeAudio;
            const auto& input = isAudio ? audioInput : videoInput;
            if (!input) {
                continue;
            }
            if (!input->appendSampleBuffer(sample)) {
                PINDLE_LOG_ERROR(
                    kTag, isAudio ? "audioWriterInput failed %ld" : "videoWriterInput failed %ld",
                    long(writer->status()));
                if (writer->status() == MovieWriter::Status::Failed) {
                    PINDLE_LOG_ERROR(kTag, "error %s", writer->errorDescription().c_str());
                    break;  // a failed writer takes nothing more
                }
            }
            while (!input->isReadyForMoreMediaData() &&
                   writer->status() != MovieWriter::Status::Failed) {
                std::this_thread::sleep_for(kReadinessPoll);
            }
        }
    }

    auto self = shared_from_this();
    writer->finishWriting([self, recording, writer, ring = std::move(ring), reset,
                           completion = std::move(completion)]() mutable {
        self->finishMovie(recording, writer, std::move(ring), reset, completion);
    });
}

void RCCaptureEngine::finishMovie(const std::shared_ptr<RCRecording>& recording,
                                  const std::shared_ptr<MovieWriter>& writer,
                                  std::shared_ptr<Ring> ring, bool reset,
                                  const std::function<void()>& completion) {
    bool written = writer->status() == MovieWriter::Status::Completed;
    Error failure;
    if (written) {
        recording->setupWithURL(writer->outputURL());
        // A finished file that cannot be read back as a movie is no recording.
        written = recording->hasVideoTrack();
        if (written) {
            dataStore().updateRecording(recording);
            PINDLE_LOG_INFO(kTag, "movie written: %s", writer->outputURL().c_str());
        } else {
            failure.message = "the movie was written but cannot be read back";
        }
    } else {
        failure.message = "the movie could not be written: " + (writer->errorDescription().empty()
                                                                    ? std::string("unknown error")
                                                                    : writer->errorDescription());
    }
    if (!written) {
        PINDLE_LOG_ERROR(kTag, "%s; its recording is removed again", failure.message.c_str());
        dataStore().removeRecording(recording);
        fileManager().deleteFile(writer->outputURL());
    }
    if (reset) {
        // Only the ring this movie came from: a capture started since keeps its own.
        std::lock_guard lock(mutex_);
        if (circularBuffer_ == ring) {
            circularBuffer_ = std::make_shared<Ring>(captureAudioEnabled_ ? kBufferCapacityWithAudio
                                                                          : kBufferCapacity);
            videoFormatDescription_ = nullptr;
        }
    }
    ring.reset();
    if (completion) {
        completion();
    }
    if (written) {
        tellDelegate([](RCCaptureEngineDelegate& d, RCCaptureEngine& e) {
            d.captureEngineDidOutputCapture(e);
        });
    } else {
        tellDelegate([failure](RCCaptureEngineDelegate& d, RCCaptureEngine& e) {
            d.captureEngineDidFailToOutputCapture(e, failure);
        });
    }
    // Idle only once the outcome is queued: whoever waits for the engine to be idle and then
    // runs the main queue hears how the movie ended. The empty task after it wakes a caller
    // that runs the main queue until the engine is idle, looking after each task.
    inProcessingCount_.fetch_sub(1);
    dispatch::mainQueue()->async([] {});
}

void RCCaptureEngine::tellDelegate(
    std::function<void(RCCaptureEngineDelegate&, RCCaptureEngine&)> call) {
    dispatch::mainQueue()->async([weakSelf = weak_from_this(), call = std::move(call)] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (auto target = self->delegate().lock()) {
            call(*target, *self);
        }
    });
}

}  // namespace pindle
