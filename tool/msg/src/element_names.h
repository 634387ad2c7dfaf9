#pragma once
// How the message model spells property identifiers and element names.
// Private to the msg library.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tool::names {

// Four upper-case hex digits, as identifiers are written in element names.
inline std::string hex4(std::uint16_t v) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(v));
    return buf;
}

inline bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Four hex digits of either case, or nothing.
inline std::optional<std::uint16_t> parseHex4(std::string_view s) {
    if (s.size() != 4)
        return std::nullopt;
    unsigned v = 0;
    for (char c : s) {
        v <<= 4;
        if (c >= '0' && c <= '9') {
            v |= static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            v |= static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            v |= static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::uint16_t>(v);
}

}  // namespace tool::names
