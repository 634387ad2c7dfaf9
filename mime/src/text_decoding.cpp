#include "text_decoding.h"

#include <common/text.h>

#include <gmime/gmime.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <span>

namespace mime::detail {

namespace {

// windows-1252 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool hasHighBytes(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

std::string sanitisedUtf8(std::string_view bytes) {
    if (common::isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return common::decodeUtf8(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// A charset name from the input as warnings show it: printable ASCII, short.
std::string shownName(const std::string& name) {
    std::string out;
    for (const char c : name.substr(0, 40)) {
        out.push_back(c >= 0x21 && c <= 0x7E ? c : '?');
    }
    return name.size() > 40 ? out + "..." : out;
}

std::string guessWhole(std::string_view bytes) {
    return common::isValidUtf8(bytes) ? std::string(bytes) : decodeWindows1252(bytes);
}

// The charset parameter as a bare lower-case name.
std::string canonicalName(std::string_view charset) {
    std::size_t begin = 0;
    std::size_t end = charset.size();
    while (begin < end && (charset[begin] == ' ' || charset[begin] == '\t' ||
                           charset[begin] == '"' || charset[begin] == '\'')) {
        ++begin;
    }
    while (end > begin && (charset[end - 1] == ' ' || charset[end - 1] == '\t' ||
                           charset[end - 1] == '"' || charset[end - 1] == '\'')) {
        --end;
    }
    return asciiLower(charset.substr(begin, end - begin));
}

enum class Family { Utf8, Ascii, Latin1, Latin9, Other };

Family familyOf(const std::string& name) {
    static constexpr std::string_view kUtf8[] = {"utf-8", "utf8", "unicode-1-1-utf-8", "x-utf-8"};
    static constexpr std::string_view kAscii[] = {"us-ascii",  "ascii",  "ansi_x3.4-1968",
                                                  "iso646-us", "us",     "iso-ir-6",
                                                  "cp367",     "ibm367", "csascii"};
    static constexpr std::string_view kLatin1[] = {
        "iso-8859-1", "iso8859-1", "iso_8859-1",    "iso_8859-1:1987", "latin1",
        "latin-1",    "l1",        "cp819",         "ibm819",          "windows-1252",
        "cp1252",     "x-cp1252",  "cswindows1252", "csisolatin1",     "iso-ir-100",
        "8859-1",     "iso88591",  "windows1252"};
    static constexpr std::string_view kLatin9[] = {"iso-8859-15", "iso8859-15", "iso_8859-15",
                                                   "latin9",      "latin-9",    "l9"};
    for (const auto n : kUtf8) {
        if (name == n) {
            return Family::Utf8;
        }
    }
    for (const auto n : kAscii) {
        if (name == n) {
            return Family::Ascii;
        }
    }
    for (const auto n : kLatin1) {
        if (name == n) {
            return Family::Latin1;
        }
    }
    for (const auto n : kLatin9) {
        if (name == n) {
            return Family::Latin9;
        }
    }
    return Family::Other;
}

struct IconvResult {
    bool opened = false;
    std::string text;
    std::size_t invalid = 0;
};

// Converts with iconv; each byte it cannot convert becomes one U+FFFD, an
// incomplete sequence at the end one more.
IconvResult iconvToUtf8(std::string_view bytes, const std::string& charset) {
    IconvResult result;
    const char* name = g_mime_charset_iconv_name(charset.c_str());
    iconv_t cd = g_mime_iconv_open("UTF-8", name != nullptr ? name : charset.c_str());
    // iconv's failure value is (iconv_t)-1.
    if (reinterpret_cast<std::intptr_t>(cd) == -1) {
        return result;
    }
    result.opened = true;
    std::array<char, 16384> chunk{};
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* out = chunk.data();
        std::size_t outLeft = chunk.size();
        const std::size_t status = iconv(cd, &in, &inLeft, &out, &outLeft);
        const int error = errno;
        result.text.append(chunk.data(), static_cast<std::size_t>(out - chunk.data()));
        if (status != static_cast<std::size_t>(-1)) {
            break;
        }
        if (error == E2BIG && out != chunk.data()) {
            continue;
        }
        common::appendUtf8(result.text, common::kReplacementCharacter);
        ++result.invalid;
        if (error != EILSEQ) {
            // EINVAL (a sequence cut at the end), or no progress at all.
            break;
        }
        ++in;
        --inLeft;
    }
    char* out = chunk.data();
    std::size_t outLeft = chunk.size();
    iconv(cd, nullptr, nullptr, &out, &outLeft);
    result.text.append(chunk.data(), static_cast<std::size_t>(out - chunk.data()));
    g_mime_iconv_close(cd);
    result.text = sanitisedUtf8(result.text);
    return result;
}

}  // namespace

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string decodeWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else if (b < 0xA0) {
            common::appendUtf8(out, kWindows1252High[b - 0x80]);
        } else {
            common::appendUtf8(out, b);
        }
    }
    return out;
}

std::string guessRunsToUtf8(std::string_view bytes) {
    if (common::isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            out.push_back(bytes[i]);
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) >= 0x80) {
            ++end;
        }
        out += guessWhole(bytes.substr(i, end - i));
        i = end;
    }
    return out;
}

DecodedText decodeText(std::string_view bytes, std::string_view charset) {
    const std::string name = canonicalName(charset);
    if (name.empty()) {
        return {guessWhole(bytes), {}};
    }
    const bool valid = common::isValidUtf8(bytes);
    const bool high = hasHighBytes(bytes);
    const std::string shown = shownName(name);
    switch (familyOf(name)) {
        case Family::Utf8:
            if (valid) {
                return {std::string(bytes), {}};
            }
            return {decodeWindows1252(bytes),
                    "text declared " + shown + " is not valid UTF-8; read as windows-1252"};
        case Family::Ascii:
        case Family::Latin1:
            if (high && valid) {
                return {std::string(bytes), "text declared " + shown + " is UTF-8; read as UTF-8"};
            }
            return {decodeWindows1252(bytes), {}};
        case Family::Latin9:
            if (high && valid) {
                return {std::string(bytes), "text declared " + shown + " is UTF-8; read as UTF-8"};
            }
            break;
        case Family::Other:
            break;
    }
    if (!high && name.find("utf-16") == std::string::npos &&
        name.find("utf-32") == std::string::npos && name.find("ucs") == std::string::npos &&
        name.find("utf-7") == std::string::npos && name.find("2022") == std::string::npos &&
        name.find("hz") == std::string::npos) {
        // ASCII bytes read the same in every charset mail declares, but for
        // the wide and the escape-sequence ones.
        return {std::string(bytes), {}};
    }
    IconvResult converted = iconvToUtf8(bytes, name);
    if (!converted.opened) {
        return {guessWhole(bytes), "unknown charset " + shown + "; the text is read as " +
                                       (valid ? "UTF-8" : "windows-1252")};
    }
    if (converted.invalid > 0) {
        if (valid) {
            return {std::string(bytes), "text declared " + shown + " is UTF-8; read as UTF-8"};
        }
        return {std::move(converted.text), std::to_string(converted.invalid) +
                                               " bytes are not valid " + shown +
                                               "; each is shown as U+FFFD"};
    }
    return {std::move(converted.text), {}};
}

}  // namespace mime::detail
