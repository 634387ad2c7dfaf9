// The RTF group state machine: tokens in, a QTextDocument out.
//
// Character and paragraph properties live in a per-group state that is
// copied on "{" and dropped on "}". Text is collected as bytes until the
// state changes, then decoded with the code page of the current font and
// inserted with the current character format. Table cells are built in
// documents of their own and copied into a QTextTable when their row ends,
// because a row's cell boundaries (\cellx) may come after its cells (nested
// tables always do).

#include "code_pages.h"
#include "pictures.h"
#include "reader.h"
#include "tokenizer.h"

#include <QBuffer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextTable>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

namespace rtf::detail {
namespace {

constexpr int kDefaultFontSizeHalfPoints = 24;
// Table rows collected before they are added to their QTextTable.
constexpr std::size_t kRowsPerChunk = 32;
constexpr qreal kTwipsPerPixel = 15.0;
const QColor kLinkColor(0x05, 0x63, 0xC1);

qreal px(int twips) {
    return twips / kTwipsPerPixel;
}

enum class Dest { Text, FontTable, ColorTable, Picture, FieldInstruction };

struct CharState {
    int font = -1;
    int sizeHalfPoints = kDefaultFontSizeHalfPoints;
    bool bold = false, italic = false, strike = false, caps = false, smallCaps = false;
    bool hidden = false;
    QTextCharFormat::UnderlineStyle underline = QTextCharFormat::NoUnderline;
    int vertical = 0;    // 1 superscript, 2 subscript
    int foreground = 0;  // colour table index; 0 is "auto"
    int background = 0;
    QString href;
};

struct ParaState {
    Qt::Alignment align = Qt::AlignLeft;
    int left = 0, right = 0, firstLine = 0, before = 0, after = 0, lineSpacing = 0;
    bool lineMultiple = false;
    QList<QTextOption::Tab> tabs;
    QTextOption::TabType nextTabType = QTextOption::LeftTab;
    bool inTable = false;
    int tableLevel = 1;  // \itapN
    bool breakBefore = false;
    int shading = 0;
    bool rightToLeft = false;
};

struct Group {
    CharState chr;
    ParaState para;
    Dest dest = Dest::Text;
    int unicodeSkip = 1;  // \ucN
    int rowDefLevel = 1;  // table level that \trowd and \cellx describe (\nesttableprops)
};

struct Font {
    QString face;
    int codePage = 0;  // 0: the document's \ansicpg
    int family = 0;    // 1 roman, 2 swiss, 3 modern, 4 script, 5 decor
    bool symbol = false;
    QStringList families;
};

constexpr int kTop = 1, kLeft = 2, kBottom = 4, kRight = 8, kInsideH = 16, kInsideV = 32;

struct CellDef {
    int right = 0;  // \cellx, twips from the row's left edge
    int shading = 0;
    int sides = 0;        // kTop | kLeft | kBottom | kRight
    int borderWidth = 0;  // twips
    int borderColor = 0;
    Qt::Alignment vertical = Qt::AlignTop;
};

struct RowDef {
    std::vector<CellDef> cells;
    CellDef next;
    int left = 0;
    int gap = 108;
    int sides = 0;  // outer sides, kInsideH and kInsideV as \trbrdr* give them
    int borderWidth = 0;
    int borderColor = 0;
    Qt::Alignment align = Qt::AlignLeft;
};

struct Sink {
    QTextCursor* cursor = nullptr;
};

struct TableRow {
    RowDef def;
    std::vector<std::unique_ptr<QTextDocument>> cells;
};

struct TableLevel {
    std::unique_ptr<QTextDocument> cell;
    QTextCursor cursor;
    std::vector<std::unique_ptr<QTextDocument>> rowCells;
    std::vector<TableRow> rows;   // finished rows not yet in `table`
    QTextTable* table = nullptr;  // owned by the parent's document once created
    bool cellHasContent = false;
};

struct Field {
    std::size_t depth = 0;
    QString instruction;
};

struct PictureState {
    PictureFormat format = PictureFormat::Unknown;
    int width = 0, height = 0, goalWidth = 0, goalHeight = 0, scaleX = 100, scaleY = 100;
    std::vector<std::uint8_t> data;
    int pendingNibble = -1;
    bool tooLarge = false;
    std::size_t depth = 0;
};

// Metric-compatible faces for the usual Windows fonts.
QString mapFace(const QString& face) {
    static const std::map<QString, QString> kFaces = {
        {QStringLiteral("calibri"), QStringLiteral("Carlito")},
        {QStringLiteral("calibri light"), QStringLiteral("Carlito")},
        {QStringLiteral("cambria"), QStringLiteral("Caladea")},
        {QStringLiteral("arial"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("helvetica"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("times new roman"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("times"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("courier new"), QStringLiteral("Liberation Mono")},
        {QStringLiteral("courier"), QStringLiteral("Liberation Mono")},
    };
    auto it = kFaces.find(face.toLower());
    return it == kFaces.end() ? face : it->second;
}

QStringList familiesFor(const QString& face, int family) {
    QStringList list;
    if (!face.isEmpty()) {
        list << mapFace(face);
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
    list << QStringLiteral("Noto Sans") << QStringLiteral("Noto Sans CJK JP")
         << QStringLiteral("Noto Sans Symbols") << QStringLiteral("Noto Sans Symbols2");
    list.removeDuplicates();
    return list;
}

enum class Word {
    Unknown,
    // document
    Ansi,
    Mac,
    Pc,
    Pca,
    AnsiCpg,
    Deff,
    DefTab,
    PaperW,
    PaperH,
    MargL,
    MargR,
    MargT,
    MargB,
    // destinations
    FontTable,
    ColorTable,
    Pict,
    Field,
    FieldInstruction,
    FieldResult,
    ShpPict,
    NestTableProps,
    SkipDestination,
    // font table and colour table
    F,
    FCharset,
    Cpg,
    FNil,
    FRoman,
    FSwiss,
    FModern,
    FScript,
    FDecor,
    FTech,
    Red,
    Green,
    Blue,
    // pictures
    PngBlip,
    JpegBlip,
    EmfBlip,
    WMetafile,
    DiBitmap,
    WBitmap,
    OtherBlip,
    PicW,
    PicH,
    PicWGoal,
    PicHGoal,
    PicScaleX,
    PicScaleY,
    // characters
    Plain,
    Fs,
    B,
    I,
    Ul,
    UlNone,
    UlDotted,
    UlDash,
    UlDashDot,
    UlWave,
    Strike,
    Super,
    Sub,
    NoSuperSub,
    Cf,
    Cb,
    Highlight,
    Caps,
    SCaps,
    V,
    Uc,
    U,
    // paragraphs
    Pard,
    Ql,
    Qc,
    Qr,
    Qj,
    Li,
    Ri,
    Fi,
    Sb,
    Sa,
    Sl,
    SlMult,
    Tx,
    Tqr,
    Tqc,
    Tqdec,
    InTbl,
    Itap,
    PageBb,
    CbPat,
    RtlPar,
    LtrPar,
    // breaks and special characters
    Par,
    Line,
    Tab,
    Page,
    Sect,
    SbkNone,
    Cell,
    NestCell,
    Row,
    NestRow,
    EmDash,
    EnDash,
    LQuote,
    RQuote,
    LDblQuote,
    RDblQuote,
    Bullet,
    EmSpace,
    EnSpace,
    QmSpace,
    Zwj,
    Zwnj,
    LtrMark,
    RtlMark,
    // tables
    TRowD,
    CellX,
    ClCbPat,
    ClBrdr,
    TrBrdr,
    BrdrNone,
    BrdrStyle,
    BrdrW,
    BrdrCf,
    ParaBrdr,
    TrLeft,
    TrGapH,
    TrQc,
    TrQr,
    TrQl,
    ClVertAlT,
    ClVertAlC,
    ClVertAlB,
};

Word lookup(std::string_view word) {
    static const std::unordered_map<std::string_view, Word> kWords = {
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
        {"fonttbl", Word::FontTable},
        {"colortbl", Word::ColorTable},
        {"pict", Word::Pict},
        {"field", Word::Field},
        {"fldinst", Word::FieldInstruction},
        {"fldrslt", Word::FieldResult},
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
        {"header", Word::SkipDestination},
        {"headerl", Word::SkipDestination},
        {"headerr", Word::SkipDestination},
        {"headerf", Word::SkipDestination},
        {"footer", Word::SkipDestination},
        {"footerl", Word::SkipDestination},
        {"footerr", Word::SkipDestination},
        {"footerf", Word::SkipDestination},
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
    auto it = kWords.find(word);
    return it == kWords.end() ? Word::Unknown : it->second;
}

class Parser {
public:
    Parser(std::span<const std::uint8_t> bytes, ReadResult& result)
        : m_bytes(bytes), m_tokens(bytes), m_result(result) {}

    void run();

private:
    enum class BorderTarget { None, Cell, Row };

    Group& state() { return m_stack.back(); }
    void warn(const std::string& text);
    [[noreturn]] void fail(const std::string& text, std::size_t offset);

    // Tokens
    void onToken(const Token& token);
    void onGroupStart(const Token& token);
    void onGroupEnd();
    void onControlWord(const Token& token);
    void onControlSymbol(const Token& token);
    void onText(std::span<const std::uint8_t> bytes);
    void onByte(std::uint8_t byte);
    void skipGroup();
    void topGroupClosed();
    bool consumeSkippedCharacter();

    // Document and formats
    void handleFontWord(Word word, const Token& token);
    void handlePictureWord(Word word, const Token& token);
    void commitFont();
    int codePageOfCurrentFont() const;
    QColor color(int index) const;
    QTextCharFormat charFormat() const;
    QTextBlockFormat blockFormat() const;
    const QStringList& familiesOf(int font);

    // Output
    void flushText();
    void appendText(const QString& text);
    void insertText(const QString& text);
    Sink currentSink();
    void ensureTableLevel(int wanted);
    int wantedTableLevel() const;
    void endParagraph();
    void pageBreak();
    void endCell(int level);
    void endRow(int level);
    void commitRow(int level);
    void flushRows();
    void applyBorders(QTextTableCellFormat& format, const CellDef* cell, const RowDef& row,
                      bool firstRow, bool firstCell, bool lastCell) const;
    void buildTable(TableLevel& table, QTextCursor& parent);
    void closeTableLevel();
    void finishPicture();
    void insertImage(const QImage& image, qreal width, qreal height);
    void finish();

    std::span<const std::uint8_t> m_bytes;
    Tokenizer m_tokens;
    ReadResult& m_result;
    std::set<std::string> m_warned;

    std::vector<Group> m_stack;
    bool m_starPending = false;
    bool m_headerless = false;
    bool m_done = false;
    int m_skipCharacters = 0;

    int m_ansiCodePage = 1252;
    int m_defaultFont = -1;
    std::map<int, Font> m_fonts;
    int m_fontIndex = -1;
    Font m_fontEntry;
    std::string m_fontName;
    int m_fontCharset = 0;
    std::vector<QColor> m_colors;
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colorSet = false;
    CodePages m_codePages;

    std::string m_pendingBytes;
    int m_pendingCodePage = 0;
    bool m_pendingSymbol = false;
    QString m_pendingText;
    std::size_t m_textChars = 0;

    QTextDocument* m_doc = nullptr;
    QTextCursor m_cursor;
    std::vector<TableLevel> m_tables;
    std::vector<RowDef> m_rowDefs = std::vector<RowDef>(kMaxTableNesting + 1);
    BorderTarget m_borderTarget = BorderTarget::None;
    int m_borderSide = 0;
    int m_tableCells = 0;
    bool m_breakBefore = false;

    std::vector<Field> m_fields;
    PictureState m_picture;
    std::size_t m_pictureBytes = 0;
    PixelBudget m_pixels{kMaxTotalPicturePixels};
    int m_imageCount = 0;
};

void Parser::warn(const std::string& text) {
    if (m_warned.insert(text).second) {
        m_result.warnings.push_back(text);
    }
}

void Parser::fail(const std::string& text, std::size_t offset) {
    throw RtfError(text + " at byte " + std::to_string(offset), offset);
}

void Parser::run() {
    m_doc = m_result.document.get();
    m_cursor = QTextCursor(m_doc);
    m_stack.reserve(64);
    Token first = m_tokens.next();
    if (first.kind != TokenKind::GroupStart) {
        fail("not RTF: the input does not begin with \"{\\rtf\"", first.offset);
    }
    m_stack.push_back(Group{});
    const Token second = m_tokens.next();
    m_headerless = second.kind != TokenKind::ControlWord || second.word != "rtf";
    onToken(second);
    while (!m_done) {
        onToken(m_tokens.next());
    }
    finish();
}

void Parser::onToken(const Token& token) {
    switch (token.kind) {
        case TokenKind::End:
            if (m_stack.size() > (m_headerless ? 1u : 0u)) {
                warn("RTF ends inside " + std::to_string(m_stack.size()) + " open group(s)");
            }
            m_done = true;
            break;
        case TokenKind::GroupStart:
            onGroupStart(token);
            break;
        case TokenKind::GroupEnd:
            onGroupEnd();
            break;
        case TokenKind::ControlWord:
            if (consumeSkippedCharacter()) {
                break;
            }
            onControlWord(token);
            break;
        case TokenKind::ControlSymbol:
            if (consumeSkippedCharacter()) {
                break;
            }
            onControlSymbol(token);
            break;
        case TokenKind::HexByte:
            if (consumeSkippedCharacter()) {
                break;
            }
            onByte(token.byte);
            break;
        case TokenKind::Binary:
            if (consumeSkippedCharacter()) {
                break;
            }
            if (state().dest == Dest::Picture && !m_picture.tooLarge) {
                if (token.bytes.size() > kMaxPictureBytes - m_picture.data.size()) {
                    m_picture.tooLarge = true;
                } else {
                    m_picture.data.insert(m_picture.data.end(), token.bytes.begin(),
                                          token.bytes.end());
                }
            }
            break;
        case TokenKind::Text:
            onText(token.bytes);
            break;
    }
}

bool Parser::consumeSkippedCharacter() {
    if (m_skipCharacters > 0) {
        --m_skipCharacters;
        return true;
    }
    return false;
}

void Parser::onGroupStart(const Token& token) {
    flushText();
    m_skipCharacters = 0;
    if (m_stack.size() >= static_cast<std::size_t>(kMaxGroupDepth)) {
        fail("RTF groups nested deeper than " + std::to_string(kMaxGroupDepth), token.offset);
    }
    m_stack.push_back(m_stack.back());
    m_starPending = false;
}

void Parser::onGroupEnd() {
    flushText();
    m_skipCharacters = 0;
    m_starPending = false;
    const Dest dest = state().dest;
    const std::size_t depth = m_stack.size();
    if (dest == Dest::FontTable && m_fontIndex >= 0 && !m_fontName.empty()) {
        commitFont();
    }
    if (dest == Dest::Picture && m_picture.depth == depth) {
        m_stack.pop_back();
        finishPicture();
    } else {
        m_stack.pop_back();
    }
    while (!m_fields.empty() && m_fields.back().depth > m_stack.size()) {
        m_fields.pop_back();
    }
    if (m_stack.empty()) {
        topGroupClosed();
    }
}

void Parser::topGroupClosed() {
    if (m_headerless) {
        // A headerless fragment is a sequence of groups: read them all.
        m_stack.push_back(Group{});
        return;
    }
    m_done = true;  // text after the closing brace of the document is ignored
}

void Parser::skipGroup() {
    // Called just after the destination word of the group: consume tokens
    // up to and including its closing brace. \binN data is skipped whole by
    // the tokenizer, so braces inside it cannot confuse the count.
    std::size_t depth = 1;
    while (depth > 0) {
        const Token token = m_tokens.next();
        if (token.kind == TokenKind::End) {
            break;
        }
        if (token.kind == TokenKind::GroupStart) {
            ++depth;
        } else if (token.kind == TokenKind::GroupEnd) {
            --depth;
        }
    }
    m_stack.pop_back();
    m_starPending = false;
    if (m_stack.empty()) {
        topGroupClosed();
    }
}

void Parser::onControlSymbol(const Token& token) {
    switch (token.symbol) {
        case '*':
            m_starPending = true;
            return;
        case '\\':
        case '{':
        case '}': {
            const std::uint8_t byte = static_cast<std::uint8_t>(token.symbol);
            onText(std::span<const std::uint8_t>(&byte, 1));
            return;
        }
        case '~':
            appendText(QString(QChar(0x00A0)));
            return;
        case '-':
            appendText(QString(QChar(0x00AD)));
            return;
        case '_':
            appendText(QString(QChar(0x2011)));
            return;
        case '\r':
        case '\n':
            if (state().dest == Dest::Text) {
                endParagraph();
            }
            return;
        case '\t':
            appendText(QStringLiteral("\t"));
            return;
        default:
            return;  // \| \: and formula characters: nothing to show
    }
}

void Parser::onText(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && m_skipCharacters > 0) {
        bytes = bytes.subspan(1);
        --m_skipCharacters;
    }
    if (bytes.empty()) {
        return;
    }
    Group& group = state();
    switch (group.dest) {
        case Dest::Picture:
            if (m_picture.tooLarge) {
                return;
            }
            for (const std::uint8_t c : bytes) {
                int v = -1;
                if (c >= '0' && c <= '9') {
                    v = c - '0';
                } else if (c >= 'a' && c <= 'f') {
                    v = c - 'a' + 10;
                } else if (c >= 'A' && c <= 'F') {
                    v = c - 'A' + 10;
                }
                if (v < 0) {
                    continue;
                }
                if (m_picture.pendingNibble < 0) {
                    m_picture.pendingNibble = v;
                } else {
                    if (m_picture.data.size() >= kMaxPictureBytes) {
                        m_picture.tooLarge = true;
                        return;
                    }
                    m_picture.data.push_back(
                        static_cast<std::uint8_t>(m_picture.pendingNibble * 16 + v));
                    m_picture.pendingNibble = -1;
                }
            }
            return;
        case Dest::ColorTable:
            for (const std::uint8_t c : bytes) {
                if (c == ';') {
                    m_colors.push_back(m_colorSet ? QColor(m_red, m_green, m_blue) : QColor());
                    m_red = m_green = m_blue = 0;
                    m_colorSet = false;
                }
            }
            return;
        case Dest::FontTable:
            for (const std::uint8_t c : bytes) {
                if (c == ';') {
                    commitFont();
                } else if (m_fontName.size() < 256) {
                    m_fontName.push_back(static_cast<char>(c));
                }
            }
            return;
        case Dest::FieldInstruction:
        case Dest::Text:
            if (group.chr.hidden && group.dest == Dest::Text) {
                return;
            }
            for (const std::uint8_t c : bytes) {
                onByte(c);
            }
            return;
    }
}

void Parser::onByte(std::uint8_t byte) {
    Group& group = state();
    if (group.dest == Dest::FontTable) {
        if (m_fontName.size() < 256) {
            m_fontName.push_back(static_cast<char>(byte));
        }
        return;
    }
    if (group.dest == Dest::Picture || group.dest == Dest::ColorTable) {
        return;
    }
    if (group.chr.hidden && group.dest == Dest::Text) {
        return;
    }
    if (byte == '\t' && group.dest == Dest::Text) {
        appendText(QStringLiteral("\t"));
        return;
    }
    const int codePage = codePageOfCurrentFont();
    const bool symbol =
        group.chr.font >= 0 && m_fonts.count(group.chr.font) != 0 && m_fonts[group.chr.font].symbol;
    if (!m_pendingBytes.empty() && (codePage != m_pendingCodePage || symbol != m_pendingSymbol)) {
        flushText();
    }
    m_pendingCodePage = codePage;
    m_pendingSymbol = symbol;
    m_pendingBytes.push_back(static_cast<char>(byte));
}

int Parser::codePageOfCurrentFont() const {
    const int font = m_stack.back().chr.font >= 0 ? m_stack.back().chr.font : m_defaultFont;
    auto it = m_fonts.find(font);
    if (it != m_fonts.end() && it->second.codePage != 0) {
        return it->second.codePage;
    }
    return m_ansiCodePage;
}

void Parser::appendText(const QString& text) {
    if (state().chr.hidden && state().dest == Dest::Text) {
        return;
    }
    if (!m_pendingBytes.empty()) {
        flushText();
    }
    m_pendingText += text;
}

void Parser::flushText() {
    if (!m_pendingBytes.empty()) {
        if (m_pendingSymbol) {
            for (const char c : m_pendingBytes) {
                m_pendingText += symbolCharacter(static_cast<std::uint8_t>(c));
            }
        } else {
            bool unknown = false;
            m_pendingText += m_codePages.decode(m_pendingCodePage, m_pendingBytes, &unknown);
            if (unknown) {
                warn("code page " + std::to_string(m_pendingCodePage) +
                     " is not supported; its text is shown as windows-1252");
            }
        }
        m_pendingBytes.clear();
    }
    if (m_pendingText.isEmpty()) {
        return;
    }
    QString text;
    text.swap(m_pendingText);
    if (m_stack.empty()) {
        return;
    }
    if (state().dest == Dest::FieldInstruction) {
        if (!m_fields.empty() && m_fields.back().instruction.size() < 4096) {
            m_fields.back().instruction += text;
        }
        return;
    }
    if (state().dest == Dest::Text) {
        insertText(text);
    }
}

void Parser::insertText(const QString& text) {
    if (m_textChars > kMaxTextChars) {
        return;
    }
    m_textChars += static_cast<std::size_t>(text.size());
    if (m_textChars > kMaxTextChars) {
        warn("text longer than " + std::to_string(kMaxTextChars) + " characters was truncated");
        Sink sink = currentSink();
        sink.cursor->insertText(text.left(static_cast<qsizetype>(kMaxTextChars / 1024)),
                                charFormat());
        sink.cursor->insertBlock();
        sink.cursor->insertText(QStringLiteral("[... text truncated ...]"), QTextCharFormat());
        m_done = true;
        return;
    }
    Sink sink = currentSink();
    sink.cursor->insertText(text, charFormat());
    if (!m_tables.empty()) {
        m_tables.back().cellHasContent = true;
    }
}

const QStringList& Parser::familiesOf(int font) {
    static const QStringList kDefault = familiesFor(QStringLiteral("Times New Roman"), 1);
    auto it = m_fonts.find(font);
    if (it == m_fonts.end()) {
        return kDefault;
    }
    if (it->second.families.isEmpty()) {
        it->second.families = familiesFor(it->second.face, it->second.family);
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
    f.setFontFamilies(const_cast<Parser*>(this)->familiesOf(font));
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
        font.codePage = codePage;
        std::string name = m_fontName;
        while (!name.empty() && (name.back() == ' ' || name.back() == ';')) {
            name.pop_back();
        }
        font.face = m_codePages.decode(codePage != 0 ? codePage : m_ansiCodePage, name).trimmed();
        if (m_fonts.size() < 4096 || m_fonts.count(m_fontIndex) != 0) {
            m_fonts[m_fontIndex] = font;
        }
    }
    m_fontIndex = -1;
    m_fontEntry = Font{};
    m_fontName.clear();
    m_fontCharset = 0;
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
            m_fontEntry.family = 5;
            break;
        case Word::FTech:
            m_fontEntry.family = 5;
            break;
        default:
            break;
    }
}

void Parser::handlePictureWord(Word word, const Token& token) {
    const int v = token.hasParam ? token.param : 0;
    switch (word) {
        case Word::PngBlip:
            m_picture.format = PictureFormat::Png;
            break;
        case Word::JpegBlip:
            m_picture.format = PictureFormat::Jpeg;
            break;
        case Word::EmfBlip:
            m_picture.format = PictureFormat::Emf;
            break;
        case Word::WMetafile:
            m_picture.format = PictureFormat::Wmf;
            break;
        case Word::DiBitmap:
            m_picture.format = PictureFormat::Dib;
            break;
        case Word::WBitmap:
            m_picture.format = PictureFormat::Ddb;
            break;
        case Word::OtherBlip:
            m_picture.format = PictureFormat::Unknown;
            break;
        case Word::PicW:
            m_picture.width = v;
            break;
        case Word::PicH:
            m_picture.height = v;
            break;
        case Word::PicWGoal:
            m_picture.goalWidth = v;
            break;
        case Word::PicHGoal:
            m_picture.goalHeight = v;
            break;
        case Word::PicScaleX:
            m_picture.scaleX = v;
            break;
        case Word::PicScaleY:
            m_picture.scaleY = v;
            break;
        default:
            break;
    }
}

void Parser::onControlWord(const Token& token) {
    const Word word = lookup(token.word);
    const bool star = m_starPending;
    m_starPending = false;
    if (word != Word::U) {
        flushText();
    }
    Group& g = state();
    const int param = token.hasParam ? token.param : 0;
    const bool on = !token.hasParam || token.param != 0;

    if (star && word != Word::FieldInstruction && word != Word::ShpPict &&
        word != Word::NestTableProps) {
        skipGroup();  // an unknown (or ignored) \* destination
        return;
    }
    if (g.dest == Dest::FontTable) {
        if (word == Word::SkipDestination || word == Word::Pict) {
            skipGroup();
        } else {
            handleFontWord(word, token);
        }
        return;
    }
    if (g.dest == Dest::ColorTable) {
        if (word == Word::Red || word == Word::Green || word == Word::Blue) {
            const int value = std::clamp(param, 0, 255);
            (word == Word::Red ? m_red : word == Word::Green ? m_green : m_blue) = value;
            m_colorSet = true;
        }
        return;
    }
    if (g.dest == Dest::Picture) {
        if (word == Word::SkipDestination) {
            skipGroup();
        } else {
            handlePictureWord(word, token);
        }
        return;
    }

    switch (word) {
        case Word::Unknown:
            return;
        case Word::Ansi:
            m_ansiCodePage = 1252;
            return;
        case Word::Mac:
            m_ansiCodePage = 10000;
            return;
        case Word::Pc:
            m_ansiCodePage = 437;
            return;
        case Word::Pca:
            m_ansiCodePage = 850;
            return;
        case Word::AnsiCpg:
            if (param > 0) {
                m_ansiCodePage = param;
            }
            return;
        case Word::Deff:
            m_defaultFont = param;
            return;
        case Word::DefTab:
            if (param > 0) {
                QTextOption option = m_doc->defaultTextOption();
                option.setTabStopDistance(std::clamp(px(param), 4.0, 960.0));
                m_doc->setDefaultTextOption(option);
            }
            return;
        case Word::PaperW:
            if (param > 0)
                m_result.page.paperWidth = param;
            return;
        case Word::PaperH:
            if (param > 0)
                m_result.page.paperHeight = param;
            return;
        case Word::MargL:
            if (param >= 0)
                m_result.page.marginLeft = param;
            return;
        case Word::MargR:
            if (param >= 0)
                m_result.page.marginRight = param;
            return;
        case Word::MargT:
            if (param >= 0)
                m_result.page.marginTop = param;
            return;
        case Word::MargB:
            if (param >= 0)
                m_result.page.marginBottom = param;
            return;
        case Word::FontTable:
            g.dest = Dest::FontTable;
            m_fontIndex = -1;
            m_fontName.clear();
            return;
        case Word::ColorTable:
            g.dest = Dest::ColorTable;
            m_colors.clear();
            return;
        case Word::SkipDestination:
            skipGroup();
            return;
        case Word::Pict:
            m_picture = PictureState{};
            m_picture.depth = m_stack.size();
            g.dest = Dest::Picture;
            return;
        case Word::ShpPict:
            return;  // its \pict is the picture to show
        case Word::NestTableProps:
            state().rowDefLevel =
                std::clamp(g.para.inTable ? g.para.tableLevel : 2, 2, kMaxTableNesting);
            return;
        case Word::Field:
            if (m_fields.size() < 64) {
                m_fields.push_back(Field{m_stack.size(), {}});
            }
            return;
        case Word::FieldInstruction:
            g.dest = Dest::FieldInstruction;
            return;
        case Word::FieldResult: {
            g.dest = Dest::Text;
            if (m_fields.empty()) {
                return;
            }
            const QString inst = m_fields.back().instruction.trimmed();
            if (!inst.startsWith(QStringLiteral("HYPERLINK"), Qt::CaseInsensitive)) {
                return;
            }
            // HYPERLINK "url" or HYPERLINK \l "anchor", with other switches.
            QString url;
            bool local = false;
            qsizetype i = 9;
            while (i < inst.size()) {
                while (i < inst.size() && inst[i].isSpace()) {
                    ++i;
                }
                if (i >= inst.size()) {
                    break;
                }
                QString arg;
                if (inst[i] == u'"') {
                    const qsizetype end = inst.indexOf(u'"', i + 1);
                    arg = inst.mid(i + 1, end < 0 ? -1 : end - i - 1);
                    i = end < 0 ? inst.size() : end + 1;
                } else {
                    const qsizetype start = i;
                    while (i < inst.size() && !inst[i].isSpace()) {
                        ++i;
                    }
                    arg = inst.mid(start, i - start);
                    if (arg == QStringLiteral("\\l")) {
                        local = true;
                        continue;
                    }
                    if (arg.startsWith(u'\\')) {
                        continue;
                    }
                }
                if (url.isEmpty()) {
                    url = local ? QStringLiteral("#") + arg : arg;
                }
            }
            g.chr.href = url.isEmpty() ? QStringLiteral("#") : url;
            return;
        }
        // Character formatting
        case Word::Plain: {
            const QString href = g.chr.href;
            g.chr = CharState{};
            g.chr.href = href;
            return;
        }
        case Word::F:
            g.chr.font = std::max(0, param);
            return;
        case Word::Fs:
            g.chr.sizeHalfPoints = param > 0 ? param : kDefaultFontSizeHalfPoints;
            return;
        case Word::B:
            g.chr.bold = on;
            return;
        case Word::I:
            g.chr.italic = on;
            return;
        case Word::Ul:
            g.chr.underline = on ? QTextCharFormat::SingleUnderline : QTextCharFormat::NoUnderline;
            return;
        case Word::UlNone:
            g.chr.underline = QTextCharFormat::NoUnderline;
            return;
        case Word::UlDotted:
            g.chr.underline = on ? QTextCharFormat::DotLine : QTextCharFormat::NoUnderline;
            return;
        case Word::UlDash:
            g.chr.underline = on ? QTextCharFormat::DashUnderline : QTextCharFormat::NoUnderline;
            return;
        case Word::UlDashDot:
            g.chr.underline = on ? QTextCharFormat::DashDotLine : QTextCharFormat::NoUnderline;
            return;
        case Word::UlWave:
            g.chr.underline = on ? QTextCharFormat::WaveUnderline : QTextCharFormat::NoUnderline;
            return;
        case Word::Strike:
            g.chr.strike = on;
            return;
        case Word::Super:
            g.chr.vertical = on ? 1 : 0;
            return;
        case Word::Sub:
            g.chr.vertical = on ? 2 : 0;
            return;
        case Word::NoSuperSub:
            g.chr.vertical = 0;
            return;
        case Word::Cf:
            g.chr.foreground = param;
            return;
        case Word::Cb:
            g.chr.background = param;
            return;
        case Word::Highlight:
            g.chr.background = param;
            return;
        case Word::Caps:
            g.chr.caps = on;
            return;
        case Word::SCaps:
            g.chr.smallCaps = on;
            return;
        case Word::V:
            g.chr.hidden = on;
            return;
        case Word::Uc:
            g.unicodeSkip = std::clamp(param, 0, 16);
            return;
        case Word::U: {
            int code = param;
            if (code < 0) {
                code += 65536;
            }
            if (code > 0 && code < 65536) {
                appendText(QString(QChar(static_cast<char16_t>(code))));
            }
            m_skipCharacters = g.unicodeSkip;
            return;
        }
        // Paragraph formatting
        case Word::Pard: {
            g.para = ParaState{};
            return;
        }
        case Word::Ql:
            g.para.align = Qt::AlignLeft;
            return;
        case Word::Qc:
            g.para.align = Qt::AlignHCenter;
            return;
        case Word::Qr:
            g.para.align = Qt::AlignRight;
            return;
        case Word::Qj:
            g.para.align = Qt::AlignJustify;
            return;
        case Word::Li:
            g.para.left = std::clamp(param, -31680, 31680);
            return;
        case Word::Ri:
            g.para.right = std::clamp(param, -31680, 31680);
            return;
        case Word::Fi:
            g.para.firstLine = std::clamp(param, -31680, 31680);
            return;
        case Word::Sb:
            g.para.before = std::clamp(param, 0, 31680);
            return;
        case Word::Sa:
            g.para.after = std::clamp(param, 0, 31680);
            return;
        case Word::Sl:
            g.para.lineSpacing = std::clamp(param, -31680, 31680);
            return;
        case Word::SlMult:
            g.para.lineMultiple = on;
            return;
        case Word::Tqr:
            g.para.nextTabType = QTextOption::RightTab;
            return;
        case Word::Tqc:
            g.para.nextTabType = QTextOption::CenterTab;
            return;
        case Word::Tqdec:
            g.para.nextTabType = QTextOption::DelimiterTab;
            return;
        case Word::Tx:
            if (g.para.tabs.size() < 64 && param > 0 && param < 31680) {
                QTextOption::Tab tab(
                    px(param), g.para.nextTabType,
                    g.para.nextTabType == QTextOption::DelimiterTab ? QChar(u'.') : QChar());
                g.para.tabs.append(tab);
            }
            g.para.nextTabType = QTextOption::LeftTab;
            return;
        case Word::InTbl:
            g.para.inTable = on;
            return;
        case Word::Itap:
            g.para.tableLevel = std::max(0, param);
            if (param > 0) {
                g.para.inTable = true;
            }
            return;
        case Word::PageBb:
            g.para.breakBefore = on;
            return;
        case Word::CbPat:
            g.para.shading = param;
            return;
        case Word::RtlPar:
            g.para.rightToLeft = true;
            return;
        case Word::LtrPar:
            g.para.rightToLeft = false;
            return;
        // Breaks and special characters
        case Word::Par:
            if (g.dest == Dest::Text) {
                endParagraph();
            }
            return;
        case Word::Line:
            appendText(QString(QChar::LineSeparator));
            return;
        case Word::Tab:
            appendText(QStringLiteral("\t"));
            return;
        case Word::Page:
            if (g.dest == Dest::Text) {
                pageBreak();
            }
            return;
        case Word::Sect:
            if (g.dest == Dest::Text) {
                endParagraph();
                // The next section starts a page unless its own properties
                // (\sbknone, \sbkcol, which follow \sect) say otherwise.
                if (m_tables.empty()) {
                    m_breakBefore = true;
                }
            }
            return;
        case Word::SbkNone:
            m_breakBefore = false;
            return;
        case Word::Cell:
            endCell(1);
            return;
        case Word::NestCell:
            endCell(std::max(2, g.para.tableLevel));
            return;
        case Word::Row:
            endRow(1);
            return;
        case Word::NestRow:
            endRow(std::max(2, state().rowDefLevel));
            return;
        case Word::EmDash:
            appendText(QString(QChar(0x2014)));
            return;
        case Word::EnDash:
            appendText(QString(QChar(0x2013)));
            return;
        case Word::LQuote:
            appendText(QString(QChar(0x2018)));
            return;
        case Word::RQuote:
            appendText(QString(QChar(0x2019)));
            return;
        case Word::LDblQuote:
            appendText(QString(QChar(0x201C)));
            return;
        case Word::RDblQuote:
            appendText(QString(QChar(0x201D)));
            return;
        case Word::Bullet:
            appendText(QString(QChar(0x2022)));
            return;
        case Word::EmSpace:
            appendText(QString(QChar(0x2003)));
            return;
        case Word::EnSpace:
            appendText(QString(QChar(0x2002)));
            return;
        case Word::QmSpace:
            appendText(QString(QChar(0x2005)));
            return;
        case Word::Zwj:
            appendText(QString(QChar(0x200D)));
            return;
        case Word::Zwnj:
            appendText(QString(QChar(0x200C)));
            return;
        case Word::LtrMark:
            appendText(QString(QChar(0x200E)));
            return;
        case Word::RtlMark:
            appendText(QString(QChar(0x200F)));
            return;
        // Tables
        case Word::TRowD: {
            RowDef& row = m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)];
            row = RowDef{};
            m_borderTarget = BorderTarget::None;
            return;
        }
        case Word::CellX: {
            RowDef& row = m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)];
            if (row.cells.size() < static_cast<std::size_t>(kMaxTableColumns)) {
                CellDef cell = row.next;
                cell.right = std::clamp(param, -31680, 31680);
                row.cells.push_back(cell);
            }
            row.next = CellDef{};
            m_borderTarget = BorderTarget::None;
            return;
        }
        case Word::ClCbPat:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].next.shading = param;
            return;
        case Word::ClBrdr:
        case Word::TrBrdr: {
            m_borderTarget = word == Word::ClBrdr ? BorderTarget::Cell : BorderTarget::Row;
            switch (token.word.back()) {
                case 't':
                    m_borderSide = kTop;
                    break;
                case 'l':
                    m_borderSide = kLeft;
                    break;
                case 'b':
                    m_borderSide = kBottom;
                    break;
                case 'r':
                    m_borderSide = kRight;
                    break;
                case 'h':
                    m_borderSide = kInsideH;
                    break;
                default:
                    m_borderSide = kInsideV;
                    break;
            }
            return;
        }
        case Word::ParaBrdr:
            m_borderTarget = BorderTarget::None;  // paragraph borders are not drawn
            return;
        case Word::BrdrNone:
        case Word::BrdrStyle:
        case Word::BrdrW:
        case Word::BrdrCf: {
            RowDef& row = m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)];
            if (m_borderTarget == BorderTarget::None) {
                return;
            }
            int& sides = m_borderTarget == BorderTarget::Cell ? row.next.sides : row.sides;
            int& width =
                m_borderTarget == BorderTarget::Cell ? row.next.borderWidth : row.borderWidth;
            int& colour =
                m_borderTarget == BorderTarget::Cell ? row.next.borderColor : row.borderColor;
            if (word == Word::BrdrStyle) {
                sides |= m_borderSide;
            } else if (word == Word::BrdrNone) {
                sides &= ~m_borderSide;
            } else if (word == Word::BrdrW) {
                width = std::max(width, std::clamp(param, 0, 300));
            } else {
                colour = param;
            }
            return;
        }
        case Word::TrLeft:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].left =
                std::clamp(param, -31680, 31680);
            return;
        case Word::TrGapH:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].gap =
                std::clamp(param, 0, 1440);
            return;
        case Word::TrQc:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].align = Qt::AlignHCenter;
            return;
        case Word::TrQr:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].align = Qt::AlignRight;
            return;
        case Word::TrQl:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].align = Qt::AlignLeft;
            return;
        case Word::ClVertAlT:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].next.vertical = Qt::AlignTop;
            return;
        case Word::ClVertAlC:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].next.vertical =
                Qt::AlignVCenter;
            return;
        case Word::ClVertAlB:
            m_rowDefs[static_cast<std::size_t>(state().rowDefLevel)].next.vertical =
                Qt::AlignBottom;
            return;
        default:
            return;
    }
}

