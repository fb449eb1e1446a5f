#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Work queues in the style the program is written for: one main queue, labelled serial
// queues, concurrent global queues by priority, delayed calls and counting semaphores.
//
// The main queue runs on the thread that started the process. In the application it is fed
// by the Qt event loop (see platform/qt/main_queue_driver.h); tests and command-line verbs
// pump it themselves with runUntil().
namespace pindle::dispatch {

using Task = std::function<void()>;

enum class Priority { High, UserInitiated, Default, Background };

class Queue {
public:
    virtual ~Queue() = default;

    // Queues task behind every task queued before it on this queue.
    virtual void async(Task task) = 0;
    // Runs task on the queue and returns when it has run. Called on the queue's own thread
    // it runs task at once (where GCD would deadlock).
    void sync(const Task& task);
    // Whether the calling thread is running this queue's tasks now.
    virtual bool isCurrent() const = 0;
    const std::string& label() const { return label_; }

protected:
    explicit Queue(std::string label) : label_(std::move(label)) {}

private:
    std::string label_;
};

using QueuePtr = std::shared_ptr<Queue>;

// The main thread's queue. Tasks run in the order they were queued.
QueuePtr mainQueue();
// A serial queue: one task at a time, in order, on a thread named after the label. The
// thread ends when the queue is released and its queued tasks have run.
QueuePtr makeSerialQueue(std::string label);
// A concurrent queue shared by the process; a task never waits for a busy one to end.
QueuePtr globalQueue(Priority priority = Priority::Default);

// Queues task on queue once delay has passed.
void after(std::chrono::nanoseconds delay, QueuePtr queue, Task task);

bool isMainThread();

// Runs main-queue tasks on the calling (main) thread until condition holds or timeout
// passes. Returns whether condition holds. condition is checked after each task.
bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Runs the main-queue tasks queued so far (and those they queue), then returns.
void drainMainQueue();
// Called from any thread each time a task is queued on the main queue; the application
// uses it to wake its event loop. Pass an empty function to remove it.
void setMainQueueWakeup(std::function<void()> wakeup);

// A counting semaphore. wait() takes one unit, blocking while there is none.
class Semaphore {
public:
    explicit Semaphore(long value = 0) : value_(value) {}
    void signal();
    void wait();
    // false when the timeout passed without a unit.
    bool waitFor(std::chrono::nanoseconds timeout);
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex mutex_;  // guards value_
    std::condition_variable available_;
    long value_;
};

// Names the calling thread (15 characters are kept).
void setCurrentThreadName(const std::string& name);

}  // namespace pindle::dispatch
