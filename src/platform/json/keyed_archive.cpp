#include "platform/keyed_archive.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/file_url.h"

namespace pindle {

// Keys keep the order they were written in, so the archive header comes first and a record
// reads in its coding order.
using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kArchiverName = "PindleKeyedArchiver";
constexpr int kArchiveVersion = 1;
constexpr const char* kClassKey = "$class";
constexpr const char* kArrayClass = "NSMutableArray";
constexpr const char* kArrayObjectsKey = "NS.objects";
constexpr const char* kColorClass = "NSColor";
constexpr const char* kURLClass = "NSURL";
constexpr const char* kURLStringKey = "NS.string";

Json doubleValue(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    return value;
}

[[noreturn]] void fail(std::string_view key, const char* expected) {
    throw ArchiveError("value for \"" + std::string(key) + "\" is not " + expected);
}

double readDouble(const Json& value, std::string_view key) {
    if (value.is_number()) {
        return value.get<double>();
    }
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text == "nan") {
            return std::numeric_limits<double>::quiet_NaN();
        }
        if (text == "inf") {
            return std::numeric_limits<double>::infinity();
        }
        if (text == "-inf") {
            return -std::numeric_limits<double>::infinity();
        }
    }
    fail(key, "a number");
}

int64_t readInteger(const Json& value, std::string_view key, int64_t minimum, int64_t maximum) {
    int64_t result = 0;
    if (value.is_number_unsigned()) {
        uint64_t raw = value.get<uint64_t>();
        if (raw > uint64_t(std::numeric_limits<int64_t>::max())) {
            fail(key, "an integer in range");
        }
        result = int64_t(raw);
    } else if (value.is_number_integer()) {
        result = value.get<int64_t>();
    } else if (value.is_boolean()) {
        result = value.get<bool>() ? 1 : 0;
    } else {
        fail(key, "an integer");
    }
    if (result < minimum || result > maximum) {
        fail(key, "an integer in range");
    }
    return result;
}

const Json& member(const Json& object, const char* name, std::string_view key) {
    auto found = object.find(name);
    if (found == object.end()) {
        throw ArchiveError("value for \"" + std::string(key) + "\" lacks \"" + name + "\"");
    }
    return *found;
}

}  // namespace

std::string qualifiedClassName(std::string_view name) {
    std::string result(kArchiveModuleName);
    result += '.';
    result += name;
    return result;
}

// ---- KeyedArchiver

struct KeyedArchiver::State {
    Json document;
    // The containers being filled: the innermost last. Pointers into document, which
    // stay valid because a container is only added to while it is the innermost.
    std::vector<Json*> stack;
};

KeyedArchiver::KeyedArchiver() : state_(std::make_unique<State>()) {
    state_->document = Json::object();
    state_->document["$archiver"] = kArchiverName;
    state_->document["$version"] = kArchiveVersion;
    state_->document["$top"] = Json::object();
    state_->stack.push_back(&state_->document["$top"]);
}

KeyedArchiver::~KeyedArchiver() = default;

namespace {

Json& slot(std::vector<Json*>& stack, std::string_view key) {
    Json& container = *stack.back();
    if (container.is_array()) {
        container.push_back(nullptr);
        return container.back();
    }
    return container[std::string(key)];
}

}  // namespace

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    slot(state_->stack, key) = value;
}

void KeyedArchiver::encodeInt32(int32_t value, std::string_view key) {
    slot(state_->stack, key) = value;
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
    slot(state_->stack, key) = value;
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    slot(state_->stack, key) = doubleValue(value);
}

void KeyedArchiver::encodeString(std::string_view value, std::string_view key) {
    slot(state_->stack, key) = std::string(value);
}

void KeyedArchiver::encodeMediaTime(const MediaTime& value, std::string_view key) {
    slot(state_->stack, key) =
        Json{{"value", value.value}, {"timescale", value.timescale}, {"flags", value.flags}};
}

void KeyedArchiver::encodeSize(const Size& value, std::string_view key) {
    slot(state_->stack, key) =
        Json{{"width", doubleValue(value.width)}, {"height", doubleValue(value.height)}};
}

void KeyedArchiver::encodePoint(const Point& value, std::string_view key) {
    slot(state_->stack, key) = Json{{"x", doubleValue(value.x)}, {"y", doubleValue(value.y)}};
}

void KeyedArchiver::encodeColor(const Color& value, std::string_view key) {
    slot(state_->stack, key) = Json{{kClassKey, kColorClass},
                                    {"red", doubleValue(value.red)},
                                    {"green", doubleValue(value.green)},
                                    {"blue", doubleValue(value.blue)},
                                    {"alpha", doubleValue(value.alpha)}};
}