int Parser::wantedTableLevel() const {
    const ParaState& p = m_stack.back().para;
    if (!p.inTable) {
        return 0;
    }
    return std::clamp(p.tableLevel, 1, kMaxTableNesting);
}

Sink Parser::currentSink() {
    ensureTableLevel(wantedTableLevel());
    if (m_tables.empty()) {
        return Sink{&m_cursor};
    }
    return Sink{&m_tables.back().cursor};
}

void Parser::ensureTableLevel(int wanted) {
    if (m_tableCells >= kMaxTableCells) {
        wanted = 0;  // past the cell budget tables are written as plain paragraphs
    }
    while (static_cast<int>(m_tables.size()) > wanted) {
        closeTableLevel();
    }
    while (static_cast<int>(m_tables.size()) < wanted) {
        TableLevel level;
        level.cell = std::make_unique<QTextDocument>();
        level.cursor = QTextCursor(level.cell.get());
        m_tables.push_back(std::move(level));
    }
}

void Parser::endParagraph() {
    Sink sink = currentSink();
    sink.cursor->setBlockFormat(blockFormat());
    sink.cursor->setBlockCharFormat(charFormat());
    sink.cursor->insertBlock();
    m_breakBefore = false;
    if (!m_tables.empty()) {
        m_tables.back().cellHasContent = true;
    }
}

