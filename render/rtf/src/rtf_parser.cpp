// The RTF group state machine: tokens in, a QTextDocument out.
//
// Character and paragraph properties live in a per-group state that is
// copied on "{" and dropped on "}". Text is collected as bytes until the
// state changes, then decoded with the code page of the current font and
// inserted with the current character format. Control words are taken by
// the handler of their group (character, paragraph, ...); tables and
// pictures have files of their own (rtf_tables.cpp, rtf_picture_group.cpp).

#include "parser.h"
#include "reader.h"

#include <rtf/faces.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextTable>

#include <algorithm>
#include <iterator>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace rtf::detail {
namespace {

const QColor kLinkColor(0x05, 0x63, 0xC1);

// Windows charsets of East Asian fonts (\fcharset).
CjkRegion regionOfCharset(int charset) {
    switch (charset) {
        case 128:
            return CjkRegion::Japan;
        case 134:
            return CjkRegion::SimplifiedChinese;
        case 136:
            return CjkRegion::TraditionalChinese;
        case 129:
        case 130:
            return CjkRegion::Korea;
        default:
            return CjkRegion::Unknown;
    }
}

// Windows language identifiers (\lang, \langfe): the primary language in
// the low 10 bits, the country above.
CjkRegion regionOfLanguage(int lcid) {
    switch (lcid & 0x3FF) {
        case 0x11:
            return CjkRegion::Japan;
        case 0x12:
            return CjkRegion::Korea;
        case 0x04:
            // Chinese: Taiwan (0x0404), Hong Kong (0x0C04) and Macao
            // (0x1404) write traditional characters.
            return lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404
                       ? CjkRegion::TraditionalChinese
                       : CjkRegion::SimplifiedChinese;
        default:
            return CjkRegion::Unknown;
    }
}

QStringList familiesFor(const QString& face, int family, CjkRegion region) {
    QStringList list;
    if (!face.isEmpty()) {
        // A metric twin breaks lines as the face named; the engine puts the
        // other stand-ins in place.
        const QString twin = metricTwinFace(face);
        list << (twin.isEmpty() ? face : twin);
    }
    // Fallbacks in order: the generic face of the family, then faces that
    // cover scripts the named face may lack.
    switch (family) {
        case 1:
            list << QStringLiteral("Liberation Serif");
            break;
        case 3:
            list << QStringLiteral("Liberation Mono");
            break;
        default:
            list << QStringLiteral("Liberation Sans");
            break;
    }
    list << QStringLiteral("Noto Sans") << cjkFace(region) << QStringLiteral("Noto Sans Symbols")
         << QStringLiteral("Noto Sans Symbols2");
    list.removeDuplicates();
    return list;
}

// The target of a HYPERLINK field instruction, HYPERLINK "url" or
// HYPERLINK \l "anchor" (as "#anchor"), its other switches skipped; "#" when
// it names none.
QString hyperlinkTarget(const QString& inst) {
    QString url;
    bool local = false;
    qsizetype i = 9;  // after "HYPERLINK"
    while (i < inst.size()) {
        while (i < inst.size() && inst[i].isSpace()) {
            ++i;
        }
        if (i >= inst.size()) {
            break;
        }
        QString arg;
        if (inst[i] == u'"') {
            const qsizetype end = inst.indexOf(u'"', i + 1);
            arg = inst.mid(i + 1, end < 0 ? -1 : end - i - 1);
            i = end < 0 ? inst.size() : end + 1;
        } else {
            const qsizetype start = i;
            while (i < inst.size() && !inst[i].isSpace()) {
                ++i;
            }
            arg = inst.mid(start, i - start);
            if (arg == QStringLiteral("\\l")) {
                local = true;
                continue;
            }
            if (arg.startsWith(u'\\')) {
                continue;
            }
        }
        if (url.isEmpty()) {
            url = local ? QStringLiteral("#") + arg : arg;
        }
    }
    return url.isEmpty() ? QStringLiteral("#") : url;
}

}  // namespace

void Parser::warn(const std::string& text) {
    if (m_warned.insert(text).second) {
        m_result.warnings.push_back(text);
    }
}

void Parser::fail(const std::string& text, std::size_t offset) {
    throw RtfError(text + " at byte " + std::to_string(offset), offset);
}

void Parser::run() {
    m_doc = m_result.document.get();
    m_cursor = QTextCursor(m_doc);
    m_stack.reserve(64);
    Token first = m_tokens.next();
    if (first.kind != TokenKind::GroupStart) {
        fail("not RTF: the input does not begin with \"{\\rtf\"", first.offset);
    }
    m_stack.push_back(Group{});
    const Token second = m_tokens.next();
    m_headerless = second.kind != TokenKind::ControlWord || second.word != "rtf";
    onToken(second);
    while (!m_done) {
        onToken(m_tokens.next());
    }
    finish();
}

