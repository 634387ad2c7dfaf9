#include "batch/json.h"

#include <common/text.h>

#include <cstdio>
#include <cstdlib>

namespace batch::json {

namespace {

// Length of the valid UTF-8 sequence at `i` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    std::optional<Value> document() {
        Value value;
        if (!parseValue(value, 0)) {
            return std::nullopt;
        }
        skipSpace();
        if (m_pos != m_text.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    static constexpr int kMaxDepth = 64;

    void skipSpace() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }
    bool literal(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) != word) {
            return false;
        }
        m_pos += word.size();
        return true;
    }

    bool parseValue(Value& value, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        skipSpace();
        if (m_pos >= m_text.size()) {
            return false;
        }
        const char c = m_text[m_pos];
        if (c == '{') {
            value.type = Value::Type::Object;
            ++m_pos;
            skipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == '}') {
                ++m_pos;
                return true;
            }
            while (true) {
                skipSpace();
                std::string name;
                if (m_pos >= m_text.size() || m_text[m_pos] != '"' || !parseString(name)) {
                    return false;
                }
                skipSpace();
                if (m_pos >= m_text.size() || m_text[m_pos] != ':') {
                    return false;
                }
                ++m_pos;
                Value member;
                if (!parseValue(member, depth + 1)) {
                    return false;
                }
                value.object[name] = std::move(member);
                skipSpace();
                if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                    ++m_pos;
                    continue;
                }
                if (m_pos < m_text.size() && m_text[m_pos] == '}') {
                    ++m_pos;
                    return true;
                }
                return false;
            }
        }
        if (c == '[') {
            value.type = Value::Type::Array;
            ++m_pos;
            skipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == ']') {
                ++m_pos;
                return true;
            }
            while (true) {
                Value element;
                if (!parseValue(element, depth + 1)) {
                    return false;
                }
                value.array.push_back(std::move(element));
                skipSpace();
                if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                    ++m_pos;
                    continue;
                }
                if (m_pos < m_text.size() && m_text[m_pos] == ']') {
                    ++m_pos;
                    return true;
                }
                return false;
            }
        }
        if (c == '"') {
            value.type = Value::Type::String;
            return parseString(value.string);
        }
        if (literal("true")) {
            value.type = Value::Type::Bool;
            value.boolean = true;
            return true;
        }
        if (literal("false")) {
            value.type = Value::Type::Bool;
            return true;
        }
        if (literal("null")) {
            return true;
        }
        return parseNumber(value);
    }

    bool parseNumber(Value& value) {
        const std::size_t start = m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '-') {
            ++m_pos;
        }
        const std::size_t digits = m_pos;
        while (m_pos < m_text.size() &&
               ((m_text[m_pos] >= '0' && m_text[m_pos] <= '9') || m_text[m_pos] == '.' ||
                m_text[m_pos] == 'e' || m_text[m_pos] == 'E' || m_text[m_pos] == '+' ||
                m_text[m_pos] == '-')) {
            ++m_pos;
        }
        if (m_pos == digits) {
            return false;
        }
        const std::string number(m_text.substr(start, m_pos - start));
        char* end = nullptr;
        value.number = std::strtod(number.c_str(), &end);
        value.type = Value::Type::Number;
        return end == number.c_str() + number.size();
    }

    bool hex4(std::uint32_t& code) {
        if (m_pos + 4 > m_text.size()) {
            return false;
        }
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_text[m_pos++];
            code <<= 4;
            if (h >= '0' && h <= '9') {
                code |= static_cast<std::uint32_t>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                code |= static_cast<std::uint32_t>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                code |= static_cast<std::uint32_t>(h - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    bool parseString(std::string& out) {
        ++m_pos;  // the opening quote
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (m_pos >= m_text.size()) {
                return false;
            }
            const char e = m_text[m_pos++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    std::uint32_t code = 0;
                    if (!hex4(code)) {
                        return false;
                    }
                    if (code >= 0xD800 && code <= 0xDBFF && m_text.substr(m_pos, 2) == "\\u") {
                        const std::size_t back = m_pos;
                        m_pos += 2;
                        std::uint32_t low = 0;
                        if (hex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
                            common::appendUtf8(out,
                                               0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                            break;
                        }
                        m_pos = back;
                    }
                    if (code >= 0xDC80 && code <= 0xDCFF) {
                        out.push_back(static_cast<char>(code - 0xDC00));  // an escaped byte
                    } else if (code >= 0xD800 && code <= 0xDFFF) {
                        common::appendUtf8(out, 0xFFFD);
                    } else {
                        common::appendUtf8(out, code);
                    }
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

const Value* Value::member(std::string_view name) const {
    if (type != Type::Object) {
        return nullptr;
    }
    const auto found = object.find(std::string(name));
    return found == object.end() ? nullptr : &found->second;
}

const std::string* Value::stringMember(std::string_view name) const {
    const Value* value = member(name);
    return value != nullptr && value->type == Type::String ? &value->string : nullptr;
}

std::optional<double> Value::numberMember(std::string_view name) const {
    const Value* value = member(name);
    if (value == nullptr || value->type != Type::Number) {
        return std::nullopt;
    }
    return value->number;
}

std::optional<Value> parse(std::string_view text) {
    return Parser(text).document();
}

}  // namespace batch::json
