#pragma once

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/dispatch.h"
#include "fake_movies.h"
#include "platform/capture.h"
#include "platform/compression.h"
#include "platform/movie_writer.h"

// Stand-ins for the screen, the encoder and the movie writer, for tests of the capture
// engine's own logic and concurrency. Each keeps the contract of its platform header
// (threads, drops, completion once) without an X server or codecs.
namespace pindle::test {

// Screens as given; a session that, while running, makes a frame every frameInterval on a
// thread of its own and drops frames while the delivery queue is busy. With failToStart set,
// its sessions do not start (as when the X server has gone away); while hangOnStart is set,
// a start waits (a display that does not answer); with loseAfterFrames at n >= 0, a session
// loses its display after n frames of a run and reports the failure.
class FakeScreenCapture : public ScreenCapturePlatform {
public:
    std::shared_ptr<std::atomic<bool>> failToStart = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> hangOnStart = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int64_t>> loseAfterFrames =
        std::make_shared<std::atomic<int64_t>>(-1);

    explicit FakeScreenCapture(
        std::vector<Screen> screens,
        std::chrono::microseconds frameInterval = std::chrono::milliseconds(2))
        : screens_(std::move(screens)), frameInterval_(frameInterval) {}

    std::vector<Screen> screens() override { return screens_; }

    std::vector<DisplayID> displaysWithPoint(Point p) override {
        std::vector<DisplayID> found;
        if (screens_.empty()) {
            return found;
        }
        const Rect& primary = screens_.front().frame;
        const Point global{p.x, primary.maxY() - p.y};
        for (const Screen& screen : screens_) {
            if (screen.frame.contains(global)) {
                found.push_back(screen.displayID);
            }
        }
        return found;
    }

    std::unique_ptr<CaptureSession> makeSession() override {
        return std::make_unique<Session>(frameInterval_, failToStart, hangOnStart, loseAfterFrames);
    }

    std::shared_ptr<ScreenInput> makeScreenInput(DisplayID displayID) override {
        return std::make_shared<ScreenInput>(displayID, true);
    }

private:
    class Session : public CaptureSession {
    public:
        Session(std::chrono::microseconds interval, std::shared_ptr<std::atomic<bool>> failToStart,
                std::shared_ptr<std::atomic<bool>> hangOnStart,
                std::shared_ptr<std::atomic<int64_t>> loseAfterFrames)
            : interval_(interval),
              failToStart_(std::move(failToStart)),
              hangOnStart_(std::move(hangOnStart)),
              loseAfterFrames_(std::move(loseAfterFrames)) {}
        ~Session() override { stopRunning(); }
        void addInput(std::shared_ptr<ScreenInput> input) override {
            std::lock_guard lock(mutex_);
            input_ = std::move(input);
        }
        void removeInput(const std::shared_ptr<ScreenInput>& input) override {
            std::lock_guard lock(mutex_);
            if (input_ == input) {
                input_.reset();
            }
        }
        void setSampleBufferDelegate(std::weak_ptr<VideoDataOutputDelegate> delegate,
                                     dispatch::QueuePtr queue) override {
            std::lock_guard lock(mutex_);
            delegate_ = std::move(delegate);
            queue_ = std::move(queue);
        }
        void setAlwaysDiscardsLateVideoFrames(bool) override {}
        void setVideoPixelFormat(uint32_t) override {}
        Status startRunning() override {
            std::lock_guard runLock(runMutex_);
            while (*hangOnStart_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (*failToStart_) {
                return Error{"cannot connect to the X display :99"};
            }
            if (thread_.joinable()) {
                if (!lost_) {
                    return Ok{};
                }
                thread_.join();
            }
            lost_ = false;
            stop_ = false;
            thread_ = std::thread([this] { run(); });
            return Ok{};
        }
        void stopRunning() override {
            std::lock_guard runLock(runMutex_);
            stop_ = true;
            if (thread_.joinable()) {
                thread_.join();
            }
        }
        bool isRunning() const override { return !stop_; }
        CaptureStatistics statistics() const override { return {delivered_->load(), dropped_}; }

    private:
        void run() {
            int64_t frame = 0;
            const int64_t loseAfter = *loseAfterFrames_;
            while (!stop_ && interval_.count() > 0) {
                std::this_thread::sleep_for(interval_);
                std::shared_ptr<ScreenInput> input;
                std::weak_ptr<VideoDataOutputDelegate> delegate;
                dispatch::QueuePtr queue;
                {
                    std::lock_guard lock(mutex_);
                    input = input_;
                    delegate = delegate_;
                    queue = queue_;
                }
                if (!input || !queue) {
                    continue;
                }
                if (loseAfter >= 0 && frame >= loseAfter) {
                    lost_ = true;
                    queue->async([delegate] {
                        if (auto target = delegate.lock()) {
                            target->captureOutputDidFail(
                                Error{"the connection to the X display was lost"});
                        }
                    });
                    return;
                }
                auto sample = std::make_shared<SampleBuffer>();
                sample->presentationTimeStamp = MediaTime::make(600 + frame++, 60);
                sample->imageBuffer = PixelBuffer::make420v(2, 2);
                if (inFlight_->exchange(true)) {
                    ++dropped_;
                    continue;
                }
                queue->async([inFlight = inFlight_, delivered = delivered_, delegate, sample] {
                    if (auto target = delegate.lock()) {
                        target->captureOutput(sample);
                        ++*delivered;
                    }
                    *inFlight = false;
                });
            }
        }

        const std::chrono::microseconds interval_;
        const std::shared_ptr<std::atomic<bool>> failToStart_;
        const std::shared_ptr<std::atomic<bool>> hangOnStart_;
        const std::shared_ptr<std::atomic<int64_t>> loseAfterFrames_;
        std::atomic<bool> lost_{false};
        std::mutex runMutex_;
        std::mutex mutex_;  // guards input_, delegate_, queue_
        std::shared_ptr<ScreenInput> input_;
        std::weak_ptr<VideoDataOutputDelegate> delegate_;
        dispatch::QueuePtr queue_;
        std::atomic<bool> stop_{true};
        std::thread thread_;
        std::shared_ptr<std::atomic<bool>> inFlight_ = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<std::atomic<uint64_t>> delivered_ =
            std::make_shared<std::atomic<uint64_t>>(0);
        std::atomic<uint64_t> dropped_{0};
    };

