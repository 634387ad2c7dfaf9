#include "property_text.h"

#include <common/text.h>

#include <algorithm>

namespace envelope {
namespace {

using PT = tool::OutlookStorage::NativeMethods;

constexpr std::string_view kMessageCodepage = "3FFD";
constexpr std::string_view kInternetCodepage = "3FDE";
constexpr std::uint32_t kWindows1252 = 1252;

bool isAscii(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

// Surrounding white space is layout, NULs inside are not text.
std::string trimmed(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

TextReader::TextReader(const Message& message, const CodePageDecoder& decode) : m_decode(decode) {
    for (const tool::OutlookStorage* m = &message; m != nullptr; m = m->ParentMessage()) {
        for (std::string_view id : {kMessageCodepage, kInternetCodepage}) {
            if (const auto cp = m->FindPropertyStreamInt32(id); cp && *cp > 0) {
                add(static_cast<std::uint32_t>(*cp));
            }
        }
    }
    add(kWindows1252);
}

std::optional<std::string> TextReader::text(const tool::OutlookStorage& storage,
                                            std::string_view id) const {
    const auto raw = storage.GetMapiPropertyRaw(id);
    if (!raw) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> own;
    if (&storage != m_message && raw->type == PT::PT_STRING8) {
        if (const auto cp = storage.FindPropertyStreamInt32(kMessageCodepage); cp && *cp > 0) {
            own = static_cast<std::uint32_t>(*cp);
        }
    }
    return fromRaw(*raw, own);
}

std::optional<std::string> TextReader::fromRaw(const tool::OutlookStorage::RawProperty& raw,
                                               std::optional<std::uint32_t> own) const {
    std::span<const std::uint8_t> bytes(raw.bytes);
    std::string text;
    if (raw.type == PT::PT_UNICODE) {
        bytes = bytes.first(bytes.size() & ~std::size_t{1});
        while (bytes.size() >= 2 && bytes[bytes.size() - 1] == 0 && bytes[bytes.size() - 2] == 0) {
            bytes = bytes.first(bytes.size() - 2);
        }
        text = common::decodeUtf16le(bytes);
    } else if (raw.type == PT::PT_STRING8) {
        while (!bytes.empty() && bytes.back() == 0) {
            bytes = bytes.first(bytes.size() - 1);
        }
        text = decode8(bytes, own);
    } else {
        return std::nullopt;
    }
    return trimmed(std::move(text));
}

std::optional<std::string> TextReader::nonEmpty(const tool::OutlookStorage& storage,
                                                std::string_view id) const {
    auto value = text(storage, id);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

void TextReader::add(std::uint32_t codePage) {
    if (std::find(m_codePages.begin(), m_codePages.end(), codePage) == m_codePages.end()) {
        m_codePages.push_back(codePage);
    }
}

std::string TextReader::decode8(std::span<const std::uint8_t> bytes,
                                std::optional<std::uint32_t> own) const {
    if (isAscii(bytes)) {
        return {bytes.begin(), bytes.end()};
    }
    if (m_decode) {
        if (own) {
            if (auto text = m_decode(*own, bytes)) {
                return std::move(*text);
            }
        }
        for (std::uint32_t cp : m_codePages) {
            if (auto text = m_decode(cp, bytes)) {
                return std::move(*text);
            }
        }
    }
    // ISO-8859-1: every byte is the character of its number.
    std::string text;
    for (std::uint8_t b : bytes) {
        common::appendUtf8(text, b);
    }
    return text;
}

}  // namespace envelope
