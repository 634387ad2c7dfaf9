#pragma once
// The RTF parser and the state it keeps, shared by the files it is written
// in: rtf_parser.cpp (tokens, groups, text and output), rtf_formats.cpp
// (font and colour tables, character and paragraph formats),
// rtf_document_words.cpp (document words, destinations, fields, breaks,
// headers and footers), rtf_tables.cpp (table rows and cells) and
// rtf_picture_group.cpp (\pict groups). The control words by name are in
// rtf_words.h. Private to the RTF reader.

#include "code_pages.h"
#include "pictures.h"
#include "rtf_words.h"
#include "tokenizer.h"

#include <rtf/faces.h>
#include <rtf/rtf_reader.h>

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFormat>
#include <QTextOption>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

class QTextTable;

namespace rtf::detail {

inline constexpr int kDefaultFontSizeHalfPoints = 24;
// Indents, spacing, tab stops and cell edges are clamped to 22 inches (twips).
inline constexpr int kMaxLengthTwips = 31680;

inline qreal px(int twips) {
    return twips / kTwipsPerPixel;
}

enum class Dest { Text, FontTable, ColorTable, Picture, FieldInstruction };

struct CharState {
    int font = -1;
    CjkRegion cjkRegion = CjkRegion::Unknown;  // \lang, \langfe
    int sizeHalfPoints = kDefaultFontSizeHalfPoints;
    bool bold = false, italic = false, strike = false, caps = false, smallCaps = false;
    bool hidden = false;
    QTextCharFormat::UnderlineStyle underline = QTextCharFormat::NoUnderline;
    int vertical = 0;    // 1 superscript, 2 subscript
    int foreground = 0;  // colour table index; 0 is "auto"
    int background = 0;
    QString href;
    int pageField = 0;  // kPageNumber, kPageCount: text a paginator replaces
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
    CjkRegion cjkRegion = CjkRegion::Unknown;  // from \fcharset
    QStringList families;
};

// Tables: a row as \trowd ... \cellx define it, and the rows and cells of
// a table level being built (rtf_tables.cpp).
inline constexpr int kTop = 1, kLeft = 2, kBottom = 4, kRight = 8, kInsideH = 16, kInsideV = 32;

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

// The \pict group being read (rtf_picture_group.cpp).
struct PictureState {
    PictureFormat format = PictureFormat::Unknown;
    int width = 0, height = 0, goalWidth = 0, goalHeight = 0, scaleX = 100, scaleY = 100;
    std::vector<std::uint8_t> data;
    int pendingNibble = -1;
    bool tooLarge = false;
    std::size_t depth = 0;
};

// The region a Windows language identifier (\lang, \langfe, \deflangfe)
// names for Han characters; Unknown for languages not East Asian.
CjkRegion regionOfLanguage(int lcid);

// The parameter of a control word, 0 when it has none.
inline int paramOf(const Token& token) {
    return token.hasParam ? token.param : 0;
}

// A toggle (\b, \i, ...) is on without a parameter and with any but 0.
inline bool toggledOn(const Token& token) {
    return !token.hasParam || token.param != 0;
}

// Reads the tokens of one RTF document into ReadResult::document. One
// instance reads one document; run() throws RtfError as readRtf describes.
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

    // Control words, one handler per group. In the font table, colour table
    // and pictures only their own words count; elsewhere the handlers are
    // tried in turn, each returning false for the words of other groups.
    // Formats (rtf_formats.cpp)
    void handleFontWord(Word word, const Token& token);
    void handleColorWord(Word word, const Token& token);
    bool handleCharacterWord(Word word, const Token& token);
    bool handleParagraphWord(Word word, const Token& token);
    // The document's structure (rtf_document_words.cpp)
    bool handleDocumentWord(Word word, const Token& token);
    bool handleDestinationWord(Word word);
    bool handleFieldWord(Word word);
    bool handleSpecialCharacterWord(Word word, const Token& token);
    bool handleBreakWord(Word word);
    // Tables (rtf_tables.cpp) and pictures (rtf_picture_group.cpp)
    void handleTableWord(Word word, const Token& token);
    void handleBorderWord(Word word, const Token& token);
    void handlePictureWord(Word word, const Token& token);

    // Formats (rtf_formats.cpp)
    void addToFontName(std::uint8_t byte);
    void commitFont();
    QColor color(int index) const;
    QTextCharFormat charFormat() const;
    QTextBlockFormat blockFormat() const;
    const QStringList& familiesOf(int font);

    // Text and output
    int codePageOfCurrentFont() const;
    void flushText();
    void appendText(const QString& text);
    void insertText(const QString& text);
    void endParagraph();
    void pageBreak();
    void finish();

    // Tables (rtf_tables.cpp)
    Sink currentSink();
    int wantedTableLevel() const;
    void ensureTableLevel(int wanted);
    RowDef& rowDef();
    void endCell(int level);
    void endRow(int level);
    void commitRow(int level);
    void flushRows();
    void buildTable(TableLevel& table, QTextCursor& parent);
    void applyBorders(QTextTableCellFormat& format, const CellDef* cell, const RowDef& row,
                      bool firstRow, bool firstCell, bool lastCell) const;
    void closeTableLevel();
    void trimLastBlock();

    // Headers and footers: their groups are read into documents of their own
    // (rtf_document_words.cpp)
    void startHeaderFooter(Word word);
    void endHeaderFooter();

    // Pictures (rtf_picture_group.cpp)
    void startPicture();
    void addPictureHex(std::span<const std::uint8_t> text);
    void addPictureBinary(std::span<const std::uint8_t> data);
    void finishPicture();
    void insertImage(const QImage& image, qreal width, qreal height);

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
    CjkRegion m_defaultCjkRegion = CjkRegion::Unknown;  // \deflangfe
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
    // A \sect was read: later sections' page sizes and margins are not
    // drawn (every page takes the first section's).
    bool m_pastFirstSection = false;

    // The output a header or footer group interrupts, restored at its end.
    struct MainOutput {
        QTextDocument* doc = nullptr;
        QTextCursor cursor;
        std::vector<TableLevel> tables;
        bool breakBefore = false;
        std::size_t depth = 0;  // the group's depth; 0: no header or footer is read
        int chars = 0;          // characters of the header or footer so far
    };
    MainOutput m_main;

    std::vector<Field> m_fields;
    PictureState m_picture;
    std::size_t m_pictureBytes = 0;
    PixelBudget m_pixels{kMaxTotalPicturePixels};
    int m_imageCount = 0;
};

}  // namespace rtf::detail
