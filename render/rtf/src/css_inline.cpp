#include "css_inline.h"

#include "match_replace.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace rtf::detail {
namespace {

constexpr std::size_t kMaxRulesPerElement = 32;
// Classes of one element looked up; further ones are ignored.
constexpr qsizetype kMaxClassesPerElement = 16;
// Longer declaration blocks are not style but noise, and are not read.
constexpr qsizetype kMaxDeclarationChars = 4096;

struct Rule {
    QString tag;          // lower case; empty: any element
    QString cls;          // lower case; empty: no class needed
    int specificity = 0;  // 1 per element name, 10 per class or pseudo-class
    int order = 0;        // position in the sheets
    bool link = false;    // a:link: only links (with an href), not named anchors
    QString declarations;
};

// The declarations of a rule without those only Outlook reads.
QString usefulDeclarations(const QString& block) {
    QStringList kept;
    for (const QString& declaration : block.split(QLatin1Char(';'))) {
        const QString d = declaration.trimmed();
        if (d.isEmpty() || !d.contains(QLatin1Char(':')) ||
            d.startsWith(QStringLiteral("mso-"), Qt::CaseInsensitive)) {
            continue;
        }
        kept << d;
    }
    return kept.join(QLatin1Char(';'));
}

// Reads the rules of `sheet` into `rules`; rules whose selectors are not
// simple go to `rest` as text. At-rules (@font-face, @page, @list, @media)
// say nothing a page of mail needs and are skipped whole.
void readSheet(const QString& sheet, std::vector<Rule>& rules, QString& rest) {
    static const QRegularExpression kComment(QStringLiteral("/\\*.*?\\*/|<!--|-->"),
                                             QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression kSimple(
        QStringLiteral("^([A-Za-z][A-Za-z0-9]*)?(?:\\.([A-Za-z_][A-Za-z0-9_-]*))?(:link)?$"));
    QString text = sheet;
    text.remove(kComment);
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && rules.size() < static_cast<std::size_t>(kMaxStyleRules)) {
        while (i < n && text[i].isSpace()) {
            ++i;
        }
        const qsizetype open = text.indexOf(QLatin1Char('{'), i);
        if (open < 0) {
            break;
        }
        // "@import url(...);" and "@charset ...;" end at their semicolon.
        if (text[i] == QLatin1Char('@')) {
            const qsizetype semicolon =
                QStringView(text).mid(i, open - i).indexOf(QLatin1Char(';'));
            if (semicolon >= 0) {
                i += semicolon + 1;
                continue;
            }
        }
        qsizetype close = open;
        for (int depth = 0; close < n; ++close) {
            if (text[close] == QLatin1Char('{')) {
                ++depth;
            } else if (text[close] == QLatin1Char('}') && --depth == 0) {
                break;
            }
        }
        if (close >= n) {
            break;  // an unterminated rule ends the sheet
        }
        const QString prelude = text.mid(i, open - i).trimmed();
        const QString declarations = usefulDeclarations(text.mid(open + 1, close - open - 1));
        i = close + 1;
        if (prelude.startsWith(QLatin1Char('@')) || declarations.isEmpty() ||
            declarations.size() > kMaxDeclarationChars) {
            continue;
        }
        QStringList others;
        for (const QString& part : prelude.split(QLatin1Char(','))) {
            const QString selector = part.trimmed();
            const QRegularExpressionMatch m = kSimple.match(selector);
            const QString tag = m.captured(1).toLower();
            const bool link = m.capturedLength(3) > 0;
            if (!m.hasMatch() || selector.isEmpty() || (link && tag != QStringLiteral("a"))) {
                if (!selector.isEmpty()) {
                    others << selector;
                }
                continue;
            }
            Rule rule;
            rule.tag = tag;
            rule.cls = m.captured(2).toLower();
            rule.link = link;
            rule.specificity =
                (tag.isEmpty() ? 0 : 1) + (rule.cls.isEmpty() ? 0 : 10) + (link ? 10 : 0);
            rule.order = static_cast<int>(rules.size());
            rule.declarations = declarations;
            rules.push_back(std::move(rule));
        }
        if (!others.isEmpty()) {
            rest += others.join(QStringLiteral(", ")) + QStringLiteral(" {") + declarations +
                    QStringLiteral("}\n");
        }
    }
}

QString attributeValue(const QRegularExpressionMatch& m) {
    QString value = m.captured(1);
    if (value.size() >= 2 &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))) {
        value = value.mid(1, value.size() - 2);
    }
    return value;
}

// The rules by the element name they need (empty: any) and by class.
struct RuleIndex {
    std::map<QString, std::vector<const Rule*>> byTag;
    std::map<QString, std::vector<const Rule*>> byClass;
};

RuleIndex indexRules(const std::vector<Rule>& rules) {
    RuleIndex index;
    for (const Rule& rule : rules) {
        (rule.cls.isEmpty() ? index.byTag[rule.tag] : index.byClass[rule.cls]).push_back(&rule);
    }
    // Of many rules for one selector only the last ones can matter for the
    // last kMaxRulesPerElement that are applied; keep the lookups short.
    for (auto* lists : {&index.byTag, &index.byClass}) {
        for (auto& [key, list] : *lists) {
            if (list.size() > kMaxRulesPerElement) {
                list.erase(list.begin(),
                           list.end() - static_cast<std::ptrdiff_t>(kMaxRulesPerElement));
            }
        }
    }
    return index;
}

