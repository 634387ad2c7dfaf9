#include "tokenizer.h"

#include <common/text.h>

#include <algorithm>

namespace rtf::detail {
namespace {

bool isLetter(std::uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}
int hexValue(std::uint8_t c) {
    return common::hexDigitValue(c);
}

}  // namespace

Token Tokenizer::next() {
    // CR and LF between tokens carry no meaning in RTF.
    while (m_pos < m_data.size() && (m_data[m_pos] == '\r' || m_data[m_pos] == '\n')) {
        ++m_pos;
    }
    Token token;
    token.offset = m_pos;
    if (m_pos >= m_data.size()) {
        return token;
    }
    const std::uint8_t c = m_data[m_pos];
    if (c == '{') {
        ++m_pos;
        token.kind = TokenKind::GroupStart;
        return token;
    }
    if (c == '}') {
        ++m_pos;
        token.kind = TokenKind::GroupEnd;
        return token;
    }
    if (c == '\\') {
        return readControl(m_pos);
    }
    std::size_t end = m_pos;
    while (end < m_data.size()) {
        const std::uint8_t d = m_data[end];
        if (d == '{' || d == '}' || d == '\\' || d == '\r' || d == '\n') {
            break;
        }
        ++end;
    }
    token.kind = TokenKind::Text;
    token.bytes = m_data.subspan(m_pos, end - m_pos);
    m_pos = end;
    return token;
}

Token Tokenizer::readControl(std::size_t start) {
    Token token;
    token.offset = start;
    m_pos = start + 1;
    if (m_pos >= m_data.size()) {
        return token;  // a lone backslash at the very end: nothing follows
    }
    const std::uint8_t c = m_data[m_pos];
    if (!isLetter(c)) {
        ++m_pos;
        if (c == '\'') {
            const int hi = m_pos < m_data.size() ? hexValue(m_data[m_pos]) : -1;
            const int lo = m_pos + 1 < m_data.size() ? hexValue(m_data[m_pos + 1]) : -1;
            if (hi >= 0 && lo >= 0) {
                m_pos += 2;
                token.kind = TokenKind::HexByte;
                token.byte = static_cast<std::uint8_t>(hi * 16 + lo);
                return token;
            }
        }
        // CR or LF after a backslash is a paragraph mark, as \par.
        token.kind = TokenKind::ControlSymbol;
        token.symbol = static_cast<char>(c);
        return token;
    }
    const std::size_t wordStart = m_pos;
    while (m_pos < m_data.size() && isLetter(m_data[m_pos])) {
        ++m_pos;
    }
    token.kind = TokenKind::ControlWord;
    token.word = std::string_view(reinterpret_cast<const char*>(m_data.data() + wordStart),
                                  m_pos - wordStart);
    bool negative = false;
    if (m_pos + 1 < m_data.size() && m_data[m_pos] == '-' && isDigit(m_data[m_pos + 1])) {
        negative = true;
        ++m_pos;
    }
    if (m_pos < m_data.size() && isDigit(m_data[m_pos])) {
        std::int64_t value = 0;
        while (m_pos < m_data.size() && isDigit(m_data[m_pos])) {
            // Clamp instead of overflowing: parameters are documented as
            // 16-bit, real files use 32-bit, longer digit runs are garbage.
            value = std::min<std::int64_t>(value * 10 + (m_data[m_pos] - '0'), 0x80000000LL);
            ++m_pos;
        }
        if (negative) {
            value = -value;
        }
        token.hasParam = true;
        token.param =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
    }
    if (m_pos < m_data.size() && m_data[m_pos] == ' ') {
        ++m_pos;  // the delimiting space belongs to the control word
    }
    if (token.word == "bin" && token.hasParam && token.param > 0) {
        // \binN: N raw bytes follow; never more than the input holds.
        const std::size_t wanted = static_cast<std::size_t>(token.param);
        const std::size_t n = std::min(wanted, m_data.size() - m_pos);
        token.kind = TokenKind::Binary;
        token.bytes = m_data.subspan(m_pos, n);
        m_pos += n;
    }
    return token;
}

}  // namespace rtf::detail
