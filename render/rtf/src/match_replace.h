#pragma once
// The one way the HTML corrections rewrite mail: each match of a pattern
// replaced by what a function makes of it, the text between the matches
// kept as it is.

#include <QRegularExpression>
#include <QString>

#include <functional>
#include <limits>
#include <optional>

namespace rtf::detail {

// What replaceMatches() puts in place of one match; nothing: the match stays.
using MatchReplacement = std::function<std::optional<QString>(const QRegularExpressionMatch&)>;

// `text` with the matches of `pattern` (in `text` as given, from left to
// right) replaced by what `replace` returns for each; `replace` is called
// for every match, in order, until the budget is spent. Once the text made
// up to the last replacement is longer than `budget` characters, no further
// match is replaced and the rest stays as it is. Returns `text` itself when
// no match was replaced.
QString replaceMatches(const QString& text, const QRegularExpression& pattern,
                       const MatchReplacement& replace,
                       qsizetype budget = std::numeric_limits<qsizetype>::max());

}  // namespace rtf::detail