void Parser::pageBreak() {
    if (!m_tables.empty() || wantedTableLevel() > 0) {
        return;  // a page break inside a table cell has no meaning here
    }
    endParagraph();
    m_breakBefore = true;
}

void Parser::endCell(int level) {
    if (m_tableCells >= kMaxTableCells) {
        if (m_tables.empty()) {
            appendText(QStringLiteral("\t"));
        }
        return;
    }
    ensureTableLevel(std::min(level, kMaxTableNesting));
    if (m_tables.empty()) {
        return;
    }
    TableLevel& t = m_tables.back();
    t.cursor.setBlockFormat(blockFormat());
    t.cursor.setBlockCharFormat(charFormat());
    t.rowCells.push_back(std::move(t.cell));
    t.cell = std::make_unique<QTextDocument>();
    t.cursor = QTextCursor(t.cell.get());
    t.cellHasContent = false;
    ++m_tableCells;
}

void Parser::endRow(int level) {
    if (m_tableCells >= kMaxTableCells) {
        if (m_tables.empty()) {
            warn("more than " + std::to_string(kMaxTableCells) +
                 " table cells: the rest are shown as tab-separated lines");
            endParagraph();
        }
        return;
    }
    level = std::min(level, kMaxTableNesting);
    ensureTableLevel(level);
    if (m_tables.empty()) {
        return;
    }
    if (m_tables.back().cellHasContent) {
        endCell(level);  // text after the last \cell belongs to a cell of its own
    }
    commitRow(level);
}

