#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/color.h"
#include "base/geometry.h"
#include "base/media_time.h"
#include "base/result.h"

// The keyed archive: a JSON document that records, for every archived object, its class
// name and its values by key.
//
//   {"$archiver": "PindleKeyedArchiver", "$version": 1,
//    "$top": {"root": {"$class": "NSMutableArray", "NS.objects": [
//        {"$class": "RCRecording", "url": {"$class": "NSURL", "NS.string": "file:///..."},
//         "editParameters": {"$class": "RCEditParameters", ...}}]}}}
//
// Values are coded losslessly: integers as JSON integers, doubles in their shortest exact
// decimal form (NaN and the infinities as the strings "nan", "inf", "-inf"), media times as
// {"value", "timescale", "flags"}, sizes as {"width", "height"}, points as {"x", "y"},
// colours as objects of class "NSColor" with "red", "green", "blue" and "alpha".
//
// An archivable class T provides
//   const char* className() const;                         // as recorded
//   void encodeWithCoder(KeyedArchiver&) const;
//   static std::shared_ptr<T> initWithCoder(KeyedUnarchiver&);
// initWithCoder throws ArchiveError for a record it cannot accept and may return null for
// a record that stands for nothing (it is then left out of its array).
namespace pindle {

// Why a record of an archive could not be decoded.
class ArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The module that qualifies the class names of the caption and animation classes.
inline constexpr std::string_view kArchiveModuleName = "PINDLE_CAPTURE";
// "PINDLE_CAPTURE." + name.
std::string qualifiedClassName(std::string_view name);

class KeyedArchiver {
public:
    KeyedArchiver();
    ~KeyedArchiver();
    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

    // The root object is coded under this key.
    static constexpr const char* kRootKey = "root";

    void encodeBool(bool value, std::string_view key);
    void encodeInt32(int32_t value, std::string_view key);
    void encodeInt64(int64_t value, std::string_view key);
    void encodeDouble(double value, std::string_view key);
    void encodeString(std::string_view value, std::string_view key);
    void encodeMediaTime(const MediaTime& value, std::string_view key);
    void encodeSize(const Size& value, std::string_view key);
    void encodePoint(const Point& value, std::string_view key);
    void encodeColor(const Color& value, std::string_view key);
    // A file path, coded as a "file://" address.
    void encodeURL(const std::filesystem::path& value, std::string_view key);

    // Nothing is coded for a null object.
    template <typename T>
    void encodeObject(const T* object, std::string_view key) {
        if (object == nullptr) {
            return;
        }
        beginObject(key, object->className());
        object->encodeWithCoder(*this);
        endObject();
    }

    // An array object ("NSMutableArray") of the elements; null elements are left out.
    template <typename T>
    void encodeArray(const std::vector<std::shared_ptr<T>>& objects, std::string_view key) {
        beginArray(key);
        for (const auto& object : objects) {
            encodeObject(object.get(), {});
        }
        endArray();
    }

    // The document, as UTF-8 text.
    std::string archivedData() const;

    // The low-level steps of encodeObject and encodeArray. Inside an array the key is
    // ignored.
    void beginObject(std::string_view key, std::string_view className);
    void endObject();
    void beginArray(std::string_view key);
    void endArray();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Reads one object of a keyed archive. Values that are absent read as zero, the invalid
// media time, or nothing; values of the wrong kind throw ArchiveError.
class KeyedUnarchiver {
public:
    // The root object of an archive document: an Error when data is no archive. An archive
    // cut short or malformed part-way yields what was complete before the damage; the
    // records that were still open are rejected and rejectedRecords() is not empty. An
    // archive nested more than 256 levels deep is read like one cut short where it gets
    // that deep.
    static Result<KeyedUnarchiver> forData(std::string_view data);

    // The class recorded for this object ("" when none).
    std::string className() const;
    // Throws ArchiveError unless the recorded class is name.
    void requireClass(std::string_view name) const;
    bool containsValueForKey(std::string_view key) const;

    bool decodeBool(std::string_view key) const;
    // Throws for a value that does not fit.
    int32_t decodeInt32(std::string_view key) const;
    int64_t decodeInt64(std::string_view key) const;
    double decodeDouble(std::string_view key) const;
    // The stored double narrowed to single precision (and widened back).
    double decodeFloat(std::string_view key) const;
    std::optional<std::string> decodeString(std::string_view key) const;
    MediaTime decodeMediaTime(std::string_view key) const;
    Size decodeSize(std::string_view key) const;
    Point decodePoint(std::string_view key) const;
    std::optional<Color> decodeColor(std::string_view key) const;
    std::optional<std::filesystem::path> decodeURL(std::string_view key) const;

    // Null when the key is absent.
    template <typename T>
    std::shared_ptr<T> decodeObject(std::string_view key) const {
        auto child = childObject(key);
        if (!child) {
            return nullptr;
        }
        return T::initWithCoder(*child);
    }

    // Called for each element that could not be decoded, with its index; the element is
    // left out and counted in rejectedRecords(). Without a handler the error is thrown on.
    using ElementErrorHandler = std::function<void(const ArchiveError&, size_t index)>;

    // Nothing when the key is absent; throws when the value is not an array object.
    template <typename T>
    std::optional<std::vector<std::shared_ptr<T>>> decodeArray(
        std::string_view key, const ElementErrorHandler& onError = {}) const {
        auto count = arrayCount(key);
        if (!count) {
            return std::nullopt;
        }
        std::vector<std::shared_ptr<T>> objects;
        objects.reserve(*count);
        for (size_t i = 0; i < *count; ++i) {
            try {
                auto element = arrayElement(key, i);
                if (auto object = T::initWithCoder(element)) {
                    objects.push_back(std::move(object));
                }
            } catch (const ArchiveError& error) {
                if (!onError) {
                    throw;
                }
                noteRejected(error.what());
                onError(error, i);
            }
        }
        return objects;
    }

    // Why each record left out so far, anywhere in this archive, was rejected.
    std::vector<std::string> rejectedRecords() const;
    void noteRejected(std::string reason) const;

    // The low-level steps of decodeObject and decodeArray.
    std::optional<KeyedUnarchiver> childObject(std::string_view key) const;
    std::optional<size_t> arrayCount(std::string_view key) const;
    KeyedUnarchiver arrayElement(std::string_view key, size_t index) const;

private:
    struct Document;
    KeyedUnarchiver(std::shared_ptr<const Document> document, const void* node);
    const void* valueForKey(std::string_view key) const;

    std::shared_ptr<const Document> document_;
    const void* node_;  // the JSON object of this record, owned by document_
};

}  // namespace pindle