void Parser::onToken(const Token& token) {
    switch (token.kind) {
        case TokenKind::End:
            if (m_stack.size() > (m_headerless ? 1u : 0u)) {
                warn("RTF ends inside " + std::to_string(m_stack.size()) + " open group(s)");
            }
            m_done = true;
            break;
        case TokenKind::GroupStart:
            onGroupStart(token);
            break;
        case TokenKind::GroupEnd:
            onGroupEnd();
            break;
        case TokenKind::ControlWord:
            if (consumeSkippedCharacter()) {
                break;
            }
            onControlWord(token);
            break;
        case TokenKind::ControlSymbol:
            if (consumeSkippedCharacter()) {
                break;
            }
            onControlSymbol(token);
            break;
        case TokenKind::HexByte:
            if (consumeSkippedCharacter()) {
                break;
            }
            onByte(token.byte);
            break;
        case TokenKind::Binary:
            if (consumeSkippedCharacter()) {
                break;
            }
            if (state().dest == Dest::Picture) {
                addPictureBinary(token.bytes);
            }
            break;
        case TokenKind::Text:
            onText(token.bytes);
            break;
    }
}

bool Parser::consumeSkippedCharacter() {
    if (m_skipCharacters > 0) {
        --m_skipCharacters;
        return true;
    }
    return false;
}

void Parser::onGroupStart(const Token& token) {
    flushText();
    m_skipCharacters = 0;
    if (m_stack.size() >= static_cast<std::size_t>(kMaxGroupDepth)) {
        fail("RTF groups nested deeper than " + std::to_string(kMaxGroupDepth), token.offset);
    }
    m_stack.push_back(m_stack.back());
    m_starPending = false;
}

void Parser::onGroupEnd() {
    flushText();
    m_skipCharacters = 0;
    m_starPending = false;
    const Dest dest = state().dest;
    const std::size_t depth = m_stack.size();
    if (dest == Dest::FontTable && m_fontIndex >= 0 && !m_fontName.empty()) {
        commitFont();
    }
    if (dest == Dest::Picture && m_picture.depth == depth) {
        m_stack.pop_back();
        finishPicture();
    } else {
        m_stack.pop_back();
    }
    while (!m_fields.empty() && m_fields.back().depth > m_stack.size()) {
        m_fields.pop_back();
    }
    if (m_main.depth > m_stack.size()) {
        endHeaderFooter();
    }
    if (m_stack.empty()) {
        topGroupClosed();
    }
}

void Parser::topGroupClosed() {
    if (m_headerless) {
        // A headerless fragment is a sequence of groups: read them all.
        m_stack.push_back(Group{});
        return;
    }
    m_done = true;  // text after the closing brace of the document is ignored
}

void Parser::skipGroup() {
    // Called just after the destination word of the group: consume tokens
    // up to and including its closing brace. \binN data is skipped whole by
    // the tokenizer, so braces inside it cannot confuse the count.
    std::size_t depth = 1;
    while (depth > 0) {
        const Token token = m_tokens.next();
        if (token.kind == TokenKind::End) {
            break;
        }
        if (token.kind == TokenKind::GroupStart) {
            ++depth;
        } else if (token.kind == TokenKind::GroupEnd) {
            --depth;
        }
    }
    m_stack.pop_back();
    m_starPending = false;
    if (m_stack.empty()) {
        topGroupClosed();
    }
}

void Parser::onControlSymbol(const Token& token) {
    switch (token.symbol) {
        case '*':
            m_starPending = true;
            return;
        case '\\':
        case '{':
        case '}': {
            const std::uint8_t byte = static_cast<std::uint8_t>(token.symbol);
            onText(std::span<const std::uint8_t>(&byte, 1));
            return;
        }
        case '\r':
        case '\n':
            if (state().dest == Dest::Text) {
                endParagraph();
            }
            return;
        case '\t':
            appendText(QStringLiteral("\t"));
            return;
        default:
            // \~ \- \_; \| \: and formula characters show nothing.
            if (const char16_t character = controlSymbolCharacter(token.symbol); character != 0) {
                appendText(QString(QChar(character)));
            }
            return;
    }
}

void Parser::onText(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && m_skipCharacters > 0) {
        bytes = bytes.subspan(1);
        --m_skipCharacters;
    }
    if (bytes.empty()) {
        return;
    }
    Group& group = state();
    switch (group.dest) {
        case Dest::Picture:
            addPictureHex(bytes);
            return;
        case Dest::ColorTable:
            for (const std::uint8_t c : bytes) {
                if (c == ';') {
                    m_colors.push_back(m_colorSet ? QColor(m_red, m_green, m_blue) : QColor());
                    m_red = m_green = m_blue = 0;
                    m_colorSet = false;
                }
            }
            return;
        case Dest::FontTable:
            for (const std::uint8_t c : bytes) {
                if (c == ';') {
                    commitFont();
                } else if (m_fontName.size() < 256) {
                    m_fontName.push_back(static_cast<char>(c));
                }
            }
            return;
        case Dest::FieldInstruction:
        case Dest::Text:
            if (group.chr.hidden && group.dest == Dest::Text) {
                return;
            }
            for (const std::uint8_t c : bytes) {
                onByte(c);
            }
            return;
    }
}

