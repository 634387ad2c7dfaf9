// The RTF group state machine: tokens in, a QTextDocument out.
//
// Character and paragraph properties live in a per-group state that is
// copied on "{" and dropped on "}". Text is collected as bytes until the
// state changes, then decoded with the code page of the current font and
// inserted with the current character format. Control words are taken by
// the handler of their group: formats (rtf_formats.cpp), the document's
// structure (rtf_document_words.cpp), tables (rtf_tables.cpp) and pictures
// (rtf_picture_group.cpp).

#include "parser.h"
#include "reader.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextTable>

#include <algorithm>

namespace rtf::detail {

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
                } else {
                    addToFontName(c);
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
        addToFontName(byte);
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
        if (!m_fields.empty() && m_fields.back().instruction.size() < kMaxFieldInstructionChars) {
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
