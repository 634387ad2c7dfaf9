#pragma once
// The faces documents are drawn in: the face that stands in for each face
// mail names, and the East Asian faces of each region. One table for the
// RTF reader, which names the metric twins in the formats it makes, and for
// the engine, whose font configuration and format preparation put every
// stand-in in place (docs/formats/rendering.md has the measurements).

#include <QString>

#include <span>
#include <string_view>

namespace rtf {

// A face mail names, and the face that takes its place: its metric twin
// where Debian has one, otherwise the face closest in average advance
// width. Fixed-pitch CJK faces (half-width Latin) go to Noto's fixed-pitch
// CJK faces, the others to the sans or serif faces of their region.
struct FaceSubstitute {
    std::string_view face;     // UTF-8, as documents name it
    std::string_view standIn;  // the installed face drawn instead
    bool metricTwin = false;   // the same advance widths, so the same line breaks
};

// Every face with a stand-in.
std::span<const FaceSubstitute> faceSubstitutes();

// The stand-in for a face (case-insensitive, blanks around it ignored):
// "Georgia" -> "DejaVu Serif Condensed"; empty for a face without one.
QString standInFace(const QString& face);

// The stand-in for a face when it is its metric twin ("Calibri" ->
// "Carlito"); empty otherwise.
QString metricTwinFace(const QString& face);

// The region of East Asian text (Han characters are drawn differently in
// each), from a font's charset or the text's language.
enum class CjkRegion { Unknown, Japan, SimplifiedChinese, TraditionalChinese, Korea };

// The face of the region's Han characters (Noto Sans CJK); Japanese when
// nothing tells.
QString cjkFace(CjkRegion region);

// Whether a family is one of the East Asian faces the stand-ins and
// cjkFace() name (Noto's CJK faces, sans, serif and fixed-pitch).
bool isCjkFace(const QString& family);

}  // namespace rtf
