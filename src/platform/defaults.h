#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pindle {

using Bytes = std::vector<uint8_t>;

// The per-user defaults store: typed values under string keys.
//
// A getter returns nothing when the key is absent or its value cannot be read as the asked
// type. URL values are kept as their text ("file:///..."). Writes take effect in memory at
// once; synchronize() makes them durable.
class Defaults {
public:
    virtual ~Defaults() = default;

    virtual bool contains(const std::string& key) const = 0;
    virtual std::optional<bool> boolForKey(const std::string& key) const = 0;
    virtual std::optional<int64_t> integerForKey(const std::string& key) const = 0;
    virtual std::optional<std::string> stringForKey(const std::string& key) const = 0;
    virtual std::optional<Bytes> dataForKey(const std::string& key) const = 0;
    virtual std::optional<std::string> urlForKey(const std::string& key) const = 0;

    virtual void setBool(const std::string& key, bool value) = 0;
    virtual void setInteger(const std::string& key, int64_t value) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void setData(const std::string& key, const Bytes& value) = 0;
    virtual void setURL(const std::string& key, const std::string& url) = 0;
    virtual void remove(const std::string& key) = 0;

    // false when the values could not be written.
    virtual bool synchronize() = 0;
};

// Defaults held in memory only: for tests and for command-line runs that must not touch
// the user's settings.
std::unique_ptr<Defaults> makeMemoryDefaults();

}  // namespace pindle
