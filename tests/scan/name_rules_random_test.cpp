// Differential checks of the name rules against independent references, on
// many generated inputs (fixed seeds, so failures repeat).
#include <scan/add_folder.h>

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>

#include <random>
#include <string>

namespace {

// A reference matcher: the wildcard turned into an anchored, case-blind
// regular expression, with the trailing ".*" made optional.
bool referenceMatch(const QString& name, const QString& pattern) {
    auto toRegex = [](const QString& wildcard) {
        QString rx;
        for (QChar c : wildcard) {
            if (c == QLatin1Char('*')) {
                rx += QStringLiteral(".*");
            } else if (c == QLatin1Char('?')) {
                rx += QLatin1Char('.');
            } else {
                rx += QRegularExpression::escape(QString(c));
            }
        }
        return QRegularExpression(QRegularExpression::anchoredPattern(rx),
                                  QRegularExpression::CaseInsensitiveOption |
                                      QRegularExpression::DotMatchesEverythingOption);
    };
    if (toRegex(pattern).match(name).hasMatch()) {
        return true;
    }
    return pattern.endsWith(QLatin1String(".*")) &&
           toRegex(pattern.chopped(2)).match(name).hasMatch();
}

}  // namespace

TEST(NameRulesRandom, WildcardAgreesWithARegularExpression) {
    std::mt19937 rng(20211);
    const QString nameAlphabet = QStringLiteral("aAbB.é~ ");
    const QString patternAlphabet = QStringLiteral("aBb.*?É");
    auto draw = [&](const QString& alphabet, int maxLength) {
        QString s;
        const int length = static_cast<int>(rng() % static_cast<unsigned>(maxLength + 1));
        for (int i = 0; i < length; ++i) {
            s +=
                alphabet.at(static_cast<qsizetype>(rng() % static_cast<unsigned>(alphabet.size())));
        }
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const QString name = draw(nameAlphabet, 8);
        const QString pattern = draw(patternAlphabet, 6);
        ASSERT_EQ(scan::MatchesWildcard(name, pattern), referenceMatch(name, pattern))
            << "name '" << name.toStdString() << "' pattern '" << pattern.toStdString() << "'";
    }
}

TEST(NameRulesRandom, UnsafeNamesAgreeWithQtsUtf8Decoder) {
    std::mt19937 rng(7);
    // Mostly printable ASCII with UTF-8 lead and continuation bytes mixed in.
    const std::string bytes = "ab?.\x01\x7f\xc2\x80\x9f\xa0\xc3\xa9\xe2\x82\xac\xed\xf0\x9f\xff";
    for (int i = 0; i < 50000; ++i) {
        std::string name;
        const int length = static_cast<int>(rng() % 7);
        for (int k = 0; k < length; ++k) {
            name += bytes[rng() % bytes.size()];
        }
        const QByteArray raw(name.data(), static_cast<qsizetype>(name.size()));
        const QString decoded = QString::fromUtf8(raw);
        // Valid UTF-8 survives a round trip through Qt's decoder.
        bool expected = decoded.toUtf8() != raw || decoded.contains(QChar::ReplacementCharacter);
        for (QChar c : decoded) {
            const char16_t u = c.unicode();
            expected = expected || u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == u'?';
        }
        ASSERT_EQ(scan::HasUnsafeNameChars(name), expected) << QByteArray(raw).toHex().constData();
    }
}
