#pragma once
// The JSON of the batch report: strings are written by common::jsonString
// (file names are bytes and need not be UTF-8: a byte outside valid UTF-8
// becomes \udcXX), and this reader reads the report's own lines back,
// \udcXX escapes turned back into their bytes.

#include <common/json_string.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace batch::json {

// `text` as a JSON string literal, quotes included.
inline std::string quote(std::string_view text) {
    return common::jsonString(text);
}

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;  // bytes, \udcXX escapes turned back into their byte
    std::vector<Value> array;
    std::map<std::string, Value> object;

    // The member `name` of an object, or null.
    const Value* member(std::string_view name) const;
    const std::string* stringMember(std::string_view name) const;
    std::optional<double> numberMember(std::string_view name) const;
};

// Parses one JSON text; no value when it is not exactly one JSON value
// (surrounding white space allowed) or nests deeper than 64.
std::optional<Value> parse(std::string_view text);

}  // namespace batch::json