    std::vector<Screen> screens_;
    std::chrono::microseconds frameInterval_;
};

// "Encodes" on a serial queue of its own: each output sample carries the number of the
// frame in its data (1, 2, 3... in submission order), the frame's time and a shared format.
// With failToPrepare set, sessions cannot be prepared (as an encoder refusing a size); with
// failAfterFrames set, every frame after that many fails to encode.
class FakeCompression {
public:
    std::optional<std::string> failToPrepare;
    std::optional<int64_t> failAfterFrames;

    CompressionSessionFactory factory() {
        return [this](int width, int height, uint32_t, CompressionSession::OutputCallback callback)
                   -> Result<std::unique_ptr<CompressionSession>> {
            return std::unique_ptr<CompressionSession>(std::make_unique<Session>(
                width, height, std::move(callback), failToPrepare, failAfterFrames));
        };
    }

    static int64_t frameNumber(const SampleBuffer& sample) {
        int64_t n = 0;
        std::memcpy(&n, sample.data.data(), sizeof n);
        return n;
    }

private:
    class Session : public CompressionSession {
    public:
        Session(int width, int height, OutputCallback callback,
                std::optional<std::string> failToPrepare, std::optional<int64_t> failAfterFrames)
            : callback_(std::move(callback)),
              failToPrepare_(std::move(failToPrepare)),
              failAfterFrames_(failAfterFrames) {
            auto format = std::make_shared<FormatDescription>();
            format->mediaType = kMediaTypeVideo;
            format->mediaSubType = kCodecH264;
            format->width = width;
            format->height = height;
            format_ = format;
        }
        ~Session() override {
            queue_->sync([] {});
        }
        Status setMaxKeyFrameInterval(int) override { return Ok{}; }
        Status setMaxKeyFrameIntervalDuration(double) override { return Ok{}; }
        Status setPixelBufferPixelFormat(uint32_t) override { return Ok{}; }
        Status setAverageBitRate(int64_t) override { return Ok{}; }
        Status prepareToEncodeFrames() override {
            if (failToPrepare_) {
                return Error{*failToPrepare_};
            }
            return Ok{};
        }
        Status encodeFrame(PixelBufferPtr, MediaTime pts, MediaTime duration, bool) override {
            queue_->async([this, pts, duration] {
                if (failAfterFrames_ && count_ >= *failAfterFrames_) {
                    callback_(Error{"the encoder ran out of memory"}, nullptr);
                    return;
                }
                auto sample = std::make_shared<SampleBuffer>();
                sample->formatDescription = format_;
                sample->presentationTimeStamp = pts;
                sample->duration = duration;
                sample->isKeyFrame = true;
                const int64_t n = ++count_;
                sample->data.resize(sizeof n);
                std::memcpy(sample->data.data(), &n, sizeof n);
                callback_(Ok{}, std::move(sample));
            });
            return Ok{};
        }
        void completeFrames() override {
            queue_->sync([] {});
        }