void Parser::onByte(std::uint8_t byte) {
    Group& group = state();
    if (group.dest == Dest::FontTable) {
        if (m_fontName.size() < 256) {
            m_fontName.push_back(static_cast<char>(byte));
        }
        return;
    }
    if (group.dest == Dest::Picture || group.dest == Dest::ColorTable) {
        return;
    }
    if (group.chr.hidden && group.dest == Dest::Text) {
        return;
    }
    if (byte == '\t' && group.dest == Dest::Text) {
        appendText(QStringLiteral("\t"));
        return;
    }
    const int codePage = codePageOfCurrentFont();
    const bool symbol =
        group.chr.font >= 0 && m_fonts.count(group.chr.font) != 0 && m_fonts[group.chr.font].symbol;
    if (!m_pendingBytes.empty() && (codePage != m_pendingCodePage || symbol != m_pendingSymbol)) {
        flushText();
    }
    m_pendingCodePage = codePage;
    m_pendingSymbol = symbol;
    m_pendingBytes.push_back(static_cast<char>(byte));
}

int Parser::codePageOfCurrentFont() const {
    const int font = m_stack.back().chr.font >= 0 ? m_stack.back().chr.font : m_defaultFont;
    auto it = m_fonts.find(font);
    if (it != m_fonts.end() && it->second.codePage != 0) {
        return it->second.codePage;
    }
    return m_ansiCodePage;
}

void Parser::appendText(const QString& text) {
    if (state().chr.hidden && state().dest == Dest::Text) {
        return;
    }
    if (!m_pendingBytes.empty()) {
        flushText();
    }
    m_pendingText += text;
}

void Parser::flushText() {
    if (!m_pendingBytes.empty()) {
        if (m_pendingSymbol) {
            for (const char c : m_pendingBytes) {
                m_pendingText += symbolCharacter(static_cast<std::uint8_t>(c));
            }
        } else {
            bool unknown = false;
            m_pendingText += m_codePages.decode(m_pendingCodePage, m_pendingBytes, &unknown);
            if (unknown) {
                warn("code page " + std::to_string(m_pendingCodePage) +
                     " is not supported; its text is shown as windows-1252");
            }
        }
        m_pendingBytes.clear();
    }
    if (m_pendingText.isEmpty()) {
        return;
    }
    QString text;
    text.swap(m_pendingText);
    if (m_stack.empty()) {
        return;
    }
    if (state().dest == Dest::FieldInstruction) {
        if (!m_fields.empty() && m_fields.back().instruction.size() < 4096) {
            m_fields.back().instruction += text;
        }
        return;
    }
    if (state().dest == Dest::Text) {
        insertText(text);
    }
}

void Parser::insertText(const QString& text) {
    if (m_textChars > kMaxTextChars) {
        return;
    }
    if (m_main.depth != 0 && m_main.chars + text.size() > kMaxHeaderFooterChars) {
        if (m_main.chars < kMaxHeaderFooterChars) {
            warn("a header or footer longer than " + std::to_string(kMaxHeaderFooterChars) +
                 " characters was cut");
            const qsizetype room = kMaxHeaderFooterChars - m_main.chars;
            m_main.chars = kMaxHeaderFooterChars;
            currentSink().cursor->insertText(text.left(room), charFormat());
        }
        return;
    }
    if (m_main.depth != 0) {
        m_main.chars += static_cast<int>(text.size());
    }
    m_textChars += static_cast<std::size_t>(text.size());
    if (m_textChars > kMaxTextChars) {
        warn("text longer than " + std::to_string(kMaxTextChars) + " characters was truncated");
        Sink sink = currentSink();
        sink.cursor->insertText(text.left(static_cast<qsizetype>(kMaxTextChars / 1024)),
                                charFormat());
        sink.cursor->insertBlock();
        sink.cursor->insertText(QStringLiteral("[... text truncated ...]"), QTextCharFormat());
        m_done = true;
        return;
    }
    Sink sink = currentSink();
    sink.cursor->insertText(text, charFormat());
    if (!m_tables.empty()) {
        m_tables.back().cellHasContent = true;
    }
}

