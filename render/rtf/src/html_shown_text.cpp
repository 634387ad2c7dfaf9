#include "html_shown_text.h"

#include "match_replace.h"

#include <QRegularExpression>
#include <QStringView>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace rtf::detail {
namespace {

// Elements with no content and no end tag.
bool isVoidElement(QStringView name) {
    static constexpr std::array<std::u16string_view, 14> kVoid = {
        u"area",  u"base", u"br",   u"col",   u"embed",  u"hr",    u"img",
        u"input", u"link", u"meta", u"param", u"source", u"track", u"wbr"};
    return std::any_of(kVoid.begin(), kVoid.end(), [&](std::u16string_view v) {
        return name.compare(QStringView(v.data(), static_cast<qsizetype>(v.size())),
                            Qt::CaseInsensitive) == 0;
    });
}

// Characters of one drop-down list's options read.
constexpr int kMaxSelectChars = 16384;

// Elements a browser lays out as blocks of their own.
bool isBlockElement(QStringView name) {
    static constexpr std::array<std::u16string_view, 22> kBlocks = {
        u"address", u"blockquote", u"center", u"div", u"dl", u"dt", u"dd", u"form",
        u"h1",      u"h2",         u"h3",     u"h4",  u"h5", u"h6", u"li", u"ol",
        u"p",       u"pre",        u"table",  u"td",  u"tr", u"ul"};
    return std::any_of(kBlocks.begin(), kBlocks.end(), [&](std::u16string_view v) {
        return name.compare(QStringView(v.data(), static_cast<qsizetype>(v.size())),
                            Qt::CaseInsensitive) == 0;
    });
}

// A search for the end of a hidden element that finds none reads the rest
// of the document; after this many such searches no further element is
// looked at, so hostile mail costs a bounded number of passes.
constexpr int kMaxUnclosedHidden = 64;

// Where the end tag closing the element of `name` whose start tag ends at
// `from` ends (elements of the same name nested inside counted), or -1.
qsizetype endOfElement(const QString& html, const QString& name, qsizetype from) {
    const QRegularExpression tag(
        QStringLiteral("<(/?)%1(?=[\\s/>])[^>]*>").arg(QRegularExpression::escape(name)),
        QRegularExpression::CaseInsensitiveOption);
    int depth = 1;
    for (auto it = tag.globalMatch(html, from); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const bool selfClosing = m.captured().endsWith(QStringLiteral("/>"));
        if (!m.captured(1).isEmpty()) {
            if (--depth == 0) {
                return m.capturedEnd();
            }
        } else if (!selfClosing) {
            ++depth;
        }
    }
    return -1;
}

// The value of the style attribute of a start tag, if any.
QString styleOf(const QString& attributes) {
    static const QRegularExpression kStyle(
        QStringLiteral("(?:^|\\s)style\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = kStyle.match(attributes);
    for (int i = 1; i <= 3; ++i) {
        if (m.capturedStart(i) >= 0) {
            return m.captured(i);
        }
    }
    return {};
}

struct LegacyEntity {
    const char* name;
    char16_t code;
};

// The named characters a browser reads without a semicolon.
constexpr LegacyEntity kLegacyEntities[] = {
    {"AElig", 0xC6},  {"AMP", 0x26},    {"Aacute", 0xC1}, {"Acirc", 0xC2},  {"Agrave", 0xC0},
    {"Aring", 0xC5},  {"Atilde", 0xC3}, {"Auml", 0xC4},   {"COPY", 0xA9},   {"Ccedil", 0xC7},
    {"ETH", 0xD0},    {"Eacute", 0xC9}, {"Ecirc", 0xCA},  {"Egrave", 0xC8}, {"Euml", 0xCB},
    {"GT", 0x3E},     {"Iacute", 0xCD}, {"Icirc", 0xCE},  {"Igrave", 0xCC}, {"Iuml", 0xCF},
    {"LT", 0x3C},     {"Ntilde", 0xD1}, {"Oacute", 0xD3}, {"Ocirc", 0xD4},  {"Ograve", 0xD2},
    {"Oslash", 0xD8}, {"Otilde", 0xD5}, {"Ouml", 0xD6},   {"QUOT", 0x22},   {"REG", 0xAE},
    {"THORN", 0xDE},  {"Uacute", 0xDA}, {"Ucirc", 0xDB},  {"Ugrave", 0xD9}, {"Uuml", 0xDC},
    {"Yacute", 0xDD}, {"aacute", 0xE1}, {"acirc", 0xE2},  {"acute", 0xB4},  {"aelig", 0xE6},
    {"agrave", 0xE0}, {"amp", 0x26},    {"aring", 0xE5},  {"atilde", 0xE3}, {"auml", 0xE4},
    {"brvbar", 0xA6}, {"ccedil", 0xE7}, {"cedil", 0xB8},  {"cent", 0xA2},   {"copy", 0xA9},
    {"curren", 0xA4}, {"deg", 0xB0},    {"divide", 0xF7}, {"eacute", 0xE9}, {"ecirc", 0xEA},
    {"egrave", 0xE8}, {"eth", 0xF0},    {"euml", 0xEB},   {"frac12", 0xBD}, {"frac14", 0xBC},
    {"frac34", 0xBE}, {"gt", 0x3E},     {"iacute", 0xED}, {"icirc", 0xEE},  {"iexcl", 0xA1},
    {"igrave", 0xEC}, {"iquest", 0xBF}, {"iuml", 0xEF},   {"laquo", 0xAB},  {"lt", 0x3C},
    {"macr", 0xAF},   {"micro", 0xB5},  {"middot", 0xB7}, {"nbsp", 0xA0},   {"not", 0xAC},
    {"ntilde", 0xF1}, {"oacute", 0xF3}, {"ocirc", 0xF4},  {"ograve", 0xF2}, {"ordf", 0xAA},
    {"ordm", 0xBA},   {"oslash", 0xF8}, {"otilde", 0xF5}, {"ouml", 0xF6},   {"para", 0xB6},
    {"plusmn", 0xB1}, {"pound", 0xA3},  {"quot", 0x22},   {"raquo", 0xBB},  {"reg", 0xAE},
    {"sect", 0xA7},   {"shy", 0xAD},    {"sup1", 0xB9},   {"sup2", 0xB2},   {"sup3", 0xB3},
    {"szlig", 0xDF},  {"thorn", 0xFE},  {"times", 0xD7},  {"uacute", 0xFA}, {"ucirc", 0xFB},
    {"ugrave", 0xF9}, {"uml", 0xA8},    {"uuml", 0xFC},   {"yacute", 0xFD}, {"yen", 0xA5},
    {"yuml", 0xFF},
};

// The longest legacy name `name` starts with.
const LegacyEntity* longestLegacyPrefix(QStringView name) {
    const LegacyEntity* best = nullptr;
    qsizetype bestLength = 0;
    for (const LegacyEntity& e : kLegacyEntities) {
        const auto length = static_cast<qsizetype>(std::char_traits<char>::length(e.name));
        if (length > bestLength && name.startsWith(QLatin1StringView(e.name, length))) {
            best = &e;
            bestLength = length;
        }
    }
    return best;
}

}  // namespace

QString withoutHiddenElements(const QString& html) {
    static const QRegularExpression kStartTag(
        QStringLiteral("<!--.*?-->|<([A-Za-z][A-Za-z0-9:-]*)((?:[^>\"']|\"[^\"]*\"|'[^']*')*)>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression kDisplayNone(
        QStringLiteral("(?:^|;)\\s*display\\s*:\\s*none\\b"),
        QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype kept = 0;  // html[kept..] is not yet in `out`
    int unclosed = 0;
    for (auto it = kStartTag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedStart() < kept || m.capturedLength(1) == 0) {
            continue;  // inside an element taken out, or a comment
        }
        const QString name = m.captured(1);
        if (!kDisplayNone.match(styleOf(m.captured(2))).hasMatch() || isVoidElement(name) ||
            m.captured(2).endsWith(u'/')) {
            continue;
        }
        if (unclosed >= kMaxUnclosedHidden) {
            break;
        }
        const qsizetype end = endOfElement(html, name, m.capturedEnd());
        if (end < 0) {
            ++unclosed;
            continue;
        }
        out += QStringView(html).mid(kept, m.capturedStart() - kept);
        // A block ends the words before it even when it is hidden.
        if (isBlockElement(name)) {
            out += u' ';
        }
        kept = end;
    }
    if (kept == 0) {
        return html;
    }
    out += QStringView(html).mid(kept);
    return out;
}

QString withLegacyEntitiesEnded(const QString& html) {
    // Comments, style sheets, scripts and tags first: nothing in them changes.
    static const QRegularExpression kEntity(
        QStringLiteral("<!--.*?-->|<(style|script)\\b.*?</\\1\\s*>|<[^>]*>|"
                       "&([A-Za-z][A-Za-z0-9]{0,31})(;?)"),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
    return replaceMatches(html, kEntity, [](const QRegularExpressionMatch& m) {
        if (m.capturedLength(2) == 0 || m.capturedLength(3) != 0) {
            return std::optional<QString>();
        }
        const QString name = m.captured(2);
        const LegacyEntity* e = longestLegacyPrefix(name);
        if (e == nullptr) {
            return std::optional<QString>();
        }
        const auto length = static_cast<qsizetype>(std::char_traits<char>::length(e->name));
        return std::optional<QString>(QStringLiteral("&#%1;").arg(static_cast<int>(e->code)) +
                                      name.mid(length));
    });
}

QString withSelectsAsShownOption(const QString& html) {
    static const QRegularExpression kSelect(QStringLiteral("<select\\b[^>]*>"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kOption(
        QStringLiteral("<option\\b([^>]*)>((?:[^<]|<(?!/?option\\b))*)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kSelected(QStringLiteral("(?:^|\\s)selected\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kTag(QStringLiteral("<[^>]*>"));
    QString out;
    qsizetype kept = 0;  // html[kept..] is not yet in `out`
    for (auto it = kSelect.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedStart() < kept) {
            continue;
        }
        // The end is looked for in a bounded stretch: unclosed lists cost
        // one bounded look each.
        const QStringView options = QStringView(html).mid(m.capturedEnd(), kMaxSelectChars);
        const qsizetype end = options.indexOf(QStringLiteral("</select"), 0, Qt::CaseInsensitive);
        if (end < 0) {
            continue;
        }
        QString shown;
        bool first = true;
        for (auto o = kOption.globalMatch(options.left(end).toString()); o.hasNext();) {
            const QRegularExpressionMatch option = o.next();
            if (first || kSelected.match(option.captured(1)).hasMatch()) {
                shown = option.captured(2);
                if (!first) {
                    break;
                }
                first = false;
            }
        }
        shown.remove(kTag);
        out += QStringView(html).mid(kept, m.capturedStart() - kept);
        out += u' ' + shown.trimmed() + u' ';
        const qsizetype close = html.indexOf(u'>', m.capturedEnd() + end);
        kept = close < 0 ? html.size() : close + 1;
    }
    if (kept == 0) {
        return html;
    }
    out += QStringView(html).mid(kept);
    return out;
}

QString withFormsAndHeadingsAsBlocks(const QString& html) {
    static const QRegularExpression kTag(QStringLiteral("<(/?)(form|h([1-6]))\\b([^>]*)>"),
                                         QRegularExpression::CaseInsensitiveOption);
    QChar openHeading;
    return replaceMatches(html, kTag, [&](const QRegularExpressionMatch& m) {
        const bool closing = !m.captured(1).isEmpty();
        if (m.capturedLength(3) == 0) {  // a form: a block of its own
            return std::optional<QString>(closing ? QStringLiteral("</div>")
                                                  : QStringLiteral("<div") + m.captured(4) +
                                                        QLatin1Char('>'));
        }
        if (!closing) {
            openHeading = m.captured(3).front();
            return std::optional<QString>();
        }
        if (openHeading.isNull() || openHeading == m.captured(3).front()) {
            openHeading = QChar();
            return std::optional<QString>();
        }
        const QString end = QStringLiteral("</h") + openHeading + QLatin1Char('>');
        openHeading = QChar();
        return std::optional<QString>(end);
    });
}

}  // namespace rtf::detail