// The rules of `index` that match an element, in the order they apply (the
// last wins), at most the last kMaxRulesPerElement of them.
std::vector<const Rule*> matchingRules(const RuleIndex& index, const QString& name,
                                       const QString& attributes) {
    static const QRegularExpression kClass(
        QStringLiteral("(?:^|\\s)class\\s*=\\s*(\"[^\"]*\"|'[^']*'|[^\\s>]+)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kHref(QStringLiteral("(?:^|\\s)href\\s*="),
                                          QRegularExpression::CaseInsensitiveOption);
    std::vector<const Rule*> matching;
    const bool isLink = name == QStringLiteral("a") && kHref.match(attributes).hasMatch();
    auto add = [&](const std::vector<const Rule*>& candidates) {
        for (const Rule* rule : candidates) {
            if ((rule->tag.isEmpty() || rule->tag == name) && (!rule->link || isLink)) {
                matching.push_back(rule);
            }
        }
    };
    if (auto it = index.byTag.find(name); it != index.byTag.end()) {
        add(it->second);
    }
    const QRegularExpressionMatch classes = kClass.match(attributes);
    if (classes.hasMatch()) {
        QStringList names =
            attributeValue(classes).toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        names.removeDuplicates();
        for (const QString& cls : names.mid(0, kMaxClassesPerElement)) {
            if (auto it = index.byClass.find(cls); it != index.byClass.end()) {
                add(it->second);
            }
        }
    }
    std::sort(matching.begin(), matching.end(), [](const Rule* a, const Rule* b) {
        return a->specificity != b->specificity ? a->specificity < b->specificity
                                                : a->order < b->order;
    });
    matching.erase(std::unique(matching.begin(), matching.end()), matching.end());
    // The last rules win; more than a few dozen on one element is not mail.
    if (matching.size() > kMaxRulesPerElement) {
        matching.erase(matching.begin(),
                       matching.end() - static_cast<std::ptrdiff_t>(kMaxRulesPerElement));
    }
    return matching;
}

// A start tag with the declarations of the rules that match it in its style
// attribute, ahead of its own; nothing when no rule matches.
std::optional<QString> withRulesInlined(const QRegularExpressionMatch& tag,
                                        const RuleIndex& index) {
    static const QRegularExpression kStyle(
        QStringLiteral("(?:^|\\s)style\\s*=\\s*(\"[^\"]*\"|'[^']*'|[^\\s>]+)"),
        QRegularExpression::CaseInsensitiveOption);
    QString attributes = tag.captured(2);
    const std::vector<const Rule*> matching =
        matchingRules(index, tag.captured(1).toLower(), attributes);
    if (matching.empty()) {
        return std::nullopt;
    }
    QStringList declarations;
    for (const Rule* rule : matching) {
        declarations << rule->declarations;
    }
    const QRegularExpressionMatch own = kStyle.match(attributes);
    if (own.hasMatch()) {
        declarations << attributeValue(own);
        attributes.remove(own.capturedStart(), own.capturedLength());
    }
    const bool selfClosing = attributes.trimmed().endsWith(QLatin1Char('/'));
    if (selfClosing) {
        attributes.truncate(attributes.lastIndexOf(QLatin1Char('/')));
    }
    QString style = declarations.join(QLatin1Char(';'));
    style.replace(QLatin1Char('"'), QLatin1Char('\''));
    return QLatin1Char('<') + tag.captured(1) + attributes + QStringLiteral(" style=\"") + style +
           QLatin1Char('"') + (selfClosing ? QStringLiteral(" />") : QStringLiteral(">"));
}

}  // namespace

QString withStyleSheetsInlined(const QString& html) {
    static const QRegularExpression kStyleBlock(
        QStringLiteral("<style\\b[^>]*>(.*?)</style\\s*>"),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kTag(
        QStringLiteral("<([A-Za-z][A-Za-z0-9]*)((?:[^>\"']|\"[^\"]*\"|'[^']*')*)>"));
    std::vector<Rule> rules;
    QString rest;
    // Where the first sheet stood: nothing before it is removed.
    qsizetype firstSheet = -1;
    QString withoutSheets =
        replaceMatches(html, kStyleBlock, [&](const QRegularExpressionMatch& block) {
            if (firstSheet < 0) {
                firstSheet = block.capturedStart();
            }
            readSheet(block.captured(1), rules, rest);
            return std::optional<QString>(QString());
        });
    if (firstSheet < 0) {
        return html;
    }
    if (!rest.isEmpty()) {
        withoutSheets.insert(firstSheet,
                             QStringLiteral("<style>") + rest + QStringLiteral("</style>"));
    }
    if (rules.empty()) {
        return withoutSheets;
    }
    const RuleIndex index = indexRules(rules);
    // Inlining repeats declarations on every element they match; the result
    // may grow to a few times the input, not without bound: past the budget
    // the rest keeps only its own styles (hostile sheets).
    const qsizetype budget = 4 * withoutSheets.size() + (qsizetype{1} << 20);
    return replaceMatches(
        withoutSheets, kTag,
        [&](const QRegularExpressionMatch& tag) { return withRulesInlined(tag, index); }, budget);
}

}  // namespace rtf::detail
