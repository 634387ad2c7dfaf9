// Tables: the row and cell definitions (\trowd, \cellx, \clbrdr*, ...) and
// the QTextTables built from them.
//
// Table cells are built in documents of their own and copied into a
// QTextTable when their row ends, because a row's cell boundaries (\cellx)
// may come after its cells (nested tables always do).

#include "parser.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextTable>

#include <algorithm>
#include <memory>
#include <string_view>

namespace rtf::detail {
namespace {

// Table rows collected before they are added to their QTextTable.
constexpr std::size_t kRowsPerChunk = 32;

// The side a \clbrdrX or \trbrdrX word names by its last letter.
int borderSide(std::string_view word) {
    switch (word.back()) {
        case 't':
            return kTop;
        case 'l':
            return kLeft;
        case 'b':
            return kBottom;
        case 'r':
            return kRight;
        case 'h':
            return kInsideH;
        default:
            return kInsideV;
    }
}

}  // namespace

int Parser::wantedTableLevel() const {
    const ParaState& p = m_stack.back().para;
    if (!p.inTable) {
        return 0;
    }
    return std::clamp(p.tableLevel, 1, kMaxTableNesting);
}

// Where output goes: the open cell of the table level the paragraph is in
// (opening and closing levels to match), or the body.
Sink Parser::currentSink() {
    ensureTableLevel(wantedTableLevel());
    if (m_tables.empty()) {
        return Sink{&m_cursor};
    }
    return Sink{&m_tables.back().cursor};
}

RowDef& Parser::rowDef() {
    return m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)];
}

void Parser::handleTableWord(Word word, const Token& token) {
    const int param = paramOf(token);
    switch (word) {
        case Word::TRowD:
            rowDef() = RowDef{};
            m_borderTarget = BorderTarget::None;
            return;
        case Word::CellX: {
            RowDef& row = rowDef();
            if (row.cells.size() < static_cast<std::size_t>(kMaxTableColumns)) {
                CellDef cell = row.next;
                cell.right = std::clamp(param, -kMaxLengthTwips, kMaxLengthTwips);
                row.cells.push_back(cell);
            }
            row.next = CellDef{};
            m_borderTarget = BorderTarget::None;
            return;
        }
        case Word::ClCbPat:
            rowDef().next.shading = param;
            return;
        case Word::ClBrdr:
        case Word::TrBrdr:
        case Word::ParaBrdr:
        case Word::BrdrNone:
        case Word::BrdrStyle:
        case Word::BrdrW:
        case Word::BrdrCf:
            handleBorderWord(word, token);
            return;
        case Word::TrLeft:
            rowDef().left = std::clamp(param, -kMaxLengthTwips, kMaxLengthTwips);
            return;
        case Word::TrGapH:
            rowDef().gap = std::clamp(param, 0, 1440);
            return;
        case Word::TrQc:
            rowDef().align = Qt::AlignHCenter;
            return;
        case Word::TrQr:
            rowDef().align = Qt::AlignRight;
            return;
        case Word::TrQl:
            rowDef().align = Qt::AlignLeft;
            return;
        case Word::ClVertAlT:
            rowDef().next.vertical = Qt::AlignTop;
            return;
        case Word::ClVertAlC:
            rowDef().next.vertical = Qt::AlignVCenter;
            return;
        case Word::ClVertAlB:
            rowDef().next.vertical = Qt::AlignBottom;
            return;
        default:
            return;
    }
}

void Parser::handleBorderWord(Word word, const Token& token) {
    if (word == Word::ClBrdr || word == Word::TrBrdr) {
        // The \brdr* words that follow describe this side of the next cell
        // (\clbrdr*) or of the row (\trbrdr*).
        m_borderTarget = word == Word::ClBrdr ? BorderTarget::Cell : BorderTarget::Row;
        m_borderSide = borderSide(token.word);
        return;
    }
    if (word == Word::ParaBrdr) {
        m_borderTarget = BorderTarget::None;  // paragraph borders are not drawn
        return;
    }
    if (m_borderTarget == BorderTarget::None) {
        return;
    }
    RowDef& row = rowDef();
    const int param = paramOf(token);
    int& sides = m_borderTarget == BorderTarget::Cell ? row.next.sides : row.sides;
    int& width = m_borderTarget == BorderTarget::Cell ? row.next.borderWidth : row.borderWidth;
    int& colour = m_borderTarget == BorderTarget::Cell ? row.next.borderColor : row.borderColor;
    if (word == Word::BrdrStyle) {
        sides |= m_borderSide;
    } else if (word == Word::BrdrNone) {
        sides &= ~m_borderSide;
    } else if (word == Word::BrdrW) {
        width = std::max(width, std::clamp(param, 0, 300));
    } else {
        colour = param;
    }
}

