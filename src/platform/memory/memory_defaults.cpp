#include <map>
#include <mutex>
#include <variant>

#include "platform/defaults.h"

namespace pindle {
namespace {

struct UrlText {
    std::string text;
};

class MemoryDefaults final : public Defaults {
public:
    bool contains(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        return values_.count(key) != 0;
    }

    std::optional<bool> boolForKey(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) {
            return std::nullopt;
        }
        if (auto* b = std::get_if<bool>(&it->second)) {
            return *b;
        }
        if (auto* i = std::get_if<int64_t>(&it->second)) {
            return *i != 0;
        }
        return std::nullopt;
    }

    std::optional<int64_t> integerForKey(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) {
            return std::nullopt;
        }
        if (auto* i = std::get_if<int64_t>(&it->second)) {
            return *i;
        }
        if (auto* b = std::get_if<bool>(&it->second)) {
            return *b ? 1 : 0;
        }
        return std::nullopt;
    }

    std::optional<std::string> stringForKey(const std::string& key) const override {
        return get<std::string>(key);
    }

    std::optional<Bytes> dataForKey(const std::string& key) const override {
        return get<Bytes>(key);
    }

    std::optional<std::string> urlForKey(const std::string& key) const override {
        if (auto url = get<UrlText>(key)) {
            return url->text;
        }
        return std::nullopt;
    }

    void setBool(const std::string& key, bool value) override { set(key, value); }
    void setInteger(const std::string& key, int64_t value) override { set(key, value); }
    void setString(const std::string& key, const std::string& value) override { set(key, value); }
    void setData(const std::string& key, const Bytes& value) override { set(key, value); }
    void setURL(const std::string& key, const std::string& url) override { set(key, UrlText{url}); }

    void remove(const std::string& key) override {
        std::lock_guard lock(mutex_);
        values_.erase(key);
    }

    bool synchronize() override { return true; }

private:
    using Value = std::variant<bool, int64_t, std::string, Bytes, UrlText>;

    template <typename T>
    std::optional<T> get(const std::string& key) const {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) {
            return std::nullopt;
        }
        if (auto* value = std::get_if<T>(&it->second)) {
            return *value;
        }
        return std::nullopt;
    }

    void set(const std::string& key, Value value) {
        std::lock_guard lock(mutex_);
        values_[key] = std::move(value);
    }

    mutable std::mutex mutex_;  // guards values_
    std::map<std::string, Value> values_;
};

}  // namespace

std::unique_ptr<Defaults> makeMemoryDefaults() {
    return std::make_unique<MemoryDefaults>();
}

}  // namespace pindle
