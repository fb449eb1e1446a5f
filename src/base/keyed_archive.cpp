#include "base/keyed_archive.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/file_url.h"

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
//
// The archiver writes the JSON text as it goes (no document in memory): saving the library
// happens after every change, on the main thread.

namespace {

// Appends text as a JSON string; invalid UTF-8 sequences become U+FFFD.
void appendQuoted(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += char(c);
            } else if (c < 0x20) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += char(c);
            }
            ++i;
            continue;
        }
        // Length of the sequence and the least code point it may encode.
        size_t length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 0;
        uint32_t codePoint = length == 4 ? c & 0x07u : length == 3 ? c & 0x0fu : c & 0x1fu;
        bool valid = length != 0 && c <= 0xf4 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xc0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3fu);
        }
        static constexpr uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && codePoint >= kLeast[length] && codePoint <= 0x10ffff &&
                (codePoint < 0xd800 || codePoint > 0xdfff);
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xef\xbf\xbd";
            ++i;
        }
    }
    out += '"';
}

void appendDouble(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "\"nan\"";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "\"inf\"" : "\"-inf\"";
        return;
    }
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    std::string_view written(text, size_t(end - text));
    out += written;
    // Without a fraction or exponent the reader would take "-0" for the integer 0.
    if (written.find_first_of(".e") == std::string_view::npos) {
        out += ".0";
    }
}

template <typename Integer>
void appendInteger(std::string& out, Integer value) {
    char text[24];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    out.append(text, size_t(end - text));
}

}  // namespace

struct KeyedArchiver::State {
    std::string out;
    // One entry per open container: whether it is an array, and whether it has members.
    struct Container {
        bool isArray;
        bool hasMembers;
    };
    std::vector<Container> open;

    // Starts the next value of the innermost container: separator and, in an object, key.
    std::string& slot(std::string_view key) {
        Container& container = open.back();
        if (container.hasMembers) {
            out += ',';
        }
        container.hasMembers = true;
        if (!container.isArray) {
            appendQuoted(out, key);
            out += ':';
        }
        return out;
    }
    void openContainer(bool isArray) {
        out += isArray ? '[' : '{';
        open.push_back(Container{isArray, false});
    }
    void closeContainer() {
        out += open.back().isArray ? ']' : '}';
        open.pop_back();
    }
};

KeyedArchiver::KeyedArchiver() : state_(std::make_unique<State>()) {
    state_->out.reserve(4096);
    state_->openContainer(false);
    appendQuoted(state_->slot("$archiver"), kArchiverName);
    appendInteger(state_->slot("$version"), kArchiveVersion);
    state_->slot("$top");
    state_->openContainer(false);
}

KeyedArchiver::~KeyedArchiver() = default;

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    state_->slot(key) += value ? "true" : "false";
}

void KeyedArchiver::encodeInt32(int32_t value, std::string_view key) {
    appendInteger(state_->slot(key), value);
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
    appendInteger(state_->slot(key), value);
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    appendDouble(state_->slot(key), value);
}

void KeyedArchiver::encodeString(std::string_view value, std::string_view key) {
    appendQuoted(state_->slot(key), value);
}

void KeyedArchiver::encodeMediaTime(const MediaTime& value, std::string_view key) {
    std::string& out = state_->slot(key);
    out += "{\"value\":";
    appendInteger(out, value.value);
    out += ",\"timescale\":";
    appendInteger(out, value.timescale);
    out += ",\"flags\":";
    appendInteger(out, value.flags);
    out += '}';
}

void KeyedArchiver::encodeSize(const Size& value, std::string_view key) {
    std::string& out = state_->slot(key);
    out += "{\"width\":";
    appendDouble(out, value.width);
    out += ",\"height\":";
    appendDouble(out, value.height);
    out += '}';
}

void KeyedArchiver::encodePoint(const Point& value, std::string_view key) {
    std::string& out = state_->slot(key);
    out += "{\"x\":";
    appendDouble(out, value.x);
    out += ",\"y\":";
    appendDouble(out, value.y);
    out += '}';
}

void KeyedArchiver::encodeColor(const Color& value, std::string_view key) {
    std::string& out = state_->slot(key);
    out += "{\"$class\":\"NSColor\",\"red\":";
    appendDouble(out, value.red);
    out += ",\"green\":";
    appendDouble(out, value.green);
    out += ",\"blue\":";
    appendDouble(out, value.blue);
    out += ",\"alpha\":";
    appendDouble(out, value.alpha);
    out += '}';
}

void KeyedArchiver::encodeURL(const std::filesystem::path& value, std::string_view key) {
    std::error_code error;
    std::string absolute =
        value.is_absolute() ? value.string() : std::filesystem::absolute(value, error).string();
    if (error) {
        absolute = value.string();  // the working folder is gone
    }
    std::string& out = state_->slot(key);
    out += "{\"$class\":\"NSURL\",\"NS.string\":";
    appendQuoted(out, fileURLFromPath(absolute));
    out += '}';
}

void KeyedArchiver::beginObject(std::string_view key, std::string_view className) {
    state_->slot(key);
    state_->openContainer(false);
    appendQuoted(state_->slot(kClassKey), className);
}

void KeyedArchiver::endObject() {
    state_->closeContainer();
}

void KeyedArchiver::beginArray(std::string_view key) {
    state_->slot(key);
    state_->openContainer(false);
    appendQuoted(state_->slot(kClassKey), kArrayClass);
    state_->slot(kArrayObjectsKey);
    state_->openContainer(true);
}

void KeyedArchiver::endArray() {
    state_->closeContainer();
    state_->closeContainer();
}

std::string KeyedArchiver::archivedData() const {
    std::string text = state_->out;
    for (auto container = state_->open.rbegin(); container != state_->open.rend(); ++container) {
        text += container->isArray ? ']' : '}';
    }
    return text;
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
// Archives the program writes are a handful of levels deep.
constexpr size_t kMaxArchiveDepth = 256;

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
        if (tooDeep()) {
            return false;
        }
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
        if (tooDeep()) {
            return false;
        }
        open_.push_back(place(Json::array()));
        return true;
    }
    bool end_array() override {
        open_.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception&) override {
        markOpenContainersIncomplete();
        error = "the archive is cut short or malformed at byte " + std::to_string(position);
        return false;
    }

private:
    // Copying, comparing or printing a value recurses once per level, so a document nested
    // deeper than any archive is (a million levels fit in a small file) would overflow the
    // stack later. Reading stops at the limit, as at a syntax error.
    bool tooDeep() {
        if (open_.size() < kMaxArchiveDepth) {
            return false;
        }
        markOpenContainersIncomplete();
        error =
            "the archive is nested more than " + std::to_string(kMaxArchiveDepth) + " levels deep";
        return true;
    }
    void markOpenContainersIncomplete() {
        // Innermost first: adding a key to an object moves its members, so the containers
        // inside it must be marked before.
        for (auto container = open_.rbegin(); container != open_.rend(); ++container) {
            if ((*container)->is_object()) {
                (**container)[kIncompleteKey] = true;
            }
        }
    }

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
