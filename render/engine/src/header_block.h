#pragma once
// The header block a caller puts above the body (a message's envelope: a
// title line, a rule, then rows of a bold label, a tab and the value).

#include <QString>
#include <QTextDocument>

namespace render::engine {

// Puts the header block `text` (its first line the title, each further line
// "label\tvalue") in front of the body of `doc` as blocks of its own; the
// body's first block keeps its format.
void insertHeader(QTextDocument& doc, const QString& text);

}  // namespace render::engine
