// Formats: the font and colour tables, the character and paragraph words,
// and the QTextCharFormat and QTextBlockFormat the group state makes.

#include "parser.h"

#include <rtf/faces.h>

#include <QFont>

#include <algorithm>

namespace rtf::detail {
namespace {

const QColor kLinkColor(0x05, 0x63, 0xC1);

// Windows charsets of East Asian fonts (\fcharset).
CjkRegion regionOfCharset(int charset) {
    switch (charset) {
        case 128:
            return CjkRegion::Japan;
        case 134:
            return CjkRegion::SimplifiedChinese;
        case 136:
            return CjkRegion::TraditionalChinese;
        case 129:
        case 130:
            return CjkRegion::Korea;
        default:
            return CjkRegion::Unknown;
    }
}

QStringList familiesFor(const QString& face, int family, CjkRegion region) {
    QStringList list;
    if (!face.isEmpty()) {
        // A metric twin breaks lines as the face named; the engine puts the
        // other stand-ins in place.
        const QString twin = metricTwinFace(face);
        list << (twin.isEmpty() ? face : twin);
    }
    // Fallbacks in order: the generic face of the family, then faces that
    // cover scripts the named face may lack.
    switch (family) {
        case 1:
            list << QStringLiteral("Liberation Serif");
            break;
        case 3:
            list << QStringLiteral("Liberation Mono");
            break;
        default:
            list << QStringLiteral("Liberation Sans");
            break;
    }
    list << QStringLiteral("Noto Sans") << cjkFace(region) << QStringLiteral("Noto Sans Symbols")
         << QStringLiteral("Noto Sans Symbols2");
    list.removeDuplicates();
    return list;
}

}  // namespace

// Windows language identifiers (\lang, \langfe): the primary language in
// the low 10 bits, the country above.
CjkRegion regionOfLanguage(int lcid) {
    switch (lcid & 0x3FF) {
        case 0x11:
            return CjkRegion::Japan;
        case 0x12:
            return CjkRegion::Korea;
        case 0x04:
            // Chinese: Taiwan (0x0404), Hong Kong (0x0C04) and Macao
            // (0x1404) write traditional characters.
            return lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404
                       ? CjkRegion::TraditionalChinese
                       : CjkRegion::SimplifiedChinese;
        default:
            return CjkRegion::Unknown;
    }
}

const QStringList& Parser::familiesOf(int font) {
    static const QStringList kDefault =
        familiesFor(QStringLiteral("Times New Roman"), 1, CjkRegion::Unknown);
    auto it = m_fonts.find(font);
    if (it == m_fonts.end()) {
        return kDefault;
    }
    if (it->second.families.isEmpty()) {
        it->second.families = familiesFor(it->second.face, it->second.family, it->second.cjkRegion);
    }
    return it->second.families;
}

QColor Parser::color(int index) const {
    if (index <= 0 || static_cast<std::size_t>(index) >= m_colors.size()) {
        return {};
    }
    return m_colors[static_cast<std::size_t>(index)];
}

QTextCharFormat Parser::charFormat() const {
    const CharState& c = m_stack.back().chr;
    QTextCharFormat f;
    const int font = c.font >= 0 ? c.font : m_defaultFont;
    const QStringList& families = const_cast<Parser*>(this)->familiesOf(font);
    const CjkRegion region = c.cjkRegion != CjkRegion::Unknown ? c.cjkRegion : m_defaultCjkRegion;
    const auto fontEntry = m_fonts.find(font);
    const CjkRegion fontRegion =
        fontEntry != m_fonts.end() ? fontEntry->second.cjkRegion : CjkRegion::Unknown;
    if (region != CjkRegion::Unknown && region != fontRegion) {
        // The text's language names the region of its Han characters.
        QStringList byLanguage = families;
        byLanguage.replaceInStrings(cjkFace(fontRegion), cjkFace(region));
        f.setFontFamilies(byLanguage);
    } else {
        f.setFontFamilies(families);
    }
    f.setFontPointSize(std::clamp(c.sizeHalfPoints, 2, 3276) / 2.0);
    if (c.bold) {
        f.setFontWeight(QFont::Bold);
    }
    if (c.italic) {
        f.setFontItalic(true);
    }
    if (c.strike) {
        f.setFontStrikeOut(true);
    }
    if (c.caps) {
        f.setFontCapitalization(QFont::AllUppercase);
    } else if (c.smallCaps) {
        f.setFontCapitalization(QFont::SmallCaps);
    }
    if (c.underline != QTextCharFormat::NoUnderline) {
        f.setUnderlineStyle(c.underline);
    }
    if (c.vertical == 1) {
        f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    } else if (c.vertical == 2) {
        f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    }
    const QColor fg = color(c.foreground);
    if (fg.isValid()) {
        f.setForeground(fg);
    }
    const QColor bg = color(c.background);
    if (bg.isValid()) {
        f.setBackground(bg);
    }
    if (!c.href.isEmpty()) {
        f.setAnchor(true);
        f.setAnchorHref(c.href);
        f.setForeground(kLinkColor);
        f.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    }
    if (c.pageField != 0) {
        f.setProperty(kPageFieldProperty, c.pageField);
    }
    return f;
}

QTextBlockFormat Parser::blockFormat() const {
    const ParaState& p = m_stack.back().para;
    QTextBlockFormat f;
    Qt::Alignment align = p.align;
    if (p.rightToLeft) {
        f.setLayoutDirection(Qt::RightToLeft);
        if (align == Qt::AlignLeft) {
            align = Qt::AlignRight;
        }
    }
    f.setAlignment(align);
    f.setLeftMargin(std::max(0.0, px(p.left)));
    f.setRightMargin(std::max(0.0, px(p.right)));
    f.setTextIndent(std::max(px(p.firstLine), -px(std::max(p.left, 0))));
    f.setTopMargin(std::max(0.0, px(p.before)));
    f.setBottomMargin(std::max(0.0, px(p.after)));
    if (p.lineSpacing > 0 && p.lineMultiple) {
        f.setLineHeight(std::min(p.lineSpacing, 2400) * 100.0 / 240.0,
                        QTextBlockFormat::ProportionalHeight);
    } else if (p.lineSpacing > 0) {
        f.setLineHeight(px(std::min(p.lineSpacing, 14400)), QTextBlockFormat::MinimumHeight);
    } else if (p.lineSpacing < 0) {
        f.setLineHeight(px(std::min(-p.lineSpacing, 14400)), QTextBlockFormat::FixedHeight);
    }
    if (!p.tabs.isEmpty()) {
        // Tab stops are measured from the page margin, Qt's from the
        // paragraph's left indent.
        QList<QTextOption::Tab> tabs;
        for (QTextOption::Tab tab : p.tabs) {
            tab.position -= px(std::max(p.left, 0));
            if (tab.position > 0) {
                tabs.append(tab);
            }
        }
        f.setTabPositions(tabs);
    }
    const QColor shading = color(p.shading);
    if (shading.isValid()) {
        f.setBackground(shading);
    }
    if (p.breakBefore || m_breakBefore) {
        f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    }
    return f;
}

void Parser::commitFont() {
    if (m_fontIndex >= 0) {
        Font font = m_fontEntry;
        int codePage = font.codePage != 0 ? font.codePage : codePageForCharset(m_fontCharset);
        font.symbol = m_fontCharset == 2;
        font.cjkRegion = regionOfCharset(m_fontCharset);
        font.codePage = codePage;
        std::string name = m_fontName;
        while (!name.empty() && (name.back() == ' ' || name.back() == ';')) {
            name.pop_back();
        }
        font.face = m_codePages.decode(codePage != 0 ? codePage : m_ansiCodePage, name).trimmed();
        if (m_fonts.size() < kMaxFonts || m_fonts.count(m_fontIndex) != 0) {
            m_fonts[m_fontIndex] = font;
        }
    }
    m_fontIndex = -1;
    m_fontEntry = Font{};
    m_fontName.clear();
    m_fontCharset = 0;
}

void Parser::addToFontName(std::uint8_t byte) {
    if (m_fontName.size() < kMaxFontNameBytes) {
        m_fontName.push_back(static_cast<char>(byte));
    }
}

void Parser::handleFontWord(Word word, const Token& token) {
    switch (word) {
        case Word::F:
            if (m_fontIndex >= 0 && !m_fontName.empty()) {
                commitFont();
            }
            m_fontIndex = std::max(0, token.param);
            m_fontEntry = Font{};
            m_fontName.clear();
            m_fontCharset = 0;
            break;
        case Word::FCharset:
            m_fontCharset = token.param;
            break;
        case Word::Cpg:
            m_fontEntry.codePage = token.param > 0 ? token.param : 0;
            break;
        case Word::FRoman:
            m_fontEntry.family = 1;
            break;
        case Word::FSwiss:
            m_fontEntry.family = 2;
            break;
        case Word::FModern:
            m_fontEntry.family = 3;
            break;
        case Word::FScript:
            m_fontEntry.family = 4;
            break;
        case Word::FDecor:
        case Word::FTech:
            m_fontEntry.family = 5;
            break;
        default:
            break;
    }
}

void Parser::handleColorWord(Word word, const Token& token) {
    if (word == Word::Red || word == Word::Green || word == Word::Blue) {
        const int value = std::clamp(paramOf(token), 0, 255);
        (word == Word::Red ? m_red : word == Word::Green ? m_green : m_blue) = value;
        m_colorSet = true;
    }
}

bool Parser::handleCharacterWord(Word word, const Token& token) {
    CharState& chr = state().chr;
    const int param = paramOf(token);
    const bool on = toggledOn(token);
    switch (word) {
        case Word::Plain: {
            const QString href = chr.href;
            const int pageField = chr.pageField;
            chr = CharState{};
            chr.href = href;
            chr.pageField = pageField;
            return true;
        }
        case Word::F:
            chr.font = std::max(0, param);
            return true;
        case Word::Lang:
            // Only an East Asian language changes the face; \lang1033 on a
            // Latin run keeps the region its Han text has.
            if (regionOfLanguage(param) != CjkRegion::Unknown) {
                chr.cjkRegion = regionOfLanguage(param);
            }
            return true;
        case Word::Fs:
            chr.sizeHalfPoints = param > 0 ? param : kDefaultFontSizeHalfPoints;
            return true;
        case Word::B:
            chr.bold = on;
            return true;
        case Word::I:
            chr.italic = on;
            return true;
        case Word::Ul:
            chr.underline = on ? QTextCharFormat::SingleUnderline : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlNone:
            chr.underline = QTextCharFormat::NoUnderline;
            return true;
        case Word::UlDotted:
            chr.underline = on ? QTextCharFormat::DotLine : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlDash:
            chr.underline = on ? QTextCharFormat::DashUnderline : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlDashDot:
            chr.underline = on ? QTextCharFormat::DashDotLine : QTextCharFormat::NoUnderline;
            return true;
        case Word::UlWave:
            chr.underline = on ? QTextCharFormat::WaveUnderline : QTextCharFormat::NoUnderline;
            return true;
        case Word::Strike:
            chr.strike = on;
            return true;
        case Word::Super:
            chr.vertical = on ? 1 : 0;
            return true;
        case Word::Sub:
            chr.vertical = on ? 2 : 0;
            return true;
        case Word::NoSuperSub:
            chr.vertical = 0;
            return true;
        case Word::Cf:
            chr.foreground = param;
            return true;
        case Word::Cb:
        case Word::Highlight:
            chr.background = param;
            return true;
        case Word::Caps:
            chr.caps = on;
            return true;
        case Word::SCaps:
            chr.smallCaps = on;
            return true;
        case Word::V:
            chr.hidden = on;
            return true;
        default:
            return false;
    }
}

bool Parser::handleParagraphWord(Word word, const Token& token) {
    ParaState& para = state().para;
    const int param = paramOf(token);
    const bool on = toggledOn(token);
    switch (word) {
        case Word::Pard:
            para = ParaState{};
            return true;
        case Word::Ql:
            para.align = Qt::AlignLeft;
            return true;
        case Word::Qc:
            para.align = Qt::AlignHCenter;
            return true;
        case Word::Qr:
            para.align = Qt::AlignRight;
            return true;
        case Word::Qj:
            para.align = Qt::AlignJustify;
            return true;
        case Word::Li:
            para.left = std::clamp(param, -kMaxLengthTwips, kMaxLengthTwips);
            return true;
        case Word::Ri:
            para.right = std::clamp(param, -kMaxLengthTwips, kMaxLengthTwips);
            return true;
        case Word::Fi:
            para.firstLine = std::clamp(param, -kMaxLengthTwips, kMaxLengthTwips);
            return true;
        case Word::Sb:
            para.before = std::clamp(param, 0, kMaxLengthTwips);
            return true;
        case Word::Sa:
            para.after = std::clamp(param, 0, kMaxLengthTwips);
            return true;
        case Word::Sl:
            para.lineSpacing = std::clamp(param, -kMaxLengthTwips, kMaxLengthTwips);
            return true;
        case Word::SlMult:
            para.lineMultiple = on;
            return true;
        case Word::Tqr:
            para.nextTabType = QTextOption::RightTab;
            return true;
        case Word::Tqc:
            para.nextTabType = QTextOption::CenterTab;
            return true;
        case Word::Tqdec:
            para.nextTabType = QTextOption::DelimiterTab;
            return true;
        case Word::Tx:
            if (para.tabs.size() < kMaxTabStops && param > 0 && param < kMaxLengthTwips) {
                QTextOption::Tab tab(
                    px(param), para.nextTabType,
                    para.nextTabType == QTextOption::DelimiterTab ? QChar(u'.') : QChar());
                para.tabs.append(tab);
            }
            para.nextTabType = QTextOption::LeftTab;
            return true;
        case Word::InTbl:
            para.inTable = on;
            return true;
        case Word::Itap:
            para.tableLevel = std::max(0, param);
            if (param > 0) {
                para.inTable = true;
            }
            return true;
        case Word::PageBb:
            para.breakBefore = on;
            return true;
        case Word::CbPat:
            para.shading = param;
            return true;
        case Word::RtlPar:
            para.rightToLeft = true;
            return true;
        case Word::LtrPar:
            para.rightToLeft = false;
            return true;
        default:
            return false;
    }
}

}  // namespace rtf::detail