void Parser::ensureTableLevel(int wanted) {
    if (m_tableCells >= kMaxTableCells) {
        wanted = 0;  // past the cell budget tables are written as plain paragraphs
    }
    while (static_cast<int>(m_tables.size()) > wanted) {
        closeTableLevel();
    }
    while (static_cast<int>(m_tables.size()) < wanted) {
        TableLevel level;
        level.cell = std::make_unique<QTextDocument>();
        level.cursor = QTextCursor(level.cell.get());
        m_tables.push_back(std::move(level));
    }
}

void Parser::endCell(int level) {
    if (m_tableCells >= kMaxTableCells) {
        if (m_tables.empty()) {
            appendText(QStringLiteral("\t"));
        }
        return;
    }
    ensureTableLevel(std::min(level, kMaxTableNesting));
    if (m_tables.empty()) {
        return;
    }
    TableLevel& t = m_tables.back();
    t.cursor.setBlockFormat(blockFormat());
    t.cursor.setBlockCharFormat(charFormat());
    t.rowCells.push_back(std::move(t.cell));
    t.cell = std::make_unique<QTextDocument>();
    t.cursor = QTextCursor(t.cell.get());
    t.cellHasContent = false;
    ++m_tableCells;
}

void Parser::endRow(int level) {
    if (m_tableCells >= kMaxTableCells) {
        if (m_tables.empty()) {
            warn("more than " + std::to_string(kMaxTableCells) +
                 " table cells: the rest are shown as tab-separated lines");
            endParagraph();
        }
        return;
    }
    level = std::min(level, kMaxTableNesting);
    ensureTableLevel(level);
    if (m_tables.empty()) {
        return;
    }
    if (m_tables.back().cellHasContent) {
        endCell(level);  // text after the last \cell belongs to a cell of its own
    }
    commitRow(level);
}

void Parser::commitRow(int level) {
    TableLevel& t = m_tables.back();
    if (t.rowCells.empty()) {
        return;
    }
    TableRow row;
    row.def = m_rowDefs[static_cast<std::size_t>(std::clamp(level, 1, kMaxTableNesting))];
    row.cells = std::move(t.rowCells);
    t.rowCells.clear();
    t.rows.push_back(std::move(row));
    if (t.rows.size() >= kRowsPerChunk) {
        flushRows();
    }
}

void Parser::flushRows() {
    TableLevel& t = m_tables.back();
    if (t.rows.empty()) {
        return;
    }
    QTextCursor& parent = m_tables.size() >= 2 ? m_tables[m_tables.size() - 2].cursor : m_cursor;
    if (m_tables.size() >= 2) {
        m_tables[m_tables.size() - 2].cellHasContent = true;
    }
    buildTable(t, parent);
}

void Parser::buildTable(TableLevel& t, QTextCursor& parent) {
    // Rows go in by chunks: growing a QTextTable row by row rebuilds its
    // cell grid each time (quadratic in the rows), while keeping every cell
    // document until the table ends costs memory (about 10 KB a cell).
    int columns = 1;
    std::size_t widest = 0;
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        const TableRow& row = t.rows[r];
        const int n = std::min(static_cast<int>(row.cells.size()), kMaxTableColumns);
        if (n > columns) {
            columns = n;
            widest = r;
        }
    }
    const RowDef& def = t.rows[widest].def;
    QTextTableFormat format;
    format.setCellSpacing(0);
    format.setCellPadding(std::clamp(px(def.gap), 1.0, 20.0));
    format.setBorderCollapse(true);
    // Borders are drawn per cell side; the table has none of its own.
    format.setBorder(0);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderBrush(Qt::black);
    format.setAlignment(def.align);
    if (def.left > 0) {
        format.setLeftMargin(px(def.left));
    }
    if (static_cast<int>(def.cells.size()) >= columns) {
        QList<QTextLength> widths;
        int previous = def.left;
        for (int i = 0; i < columns; ++i) {
            const int right = def.cells[static_cast<std::size_t>(i)].right;
            widths.append(
                QTextLength(QTextLength::FixedLength, std::max(px(right - previous), 8.0)));
            previous = std::max(previous, right);
        }
        format.setColumnWidthConstraints(widths);
    }
    int firstRow = 0;
    if (t.table == nullptr) {
        parent.movePosition(QTextCursor::End);
        t.table = parent.insertTable(static_cast<int>(t.rows.size()), columns, format);
    } else {
        if (t.table->columns() < columns) {
            t.table->appendColumns(columns - t.table->columns());
        }
        firstRow = t.table->rows();
        t.table->appendRows(static_cast<int>(t.rows.size()));
    }
    QTextTable* table = t.table;
    columns = table->columns();
    for (int r = 0; r < static_cast<int>(t.rows.size()); ++r) {
        TableRow& row = t.rows[static_cast<std::size_t>(r)];
        for (int i = 0; i < static_cast<int>(row.cells.size()); ++i) {
            const int column = std::min(i, columns - 1);
            QTextTableCell cell = table->cellAt(firstRow + r, column);
            if (!cell.isValid()) {
                continue;
            }
            const CellDef* cd = i < static_cast<int>(row.def.cells.size())
                                    ? &row.def.cells[static_cast<std::size_t>(i)]
                                    : nullptr;
            QTextTableCellFormat cf = cell.format().toTableCellFormat();
            if (cd != nullptr) {
                const QColor shading = color(cd->shading);
                if (shading.isValid()) {
                    cf.setBackground(shading);
                }
                cf.setVerticalAlignment(
                    cd->vertical == Qt::AlignVCenter  ? QTextCharFormat::AlignMiddle
                    : cd->vertical == Qt::AlignBottom ? QTextCharFormat::AlignBottom
                                                      : QTextCharFormat::AlignTop);
            }
            applyBorders(cf, cd, row.def, firstRow + r == 0, i == 0,
                         i == static_cast<int>(row.cells.size()) - 1);
            cell.setFormat(cf);
            QTextDocument* cellDoc = row.cells[static_cast<std::size_t>(i)].get();
            // Drop the empty block the cell's last paragraph mark opened.
            QTextBlock last = cellDoc->lastBlock();
            if (last.length() <= 1 && last.previous().isValid()) {
                QTextCursor trim(last);
                trim.deletePreviousChar();
            }
            if (!cellDoc->isEmpty()) {
                QTextCursor c = cell.lastCursorPosition();
                if (i > column) {
                    c.insertText(
                        QStringLiteral(" "));  // cells beyond the column limit share the last
                }
                c.insertFragment(QTextDocumentFragment(cellDoc));
            }
        }
        row.cells.clear();  // frees the cell documents as we go
    }
    t.rows.clear();
    parent.movePosition(QTextCursor::End);
}