void KeyedArchiver::encodeURL(const std::filesystem::path& value, std::string_view key) {
    std::string absolute =
        value.is_absolute() ? value.string() : std::filesystem::absolute(value).string();
    slot(state_->stack, key) =
        Json{{kClassKey, kURLClass}, {kURLStringKey, fileURLFromPath(absolute)}};
}

void KeyedArchiver::beginObject(std::string_view key, std::string_view className) {
    Json& object = slot(state_->stack, key);
    object = Json::object();
    object[kClassKey] = std::string(className);
    state_->stack.push_back(&object);
}

void KeyedArchiver::endObject() {
    state_->stack.pop_back();
}

void KeyedArchiver::beginArray(std::string_view key) {
    Json& object = slot(state_->stack, key);
    object = Json{{kClassKey, kArrayClass}, {kArrayObjectsKey, Json::array()}};
    state_->stack.push_back(&object[kArrayObjectsKey]);
}

void KeyedArchiver::endArray() {
    state_->stack.pop_back();
}

std::string KeyedArchiver::archivedData() const {
    return state_->document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// ---- KeyedUnarchiver

struct KeyedUnarchiver::Document {
    Json root;
    // Decoding belongs to one thread; the document is shared only by its unarchivers.
    mutable std::vector<std::string> rejected;
};

std::vector<std::string> KeyedUnarchiver::rejectedRecords() const {
    return document_->rejected;
}

void KeyedUnarchiver::noteRejected(std::string reason) const {
    document_->rejected.push_back(std::move(reason));
}

KeyedUnarchiver::KeyedUnarchiver(std::shared_ptr<const Document> document, const void* node)
    : document_(std::move(document)), node_(node) {}

namespace {

constexpr const char* kIncompleteKey = "$incomplete";

// Builds the document like the plain parser, but keeps what was read before a syntax error
// (an archive cut short, or damaged in the middle): every object still open at the error
// is marked incomplete, so that its record is rejected while the complete ones before it
// stay readable.
class SalvagingBuilder final : public nlohmann::json_sax<Json> {
public:
    Json root;
    std::optional<std::string> error;

    bool null() override { return add(nullptr); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(value); }
    bool number_unsigned(number_unsigned_t value) override { return add(value); }
    bool number_float(number_float_t value, const string_t&) override { return add(value); }
    bool string(string_t& value) override { return add(std::move(value)); }
    bool binary(binary_t&) override { return add(nullptr); }
    bool start_object(std::size_t) override {
        open_.push_back(place(Json::object()));
        return true;
    }
    bool key(string_t& value) override {
        key_ = std::move(value);
        return true;
    }
    bool end_object() override {
        open_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        open_.push_back(place(Json::array()));
        return true;
    }
    bool end_array() override {
        open_.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception&) override {
        // Innermost first: adding a key to an object moves its members, so the containers
        // inside it must be marked before.
        for (auto container = open_.rbegin(); container != open_.rend(); ++container) {
            if ((*container)->is_object()) {
                (**container)[kIncompleteKey] = true;
            }
        }
        error = "the archive is cut short or malformed at byte " + std::to_string(position);
        return false;
    }

private:
    template <typename Value>
    bool add(Value&& value) {
        place(Json(std::forward<Value>(value)));
        return true;
    }
    // Containers on open_ keep their addresses: only the innermost one grows, and none of
    // its members is open.
    Json* place(Json value) {
        if (open_.empty()) {
            root = std::move(value);
            return &root;
        }
        Json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        Json& slot = parent[key_];
        slot = std::move(value);
        return &slot;
    }

    std::vector<Json*> open_;
    std::string key_;
};

}  // namespace

Result<KeyedUnarchiver> KeyedUnarchiver::forData(std::string_view data) {
    auto document = std::make_shared<Document>();
    SalvagingBuilder builder;
    Json::sax_parse(data.begin(), data.end(), &builder, nlohmann::detail::input_format_t::json,
                    true, true);
    document->root = std::move(builder.root);
    if (builder.error) {
        document->rejected.push_back(*builder.error);
    }
    const Json& root = document->root;
    if (!root.is_object() || root.value("$archiver", Json()) != kArchiverName) {
        return Error{"not a keyed archive"};
    }
    auto version = root.find("$version");
    if (version == root.end() || !version->is_number_integer() ||
        version->get<int64_t>() > kArchiveVersion) {
        return Error{"keyed archive of an unknown version"};
    }
    auto top = root.find("$top");
    if (top == root.end() || !top->is_object()) {
        return Error{"keyed archive without a top object"};
    }
    const void* node = &*top;
    return KeyedUnarchiver(std::move(document), node);
}

const void* KeyedUnarchiver::valueForKey(std::string_view key) const {
    const Json& object = *static_cast<const Json*>(node_);
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::string KeyedUnarchiver::className() const {
    const Json& object = *static_cast<const Json*>(node_);
    if (object.contains(kIncompleteKey)) {
        return {};  // a record cut short stands for no class
    }
    auto found = object.find(kClassKey);
    if (found == object.end() || !found->is_string()) {
        return {};
    }
    return found->get<std::string>();
}

void KeyedUnarchiver::requireClass(std::string_view name) const {
    std::string recorded = className();
    if (recorded != name) {
        throw ArchiveError("record of class \"" + recorded + "\" where \"" + std::string(name) +
                           "\" was expected");
    }
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
    return valueForKey(key) != nullptr;
}

bool KeyedUnarchiver::decodeBool(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    return value != nullptr && readInteger(*value, key, std::numeric_limits<int64_t>::min(),
                                           std::numeric_limits<int64_t>::max()) != 0;
}

int32_t KeyedUnarchiver::decodeInt32(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr) {
        return 0;
    }
    return int32_t(readInteger(*value, key, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max()));
}

int64_t KeyedUnarchiver::decodeInt64(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr) {
        return 0;
    }
    return readInteger(*value, key, std::numeric_limits<int64_t>::min(),
                       std::numeric_limits<int64_t>::max());
}