    private:
        OutputCallback callback_;
        const std::optional<std::string> failToPrepare_;
        const std::optional<int64_t> failAfterFrames_;
        FormatDescriptionPtr format_;
        int64_t count_ = 0;  // on queue_ only
        dispatch::QueuePtr queue_ = dispatch::makeSerialQueue("fake.encoder");
    };
};

// Keeps what each movie was given; finishing writes a small file and registers its facts
// with FakeMovies so that the recording can be set up. With failAfterAppends set, the writer
// fails after that many samples and its input never becomes ready again.
class FakeMovieWriters {
public:
    explicit FakeMovieWriters(FakeMovies& movies) : movies_(movies) {}

    std::optional<int> failAfterAppends;
    // Finished movies are left unregistered, so they cannot be opened (a file the writer
    // finished that holds no readable movie).
    bool unreadable = false;
    // While set, finishing waits (a slow disk), so a movie job stays under way.
    std::atomic<bool> holdFinishing{false};

    MovieWriterFactory factory() {
        return [this](const std::filesystem::path& url, MovieFileType) {
            auto writer = std::make_shared<Writer>(*this, url);
            return std::shared_ptr<MovieWriter>(writer);
        };
    }

    // The samples of each finished or failed movie, by path.
    std::map<std::string, std::vector<SampleBufferPtr>> movies() {
        std::lock_guard lock(mutex_);
        return written_;
    }
    // The source time a finished movie's session started at (its time zero).
    MediaTime sessionStart(const std::string& path) {
        std::lock_guard lock(mutex_);
        auto it = sessionStarts_.find(path);
        return it != sessionStarts_.end() ? it->second : MediaTime::invalid();
    }

private:
    class Writer : public MovieWriter,
                   public MovieWriterInput,
                   public std::enable_shared_from_this<Writer> {
    public:
        Writer(FakeMovieWriters& owner, std::filesystem::path url)
            : owner_(owner), url_(std::move(url)), failAfter_(owner.failAfterAppends) {}

        Result<std::shared_ptr<MovieWriterInput>> addInput(uint32_t mediaType,
                                                           std::optional<AudioOutputSettings>,
                                                           FormatDescriptionPtr hint) override {
            if (mediaType != kMediaTypeVideo) {
                return Error{"video only"};
            }
            format_ = std::move(hint);
            return std::shared_ptr<MovieWriterInput>(shared_from_this());
        }
        bool startWriting() override {
            status_ = Status::Writing;
            return true;
        }
        void startSessionAtSourceTime(MediaTime time) override { sessionStart_ = time; }
        void finishWriting(std::function<void()> completion) override {
            dispatch::globalQueue()->async([self = shared_from_this(), completion] {
                while (self->owner_.holdFinishing) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                self->finish();
                completion();
            });
        }
        Status status() const override { return status_; }
        std::string errorDescription() const override {
            // What the real writer says when the disk is full.
            return status_ == Status::Failed
                       ? std::string("writing a sample failed: ") + std::strerror(ENOSPC)
                       : "";
        }
        const std::filesystem::path& outputURL() const override { return url_; }

        bool appendSampleBuffer(const SampleBufferPtr& sample) override {
            if (status_ != Status::Writing) {
                return false;
            }
            if (failAfter_ && int(samples_.size()) >= *failAfter_) {
                status_ = Status::Failed;
                return false;
            }
            samples_.push_back(sample);
            return true;
        }
        bool isReadyForMoreMediaData() const override { return status_ == Status::Writing; }
        void setExpectsMediaDataInRealTime(bool) override {}

    private:
        void finish() {
            std::ofstream(url_) << "movie";
            if (status_ == Status::Writing) {
                status_ = Status::Completed;
            }
            if (status_ == Status::Completed && !owner_.unreadable) {
                const double seconds = double(samples_.size()) / 60;
                owner_.movies_.add(url_,
                                   FakeMovies::video(format_ ? format_->width : 0,
                                                     format_ ? format_->height : 0, seconds, 60));
            }
            std::lock_guard lock(owner_.mutex_);
            owner_.written_[url_.string()] = samples_;
            owner_.sessionStarts_[url_.string()] = sessionStart_;
        }

        FakeMovieWriters& owner_;
        const std::filesystem::path url_;
        const std::optional<int> failAfter_;
        FormatDescriptionPtr format_;
        std::atomic<Status> status_{Status::Unknown};
        std::vector<SampleBufferPtr> samples_;  // the job's thread, then finish()
        MediaTime sessionStart_ = MediaTime::invalid();
    };

    FakeMovies& movies_;
    std::mutex mutex_;  // guards written_, sessionStarts_
    std::map<std::string, std::vector<SampleBufferPtr>> written_;
    std::map<std::string, MediaTime> sessionStarts_;
};

}  // namespace pindle::test
