#pragma once
// A JSON string literal for bytes that need not be UTF-8 (file names,
// 8-bit strings of a message): valid UTF-8 is written as it is, control
// characters escaped, and a byte that is not part of valid UTF-8 as the
// escape \udcXX (XX the byte), the convention of Python's
// "surrogateescape": the text stays JSON, and readers that know the
// convention (os.fsencode) get the bytes back exactly.

#include "common/text.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace common {

namespace json_detail {

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
            const std::size_t length = utf8StepAt(text, i).length;
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
