#pragma once
// The JSON of the batch report, read by nlohmann-json and written by
// common::jsonString. File names are bytes and need not be UTF-8: the
// writer keeps a byte that is not part of valid UTF-8 as the lone-surrogate
// escape \udcXX, which the JSON library refuses. parse() carries those
// escapes through the library in an escape of its own, and bytesOf() turns
// them back into their bytes, so every name reads back exactly as it was.

#include <common/json_string.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace batch::json {

using Value = nlohmann::json;

// `text` as a JSON string literal, quotes included.
inline std::string quote(std::string_view text) {
    return common::jsonString(text);
}

// One JSON text; no value when it is not exactly one JSON value (white space
// around it allowed).
std::optional<Value> parse(std::string_view text);

// The bytes of a string value read by parse(); no value for another kind.
std::optional<std::string> bytesOf(const Value& value);

// Members of an object: no value when `object` has no such member or it is
// of another kind.
std::optional<std::string> stringMember(const Value& object, std::string_view name);
std::optional<std::uint64_t> unsignedMember(const Value& object, std::string_view name);
std::optional<std::int64_t> integerMember(const Value& object, std::string_view name);

}  // namespace batch::json
