// The one splice the HTML corrections are written with (match_replace.h).

#include "match_replace.h"

#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using rtf::detail::replaceMatches;

namespace {

const QRegularExpression kDigits(QStringLiteral("\\d+"));

std::optional<QString> bracketed(const QRegularExpressionMatch& m) {
    return QLatin1Char('[') + m.captured() + QLatin1Char(']');
}

}  // namespace

TEST(MatchReplace, EachMatchIsReplacedAndTheTextBetweenKept) {
    EXPECT_EQ(replaceMatches(QStringLiteral("a1b22c333"), kDigits, bracketed),
              QStringLiteral("a[1]b[22]c[333]"));
    // A match at the very start and matches side by side.
    const QRegularExpression kLetter(QStringLiteral("[a-z]"));
    EXPECT_EQ(replaceMatches(QStringLiteral("ab1"), kLetter, bracketed), QStringLiteral("[a][b]1"));
    // Replaced by nothing: removed.
    EXPECT_EQ(replaceMatches(QStringLiteral("1x2"), kDigits,
                             [](const QRegularExpressionMatch&) { return QString(); }),
              QStringLiteral("x"));
}

TEST(MatchReplace, MatchesTheFunctionDeclinesStayAndEveryMatchIsSeenInOrder) {
    std::vector<QString> seen;
    const QString out = replaceMatches(
        QStringLiteral("1 2 3 4"), kDigits,
        [&](const QRegularExpressionMatch& m) -> std::optional<QString> {
            seen.push_back(m.captured());
            if (m.captured() == QStringLiteral("2") || m.captured() == QStringLiteral("4")) {
                return QStringLiteral("even");
            }
            return std::nullopt;
        });
    EXPECT_EQ(out, QStringLiteral("1 even 3 even"));
    EXPECT_EQ(seen, (std::vector<QString>{QStringLiteral("1"), QStringLiteral("2"),
                                          QStringLiteral("3"), QStringLiteral("4")}));
    // Nothing replaced: the text as it was.
    const QString text = QStringLiteral("1 2");
    EXPECT_EQ(
        replaceMatches(text, kDigits, [](const QRegularExpressionMatch&) { return std::nullopt; }),
        text);
    EXPECT_EQ(replaceMatches(QStringLiteral("none"), kDigits, bracketed), QStringLiteral("none"));
}

// Past the budget the rest of the text stays as it is: a match is replaced
// only while the text made up to the last replacement is within it.
TEST(MatchReplace, PastTheBudgetTheRestStaysAsItIs) {
    const auto grow = [](const QRegularExpressionMatch& m) {
        return std::optional<QString>(m.captured().repeated(10));
    };
    EXPECT_EQ(replaceMatches(QStringLiteral("1 2 3"), kDigits, grow, 9),
              QStringLiteral("1111111111 2 3"));
    EXPECT_EQ(replaceMatches(QStringLiteral("1 2 3"), kDigits, grow, 10),
              QStringLiteral("1111111111 2222222222 3"));
    EXPECT_EQ(replaceMatches(QStringLiteral("1 2"), kDigits, grow, 0),
              QStringLiteral("1111111111 2"));
}
