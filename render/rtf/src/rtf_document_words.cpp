// The document's structure: document words (code page, default font, paper
// and margins), destinations, fields, special characters, breaks, and the
// headers and footers read into documents of their own.

#include "parser.h"

#include <QTextCursor>

#include <algorithm>
#include <utility>

namespace rtf::detail {
namespace {

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

// The words of the page setup: the field each sets and its least value (a
// paper of no size is none), and the word of a section that sets it too.
struct PageWord {
    Word word;
    Word sectionWord;  // Unknown: none
    int PageSetup::*field;
    int least;
};
constexpr PageWord kPageWords[] = {
    {Word::PaperW, Word::PgWSxn, &PageSetup::paperWidth, 1},
    {Word::PaperH, Word::PgHSxn, &PageSetup::paperHeight, 1},
    {Word::MargL, Word::MargLSxn, &PageSetup::marginLeft, 0},
    {Word::MargR, Word::MargRSxn, &PageSetup::marginRight, 0},
    {Word::MargT, Word::MargTSxn, &PageSetup::marginTop, 0},
    {Word::MargB, Word::MargBSxn, &PageSetup::marginBottom, 0},
    {Word::HeaderY, Word::Unknown, &PageSetup::headerY, 0},
    {Word::FooterY, Word::Unknown, &PageSetup::footerY, 0},
};

}  // namespace

bool Parser::handleDocumentWord(Word word, const Token& token) {
    const int param = paramOf(token);
    for (const PageWord& page : kPageWords) {
        const bool section = page.sectionWord != Word::Unknown && word == page.sectionWord;
        if (word == page.word || section) {
            // The first section's page stands for the document's, as Word
            // lays out the first page by it.
            if ((!section || !m_pastFirstSection) && param >= page.least) {
                m_result.page.*page.field = param;
            }
            return true;
        }
    }
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
        case Word::TitlePg:
            m_result.headersFooters.titlePage = true;
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
            if (m_fields.size() < kMaxOpenFields) {
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

bool Parser::handleSpecialCharacterWord(Word word, const Token& token) {
    Group& g = state();
    switch (word) {
        case Word::Uc:
            g.unicodeSkip = std::clamp(paramOf(token), 0, kMaxUnicodeSkip);
            return true;
        case Word::U: {
            if (const char16_t character = unicodeCharacter(paramOf(token)); character != 0) {
                appendText(QString(QChar(character)));
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

}  // namespace rtf::detail
