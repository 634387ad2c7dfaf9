#pragma once
// Text conversions for format readers: UTF-8 <-> UTF-16 with the replacement
// character U+FFFD for anything that does not decode. Never throws on bad
// input; output is always valid UTF-8.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace common {

inline void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The value of a hexadecimal digit (either case), or -1.
constexpr int hexDigitValue(char32_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<int>(c - 'A' + 10);
    }
    return -1;
}

// One step of strict UTF-8 decoding (no overlong forms, no surrogates,
// nothing above U+10FFFF) at bytes[at], at < bytes.size(): the code point and
// the length of the valid sequence there; or length 0 when none begins there,
// and then `skip` is the length of the maximal ill-formed subsequence, which
// a decoder replaces by one U+FFFD as the Unicode standard recommends.
struct Utf8Step {
    char32_t codePoint = kReplacementCharacter;
    std::size_t length = 0;
    std::size_t skip = 1;
};

inline Utf8Step utf8StepAt(std::string_view bytes, std::size_t at) {
    const auto b0 = static_cast<std::uint8_t>(bytes[at]);
    if (b0 < 0x80) {
        return {b0, 1, 1};
    }
    std::size_t need = 0;
    char32_t cp = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0Fu;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07u;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {};
    }
    std::size_t j = 1;
    for (; j <= need && at + j < bytes.size(); ++j) {
        const auto b = static_cast<std::uint8_t>(bytes[at + j]);
        if (b < (j == 1 ? lo : 0x80) || b > (j == 1 ? hi : 0xBF)) {
            break;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (j <= need) {
        return {kReplacementCharacter, 0, j};
    }
    return {cp, need + 1, need + 1};
}

inline bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Step step = utf8StepAt(bytes, i);
        if (step.length == 0) {
            return false;
        }
        i += step.length;
    }
    return true;
}

// Decodes UTF-8 bytes. Each maximal ill-formed subsequence (an invalid lead
// byte, a truncated sequence, an overlong form, a surrogate) becomes one
// U+FFFD, as the Unicode standard recommends.
inline std::string decodeUtf8(std::span<const std::uint8_t> in) {
    const std::string_view bytes(reinterpret_cast<const char*>(in.data()), in.size());
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Step step = utf8StepAt(bytes, i);
        if (step.length > 0) {
            out.append(bytes.substr(i, step.length));
        } else {
            appendUtf8(out, kReplacementCharacter);
        }
        i += step.skip;
    }
    return out;
}

// Decodes UTF-16 code units; an unpaired surrogate becomes U+FFFD.
inline std::string utf16ToUtf8(std::u16string_view in) {
    std::string out;
    if (std::all_of(in.begin(), in.end(), [](char16_t u) { return u < 0x80; })) {
        out.resize(in.size());
        std::transform(in.begin(), in.end(), out.begin(),
                       [](char16_t u) { return static_cast<char>(u); });
        return out;
    }
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char16_t u = in[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
                const char32_t cp =
                    0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
                appendUtf8(out, cp);
                ++i;
            } else {
                appendUtf8(out, kReplacementCharacter);
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            appendUtf8(out, kReplacementCharacter);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

// Decodes UTF-16 little-endian bytes; an odd trailing byte becomes U+FFFD.
inline std::string decodeUtf16le(std::span<const std::uint8_t> in) {
    std::u16string units;
    units.reserve(in.size() / 2);
    for (std::size_t i = 0; i + 1 < in.size(); i += 2) {
        units.push_back(static_cast<char16_t>(in[i] | (in[i + 1] << 8)));
    }
    std::string out = utf16ToUtf8(units);
    if (in.size() % 2 != 0) {
        appendUtf8(out, kReplacementCharacter);
    }
    return out;
}

// Encodes UTF-8 text (decoded leniently, as decodeUtf8) as UTF-16 code units.
inline std::u16string utf8ToUtf16(std::string_view in) {
    if (std::all_of(in.begin(), in.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return std::u16string(in.begin(), in.end());
    }
    const std::string clean = decodeUtf8(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(in.data()), in.size()));
    std::u16string out;
    out.reserve(clean.size());
    std::size_t i = 0;
    while (i < clean.size()) {
        const auto b0 = static_cast<std::uint8_t>(clean[i]);
        char32_t cp = 0;
        std::size_t n = 0;
        if (b0 < 0x80) {
            cp = b0;
            n = 1;
        } else if (b0 < 0xE0) {
            cp = b0 & 0x1Fu;
            n = 2;
        } else if (b0 < 0xF0) {
            cp = b0 & 0x0Fu;
            n = 3;
        } else {
            cp = b0 & 0x07u;
            n = 4;
        }
        for (std::size_t k = 1; k < n; ++k) {
            cp = (cp << 6) | (static_cast<std::uint8_t>(clean[i + k]) & 0x3Fu);
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace common
