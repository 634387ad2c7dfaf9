#pragma once
// Splits RTF bytes into tokens: group braces, control words with their
// optional numeric parameter, control symbols, \'hh bytes, \binN data and
// runs of literal text. Never reads past the input; every token carries the
// byte offset where it starts.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace rtf::detail {

enum class TokenKind {
    GroupStart,
    GroupEnd,
    ControlWord,
    ControlSymbol,
    HexByte,
    Binary,
    Text,
    End
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::size_t offset = 0;
    std::string_view word;                // ControlWord: its letters
    bool hasParam = false;                // ControlWord: a numeric parameter followed
    std::int32_t param = 0;               // clamped to the int32 range
    char symbol = 0;                      // ControlSymbol: the character after the backslash
    std::uint8_t byte = 0;                // HexByte
    std::span<const std::uint8_t> bytes;  // Text (no CR/LF inside) or Binary data
};

class Tokenizer {
public:
    explicit Tokenizer(std::span<const std::uint8_t> data) : m_data(data) {}

    Token next();
    std::size_t position() const { return m_pos; }
    bool atEnd() const { return m_pos >= m_data.size(); }

private:
    Token readControl(std::size_t start);

    std::span<const std::uint8_t> m_data;
    std::size_t m_pos = 0;
};

}  // namespace rtf::detail