void Parser::applyBorders(QTextTableCellFormat& format, const CellDef* cell, const RowDef& row,
                          bool firstRow, bool firstCell, bool lastCell) const {
    // The cell's own \clbrdr* sides, plus the row's: its top edge on the
    // table's first row, inside lines between rows and cells, outer left and
    // right on the outer cells. Word writes the bottom edge on the cells.
    int sides = cell != nullptr ? cell->sides : 0;
    const int rs = row.sides;
    if ((firstRow && (rs & kTop)) || (rs & kInsideH)) {
        sides |= kTop;
    }
    if (rs & kInsideH) {
        sides |= kBottom;
    }
    if ((firstCell && (rs & kLeft)) || (!firstCell && (rs & kInsideV))) {
        sides |= kLeft;
    }
    if ((lastCell && (rs & kRight)) || (!lastCell && (rs & kInsideV))) {
        sides |= kRight;
    }
    const int twips = std::max(cell != nullptr ? cell->borderWidth : 0, row.borderWidth);
    const qreal width = std::clamp(px(twips), 1.0, 6.0);
    QColor colour =
        color(cell != nullptr && cell->borderColor != 0 ? cell->borderColor : row.borderColor);
    const QBrush brush(colour.isValid() ? colour : QColor(Qt::black));
    const auto side = [&](int bit, auto setWidth, auto setStyle, auto setBrush) {
        if (sides & bit) {
            (format.*setWidth)(width);
            (format.*setStyle)(QTextFrameFormat::BorderStyle_Solid);
            (format.*setBrush)(brush);
        } else {
            (format.*setWidth)(0);
            (format.*setStyle)(QTextFrameFormat::BorderStyle_None);
        }
    };
    side(kTop, &QTextTableCellFormat::setTopBorder, &QTextTableCellFormat::setTopBorderStyle,
         &QTextTableCellFormat::setTopBorderBrush);
    side(kLeft, &QTextTableCellFormat::setLeftBorder, &QTextTableCellFormat::setLeftBorderStyle,
         &QTextTableCellFormat::setLeftBorderBrush);
    side(kBottom, &QTextTableCellFormat::setBottomBorder,
         &QTextTableCellFormat::setBottomBorderStyle, &QTextTableCellFormat::setBottomBorderBrush);
    side(kRight, &QTextTableCellFormat::setRightBorder, &QTextTableCellFormat::setRightBorderStyle,
         &QTextTableCellFormat::setRightBorderBrush);
}

void Parser::closeTableLevel() {
    TableLevel& t = m_tables.back();
    if (t.cellHasContent) {
        // A table that ends without \row: keep the text of its last cell.
        t.rowCells.push_back(std::move(t.cell));
        t.cell = std::make_unique<QTextDocument>();
    }
    if (!t.rowCells.empty()) {
        commitRow(static_cast<int>(m_tables.size()));
    }
    flushRows();
    m_tables.pop_back();
}

}  // namespace rtf::detail