void Parser::commitRow(int level) {
    TableLevel& t = m_tables.back();
    if (t.rowCells.empty()) {
        return;
    }
    TableRow row;
    row.def = m_rowDefs[static_cast<std::size_t>(std::clamp(level, 1, kMaxTableNesting))];
    row.cells = std::move(t.rowCells);
    t.rowCells.clear();
    t.rows.push_back(std::move(row));
    if (t.rows.size() >= kRowsPerChunk) {
        flushRows();
    }
}

void Parser::flushRows() {
    TableLevel& t = m_tables.back();
    if (t.rows.empty()) {
        return;
    }
    QTextCursor& parent = m_tables.size() >= 2 ? m_tables[m_tables.size() - 2].cursor : m_cursor;
    if (m_tables.size() >= 2) {
        m_tables[m_tables.size() - 2].cellHasContent = true;
    }
    buildTable(t, parent);
}

void Parser::buildTable(TableLevel& t, QTextCursor& parent) {
    // Rows go in by chunks: growing a QTextTable row by row rebuilds its
    // cell grid each time (quadratic in the rows), while keeping every cell
    // document until the table ends costs memory (about 10 KB a cell).
    int columns = 1;
    std::size_t widest = 0;
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        const TableRow& row = t.rows[r];
        const int n = std::min(static_cast<int>(row.cells.size()), kMaxTableColumns);
        if (n > columns) {
            columns = n;
            widest = r;
        }
    }
    const RowDef& def = t.rows[widest].def;
    QTextTableFormat format;
    format.setCellSpacing(0);
    format.setCellPadding(std::clamp(px(def.gap), 1.0, 20.0));
    format.setBorderCollapse(true);
    // Borders are drawn per cell side; the table has none of its own.
    format.setBorder(0);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderBrush(Qt::black);
    format.setAlignment(def.align);
    if (def.left > 0) {
        format.setLeftMargin(px(def.left));
    }
    if (static_cast<int>(def.cells.size()) >= columns) {
        QList<QTextLength> widths;
        int previous = def.left;
        for (int i = 0; i < columns; ++i) {
            const int right = def.cells[static_cast<std::size_t>(i)].right;
            widths.append(
                QTextLength(QTextLength::FixedLength, std::max(px(right - previous), 8.0)));
            previous = std::max(previous, right);
        }
        format.setColumnWidthConstraints(widths);
    }
    int firstRow = 0;
    if (t.table == nullptr) {
        parent.movePosition(QTextCursor::End);
        t.table = parent.insertTable(static_cast<int>(t.rows.size()), columns, format);
    } else {
        if (t.table->columns() < columns) {
            t.table->appendColumns(columns - t.table->columns());
        }
        firstRow = t.table->rows();
        t.table->appendRows(static_cast<int>(t.rows.size()));
    }
    QTextTable* table = t.table;
    columns = table->columns();
    for (int r = 0; r < static_cast<int>(t.rows.size()); ++r) {
        TableRow& row = t.rows[static_cast<std::size_t>(r)];
        for (int i = 0; i < static_cast<int>(row.cells.size()); ++i) {
            const int column = std::min(i, columns - 1);
            QTextTableCell cell = table->cellAt(firstRow + r, column);
            if (!cell.isValid()) {
                continue;
            }
            const CellDef* cd = i < static_cast<int>(row.def.cells.size())
                                    ? &row.def.cells[static_cast<std::size_t>(i)]
                                    : nullptr;
            QTextTableCellFormat cf = cell.format().toTableCellFormat();
            if (cd != nullptr) {
                const QColor shading = color(cd->shading);
                if (shading.isValid()) {
                    cf.setBackground(shading);
                }
                cf.setVerticalAlignment(
                    cd->vertical == Qt::AlignVCenter  ? QTextCharFormat::AlignMiddle
                    : cd->vertical == Qt::AlignBottom ? QTextCharFormat::AlignBottom
                                                      : QTextCharFormat::AlignTop);
            }
            applyBorders(cf, cd, row.def, firstRow + r == 0, i == 0,
                         i == static_cast<int>(row.cells.size()) - 1);
            cell.setFormat(cf);
            QTextDocument* cellDoc = row.cells[static_cast<std::size_t>(i)].get();
            // Drop the empty block the cell's last paragraph mark opened.
            QTextBlock last = cellDoc->lastBlock();
            if (last.length() <= 1 && last.previous().isValid()) {
                QTextCursor trim(last);
                trim.deletePreviousChar();
            }
            if (!cellDoc->isEmpty()) {
                QTextCursor c = cell.lastCursorPosition();
                if (i > column) {
                    c.insertText(
                        QStringLiteral(" "));  // cells beyond the column limit share the last
                }
                c.insertFragment(QTextDocumentFragment(cellDoc));
            }
        }
        row.cells.clear();  // frees the cell documents as we go
    }
    t.rows.clear();
    parent.movePosition(QTextCursor::End);
}

