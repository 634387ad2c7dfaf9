#pragma once
// What text of mail HTML a browser shows where Qt's HTML reader shows
// otherwise: elements hidden by "display:none" (a newsletter's preview line
// before its greeting), and named characters written without their
// semicolon ("&copy 2024", "&amp" in a link's text); a drop-down list as
// the one option it shows.

#include <QString>

namespace rtf::detail {

// `html` without the elements whose style attribute says "display:none",
// with their content (an element without its end tag stays). Run after the
// style sheets are inlined, so that a class that hides hides as well.
QString withoutHiddenElements(const QString& html);

// `html` with every named character of the few a browser reads without a
// semicolon ("&amp", "&copy", "&eacute", ...) in text written as a numeric
// one; the longest such name counts ("&copyright" is "©right"). Tags, comments,
// style sheets and scripts are left as they are.
QString withLegacyEntitiesEnded(const QString& html);

// `html` with each drop-down list (<select>) as the text of the option it
// shows, the one marked "selected" else the first, between spaces: Qt wrote
// every option's text, run into the words around it. A list longer than
// 64 KiB of options stays as it is.
QString withSelectsAsShownOption(const QString& html);

// `html` with the blocks Qt's reader does not end as a browser does: a
// <form> is a block (Qt ran the words before and after it into one), and
// the end tag of any heading level ends the heading open ("<h3>...</h1>";
// Qt kept the heading open and ran the next block into it).
QString withFormsAndHeadingsAsBlocks(const QString& html);

}  // namespace rtf::detail
