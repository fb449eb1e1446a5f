#include "base/dispatch.h"

#include <pthread.h>

#include <atomic>
#include <deque>
#include <map>
#include <thread>
#include <utility>

namespace pindle::dispatch {
namespace {

const std::thread::id gMainThreadId = std::this_thread::get_id();

// Marks the queue whose task the current thread is running.
thread_local const Queue* tCurrentQueue = nullptr;

class CurrentQueueScope {
public:
    explicit CurrentQueueScope(const Queue* queue) : previous_(tCurrentQueue) {
        tCurrentQueue = queue;
    }
    ~CurrentQueueScope() { tCurrentQueue = previous_; }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

private:
    const Queue* previous_;
};

// ---- main queue

struct MainQueueState {
    std::mutex mutex;  // guards tasks and wakeup
    std::condition_variable queued;
    std::deque<Task> tasks;
    std::function<void()> wakeup;
};

MainQueueState& mainState() {
    static auto* state = new MainQueueState;  // outlives every thread that posts to it
    return *state;
}

class MainQueue final : public Queue {
public:
    MainQueue() : Queue("main") {}

    void async(Task task) override {
        auto& state = mainState();
        std::function<void()> wakeup;
        {
            std::lock_guard lock(state.mutex);
            state.tasks.push_back(std::move(task));
            wakeup = state.wakeup;
        }
        state.queued.notify_all();
        if (wakeup) {
            wakeup();
        }
    }

    bool isCurrent() const override { return isMainThread(); }
};

// Runs one queued main-queue task; false when there was none.
bool runOneMainTask() {
    auto& state = mainState();
    Task task;
    {
        std::lock_guard lock(state.mutex);
        if (state.tasks.empty()) {
            return false;
        }
        task = std::move(state.tasks.front());
        state.tasks.pop_front();
    }
    task();
    return true;
}

// ---- serial queues

struct SerialState {
    std::mutex mutex;  // guards tasks and stopping
    std::condition_variable queued;
    std::deque<Task> tasks;
    bool stopping = false;
};

class SerialQueue final : public Queue {
public:
    explicit SerialQueue(std::string label)
        : Queue(std::move(label)), state_(std::make_shared<SerialState>()) {
        thread_ = std::thread([state = state_, name = this->label(), self = this] {
            setCurrentThreadName(name);
            run(*state, self);
        });
    }

    ~SerialQueue() override {
        {
            std::lock_guard lock(state_->mutex);
            state_->stopping = true;
        }
        state_->queued.notify_all();
        if (thread_.get_id() == std::this_thread::get_id()) {
            // Released by its own last task: the thread finishes the queue on its own.
            thread_.detach();
        } else {
            thread_.join();
        }
    }

    void async(Task task) override {
        {
            std::lock_guard lock(state_->mutex);
            state_->tasks.push_back(std::move(task));
        }
        state_->queued.notify_one();
    }

    bool isCurrent() const override { return tCurrentQueue == this; }

private:
    // self is only compared, never dereferenced: the queue may be gone while the thread
    // drains what is left.
    static void run(SerialState& state, const Queue* self) {
        CurrentQueueScope scope(self);
        for (;;) {
            Task task;
            {
                std::unique_lock lock(state.mutex);
                state.queued.wait(lock, [&] { return state.stopping || !state.tasks.empty(); });
                if (state.tasks.empty()) {
                    return;
                }
                task = std::move(state.tasks.front());
                state.tasks.pop_front();
            }
            task();
        }
    }

    std::shared_ptr<SerialState> state_;
    std::thread thread_;
};

// ---- global concurrent queues

class GlobalQueue final : public Queue {
public:
    explicit GlobalQueue(std::string label) : Queue(std::move(label)) {}

    void async(Task task) override {
        bool spawn = false;
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            if (idle_ == 0 && threads_ < kMaxThreads) {
                ++threads_;
                spawn = true;
            }
        }
        if (spawn) {
            std::thread([this] { work(); }).detach();
        } else {
            queued_.notify_one();
        }
    }

    bool isCurrent() const override { return tCurrentQueue == this; }

private:
    static constexpr int kMaxThreads = 64;
    static constexpr auto kIdleExit = std::chrono::seconds(5);

