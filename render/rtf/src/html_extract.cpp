// HTML and text wrapped in RTF ([MS-OXRTFEX]): what an RTF body wraps, and
// the HTML taken back out of it (de-encapsulation).

#include "code_pages.h"
#include "reader.h"
#include "rtf_words.h"
#include "tokenizer.h"

#include <map>

namespace rtf::detail {

void requireRtfSignature(std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    while (i < bytes.size() &&
           (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) {
        ++i;
    }
    // "{\rtf" normally; a group that opens with any control word is RTF
    // without its header (fragments some writers produce) and is read too.
    const bool group = bytes.size() - i >= 3 && bytes[i] == '{' && bytes[i + 1] == '\\' &&
                       ((bytes[i + 2] >= 'a' && bytes[i + 2] <= 'z') || bytes[i + 2] == '*');
    if (!group) {
        throw RtfError("not RTF: the input does not begin with \"{\\rtf\"", i);
    }
    if (bytes.size() > kMaxInputBytes) {
        throw RtfError("RTF of " + std::to_string(bytes.size()) + " bytes exceeds the limit of " +
                           std::to_string(kMaxInputBytes) + " bytes",
                       kMaxInputBytes);
    }
}

Encapsulation detectEncapsulation(std::span<const std::uint8_t> bytes) {
    // The markers are document-level control words; they come in the header,
    // before the first text. Look only that far.
    Tokenizer tokens(bytes);
    int depth = 0;
    for (int n = 0; n < kMaxEncapsulationTokens; ++n) {
        const Token t = tokens.next();
        switch (t.kind) {
            case TokenKind::End:
                return Encapsulation::None;
            case TokenKind::GroupStart:
                ++depth;
                break;
            case TokenKind::GroupEnd:
                if (--depth <= 0) {
                    return Encapsulation::None;
                }
                break;
            case TokenKind::ControlWord:
                if (depth == 1) {
                    if (t.word == "fromhtml") {
                        return Encapsulation::Html;
                    }
                    if (t.word == "fromtext") {
                        return Encapsulation::Text;
                    }
                    if (t.word == "par" || t.word == "pard") {
                        return Encapsulation::None;
                    }
                }
                break;
            case TokenKind::Text:
                if (depth == 1 && std::any_of(t.bytes.begin(), t.bytes.end(), [](std::uint8_t c) {
                        return c != ' ' && c != '\t';
                    })) {
                    return Encapsulation::None;
                }
                break;
            default:
                break;
        }
    }
    return Encapsulation::None;
}

namespace {

enum class HtmlDest { Body, Tag, FontTable, Skip };

struct HtmlGroup {
    HtmlDest dest = HtmlDest::Body;
    bool htmlrtf = false;
    int font = -1;
    int unicodeSkip = 1;
};

// [MS-OXRTFEX] 2.1.3: text outside \htmlrtf and the content of \*\htmltag
// destinations make up the HTML; \par and \tab outside \htmlrtf stand for
// CR LF and tab.
class HtmlExtractor {
public:
    explicit HtmlExtractor(std::span<const std::uint8_t> bytes) : m_tokens(bytes) {}

    QString run() {
        Token first = m_tokens.next();
        if (first.kind != TokenKind::GroupStart) {
            throw RtfError("not RTF: the input does not begin with \"{\\rtf\"", first.offset);
        }
        m_stack.push_back(HtmlGroup{});
        while (!m_stack.empty()) {
            const Token t = m_tokens.next();
            if (t.kind == TokenKind::End) {
                break;
            }
            if (t.kind == TokenKind::GroupStart) {
                flush();
                m_skip = 0;
                if (m_stack.size() >= static_cast<std::size_t>(kMaxGroupDepth)) {
                    throw RtfError("RTF groups nested deeper than " +
                                       std::to_string(kMaxGroupDepth) + " at byte " +
                                       std::to_string(t.offset),
                                   t.offset);
                }
                m_stack.push_back(m_stack.back());
                m_star = false;
                continue;
            }
            if (t.kind == TokenKind::GroupEnd) {
                flush();
                m_skip = 0;
                if (m_stack.back().dest == HtmlDest::FontTable && m_fontIndex >= 0) {
                    m_fontIndex = -1;
                }
                m_stack.pop_back();
                continue;
            }
            if (m_skip > 0 && t.kind != TokenKind::Text) {
                --m_skip;
                continue;
            }
            HtmlGroup& g = m_stack.back();
            if (g.dest == HtmlDest::Skip) {
                continue;
            }
            const bool copying =
                g.dest == HtmlDest::Tag || (g.dest == HtmlDest::Body && !g.htmlrtf);
            switch (t.kind) {
                case TokenKind::ControlWord:
                    onWord(t, g, copying);
                    break;
                case TokenKind::ControlSymbol:
                    onSymbol(t, g, copying);
                    break;
                case TokenKind::HexByte:
                    if (copying) {
                        addByte(t.byte, g);
                    }
                    break;
                case TokenKind::Text: {
                    auto bytes = t.bytes;
                    while (!bytes.empty() && m_skip > 0) {
                        bytes = bytes.subspan(1);
                        --m_skip;
                    }
                    if (copying) {
                        for (const std::uint8_t c : bytes) {
                            addByte(c, g);
                        }
                    }
                    break;
                }
                default:
                    break;
            }
            if (static_cast<std::size_t>(m_out.size()) > kMaxTextChars * 2) {
                throw RtfError("encapsulated HTML exceeds the text limit", t.offset);
            }
        }
        flush();
        return m_out;
    }

private:
    int codePage(const HtmlGroup& g) const {
        auto it = m_fontCodePages.find(g.font);
        return it != m_fontCodePages.end() && it->second != 0 ? it->second : m_ansiCodePage;
    }

    void addByte(std::uint8_t byte, const HtmlGroup& g) {
        const int cp = codePage(g);
        if (!m_bytes.empty() && cp != m_bytesCodePage) {
            flush();
        }
        m_bytesCodePage = cp;
        m_bytes.push_back(static_cast<char>(byte));
    }

    void add(const QString& text) {
        flush();
        m_out += text;
    }

    void flush() {
        if (!m_bytes.empty()) {
            m_out += m_codePages.decode(m_bytesCodePage, m_bytes);
            m_bytes.clear();
        }
    }

    void onSymbol(const Token& t, HtmlGroup& g, bool copying) {
        if (t.symbol == '*') {
            m_star = true;
            return;
        }
        if (!copying) {
            return;
        }
        switch (t.symbol) {
            case '\\':
            case '{':
            case '}':
                addByte(static_cast<std::uint8_t>(t.symbol), g);
                break;
            case '\r':
            case '\n':
                add(QStringLiteral("\r\n"));
                break;
            default:
                if (const char16_t character = controlSymbolCharacter(t.symbol); character != 0) {
                    add(QString(QChar(character)));
                }
                break;
        }
    }

    void onWord(const Token& t, HtmlGroup& g, bool copying) {
        const std::string_view w = t.word;
        const bool star = m_star;
        m_star = false;
        const int param = t.hasParam ? t.param : 0;
        if (star) {
            if (w == "htmltag") {
                flush();
                g.dest = HtmlDest::Tag;
            } else {
                g.dest = HtmlDest::Skip;
            }
            return;
        }
        if (g.dest == HtmlDest::FontTable) {
            if (w == "f") {
                m_fontIndex = param;
                m_fontCodePages[param] = 0;
            } else if (w == "fcharset" && m_fontIndex >= 0) {
                m_fontCodePages[m_fontIndex] = codePageForCharset(param);
            } else if (w == "cpg" && m_fontIndex >= 0 && param > 0) {
                m_fontCodePages[m_fontIndex] = param;
            }
            return;
        }
        if (w == "htmlrtf") {
            g.htmlrtf = !t.hasParam || param != 0;
            return;
        }
        if (w == "f") {
            flush();
            g.font = param;
            return;
        }
        if (w == "ansicpg" && param > 0) {
            m_ansiCodePage = param;
            return;
        }
        if (w == "uc") {
            g.unicodeSkip = std::clamp(param, 0, kMaxUnicodeSkip);
            return;
        }
        if (w == "fonttbl") {
            g.dest = HtmlDest::FontTable;
            return;
        }
        // \pntext and \listtext hold the number or bullet of a list item for
        // readers of the RTF; the HTML has its own (<li>).
        if (w == "colortbl" || w == "stylesheet" || w == "pict" || w == "info" ||
            w == "listtable" || w == "listoverridetable" || w == "pntext" || w == "listtext") {
            g.dest = HtmlDest::Skip;
            return;
        }
        if (w == "u") {
            if (const char16_t character = unicodeCharacter(param); copying && character != 0) {
                add(QString(QChar(character)));
            }
            m_skip = g.unicodeSkip;
            return;
        }
        if (!copying) {
            return;
        }
        // The symbol words are the characters the RTF reader shows for them,
        // but for \line, a line break of the HTML's source.
        if (w == "par" || w == "line") {
            add(QStringLiteral("\r\n"));
        } else if (const char16_t character = specialCharacter(lookup(w)); character != 0) {
            add(QString(QChar(character)));
        }
    }

    Tokenizer m_tokens;
    std::vector<HtmlGroup> m_stack;
    bool m_star = false;
    int m_skip = 0;
    int m_ansiCodePage = 1252;
    int m_fontIndex = -1;
    std::map<int, int> m_fontCodePages;
    CodePages m_codePages;
    std::string m_bytes;
    int m_bytesCodePage = 1252;
    QString m_out;
};

}  // namespace

QString extractHtmlText(std::span<const std::uint8_t> bytes) {
    return HtmlExtractor(bytes).run();
}

}  // namespace rtf::detail
