#pragma once
// The repairs a document gets before its layout: text cut to the engine's
// limit, a page setup within range, a body that starts on the first page,
// pictures that fit the page, affordable table nesting, settled formats.

#include "engine/paged_document.h"

#include <rtf/rtf_reader.h>

#include <QSizeF>
#include <QString>
#include <QTextDocument>

#include <string>
#include <vector>

namespace render::engine {

// Plain text and HTML over kMaxTextCharacters are cut, and a note at the end
// of the text (and in `warnings`) says so.
QString cutText(QString text, std::vector<std::string>& warnings);

// The page setup a document is laid out on: the document's own, or the
// paper the caller asks for with the document's margins; a paper out of
// range becomes Letter and margins that leave less than kMinBodyTwips of
// body are reduced, with a warning each.
rtf::PageSetup pageSetupFor(rtf::PageSetup requested, LoadOptions::Paper paper,
                            std::vector<std::string>& warnings);

// The body as the engine lays it out: no document margin of its own (the
// page's margins are applied by the pagination), long words and links
// wrapped instead of running off the paper, and no page break before the
// first paragraph, which would only add an empty page.
void settleBody(QTextDocument& doc);

// Before the layout exists (documentLayout() creates it and lays out at
// once): pictures larger than `room` (pixels) scaled down to fit it, tables
// unwrapped beyond the nesting budget, the text formats settled
// (prepareFormats). Sizes beyond what the layout's fixed-point arithmetic
// holds must never reach it.
void repairForLayout(QTextDocument& doc, QSizeF room, std::vector<std::string>& warnings);

}  // namespace render::engine