double KeyedUnarchiver::decodeDouble(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    return value == nullptr ? 0.0 : readDouble(*value, key);
}

double KeyedUnarchiver::decodeFloat(std::string_view key) const {
    return double(float(decodeDouble(key)));
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr || value->is_null()) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        fail(key, "a string");
    }
    return value->get<std::string>();
}

MediaTime KeyedUnarchiver::decodeMediaTime(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr) {
        return MediaTime::invalid();
    }
    if (!value->is_object()) {
        fail(key, "a media time");
    }
    MediaTime time;
    time.value = readInteger(member(*value, "value", key), key, std::numeric_limits<int64_t>::min(),
                             std::numeric_limits<int64_t>::max());
    time.timescale = int32_t(readInteger(member(*value, "timescale", key), key,
                                         std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<int32_t>::max()));
    time.flags = uint32_t(
        readInteger(member(*value, "flags", key), key, 0, std::numeric_limits<uint32_t>::max()));
    return time;
}

Size KeyedUnarchiver::decodeSize(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr) {
        return Size{};
    }
    if (!value->is_object()) {
        fail(key, "a size");
    }
    return Size{readDouble(member(*value, "width", key), key),
                readDouble(member(*value, "height", key), key)};
}

Point KeyedUnarchiver::decodePoint(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr) {
        return Point{};
    }
    if (!value->is_object()) {
        fail(key, "a point");
    }
    return Point{readDouble(member(*value, "x", key), key),
                 readDouble(member(*value, "y", key), key)};
}

std::optional<Color> KeyedUnarchiver::decodeColor(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr || value->is_null()) {
        return std::nullopt;
    }
    if (!value->is_object() || value->value(kClassKey, Json()) != kColorClass) {
        fail(key, "a colour");
    }
    return Color{readDouble(member(*value, "red", key), key),
                 readDouble(member(*value, "green", key), key),
                 readDouble(member(*value, "blue", key), key),
                 readDouble(member(*value, "alpha", key), key)};
}

std::optional<std::filesystem::path> KeyedUnarchiver::decodeURL(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr || value->is_null()) {
        return std::nullopt;
    }
    if (!value->is_object() || value->value(kClassKey, Json()) != kURLClass) {
        fail(key, "a URL");
    }
    const Json& text = member(*value, kURLStringKey, key);
    if (!text.is_string()) {
        fail(key, "a URL");
    }
    std::string path = pathFromFileURL(text.get<std::string>());
    if (path.empty()) {
        fail(key, "a file URL");
    }
    return std::filesystem::path(path);
}

std::optional<KeyedUnarchiver> KeyedUnarchiver::childObject(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr || value->is_null()) {
        return std::nullopt;
    }
    if (!value->is_object()) {
        fail(key, "an object");
    }
    return KeyedUnarchiver(document_, value);
}

std::optional<size_t> KeyedUnarchiver::arrayCount(std::string_view key) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    if (value == nullptr || value->is_null()) {
        return std::nullopt;
    }
    if (!value->is_object() || value->value(kClassKey, Json()) != kArrayClass) {
        fail(key, "an array");
    }
    const Json& objects = member(*value, kArrayObjectsKey, key);
    if (!objects.is_array()) {
        fail(key, "an array");
    }
    return objects.size();
}

KeyedUnarchiver KeyedUnarchiver::arrayElement(std::string_view key, size_t index) const {
    auto value = static_cast<const Json*>(valueForKey(key));
    const Json& element = value->at(kArrayObjectsKey).at(index);
    if (!element.is_object()) {
        throw ArchiveError("element " + std::to_string(index) + " of \"" + std::string(key) +
                           "\" is not an object");
    }
    return KeyedUnarchiver(document_, &element);
}

}  // namespace pindle
