#pragma once
// What a document's bytes are and how they become text: the format from the
// content, and the decoding of text and HTML bytes (byte-order mark, <meta>
// charset, the caller's code page, a guess).

#include <QString>

#include <cstdint>
#include <span>

namespace render::engine {

// Rtf, Html and Text are recognised from the content; the others only a
// caller names (a picture file, a PDF file, rows of a placeholder page).
enum class SourceFormat { Rtf, Html, Text, Picture, Pdf, Placeholder };

// Recognises the format from the content alone: "{\rtf" (after an optional
// byte-order mark and white space) is RTF; markup that opens with an <html>,
// <!DOCTYPE html>, <head> or <body> tag is HTML; anything else is text.
SourceFormat detectFormat(std::span<const std::uint8_t> bytes);

// Decodes text bytes: a UTF-8 or UTF-16 byte-order mark decides; else the
// Windows code page `codePage`, when given and known (the RTF reader's
// code-page table); else valid UTF-8 is UTF-8; else Windows-1252. Never fails.
QString decodeText(std::span<const std::uint8_t> bytes, int codePage = 0);

// Decodes HTML bytes: a byte-order mark, else the charset its <meta> names,
// else as decodeText with `codePage`.
QString decodeHtml(std::span<const std::uint8_t> bytes, int codePage = 0);

}  // namespace render::engine
