#pragma once

#include <functional>
#include <memory>
#include <string>

namespace pindle {

struct Notification {
    std::string name;
    const void* sender = nullptr;  // identity of the posting object; never dereferenced here
};

// Delivers named notifications on the main queue.
//
// post() may be called from any thread: delivery is always asynchronous, on the main queue,
// after the posting call has returned, to the observers registered when it is delivered.
// An observer stays registered while its Token lives; dropping the token unsubscribes, and
// a delivery already queued then skips it.
class NotificationCenter {
public:
    class Token {
    public:
        Token() = default;
        Token(Token&&) noexcept = default;
        Token& operator=(Token&& other) noexcept;
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;
        ~Token() { reset(); }
        void reset();
        bool isActive() const { return entry_ != nullptr; }

    private:
        friend class NotificationCenter;
        struct Entry;
        Token(std::weak_ptr<void> state, std::shared_ptr<Entry> entry)
            : state_(std::move(state)), entry_(std::move(entry)) {}
        std::weak_ptr<void> state_;
        std::shared_ptr<Entry> entry_;
    };

    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    // sender null observes the name from every sender.
    [[nodiscard]] Token addObserver(std::string name, const void* sender, Handler handler);
    void post(std::string name, const void* sender);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace pindle
