#pragma once
// The bands a caller puts above the body: the header block (a message's
// envelope: a title line, a rule, then rows of a bold label, a tab and the
// value) and the caption band (one line, a rule under it: an attachment's
// name, type and size). Both are blocks of the document in one face.

#include <QString>
#include <QTextDocument>

namespace render::engine {

// Puts the header block `text` (its first line the title, each further line
// "label\tvalue") in front of the body of `doc` as blocks of its own; the
// body's first block keeps its format.
void insertHeader(QTextDocument& doc, const QString& text);

// Puts the caption `text` in front of everything in `doc` (the header block
// included) as one line, in the header block's face and size, elided in the
// middle to `width` pixels, with a rule under it; line breaks and other
// control characters in it are spaces.
void insertCaption(QTextDocument& doc, const QString& text, double width);

// The rows of a placeholder page in the header block's form: the title, then
// one "label\tvalue" line a row.
QString placeholderRows(const QString& title, const QString& label, const QString& value);

}  // namespace render::engine
