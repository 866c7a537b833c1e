#pragma once

#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Url.h"
#include "SyncModel/Support/Uuid.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Objects keep their members in the order they were written.
using Json = nlohmann::ordered_json;

// A stored document that cannot be read: a missing key, a null where a value
// is required, a value of the wrong JSON type, or malformed content.
class DecodingError : public std::exception {
public:
    enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };

    DecodingError(Kind kind, std::string codingPath, std::string debugDescription);

    Kind kind() const { return kind_; }
    // Where in the document, e.g. "jobs[2].source.volume.kind" (empty at the top).
    const std::string& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string codingPath_;
    std::string debugDescription_;
    std::string message_;
};

// A value that cannot be written as JSON (text that is not valid UTF-8).
class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Names of an enumeration whose cases are stored as words. Specialise with
// `static constexpr std::array<std::string_view, N> names` listing the words
// in the order of the enumerators (which must run 0, 1, 2 …).
template <class E>
struct EnumNames;

template <class E>
constexpr std::string_view enumName(E value) {
    return EnumNames<E>::names[static_cast<std::size_t>(value)];
}

template <class E>
constexpr std::optional<E> enumFromName(std::string_view name) {
    const auto& names = EnumNames<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<E>(i);
    return std::nullopt;
}

// How a type is written to and read from JSON. Specialise with
// `static Json encode(const T&)` and `static T decode(const JsonIn&)`.
template <class T>
struct JsonCodec;

// A JSON value being read, with its coding path for error reports. Reading
// follows the stored-file rules: no defaults, unknown keys ignored, an
// optional key that is missing or null is absent.
class JsonIn {
public:
    explicit JsonIn(const Json& value, std::string path = {}) : value_(&value), path_(std::move(path)) {}

    const Json& json() const { return *value_; }
    const std::string& path() const { return path_; }

    // Members of an object. The object check happens on access.
    JsonIn operator[](std::string_view key) const;            // required: missing or null fails
    std::optional<JsonIn> optional(std::string_view key) const;  // missing or null gives nullopt
    bool contains(std::string_view key) const;                 // present, even when null
    void expectObject() const;

    std::vector<JsonIn> array() const;

    std::string string() const;
    bool boolean() const;
    std::int64_t int64() const;
    std::uint64_t uint64() const;
    double number() const;
    Uuid uuid() const;
    Date date() const;
    std::string base64() const;
    Url url() const;

    template <class E>
    E enumeration() const {
        const std::string text = string();
        if (auto value = enumFromName<E>(text)) return *value;
        fail(DecodingError::Kind::dataCorrupted, "Cannot initialize from invalid value " + text);
    }

    template <class T>
    T as() const {
        return JsonCodec<T>::decode(*this);
    }

    template <class T>
    std::vector<T> arrayOf() const {
        std::vector<T> out;
        for (const JsonIn& element : array()) out.push_back(element.as<T>());
        return out;
    }

    [[noreturn]] void fail(DecodingError::Kind kind, std::string description) const;
    [[noreturn]] void typeMismatch(std::string_view expected) const;

private:
    JsonIn child(const Json& value, std::string_view key) const;

    const Json* value_;
    std::string path_;
};

namespace JsonText {

// Parses a whole document; anything but one JSON value fails with
// DecodingError (dataCorrupted).
Json parse(std::string_view bytes);

// Compact output, no white space. Throws EncodingError for invalid UTF-8.
std::string dump(const Json& value);

template <class T>
std::string encode(const T& value) {
    return dump(JsonCodec<T>::encode(value));
}

template <class T>
T decode(std::string_view bytes) {
    const Json document = parse(bytes);
    return JsonCodec<T>::decode(JsonIn(document));
}

}  // namespace JsonText

template <class T>
struct JsonCodec<std::vector<T>> {
    static Json encode(const std::vector<T>& values) {
        Json out = Json::array();
        for (const T& value : values) out.push_back(JsonCodec<T>::encode(value));
        return out;
    }
    static std::vector<T> decode(const JsonIn& in) { return in.arrayOf<T>(); }
};

// Writes a word-valued enumeration.
template <class E>
Json encodeEnum(E value) {
    return Json(std::string(enumName(value)));
}

Json encodeUuid(const Uuid& value);
Json encodeDate(Date value);
Json encodeBase64(std::string_view bytes);

}  // namespace kelto
