#include "base/notifications.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "base/dispatch.h"

namespace pindle {

struct NotificationCenter::Token::Entry {
    std::string name;
    const void* sender;
    Handler handler;
    std::atomic<bool> active{true};
};

struct NotificationCenter::State {
    std::mutex mutex;  // guards entries
    std::vector<std::shared_ptr<Token::Entry>> entries;
};

NotificationCenter::Token& NotificationCenter::Token::operator=(Token&& other) noexcept {
    if (this != &other) {
        reset();
        state_ = std::move(other.state_);
        entry_ = std::move(other.entry_);
    }
    return *this;
}

void NotificationCenter::Token::reset() {
    if (!entry_) {
        return;
    }
    entry_->active = false;
    if (auto state = std::static_pointer_cast<State>(state_.lock())) {
        std::lock_guard lock(state->mutex);
        std::erase(state->entries, entry_);
    }
    entry_.reset();
    state_.reset();
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter;
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* sender,
                                                          Handler handler) {
    auto entry = std::make_shared<Token::Entry>();
    entry->name = std::move(name);
    entry->sender = sender;
    entry->handler = std::move(handler);
    {
        std::lock_guard lock(state_->mutex);
        state_->entries.push_back(entry);
    }
    return Token(std::weak_ptr<void>(state_), std::move(entry));
}

void NotificationCenter::post(std::string name, const void* sender) {
    std::weak_ptr<State> weakState = state_;
    dispatch::mainQueue()->async([weakState, name = std::move(name), sender] {
        auto state = weakState.lock();
        if (!state) {
            return;
        }
        std::vector<std::shared_ptr<Token::Entry>> matching;
        {
            std::lock_guard lock(state->mutex);
            for (const auto& entry : state->entries) {
                if (entry->name == name && (entry->sender == nullptr || entry->sender == sender)) {
                    matching.push_back(entry);
                }
            }
        }
        Notification notification{name, sender};
        for (const auto& entry : matching) {
            if (entry->active) {
                entry->handler(notification);
            }
        }
    });
}

}  // namespace pindle
