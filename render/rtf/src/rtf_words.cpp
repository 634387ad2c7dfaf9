#include "rtf_words.h"

#include <QChar>

#include <iterator>
#include <unordered_map>
#include <utility>

namespace rtf::detail {

namespace {

// Control words by name. Words not named here are ignored, as the format
// asks of readers.
constexpr std::pair<std::string_view, Word> kWordNames[] = {
    {"ansi", Word::Ansi},
    {"mac", Word::Mac},
    {"pc", Word::Pc},
    {"pca", Word::Pca},
    {"ansicpg", Word::AnsiCpg},
    {"deff", Word::Deff},
    {"deftab", Word::DefTab},
    {"paperw", Word::PaperW},
    {"paperh", Word::PaperH},
    {"margl", Word::MargL},
    {"margr", Word::MargR},
    {"margt", Word::MargT},
    {"margb", Word::MargB},
    {"pgwsxn", Word::PgWSxn},
    {"pghsxn", Word::PgHSxn},
    {"marglsxn", Word::MargLSxn},
    {"margrsxn", Word::MargRSxn},
    {"margtsxn", Word::MargTSxn},
    {"margbsxn", Word::MargBSxn},
    {"headery", Word::HeaderY},
    {"footery", Word::FooterY},
    {"titlepg", Word::TitlePg},
    {"fonttbl", Word::FontTable},
    {"colortbl", Word::ColorTable},
    {"pict", Word::Pict},
    {"field", Word::Field},
    {"fldinst", Word::FieldInstruction},
    {"fldrslt", Word::FieldResult},
    {"chpgn", Word::ChPgn},
    {"shppict", Word::ShpPict},
    {"nesttableprops", Word::NestTableProps},
    // Destinations whose content is never shown.
    {"stylesheet", Word::SkipDestination},
    {"info", Word::SkipDestination},
    {"listtable", Word::SkipDestination},
    {"listoverridetable", Word::SkipDestination},
    {"revtbl", Word::SkipDestination},
    {"rsidtbl", Word::SkipDestination},
    {"filetbl", Word::SkipDestination},
    {"header", Word::Header},
    {"headerl", Word::HeaderLeft},
    {"headerr", Word::Header},
    {"headerf", Word::HeaderFirst},
    {"footer", Word::Footer},
    {"footerl", Word::FooterLeft},
    {"footerr", Word::Footer},
    {"footerf", Word::FooterFirst},
    {"footnote", Word::SkipDestination},
    {"annotation", Word::SkipDestination},
    {"atnid", Word::SkipDestination},
    {"atnauthor", Word::SkipDestination},
    {"pn", Word::SkipDestination},
    {"nonshppict", Word::SkipDestination},
    {"nonesttables", Word::SkipDestination},
    {"xe", Word::SkipDestination},
    {"tc", Word::SkipDestination},
    {"template", Word::SkipDestination},
    {"do", Word::SkipDestination},
    {"objdata", Word::SkipDestination},
    {"objclass", Word::SkipDestination},
    {"ftnsep", Word::SkipDestination},
    {"ftnsepc", Word::SkipDestination},
    {"aftnsep", Word::SkipDestination},
    {"aftnsepc", Word::SkipDestination},
    {"ftncn", Word::SkipDestination},
    {"htmltag", Word::SkipDestination},
    {"mhtmltag", Word::SkipDestination},
    {"bkmkstart", Word::SkipDestination},
    {"bkmkend", Word::SkipDestination},
    {"shpinst", Word::SkipDestination},
    {"txe", Word::SkipDestination},
    {"rxe", Word::SkipDestination},
    {"pgdsctbl", Word::SkipDestination},
    {"listpicture", Word::SkipDestination},
    {"author", Word::SkipDestination},
    {"operator", Word::SkipDestination},
    {"title", Word::SkipDestination},
    {"subject", Word::SkipDestination},
    {"keywords", Word::SkipDestination},
    {"comment", Word::SkipDestination},
    {"doccomm", Word::SkipDestination},
    {"company", Word::SkipDestination},
    {"creatim", Word::SkipDestination},
    {"revtim", Word::SkipDestination},
    {"printim", Word::SkipDestination},
    {"buptim", Word::SkipDestination},
    {"falt", Word::SkipDestination},
    {"panose", Word::SkipDestination},
    {"themedata", Word::SkipDestination},
    {"colorschememapping", Word::SkipDestination},
    {"latentstyles", Word::SkipDestination},
    {"datastore", Word::SkipDestination},
    {"xmlnstbl", Word::SkipDestination},
    {"generator", Word::SkipDestination},
    {"userprops", Word::SkipDestination},
    {"docvar", Word::SkipDestination},
    {"macpict", Word::OtherBlip},
    {"f", Word::F},
    {"fcharset", Word::FCharset},
    {"cpg", Word::Cpg},
    {"fnil", Word::FNil},
    {"froman", Word::FRoman},
    {"fswiss", Word::FSwiss},
    {"fmodern", Word::FModern},
    {"fscript", Word::FScript},
    {"fdecor", Word::FDecor},
    {"ftech", Word::FTech},
    {"fbidi", Word::FNil},
    {"red", Word::Red},
    {"green", Word::Green},
    {"blue", Word::Blue},
    {"pngblip", Word::PngBlip},
    {"jpegblip", Word::JpegBlip},
    {"emfblip", Word::EmfBlip},
    {"wmetafile", Word::WMetafile},
    {"dibitmap", Word::DiBitmap},
    {"wbitmap", Word::WBitmap},
    {"pmmetafile", Word::OtherBlip},
    {"picw", Word::PicW},
    {"pich", Word::PicH},
    {"picwgoal", Word::PicWGoal},
    {"pichgoal", Word::PicHGoal},
    {"picscalex", Word::PicScaleX},
    {"picscaley", Word::PicScaleY},
    {"plain", Word::Plain},
    {"lang", Word::Lang},
    {"langfe", Word::Lang},
    {"deflangfe", Word::DefLangFe},
    {"fs", Word::Fs},
    {"b", Word::B},
    {"i", Word::I},
    {"ul", Word::Ul},
    {"ulw", Word::Ul},
    {"uldb", Word::Ul},
    {"ulth", Word::Ul},
    {"ulnone", Word::UlNone},
    {"uld", Word::UlDotted},
    {"ulthd", Word::UlDotted},
    {"uldash", Word::UlDash},
    {"ulthdash", Word::UlDash},
    {"ulldash", Word::UlDash},
    {"uldashd", Word::UlDashDot},
    {"uldashdd", Word::UlDashDot},
    {"ulwave", Word::UlWave},
    {"ulhwave", Word::UlWave},
    {"ululdbwave", Word::UlWave},
    {"strike", Word::Strike},
    {"striked", Word::Strike},
    {"super", Word::Super},
    {"sub", Word::Sub},
    {"nosupersub", Word::NoSuperSub},
    {"cf", Word::Cf},
    {"cb", Word::Cb},
    {"chcbpat", Word::Cb},
    {"highlight", Word::Highlight},
    {"caps", Word::Caps},
    {"scaps", Word::SCaps},
    {"v", Word::V},
    {"uc", Word::Uc},
    {"u", Word::U},
    {"pard", Word::Pard},
    {"ql", Word::Ql},
    {"qc", Word::Qc},
    {"qr", Word::Qr},
    {"qj", Word::Qj},
    {"qd", Word::Qj},
    {"li", Word::Li},
    {"lin", Word::Li},
    {"ri", Word::Ri},
    {"rin", Word::Ri},
    {"fi", Word::Fi},
    {"sb", Word::Sb},
    {"sa", Word::Sa},
    {"sl", Word::Sl},
    {"slmult", Word::SlMult},
    {"tx", Word::Tx},
    {"tb", Word::Tx},
    {"tqr", Word::Tqr},
    {"tqc", Word::Tqc},
    {"tqdec", Word::Tqdec},
    {"intbl", Word::InTbl},
    {"itap", Word::Itap},
    {"pagebb", Word::PageBb},
    {"cbpat", Word::CbPat},
    {"rtlpar", Word::RtlPar},
    {"ltrpar", Word::LtrPar},
    {"par", Word::Par},
    {"line", Word::Line},
    {"tab", Word::Tab},
    {"page", Word::Page},
    {"sect", Word::Sect},
    {"sbknone", Word::SbkNone},
    {"sbkcol", Word::SbkNone},
    {"cell", Word::Cell},
    {"nestcell", Word::NestCell},
    {"row", Word::Row},
    {"nestrow", Word::NestRow},
    {"emdash", Word::EmDash},
    {"endash", Word::EnDash},
    {"lquote", Word::LQuote},
    {"rquote", Word::RQuote},
    {"ldblquote", Word::LDblQuote},
    {"rdblquote", Word::RDblQuote},
    {"bullet", Word::Bullet},
    {"emspace", Word::EmSpace},
    {"enspace", Word::EnSpace},
    {"qmspace", Word::QmSpace},
    {"zwj", Word::Zwj},
    {"zwnj", Word::Zwnj},
    {"ltrmark", Word::LtrMark},
    {"rtlmark", Word::RtlMark},
    {"trowd", Word::TRowD},
    {"cellx", Word::CellX},
    {"clcbpat", Word::ClCbPat},
    {"clcbpatraw", Word::ClCbPat},
    {"clbrdrt", Word::ClBrdr},
    {"clbrdrl", Word::ClBrdr},
    {"clbrdrb", Word::ClBrdr},
    {"clbrdrr", Word::ClBrdr},
    {"trbrdrt", Word::TrBrdr},
    {"trbrdrl", Word::TrBrdr},
    {"trbrdrb", Word::TrBrdr},
    {"trbrdrr", Word::TrBrdr},
    {"trbrdrh", Word::TrBrdr},
    {"trbrdrv", Word::TrBrdr},
    {"brdrw", Word::BrdrW},
    {"brdrcf", Word::BrdrCf},
    {"brdrt", Word::ParaBrdr},
    {"brdrb", Word::ParaBrdr},
    {"brdrl", Word::ParaBrdr},
    {"brdrr", Word::ParaBrdr},
    {"brdrbtw", Word::ParaBrdr},
    {"brdrbar", Word::ParaBrdr},
    {"box", Word::ParaBrdr},
    {"brdrnil", Word::BrdrNone},
    {"brdrnone", Word::BrdrNone},
    {"brdrs", Word::BrdrStyle},
    {"brdrth", Word::BrdrStyle},
    {"brdrdb", Word::BrdrStyle},
    {"brdrdot", Word::BrdrStyle},
    {"brdrdash", Word::BrdrStyle},
    {"brdrsh", Word::BrdrStyle},
    {"brdrtriple", Word::BrdrStyle},
    {"brdrhair", Word::BrdrStyle},
    {"brdrinset", Word::BrdrStyle},
    {"brdroutset", Word::BrdrStyle},
    {"trleft", Word::TrLeft},
    {"trgaph", Word::TrGapH},
    {"trqc", Word::TrQc},
    {"trqr", Word::TrQr},
    {"trql", Word::TrQl},
    {"clvertalt", Word::ClVertAlT},
    {"clvertalc", Word::ClVertAlC},
    {"clvertalb", Word::ClVertAlB},
};

}  // namespace

Word lookup(std::string_view name) {
    static const std::unordered_map<std::string_view, Word> kWords(std::begin(kWordNames),
                                                                   std::end(kWordNames));
    auto it = kWords.find(name);
    return it == kWords.end() ? Word::Unknown : it->second;
}

char16_t specialCharacter(Word word) {
    switch (word) {
        case Word::Line:
            return QChar::LineSeparator;
        case Word::Tab:
            return u'\t';
        case Word::EmDash:
            return 0x2014;
        case Word::EnDash:
            return 0x2013;
        case Word::LQuote:
            return 0x2018;
        case Word::RQuote:
            return 0x2019;
        case Word::LDblQuote:
            return 0x201C;
        case Word::RDblQuote:
            return 0x201D;
        case Word::Bullet:
            return 0x2022;
        case Word::EmSpace:
            return 0x2003;
        case Word::EnSpace:
            return 0x2002;
        case Word::QmSpace:
            return 0x2005;
        case Word::Zwj:
            return 0x200D;
        case Word::Zwnj:
            return 0x200C;
        case Word::LtrMark:
            return 0x200E;
        case Word::RtlMark:
            return 0x200F;
        default:
            return 0;
    }
}

char16_t unicodeCharacter(int parameter) {
    const int code = parameter < 0 ? parameter + 65536 : parameter;
    return code > 0 && code < 65536 ? static_cast<char16_t>(code) : char16_t{0};
}

char16_t controlSymbolCharacter(char symbol) {
    switch (symbol) {
        case '~':
            return 0x00A0;  // no-break space
        case '-':
            return 0x00AD;  // optional hyphen
        case '_':
            return 0x2011;  // non-breaking hyphen
        default:
            return 0;
    }
}

}  // namespace rtf::detail
