#pragma once
// The nesting budget: tables nested deeper than the layout can afford are
// shown as their paragraphs.

#include <QTextDocument>

#include <string>
#include <vector>

namespace render::engine {

// Unwraps the tables nested deeper than the layout can afford (a weight of
// the document's text, doubled per table around it, within a fixed budget;
// never deeper than kMaxTableNesting), so that the cost of laying out grows
// with the input, not with 2 to the power of its nesting. Says so in
// `warnings` when it unwraps any.
void boundTableNesting(QTextDocument& doc, std::vector<std::string>& warnings);

}  // namespace render::engine