const QStringList& Parser::familiesOf(int font) {
    static const QStringList kDefault =
        familiesFor(QStringLiteral("Times New Roman"), 1, CjkRegion::Unknown);
    auto it = m_fonts.find(font);
    if (it == m_fonts.end()) {
        return kDefault;
    }
    if (it->second.families.isEmpty()) {
        it->second.families = familiesFor(it->second.face, it->second.family, it->second.cjkRegion);
    }
    return it->second.families;
}

QColor Parser::color(int index) const {
    if (index <= 0 || static_cast<std::size_t>(index) >= m_colors.size()) {
        return {};
    }
    return m_colors[static_cast<std::size_t>(index)];
}

QTextCharFormat Parser::charFormat() const {
    const CharState& c = m_stack.back().chr;
    QTextCharFormat f;
    const int font = c.font >= 0 ? c.font : m_defaultFont;
    const QStringList& families = const_cast<Parser*>(this)->familiesOf(font);
    const CjkRegion region = c.cjkRegion != CjkRegion::Unknown ? c.cjkRegion : m_defaultCjkRegion;
    const auto fontEntry = m_fonts.find(font);
    const CjkRegion fontRegion =
        fontEntry != m_fonts.end() ? fontEntry->second.cjkRegion : CjkRegion::Unknown;
    if (region != CjkRegion::Unknown && region != fontRegion) {
        // The text's language names the region of its Han characters.
        QStringList byLanguage = families;
        byLanguage.replaceInStrings(cjkFace(fontRegion), cjkFace(region));
        f.setFontFamilies(byLanguage);
    } else {
        f.setFontFamilies(families);
    }
    f.setFontPointSize(std::clamp(c.sizeHalfPoints, 2, 3276) / 2.0);
    if (c.bold) {
        f.setFontWeight(QFont::Bold);
    }
    if (c.italic) {
        f.setFontItalic(true);
    }
    if (c.strike) {
        f.setFontStrikeOut(true);
    }
    if (c.caps) {
        f.setFontCapitalization(QFont::AllUppercase);
    } else if (c.smallCaps) {
        f.setFontCapitalization(QFont::SmallCaps);
    }
    if (c.underline != QTextCharFormat::NoUnderline) {
        f.setUnderlineStyle(c.underline);
    }
    if (c.vertical == 1) {
        f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    } else if (c.vertical == 2) {
        f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    }
    const QColor fg = color(c.foreground);
    if (fg.isValid()) {
        f.setForeground(fg);
    }
    const QColor bg = color(c.background);
    if (bg.isValid()) {
        f.setBackground(bg);
    }
    if (!c.href.isEmpty()) {
        f.setAnchor(true);
        f.setAnchorHref(c.href);
        f.setForeground(kLinkColor);
        f.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    }
    if (c.pageField != 0) {
        f.setProperty(kPageFieldProperty, c.pageField);
    }
    return f;
}

QTextBlockFormat Parser::blockFormat() const {
    const ParaState& p = m_stack.back().para;
    QTextBlockFormat f;
    Qt::Alignment align = p.align;
    if (p.rightToLeft) {
        f.setLayoutDirection(Qt::RightToLeft);
        if (align == Qt::AlignLeft) {
            align = Qt::AlignRight;
        }
    }
    f.setAlignment(align);
    f.setLeftMargin(std::max(0.0, px(p.left)));
    f.setRightMargin(std::max(0.0, px(p.right)));
    f.setTextIndent(std::max(px(p.firstLine), -px(std::max(p.left, 0))));
    f.setTopMargin(std::max(0.0, px(p.before)));
    f.setBottomMargin(std::max(0.0, px(p.after)));
    if (p.lineSpacing > 0 && p.lineMultiple) {
        f.setLineHeight(std::min(p.lineSpacing, 2400) * 100.0 / 240.0,
                        QTextBlockFormat::ProportionalHeight);
    } else if (p.lineSpacing > 0) {
        f.setLineHeight(px(std::min(p.lineSpacing, 14400)), QTextBlockFormat::MinimumHeight);
    } else if (p.lineSpacing < 0) {
        f.setLineHeight(px(std::min(-p.lineSpacing, 14400)), QTextBlockFormat::FixedHeight);
    }
    if (!p.tabs.isEmpty()) {
        // Tab stops are measured from the page margin, Qt's from the
        // paragraph's left indent.
        QList<QTextOption::Tab> tabs;
        for (QTextOption::Tab tab : p.tabs) {
            tab.position -= px(std::max(p.left, 0));
            if (tab.position > 0) {
                tabs.append(tab);
            }
        }
        f.setTabPositions(tabs);
    }
    const QColor shading = color(p.shading);
    if (shading.isValid()) {
        f.setBackground(shading);
    }
    if (p.breakBefore || m_breakBefore) {
        f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    }
    return f;
}

