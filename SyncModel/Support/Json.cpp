#include "SyncModel/Support/Json.h"

#include "SyncModel/Support/Base64.h"

#include <cmath>
#include <limits>

namespace kelto {

namespace {
std::string kindSentence(DecodingError::Kind kind) {
    switch (kind) {
        case DecodingError::Kind::keyNotFound:
        case DecodingError::Kind::valueNotFound:
            return "The data couldn’t be read because it is missing.";
        case DecodingError::Kind::typeMismatch:
        case DecodingError::Kind::dataCorrupted:
            break;
    }
    return "The data couldn’t be read because it isn’t in the correct format.";
}

std::string typeName(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::object: return "a dictionary";
        case Json::value_t::array: return "an array";
        case Json::value_t::string: return "a string";
        case Json::value_t::boolean: return "a boolean";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float: return "a number";
        default: return "an unknown value";
    }
}
}  // namespace

DecodingError::DecodingError(Kind kind, std::string codingPath, std::string debugDescription)
    : kind_(kind), codingPath_(std::move(codingPath)), debugDescription_(std::move(debugDescription)) {
    message_ = kindSentence(kind_) + " (" + (codingPath_.empty() ? std::string("top level") : codingPath_) + ": " +
               debugDescription_ + ")";
}

void JsonIn::fail(DecodingError::Kind kind, std::string description) const {
    throw DecodingError(kind, path_, std::move(description));
}

void JsonIn::typeMismatch(std::string_view expected) const {
    if (value_->is_null())
        fail(DecodingError::Kind::valueNotFound, "Expected " + std::string(expected) + " value but found null instead.");
    fail(DecodingError::Kind::typeMismatch,
         "Expected to decode " + std::string(expected) + " but found " + typeName(*value_) + " instead.");
}

JsonIn JsonIn::child(const Json& value, std::string_view key) const {
    std::string path = path_;
    if (!path.empty()) path += '.';
    path += key;
    return JsonIn(value, std::move(path));
}

void JsonIn::expectObject() const {
    if (!value_->is_object()) typeMismatch("Dictionary");
}

JsonIn JsonIn::operator[](std::string_view key) const {
    expectObject();
    const auto it = value_->find(std::string(key));
    if (it == value_->end())
        fail(DecodingError::Kind::keyNotFound, "No value associated with key \"" + std::string(key) + "\".");
    JsonIn member = child(*it, key);
    if (it->is_null()) member.fail(DecodingError::Kind::valueNotFound, "Expected a value but found null instead.");
    return member;
}

std::optional<JsonIn> JsonIn::optional(std::string_view key) const {
    expectObject();
    const auto it = value_->find(std::string(key));
    if (it == value_->end() || it->is_null()) return std::nullopt;
    return child(*it, key);
}

bool JsonIn::contains(std::string_view key) const {
    expectObject();
    return value_->find(std::string(key)) != value_->end();
}

std::vector<JsonIn> JsonIn::array() const {
    if (!value_->is_array()) typeMismatch("Array");
    std::vector<JsonIn> out;
    out.reserve(value_->size());
    std::size_t index = 0;
    for (const Json& element : *value_) out.emplace_back(element, path_ + "[" + std::to_string(index++) + "]");
    return out;
}

std::string JsonIn::string() const {
    if (!value_->is_string()) typeMismatch("String");
    return value_->get_ref<const std::string&>();
}

bool JsonIn::boolean() const {
    if (!value_->is_boolean()) typeMismatch("Bool");
    return value_->get<bool>();
}

std::int64_t JsonIn::int64() const {
    if (value_->is_number_unsigned()) {
        const auto v = value_->get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            fail(DecodingError::Kind::dataCorrupted, "Number " + value_->dump() + " does not fit in Int64.");
        return static_cast<std::int64_t>(v);
    }
    if (value_->is_number_integer()) return value_->get<std::int64_t>();
    if (value_->is_number_float()) {
        const double d = value_->get<double>();
        // 2^63 is the first double past the range.
        if (std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
        fail(DecodingError::Kind::dataCorrupted, "Number " + value_->dump() + " does not fit in Int64.");
    }
    typeMismatch("Int64");
}

std::uint64_t JsonIn::uint64() const {
    if (value_->is_number_unsigned()) return value_->get<std::uint64_t>();
    if (value_->is_number_integer())
        fail(DecodingError::Kind::dataCorrupted, "Number " + value_->dump() + " does not fit in UInt64.");
    if (value_->is_number_float()) {
        const double d = value_->get<double>();
        if (std::trunc(d) == d && d >= 0 && d < 18446744073709551616.0) return static_cast<std::uint64_t>(d);
        fail(DecodingError::Kind::dataCorrupted, "Number " + value_->dump() + " does not fit in UInt64.");
    }
    typeMismatch("UInt64");
}

double JsonIn::number() const {
    if (!value_->is_number()) typeMismatch("Double");
    return value_->get<double>();
}

Uuid JsonIn::uuid() const {
    const std::string text = string();
    if (auto value = Uuid::parse(text)) return *value;
    fail(DecodingError::Kind::dataCorrupted, "Attempted to decode UUID from invalid UUID string.");
}

Date JsonIn::date() const { return Date{number()}; }

std::string JsonIn::base64() const {
    const std::string text = string();
    if (auto bytes = Base64::decode(text)) return *bytes;
    fail(DecodingError::Kind::dataCorrupted, "Encountered Data is not valid Base64.");
}

Url JsonIn::url() const {
    const std::string text = string();
    if (auto value = Url::parse(text)) return *value;
    fail(DecodingError::Kind::dataCorrupted, "Invalid URL string.");
}

Json encodeUuid(const Uuid& value) { return Json(value.string()); }
Json encodeDate(Date value) { return Json(value.sinceReference); }
Json encodeBase64(std::string_view bytes) { return Json(Base64::encode(bytes)); }

namespace JsonText {

Json parse(std::string_view bytes) {
    Json document = Json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded())
        throw DecodingError(DecodingError::Kind::dataCorrupted, {}, "The given data was not valid JSON.");
    return document;
}

std::string dump(const Json& value) {
    try {
        return value.dump();
    } catch (const Json::type_error& error) {
        throw EncodingError(std::string("Could not write JSON: ") + error.what());
    }
}

}  // namespace JsonText
}  // namespace kelto
