#pragma once
// The text formats the engine settles before the layout and the underlines
// it draws itself.
//
// Underlines are drawn by the engine, not by Qt's text painting: Qt puts
// them at the font engine's underline position, which for Carlito and
// Liberation at mail sizes runs through the descenders of g, j, p, q, y and
// makes small underlined link text hard to read. Before the first layout
// the style moves from the text formats into kUnderlineStyleProperty (an
// underline changes no metric, so the layout is the same); Underlines::draw
// paints it after each page's text.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QTextDocument>

#include <vector>

class QPainter;
class QPaintDevice;

namespace render::engine {

// The paint device every layout measures against: fonts in points and
// pictures in pixels come out at 96 dpi whatever the screen says.
QPaintDevice* layoutDevice();

// The font of plain text, Calibri at 11 pt; also that of the engine's own
// notes on a page.
QFont defaultBodyFont();

// Before the first layout: underline styles into kUnderlineStyleProperty,
// each face named by its stand-in (rtf/faces.h) and faces this configuration
// lacks dropped, East Asian runs given the CJK face of their region first.
// With a NoLigatures alive (and active), also letters a hair wider than the
// font spaces them (a 64th of a percent), which keeps the shaper from making
// ligatures.
void prepareFormats(QTextDocument& doc);

// The letter spacing (QFont::PercentageSpacing) that keeps ligatures away:
// Qt's shaper turns them off for any spacing but 100%, and this is the least
// above it that Qt's fixed point holds.
inline constexpr double kNoLigatureSpacing = 100.015625;

// While one lives, the documents laid out have no ligatures: "fi" stays two
// glyphs, so that a PDF's text gives back every letter (Qt's PDF writer
// maps each glyph to the characters of the font's character map, where a
// ligature has none). Set for the load of one document; the engine works on
// one document at a time.
class NoLigatures {
public:
    explicit NoLigatures(bool active);
    ~NoLigatures();
    NoLigatures(const NoLigatures&) = delete;
    NoLigatures& operator=(const NoLigatures&) = delete;

private:
    bool m_previous;
};

// Browsers break a line only between words and never make a table column
// narrower than its longest word; Qt's one wrap mode for a whole document,
// which also breaks anywhere so that a link longer than a line wraps, lets a
// column squeeze its words apart ("LISTENP" / "REIS"). A document without a
// run of more than kLongestUnbrokenRun characters between break
// opportunities (a link, a long address) has nothing a line could not hold:
// this makes it wrap at word boundaries only, as a browser lays it out.
// Documents with such a run keep breaking anywhere.
constexpr int kLongestUnbrokenRun = 30;
void wrapAsBrowsers(QTextDocument& doc);

// One underlined stretch of a block's text.
struct UnderlineRun {
    int start = 0;  // in the block
    int length = 0;
    int style = 0;
    QFont font;
    QColor color;
};

// A block with underlined text, where the layout put it.
struct UnderlinedBlock {
    double top = 0;
    double bottom = 0;
    int position = 0;
    std::vector<UnderlineRun> runs;
};

// The underlined blocks of a laid-out document by their top, indexed once,
// so that a page finds its own by binary search: painting stays linear in
// the pages.
class Underlines {
public:
    static Underlines index(const QTextDocument& doc);
    // The underlines of the blocks that meet `clip` (layout coordinates), in
    // the painter's coordinates, which are the layout's.
    void draw(QPainter& painter, const QTextDocument& doc, const QRectF& clip) const;

private:
    std::vector<UnderlinedBlock> m_blocks;
    // The running maximum of the blocks' bottoms (a block that starts on an
    // earlier page may reach this one).
    std::vector<double> m_maxBottom;
};

}  // namespace render::engine