void Parser::applyBorders(QTextTableCellFormat& format, const CellDef* cell, const RowDef& row,
                          bool firstRow, bool firstCell, bool lastCell) const {
    // The cell's own \clbrdr* sides, plus the row's: its top edge on the
    // table's first row, inside lines between rows and cells, outer left and
    // right on the outer cells. Word writes the bottom edge on the cells.
    int sides = cell != nullptr ? cell->sides : 0;
    const int rs = row.sides;
    if ((firstRow && (rs & kTop)) || (rs & kInsideH)) {
        sides |= kTop;
    }
    if (rs & kInsideH) {
        sides |= kBottom;
    }
    if ((firstCell && (rs & kLeft)) || (!firstCell && (rs & kInsideV))) {
        sides |= kLeft;
    }
    if ((lastCell && (rs & kRight)) || (!lastCell && (rs & kInsideV))) {
        sides |= kRight;
    }
    const int twips = std::max(cell != nullptr ? cell->borderWidth : 0, row.borderWidth);
    const qreal width = std::clamp(px(twips), 1.0, 6.0);
    QColor colour =
        color(cell != nullptr && cell->borderColor != 0 ? cell->borderColor : row.borderColor);
    const QBrush brush(colour.isValid() ? colour : QColor(Qt::black));
    const auto side = [&](int bit, auto setWidth, auto setStyle, auto setBrush) {
        if (sides & bit) {
            (format.*setWidth)(width);
            (format.*setStyle)(QTextFrameFormat::BorderStyle_Solid);
            (format.*setBrush)(brush);
        } else {
            (format.*setWidth)(0);
            (format.*setStyle)(QTextFrameFormat::BorderStyle_None);
        }
    };
    side(kTop, &QTextTableCellFormat::setTopBorder, &QTextTableCellFormat::setTopBorderStyle,
         &QTextTableCellFormat::setTopBorderBrush);
    side(kLeft, &QTextTableCellFormat::setLeftBorder, &QTextTableCellFormat::setLeftBorderStyle,
         &QTextTableCellFormat::setLeftBorderBrush);
    side(kBottom, &QTextTableCellFormat::setBottomBorder,
         &QTextTableCellFormat::setBottomBorderStyle, &QTextTableCellFormat::setBottomBorderBrush);
    side(kRight, &QTextTableCellFormat::setRightBorder, &QTextTableCellFormat::setRightBorderStyle,
         &QTextTableCellFormat::setRightBorderBrush);
}

