// PagedDocument::text(): the words of the rendered pages as plain text, for
// the text file beside the pages.

#include "engine/paged_document.h"

#include "document_state.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextTable>

namespace render::engine {

namespace {

// A block's characters as a line of plain text.
QString plainLine(const QTextBlock& block) {
    QString line = block.text();
    line.remove(QChar::ObjectReplacementCharacter);
    line.replace(QChar::LineSeparator, u'\n');
    line.replace(QChar::Nbsp, u' ');
    return line;
}

// Every block of `doc` in reading order (table cells included), up to the
// first one past `until` pages when `pageOf` is given.
template <typename PageOf>
QString blockText(const QTextDocument& doc, int pageCount, PageOf pageOf) {
    QString text;
    bool blank = true;  // the last line was empty (or there is none)
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (pageOf(block.position()) >= pageCount) {
            break;
        }
        const QString line = plainLine(block);
        // Empty paragraphs space the page; in text one empty line keeps
        // paragraphs apart, and an empty one in a table cell says nothing.
        if (line.isEmpty() && (blank || QTextCursor(block).currentTable() != nullptr)) {
            continue;
        }
        text += line;
        text += u'\n';
        blank = line.isEmpty();
    }
    if (blank && !text.isEmpty()) {
        text.chop(1);
    }
    return text;
}

}  // namespace

QString FixedPages::contentText(int pageCount) const {
    QString text;
    if (!m_content.content) {
        return text;
    }
    const int shown =
        std::min(static_cast<int>(m_content.pages.size()), pageCount - m_firstContent);
    for (int i = 0; i < shown; ++i) {
        if (!m_content.pages[static_cast<std::size_t>(i)].failure.isEmpty()) {
            continue;
        }
        QString page = m_content.content->text(i);
        if (!page.isEmpty() && !page.endsWith(u'\n')) {
            page += u'\n';
        }
        text += page;
    }
    return text;
}

QString PagedDocument::text() const {
    const int pages = pageCount();
    if (m_state->fixed) {
        const QString top = blockText(m_state->fixed->topMatter(), 1, [](int) { return 0; });
        // An empty top matter is one empty block.
        return (top.trimmed().isEmpty() ? QString() : top) + m_state->fixed->contentText(pages);
    }
    return blockText(*m_state->paged.doc, pages, [this](int position) {
        return engine::pageOfPosition(m_state->paged, position);
    });
}

}  // namespace render::engine
