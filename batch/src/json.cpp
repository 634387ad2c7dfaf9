#include "json.h"

#include <common/text.h>

namespace batch::json {

namespace {

// Inside the library's strings, a byte escaped as \udcXX travels as U+0001
// and the two hex digits XX; a U+0001 of the text itself as two U+0001.
// JSON strings hold U+0001 only as an escape (control characters must be
// escaped), so every U+0001 the library hands back is one of these.
constexpr char kMark = '\x01';

int hexValue(char c) {
    return common::hexDigitValue(static_cast<unsigned char>(c));
}

// The code unit of the escape \uXXXX at text[at], or -1 when none is there.
int escapedUnit(std::string_view text, std::size_t at) {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') {
        return -1;
    }
    int unit = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0) {
            return -1;
        }
        unit = unit * 16 + digit;
    }
    return unit;
}

bool isHigh(int unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLow(int unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// `text` with the report's byte escapes turned into the library's form, and
// other lone surrogates into U+FFFD, as a tolerant reader of the report
// takes them.
std::string carryByteEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const int unit = escapedUnit(text, i);
        if (unit < 0) {  // \n, \", \\ ... (or a broken escape the library refuses)
            out += text.substr(i, 2);
            ++i;
            continue;
        }
        if (unit >= 0xDC80 && unit <= 0xDCFF) {
            out += "\\u0001";
            out += text.substr(i + 4, 2);
        } else if (unit == 0x0001) {
            out += "\\u0001\\u0001";
        } else if (isHigh(unit) && isLow(escapedUnit(text, i + 6))) {
            out += text.substr(i, 12);
            i += 6;
        } else if (isHigh(unit) || isLow(unit)) {
            out += "\\ufffd";
        } else {
            out += text.substr(i, 6);
        }
        i += 5;
    }
    return out;
}

}  // namespace

std::optional<Value> parse(std::string_view text) {
    Value value = Value::parse(carryByteEscapes(text), nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> bytesOf(const Value& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    const auto& carried = value.get_ref<const std::string&>();
    std::string bytes;
    bytes.reserve(carried.size());
    for (std::size_t i = 0; i < carried.size(); ++i) {
        const bool mark = carried[i] == kMark;
        if (mark && i + 1 < carried.size() && carried[i + 1] == kMark) {
            bytes += kMark;
            ++i;
        } else if (mark && i + 2 < carried.size() && hexValue(carried[i + 1]) >= 0 &&
                   hexValue(carried[i + 2]) >= 0) {
            bytes += static_cast<char>(hexValue(carried[i + 1]) * 16 + hexValue(carried[i + 2]));
            i += 2;
        } else {
            bytes += carried[i];
        }
    }
    return bytes;
}

std::optional<std::string> stringMember(const Value& object, std::string_view name) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto found = object.find(name);
    return found == object.end() ? std::nullopt : bytesOf(*found);
}

std::optional<std::uint64_t> unsignedMember(const Value& object, std::string_view name) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    if (found->is_number_unsigned()) {
        return found->get<std::uint64_t>();
    }
    const auto value = found->get<std::int64_t>();
    return value < 0 ? std::nullopt : std::optional<std::uint64_t>(value);
}

std::optional<std::int64_t> integerMember(const Value& object, std::string_view name) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    return found->get<std::int64_t>();
}

}  // namespace batch::json