void Parser::commitFont() {
    if (m_fontIndex >= 0) {
        Font font = m_fontEntry;
        int codePage = font.codePage != 0 ? font.codePage : codePageForCharset(m_fontCharset);
        font.symbol = m_fontCharset == 2;
        font.cjkRegion = regionOfCharset(m_fontCharset);
        font.codePage = codePage;
        std::string name = m_fontName;
        while (!name.empty() && (name.back() == ' ' || name.back() == ';')) {
            name.pop_back();
        }
        font.face = m_codePages.decode(codePage != 0 ? codePage : m_ansiCodePage, name).trimmed();
        if (m_fonts.size() < 4096 || m_fonts.count(m_fontIndex) != 0) {
            m_fonts[m_fontIndex] = font;
        }
    }
    m_fontIndex = -1;
    m_fontEntry = Font{};
    m_fontName.clear();
    m_fontCharset = 0;
}

void Parser::handleFontWord(Word word, const Token& token) {
    switch (word) {
        case Word::F:
            if (m_fontIndex >= 0 && !m_fontName.empty()) {
                commitFont();
            }
            m_fontIndex = std::max(0, token.param);
            m_fontEntry = Font{};
            m_fontName.clear();
            m_fontCharset = 0;
            break;
        case Word::FCharset:
            m_fontCharset = token.param;
            break;
        case Word::Cpg:
            m_fontEntry.codePage = token.param > 0 ? token.param : 0;
            break;
        case Word::FRoman:
            m_fontEntry.family = 1;
            break;
        case Word::FSwiss:
            m_fontEntry.family = 2;
            break;
        case Word::FModern:
            m_fontEntry.family = 3;
            break;
        case Word::FScript:
            m_fontEntry.family = 4;
            break;
        case Word::FDecor:
        case Word::FTech:
            m_fontEntry.family = 5;
            break;
        default:
            break;
    }
}

void Parser::onControlWord(const Token& token) {
    const Word word = lookup(token.word);
    const bool star = m_starPending;
    m_starPending = false;
    if (word != Word::U) {
        flushText();
    }
    if (star && word != Word::FieldInstruction && word != Word::ShpPict &&
        word != Word::NestTableProps) {
        skipGroup();  // an unknown (or ignored) \* destination
        return;
    }
    switch (state().dest) {
        case Dest::FontTable:
            if (word == Word::SkipDestination || word == Word::Pict) {
                skipGroup();
            } else {
                handleFontWord(word, token);
            }
            return;
        case Dest::ColorTable:
            handleColorWord(word, token);
            return;
        case Dest::Picture:
            if (word == Word::SkipDestination) {
                skipGroup();
            } else {
                handlePictureWord(word, token);
            }
            return;
        case Dest::Text:
        case Dest::FieldInstruction:
            break;
    }
    if (handleCharacterWord(word, token) || handleParagraphWord(word, token) ||
        handleSpecialCharacterWord(word, token) || handleBreakWord(word) ||
        handleDestinationWord(word) || handleFieldWord(word) || handleDocumentWord(word, token)) {
        return;
    }
    handleTableWord(word, token);  // the last group; it ignores unknown words
}

void Parser::handleColorWord(Word word, const Token& token) {
    if (word == Word::Red || word == Word::Green || word == Word::Blue) {
        const int value = std::clamp(paramOf(token), 0, 255);
        (word == Word::Red ? m_red : word == Word::Green ? m_green : m_blue) = value;
        m_colorSet = true;
    }
}

