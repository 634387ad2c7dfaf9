#pragma once
// The text of a message's string properties, decoded in the code pages of
// the message and of the messages it is embedded in. Private to the
// envelope library.

#include <envelope/envelope.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace envelope {

class TextReader {
public:
    // The code pages tried for 8-bit strings: each message's (from the
    // message out) "3FFD" and "3FDE", then Windows-1252.
    TextReader(const Message& message, const CodePageDecoder& decode);

    // The text of a string property of `storage` (a message, recipient or
    // attachment of the message), or nothing when absent. An 8-bit string of
    // a recipient or attachment tries its own code page first.
    std::optional<std::string> text(const tool::OutlookStorage& storage, std::string_view id) const;
    // A stored string as text; trailing NULs are not text.
    std::optional<std::string> fromRaw(const tool::OutlookStorage::RawProperty& raw,
                                       std::optional<std::uint32_t> own = std::nullopt) const;
    // text(), with an empty text as nothing.
    std::optional<std::string> nonEmpty(const tool::OutlookStorage& storage,
                                        std::string_view id) const;

    // The message whose own strings use the message's code pages only.
    void setMessage(const tool::OutlookStorage* message) { m_message = message; }

private:
    void add(std::uint32_t codePage);
    std::string decode8(std::span<const std::uint8_t> bytes,
                        std::optional<std::uint32_t> own) const;

    const CodePageDecoder& m_decode;
    std::vector<std::uint32_t> m_codePages;
    const tool::OutlookStorage* m_message = nullptr;
};

}  // namespace envelope