    void work() {
        setCurrentThreadName(label());
        CurrentQueueScope scope(this);
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            bool hasTask = queued_.wait_for(lock, kIdleExit, [&] { return !tasks_.empty(); });
            --idle_;
            if (!hasTask) {
                --threads_;
                return;
            }
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;  // guards tasks_, idle_ and threads_
    std::condition_variable queued_;
    std::deque<Task> tasks_;
    int idle_ = 0;
    int threads_ = 0;
};

// ---- delayed calls

class Timer {
public:
    Timer() {
        std::thread([this] {
            setCurrentThreadName("pindle.timer");
            run();
        }).detach();
    }

    void schedule(std::chrono::steady_clock::time_point when, QueuePtr queue, Task task) {
        {
            std::lock_guard lock(mutex_);
            pending_.emplace(when, std::make_pair(std::move(queue), std::move(task)));
        }
        changed_.notify_one();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (pending_.empty()) {
                changed_.wait(lock);
                continue;
            }
            auto first = pending_.begin();
            if (std::chrono::steady_clock::now() < first->first) {
                changed_.wait_until(lock, first->first);
                continue;
            }
            auto [queue, task] = std::move(first->second);
            pending_.erase(first);
            lock.unlock();
            queue->async(std::move(task));
            lock.lock();
        }
    }

    std::mutex mutex_;  // guards pending_
    std::condition_variable changed_;
    std::multimap<std::chrono::steady_clock::time_point, std::pair<QueuePtr, Task>> pending_;
};

}  // namespace

void Queue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    Semaphore done;
    async([&] {
        task();
        done.signal();
    });
    done.wait();
}

QueuePtr mainQueue() {
    static auto* queue = new QueuePtr(std::make_shared<MainQueue>());
    return *queue;
}

QueuePtr makeSerialQueue(std::string label) {
    return std::make_shared<SerialQueue>(std::move(label));
}

QueuePtr globalQueue(Priority priority) {
    // Leaked on purpose: detached workers may still run while the process exits.
    static auto* queues = new QueuePtr[4]{
        std::make_shared<GlobalQueue>("pindle.global.high"),
        std::make_shared<GlobalQueue>("pindle.global.user"),
        std::make_shared<GlobalQueue>("pindle.global.default"),
        std::make_shared<GlobalQueue>("pindle.global.background"),
    };
    return queues[static_cast<int>(priority)];
}

void after(std::chrono::nanoseconds delay, QueuePtr queue, Task task) {
    static auto* timer = new Timer;
    timer->schedule(std::chrono::steady_clock::now() + delay, std::move(queue), std::move(task));
}

bool isMainThread() {
    return std::this_thread::get_id() == gMainThreadId;
}

bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto& state = mainState();
    for (;;) {
        if (condition()) {
            return true;
        }
        if (runOneMainTask()) {
            continue;
        }
        std::unique_lock lock(state.mutex);
        if (state.tasks.empty()) {
            if (state.queued.wait_until(lock, deadline) == std::cv_status::timeout &&
                state.tasks.empty()) {
                lock.unlock();
                return condition();
            }
        }
    }
}

void drainMainQueue() {
    while (runOneMainTask()) {
    }
}

void setMainQueueWakeup(std::function<void()> wakeup) {
    auto& state = mainState();
    std::lock_guard lock(state.mutex);
    state.wakeup = std::move(wakeup);
}

void Semaphore::signal() {
    // Notified under the lock: a waiter that wakes may destroy the semaphore at once, so
    // nothing may touch it after the mutex is released.
    std::lock_guard lock(mutex_);
    ++value_;
    available_.notify_one();
}

void Semaphore::wait() {
    std::unique_lock lock(mutex_);
    available_.wait(lock, [&] { return value_ > 0; });
    --value_;
}

bool Semaphore::waitFor(std::chrono::nanoseconds timeout) {
    return waitUntil(std::chrono::steady_clock::now() + timeout);
}

bool Semaphore::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!available_.wait_until(lock, deadline, [&] { return value_ > 0; })) {
        return false;
    }
    --value_;
    return true;
}

void setCurrentThreadName(const std::string& name) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

}  // namespace pindle::dispatch