bool Parser::handleDocumentWord(Word word, const Token& token) {
    const int param = paramOf(token);
    switch (word) {
        case Word::Ansi:
            m_ansiCodePage = 1252;
            return true;
        case Word::Mac:
            m_ansiCodePage = 10000;
            return true;
        case Word::Pc:
            m_ansiCodePage = 437;
            return true;
        case Word::Pca:
            m_ansiCodePage = 850;
            return true;
        case Word::AnsiCpg:
            if (param > 0) {
                m_ansiCodePage = param;
            }
            return true;
        case Word::Deff:
            m_defaultFont = param;
            return true;
        case Word::DefLangFe:
            m_defaultCjkRegion = regionOfLanguage(param);
            return true;
        case Word::DefTab:
            if (param > 0) {
                QTextOption option = m_doc->defaultTextOption();
                option.setTabStopDistance(std::clamp(px(param), 4.0, 960.0));
                m_doc->setDefaultTextOption(option);
            }
            return true;
        case Word::PgWSxn:
        case Word::PgHSxn:
        case Word::MargLSxn:
        case Word::MargRSxn:
        case Word::MargTSxn:
        case Word::MargBSxn:
            // The first section's page stands for the document's, as Word
            // lays out the first page by it.
            if (!m_pastFirstSection) {
                static constexpr std::pair<Word, Word> kDocumentWord[] = {
                    {Word::PgWSxn, Word::PaperW},  {Word::PgHSxn, Word::PaperH},
                    {Word::MargLSxn, Word::MargL}, {Word::MargRSxn, Word::MargR},
                    {Word::MargTSxn, Word::MargT}, {Word::MargBSxn, Word::MargB}};
                for (const auto& [section, document] : kDocumentWord) {
                    if (section == word) {
                        return handleDocumentWord(document, token);
                    }
                }
            }
            return true;
        case Word::PaperW:
            if (param > 0) {
                m_result.page.paperWidth = param;
            }
            return true;
        case Word::HeaderY:
            if (param >= 0) {
                m_result.page.headerY = param;
            }
            return true;
        case Word::FooterY:
            if (param >= 0) {
                m_result.page.footerY = param;
            }
            return true;
        case Word::TitlePg:
            m_result.headersFooters.titlePage = true;
            return true;
        case Word::PaperH:
            if (param > 0) {
                m_result.page.paperHeight = param;
            }
            return true;
        case Word::MargL:
            if (param >= 0) {
                m_result.page.marginLeft = param;
            }
            return true;
        case Word::MargR:
            if (param >= 0) {
                m_result.page.marginRight = param;
            }
            return true;
        case Word::MargT:
            if (param >= 0) {
                m_result.page.marginTop = param;
            }
            return true;
        case Word::MargB:
            if (param >= 0) {
                m_result.page.marginBottom = param;
            }
            return true;
        default:
            return false;
    }
}

bool Parser::handleDestinationWord(Word word) {
    Group& g = state();
    switch (word) {
        case Word::FontTable:
            g.dest = Dest::FontTable;
            m_fontIndex = -1;
            m_fontName.clear();
            return true;
        case Word::ColorTable:
            g.dest = Dest::ColorTable;
            m_colors.clear();
            return true;
        case Word::SkipDestination:
            skipGroup();
            return true;
        case Word::Header:
        case Word::Footer:
        case Word::HeaderFirst:
        case Word::FooterFirst:
        case Word::HeaderLeft:
        case Word::FooterLeft:
            startHeaderFooter(word);
            return true;
        case Word::Pict:
            startPicture();
            return true;
        case Word::ShpPict:
            return true;  // its \pict is the picture to show
        case Word::NestTableProps:
            g.rowDefLevel = std::clamp(g.para.inTable ? g.para.tableLevel : 2, 2, kMaxTableNesting);
            return true;
        default:
            return false;
    }
}

bool Parser::handleFieldWord(Word word) {
    Group& g = state();
    switch (word) {
        case Word::Field:
            if (m_fields.size() < 64) {
                m_fields.push_back(Field{m_stack.size(), {}});
            }
            return true;
        case Word::FieldInstruction:
            g.dest = Dest::FieldInstruction;
            return true;
        case Word::FieldResult:
            // A field shows as its result; a HYPERLINK field's result links
            // too; the result of a page number field is the number of the
            // page it is drawn on (or of the pages), not the one stored.
            g.dest = Dest::Text;
            if (!m_fields.empty()) {
                const QString inst = m_fields.back().instruction.trimmed();
                const QString name = inst.section(QLatin1Char(' '), 0, 0).toUpper();
                if (name == QLatin1String("HYPERLINK")) {
                    g.chr.href = hyperlinkTarget(inst);
                } else if (name == QLatin1String("PAGE")) {
                    g.chr.pageField = kPageNumber;
                } else if (name == QLatin1String("NUMPAGES") ||
                           name == QLatin1String("SECTIONPAGES")) {
                    g.chr.pageField = kPageCount;
                }
            }
            return true;
        case Word::ChPgn: {
            const int saved = g.chr.pageField;
            g.chr.pageField = kPageNumber;
            appendText(QStringLiteral("1"));
            flushText();
            state().chr.pageField = saved;
            return true;
        }
        default:
            return false;
    }
}

