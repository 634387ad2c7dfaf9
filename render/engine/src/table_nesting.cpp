#include "table_nesting.h"

#include "engine/render_limits.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace render::engine {

namespace {

// The layout measures every table twice (its cells at unbounded width for
// the column widths, then at their widths), and a cell's nested table is laid
// out whole in each pass of the cell: content n tables deep costs about 2^n
// times its plain layout. The layout's weight of a document is its blocks'
// characters (plus a fixed cost per block), each doubled per table around it.
constexpr double kBlockWeight = 64.0;
// What a layout may weigh: well under a second of layout on this engine. The
// heaviest mail of our corpus (tables six deep) weighs 113,000; a table of
// some 9,000 cells alone weighs this much, and is shown as paragraphs.
constexpr double kMaxLayoutWeight = 2.0e6;

// The weight of a document's blocks at each table depth (0: outside tables),
// and the tables one level down from every depth.
struct TableLevels {
    std::vector<double> weightAt;
    std::vector<std::vector<QTextTable*>> tablesAt;  // tablesAt[d]: tables at depth d
};

// Iterative: frames may nest arbitrarily deep in hostile input.
TableLevels measureTables(QTextFrame* root) {
    TableLevels levels;
    std::vector<std::pair<QTextFrame*, int>> pending{{root, 0}};
    while (!pending.empty()) {
        const auto [frame, depth] = pending.back();
        pending.pop_back();
        const auto at = static_cast<std::size_t>(depth);
        if (levels.weightAt.size() <= at) {
            levels.weightAt.resize(at + 1);
            levels.tablesAt.resize(at + 1);
        }
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                auto* table = qobject_cast<QTextTable*>(child);
                const int childDepth = depth + (table != nullptr ? 1 : 0);
                if (table != nullptr) {
                    if (levels.tablesAt.size() <= static_cast<std::size_t>(childDepth)) {
                        levels.weightAt.resize(static_cast<std::size_t>(childDepth) + 1);
                        levels.tablesAt.resize(static_cast<std::size_t>(childDepth) + 1);
                    }
                    levels.tablesAt[static_cast<std::size_t>(childDepth)].push_back(table);
                }
                pending.emplace_back(child, childDepth);
            } else {
                levels.weightAt[at] += it.currentBlock().length() + kBlockWeight;
            }
        }
    }
    return levels;
}

// The deepest table nesting the layout can afford: every block deeper than
// it counted at that depth, the weight stays within kMaxLayoutWeight.
int affordableDepth(const TableLevels& levels) {
    const int deepest = static_cast<int>(levels.weightAt.size()) - 1;
    for (int depth = std::min(deepest, kMaxTableNesting); depth > 0; --depth) {
        double weight = 0;
        for (int d = 0; d <= deepest; ++d) {
            weight +=
                levels.weightAt[static_cast<std::size_t>(d)] * std::ldexp(1.0, std::min(d, depth));
        }
        if (weight <= kMaxLayoutWeight) {
            return depth;
        }
    }
    return 0;
}

// A table replaced, with every table inside it, by its paragraphs: each
// block's text with its character and paragraph formats, in document order,
// where the table stood.
void unwrapTable(QTextDocument& doc, QTextTable* table) {
    struct Paragraph {
        QTextBlockFormat format;
        QTextCharFormat charFormat;
        QTextDocumentFragment text;
    };
    std::vector<Paragraph> paragraphs;
    QTextCursor range(&doc);
    for (QTextBlock block = doc.findBlock(table->firstPosition());
         block.isValid() && block.position() <= table->lastPosition(); block = block.next()) {
        range.setPosition(block.position());
        range.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        paragraphs.push_back({block.blockFormat(), block.charFormat(), range.selection()});
    }
    const int at = table->firstPosition() - 1;
    table->removeRows(0, table->rows());
    QTextCursor insert(&doc);
    insert.setPosition(std::clamp(at, 0, doc.characterCount() - 1));
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        QTextBlockFormat format = paragraphs[i].format;
        format.clearProperty(QTextFormat::BlockTrailingHorizontalRulerWidth);
        if (i > 0) {
            insert.insertBlock(format, paragraphs[i].charFormat);
        } else {
            insert.setBlockFormat(format);
        }
        insert.insertFragment(paragraphs[i].text);
    }
}

}  // namespace

// One pass: every table one level below the affordable depth goes, with all
// it holds.
void boundTableNesting(QTextDocument& doc, std::vector<std::string>& warnings) {
    const TableLevels levels = measureTables(doc.rootFrame());
    const int depth = affordableDepth(levels);
    const auto below = static_cast<std::size_t>(depth) + 1;
    if (below >= levels.tablesAt.size() || levels.tablesAt[below].empty()) {
        return;
    }
    for (QTextTable* table : levels.tablesAt[below]) {
        unwrapTable(doc, table);
    }
    const std::size_t count = levels.tablesAt[below].size();
    warnings.push_back(std::to_string(count) + (count == 1 ? " table" : " tables") +
                       " at nesting depth " + std::to_string(below) +
                       ", and all they hold, are shown as paragraphs: laid out as tables, they "
                       "would take too long");
}

}  // namespace render::engine
