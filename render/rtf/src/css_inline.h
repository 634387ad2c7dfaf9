#pragma once
// Mail HTML keeps its look in <style> sheets ("p.MsoNormal {font-family:
// Calibri; font-size:11pt; margin:0}"). Qt's HTML reader has two faults with
// them: Word hides every sheet in "<!-- -->", which Qt takes for a comment,
// and when a sheet sets the font of a paragraph, text nested in a styled span
// takes the paragraph's font instead of the span's. Rules with simple
// selectors are therefore written into the style attributes of the elements
// they match, as a browser would resolve them; the rest stay in the sheet.

#include <QString>

namespace rtf::detail {

// Most rules read from the sheets of one document; further rules are ignored.
inline constexpr int kMaxStyleRules = 4000;

// Returns `html` with the rules of its <style> sheets that use simple
// selectors ("tag", ".class", "tag.class", "a:link", comma lists of them)
// moved into the style attributes of the elements they match, ahead of the
// element's own declarations (which win). Declarations for Outlook alone
// ("mso-...") are dropped. Other rules stay in a <style> sheet. Bounded for
// hostile sheets: kMaxStyleRules rules, the last 32 per selector and per
// element, 16 classes per element, output at most four times the input plus
// 1 MiB (further elements keep only their own style).
QString withStyleSheetsInlined(const QString& html);

}  // namespace rtf::detail