bool Parser::handleCharacterWord(Word word, const Token& token) {
    CharState& chr = state().chr;
    const int param = paramOf(token);
    const bool on = toggledOn(token);
    switch (word) {
        case Word::Plain: {
            const QString href = chr.href;
            const int pageField = chr.pageField;
            chr = CharState{};
            chr.href = href;
            chr.pageField = pageField;
            return true;
        }
        case Word::F:
            chr.font = std::max(0, param);
            return true;
        case Word::Lang:
            // Only an East Asian language changes the face; \lang1033 on a
            // Latin run keeps the region its Han text has.
            if (regionOfLanguage(param) != CjkRegion::Unknown) {
                chr.cjkRegion = regionOfLanguage(param);
            }
            return true;
        case Word::Fs:
            chr.sizeHalfPoints = param > 0 ? param : kDefaultFontSizeHalfPoints;
            return true;
        case Word::B:
            chr.bold = on;
            return true;
        case Word::I:
            chr.italic = on;
            return true;
        case Word::Ul:
            chr.underline = on ? QTextCharFormat::SingleUnderline : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlNone:
            chr.underline = QTextCharFormat::NoUnderline;
            return true;
        case Word::UlDotted:
            chr.underline = on ? QTextCharFormat::DotLine : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlDash:
            chr.underline = on ? QTextCharFormat::DashUnderline : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlDashDot:
            chr.underline = on ? QTextCharFormat::DashDotLine : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlWave:
            chr.underline = on ? QTextCharFormat::WaveUnderline : QTextCharFormat::NoUnderline;
            return true;
        case Word::Strike:
            chr.strike = on;
            return true;
        case Word::Super:
            chr.vertical = on ? 1 : 0;
            return true;
        case Word::Sub:
            chr.vertical = on ? 2 : 0;
            return true;
        case Word::NoSuperSub:
            chr.vertical = 0;
            return true;
        case Word::Cf:
            chr.foreground = param;
            return true;
        case Word::Cb:
        case Word::Highlight:
            chr.background = param;
            return true;
        case Word::Caps:
            chr.caps = on;
            return true;
        case Word::SCaps:
            chr.smallCaps = on;
            return true;
        case Word::V:
            chr.hidden = on;
            return true;
        default:
            return false;
    }
}

bool Parser::handleParagraphWord(Word word, const Token& token) {
    ParaState& para = state().para;
    const int param = paramOf(token);
    const bool on = toggledOn(token);
    switch (word) {
        case Word::Pard:
            para = ParaState{};
            return true;
        case Word::Ql:
            para.align = Qt::AlignLeft;
            return true;
        case Word::Qc:
            para.align = Qt::AlignHCenter;
            return true;
        case Word::Qr:
            para.align = Qt::AlignRight;
            return true;
        case Word::Qj:
            para.align = Qt::AlignJustify;
            return true;
        case Word::Li:
            para.left = std::clamp(param, -31680, 31680);
            return true;
        case Word::Ri:
            para.right = std::clamp(param, -31680, 31680);
            return true;
        case Word::Fi:
            para.firstLine = std::clamp(param, -31680, 31680);
            return true;
        case Word::Sb:
            para.before = std::clamp(param, 0, 31680);
            return true;
        case Word::Sa:
            para.after = std::clamp(param, 0, 31680);
            return true;
        case Word::Sl:
            para.lineSpacing = std::clamp(param, -31680, 31680);
            return true;
        case Word::SlMult:
            para.lineMultiple = on;
            return true;
        case Word::Tqr:
            para.nextTabType = QTextOption::RightTab;
            return true;
        case Word::Tqc:
            para.nextTabType = QTextOption::CenterTab;
            return true;
        case Word::Tqdec:
            para.nextTabType = QTextOption::DelimiterTab;
            return true;
        case Word::Tx:
            if (para.tabs.size() < 64 && param > 0 && param < 31680) {
                QTextOption::Tab tab(
                    px(param), para.nextTabType,
                    para.nextTabType == QTextOption::DelimiterTab ? QChar(u'.') : QChar());
                para.tabs.append(tab);
            }
            para.nextTabType = QTextOption::LeftTab;
            return true;
        case Word::InTbl:
            para.inTable = on;
            return true;
        case Word::Itap:
            para.tableLevel = std::max(0, param);
            if (param > 0) {
                para.inTable = true;
            }
            return true;
        case Word::PageBb:
            para.breakBefore = on;
            return true;
        case Word::CbPat:
            para.shading = param;
            return true;
        case Word::RtlPar:
            para.rightToLeft = true;
            return true;
        case Word::LtrPar:
            para.rightToLeft = false;
            return true;
        default:
            return false;
    }
}

bool Parser::handleSpecialCharacterWord(Word word, const Token& token) {
    Group& g = state();
    switch (word) {
        case Word::Uc:
            g.unicodeSkip = std::clamp(paramOf(token), 0, 16);
            return true;
        case Word::U: {
            int code = paramOf(token);
            if (code < 0) {
                code += 65536;
            }
            if (code > 0 && code < 65536) {
                appendText(QString(QChar(static_cast<char16_t>(code))));
            }
            m_skipCharacters = g.unicodeSkip;
            return true;
        }
        default:
            break;
    }
    const char16_t character = specialCharacter(word);
    if (character == 0) {
        return false;
    }
    appendText(QString(QChar(character)));
    return true;
}