void Parser::closeTableLevel() {
    TableLevel& t = m_tables.back();
    if (t.cellHasContent) {
        // A table that ends without \row: keep the text of its last cell.
        t.rowCells.push_back(std::move(t.cell));
        t.cell = std::make_unique<QTextDocument>();
    }
    if (!t.rowCells.empty()) {
        commitRow(static_cast<int>(m_tables.size()));
    }
    flushRows();
    m_tables.pop_back();
}

void Parser::finishPicture() {
    PictureState pict = std::move(m_picture);
    m_picture = PictureState{};
    if (m_stack.empty() || state().chr.hidden) {
        return;
    }
    // Display size: \picwgoal/\pichgoal in twips, else \picw/\pich (pixels
    // for bitmaps, 0.01 mm for metafiles), scaled by \picscalex/\picscaley.
    const bool metafile = pict.format == PictureFormat::Emf || pict.format == PictureFormat::Wmf;
    auto natural = [&](int goal, int size) -> qreal {
        if (goal > 0) {
            return px(goal);
        }
        if (size > 0) {
            return metafile ? size * 96.0 / 2540.0 : size;
        }
        return 0;
    };
    qreal width = natural(pict.goalWidth, pict.width);
    qreal height = natural(pict.goalHeight, pict.height);

    QImage image;
    std::string why;
    if (pict.tooLarge || m_pictureBytes > kMaxTotalPictureBytes -
                                              std::min(pict.data.size(), kMaxTotalPictureBytes)) {
        why = "picture data exceeds the size limit";
    } else {
        m_pictureBytes += pict.data.size();
        switch (pict.format) {
            case PictureFormat::Png:
            case PictureFormat::Jpeg:
            case PictureFormat::Unknown:
                image = decodeImage(pict.data, &why, m_pixels);
                break;
            case PictureFormat::Dib: {
                const std::vector<std::uint8_t> bmp = dibToBmp(pict.data);
                image = bmp.empty() ? QImage() : decodeImage(bmp, &why, m_pixels);
                if (bmp.empty()) {
                    why = "device-independent bitmap header is malformed";
                }
                break;
            }
            case PictureFormat::Emf:
            case PictureFormat::Wmf: {
                const std::vector<std::uint8_t> bmp = metafileBitmap(pict.format, pict.data);
                if (!bmp.empty()) {
                    image = decodeImage(bmp, &why, m_pixels);
                } else {
                    why = "metafile picture without an embedded bitmap is shown as a box";
                }
                break;
            }
            case PictureFormat::Ddb:
                why = "device-dependent bitmap is shown as a box";
                break;
        }
    }
    if (!image.isNull()) {
        if (width <= 0 || height <= 0) {
            width = image.width();
            height = image.height();
        }
    }
    width = width * std::clamp(pict.scaleX > 0 ? pict.scaleX : 100, 1, 1000) / 100.0;
    height = height * std::clamp(pict.scaleY > 0 ? pict.scaleY : 100, 1, 1000) / 100.0;
    if (width <= 0 || height <= 0) {
        width = 96;
        height = 96;
    }
    if (image.isNull()) {
        warn(why);
        image = placeholderImage(static_cast<int>(width), static_cast<int>(height), QString(),
                                 m_pixels);
    }
    insertImage(image, width, height);
}

