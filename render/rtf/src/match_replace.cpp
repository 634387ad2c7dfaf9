#include "match_replace.h"

namespace rtf::detail {

QString replaceMatches(const QString& text, const QRegularExpression& pattern,
                       const MatchReplacement& replace, qsizetype budget) {
    QString out;
    qsizetype kept = 0;  // text[0, kept) is in `out`
    bool replaced = false;
    auto matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        std::optional<QString> replacement = replace(match);
        if (!replacement) {
            continue;
        }
        if (out.size() > budget) {
            break;
        }
        if (!replaced) {
            out.reserve(text.size());
            replaced = true;
        }
        out += QStringView(text).mid(kept, match.capturedStart() - kept);
        out += *replacement;
        kept = match.capturedEnd();
    }
    if (!replaced) {
        return text;
    }
    out += QStringView(text).mid(kept);
    return out;
}

}  // namespace rtf::detail