bool Parser::handleBreakWord(Word word) {
    const Group& g = state();
    switch (word) {
        case Word::Par:
            if (g.dest == Dest::Text) {
                endParagraph();
            }
            return true;
        case Word::Page:
            if (g.dest == Dest::Text) {
                pageBreak();
            }
            return true;
        case Word::Sect:
            if (g.dest == Dest::Text) {
                m_pastFirstSection = true;
                endParagraph();
                // The next section starts a page unless its own properties
                // (\sbknone, \sbkcol, which follow \sect) say otherwise.
                if (m_tables.empty()) {
                    m_breakBefore = true;
                }
            }
            return true;
        case Word::SbkNone:
            m_breakBefore = false;
            return true;
        case Word::Cell:
            endCell(1);
            return true;
        case Word::NestCell:
            endCell(std::max(2, g.para.tableLevel));
            return true;
        case Word::Row:
            endRow(1);
            return true;
        case Word::NestRow:
            endRow(std::max(2, g.rowDefLevel));
            return true;
        default:
            return false;
    }
}

void Parser::endParagraph() {
    Sink sink = currentSink();
    sink.cursor->setBlockFormat(blockFormat());
    sink.cursor->setBlockCharFormat(charFormat());
    sink.cursor->insertBlock();
    m_breakBefore = false;
    if (!m_tables.empty()) {
        m_tables.back().cellHasContent = true;
    }
}

void Parser::pageBreak() {
    if (!m_tables.empty() || wantedTableLevel() > 0) {
        return;  // a page break inside a table cell has no meaning here
    }
    endParagraph();
    m_breakBefore = true;
}

void Parser::finish() {
    if (!m_stack.empty()) {
        flushText();
    }
    if (m_stack.empty()) {
        m_stack.push_back(Group{});
    }
    if (m_main.depth != 0) {
        endHeaderFooter();  // the input ended inside a header or footer
    }
    while (!m_tables.empty()) {
        closeTableLevel();
    }
    trimLastBlock();
}

// Headers and footers: the group is read like the body, into a document of
// its own, with the fonts, colours and code pages of the body. Only the
// first of each kind counts (the first section's); later sections' are
// skipped, as are left-page headers (\facingp is not laid out).
void Parser::startHeaderFooter(Word word) {
    HeadersFooters& all = m_result.headersFooters;
    std::unique_ptr<QTextDocument>* slot = nullptr;
    switch (word) {
        case Word::Header:
            slot = &all.header;
            break;
        case Word::Footer:
            slot = &all.footer;
            break;
        case Word::HeaderFirst:
            slot = &all.firstHeader;
            break;
        case Word::FooterFirst:
            slot = &all.firstFooter;
            break;
        default:
            break;
    }
    if (slot == nullptr || *slot || m_main.depth != 0 || state().dest != Dest::Text) {
        skipGroup();
        return;
    }
    *slot = std::make_unique<QTextDocument>();
    QTextDocument& doc = **slot;
    doc.setDocumentMargin(0);
    doc.setUndoRedoEnabled(false);
    doc.setDefaultFont(m_doc->defaultFont());
    doc.setDefaultTextOption(m_doc->defaultTextOption());
    m_main.doc = m_doc;
    m_main.cursor = m_cursor;
    m_main.tables = std::move(m_tables);
    m_tables.clear();
    m_main.breakBefore = m_breakBefore;
    m_main.depth = m_stack.size();
    m_main.chars = 0;
    m_doc = &doc;
    m_cursor = QTextCursor(m_doc);
    m_breakBefore = false;
}

void Parser::endHeaderFooter() {
    flushText();
    while (!m_tables.empty()) {
        closeTableLevel();
    }
    trimLastBlock();
    m_doc = m_main.doc;
    m_cursor = m_main.cursor;
    m_tables = std::move(m_main.tables);
    m_breakBefore = m_main.breakBefore;
    m_main = MainOutput{};
}

void Parser::trimLastBlock() {
    // The document's last paragraph mark opens an empty block that Word
    // never shows; drop it unless it follows a table.
    QTextBlock last = m_doc->lastBlock();
    if (last.length() <= 1 && last.previous().isValid()) {
        QTextCursor previous(last.previous());
        if (previous.currentTable() == nullptr) {
            QTextCursor trim(last);
            trim.deletePreviousChar();
        }
    } else if (last.length() > 1 && !m_stack.empty()) {
        QTextCursor c(last);
        c.setBlockFormat(blockFormat());
    }
}

void prepareDocument(QTextDocument& doc) {
    doc.setDocumentMargin(0);
    doc.setUndoRedoEnabled(false);
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPointSizeF(12);
    doc.setDefaultFont(font);
    QTextOption option = doc.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);
}

void readPlainRtf(std::span<const std::uint8_t> bytes, ReadResult& result) {
    QTextDocument& doc = *result.document;
    prepareDocument(doc);
    QTextOption option = doc.defaultTextOption();
    option.setTabStopDistance(48);  // \deftab720
    doc.setDefaultTextOption(option);
    Parser parser(bytes, result);
    parser.run();
}

}  // namespace rtf::detail