void Parser::insertImage(const QImage& image, qreal width, qreal height) {
    // Never wider than the text area; keep the aspect ratio.
    const qreal maxWidth = textWidthPixels(m_result.page);
    if (width > maxWidth) {
        height = height * maxWidth / width;
        width = maxWidth;
    }
    const QString name = QStringLiteral("rtf-image:%1").arg(++m_imageCount);
    m_doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat format;
    format.merge(charFormat());
    format.setName(name);
    format.setWidth(width);
    format.setHeight(height);
    Sink sink = currentSink();
    sink.cursor->insertImage(format);
    if (!m_tables.empty()) {
        m_tables.back().cellHasContent = true;
    }
}

void Parser::finish() {
    if (!m_stack.empty()) {
        flushText();
    }
    if (m_stack.empty()) {
        m_stack.push_back(Group{});
    }
    while (!m_tables.empty()) {
        closeTableLevel();
    }
    // The document's last paragraph mark opens an empty block that Word
    // never shows; drop it unless it follows a table.
    QTextBlock last = m_doc->lastBlock();
    if (last.length() <= 1 && last.previous().isValid()) {
        QTextCursor previous(last.previous());
        if (previous.currentTable() == nullptr) {
            QTextCursor trim(last);
            trim.deletePreviousChar();
        }
    } else if (last.length() > 1) {
        QTextCursor c(last);
        c.setBlockFormat(blockFormat());
    }
}

}  // namespace

void prepareDocument(QTextDocument& doc) {
    doc.setDocumentMargin(0);
    doc.setUndoRedoEnabled(false);
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPointSizeF(12);
    doc.setDefaultFont(font);
    QTextOption option = doc.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);
}

void readPlainRtf(std::span<const std::uint8_t> bytes, ReadResult& result) {
    QTextDocument& doc = *result.document;
    prepareDocument(doc);
    QTextOption option = doc.defaultTextOption();
    option.setTabStopDistance(48);  // \deftab720
    doc.setDefaultTextOption(option);
    Parser parser(bytes, result);
    parser.run();
}

}  // namespace rtf::detail
