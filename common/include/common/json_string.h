#pragma once
// A JSON string literal for bytes that need not be UTF-8 (file names,
// 8-bit strings of a message): valid UTF-8 is written as it is, control
// characters escaped, and a byte that is not part of valid UTF-8 as the
// escape \udcXX (XX the byte), the convention of Python's
// "surrogateescape": the text stays JSON, and readers that know the
// convention (os.fsencode) get the bytes back exactly.

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace common {

namespace json_detail {

// The length of the valid UTF-8 sequence at s[i], or 0.
inline std::size_t validSequence(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + need >= s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) {
            return 0;
        }
    }
    return need + 1;
}

inline void appendEscape(std::string& out, unsigned code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
    out += buffer;
}

}  // namespace json_detail

// `text` as a JSON string literal, quotes included.
inline std::string jsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = json_detail::validSequence(text, i);
            if (length == 0) {
                json_detail::appendEscape(out, 0xDC00 + c);
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    json_detail::appendEscape(out, c);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
        ++i;
    }
    out.push_back('"');
    return out;
}
}  // namespace common
