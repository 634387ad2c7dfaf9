#pragma once
// Windows code pages as RTF names them (\ansicpgN, \cpgN, \fcharsetN), decoded
// with Qt's ICU-backed QStringDecoder.

#include <QString>
#include <QStringDecoder>

#include <map>
#include <memory>
#include <string>

namespace rtf::detail {

// The code page a font's \fcharset stands for; 0 when the charset means "the
// document's \ansicpg" (ANSI and default charsets, and unknown values).
int codePageForCharset(int charset);

// The Symbol charset (2) maps bytes to the glyphs of the Symbol font; we map
// the ones mail and lists use to their Unicode equivalents.
QChar symbolCharacter(std::uint8_t byte);

// A decoder for Windows code page `codePage`, or null when ICU knows none.
// The one table of code page numbers to decoders: RTF's \ansicpg, \cpg and
// \fcharset, and the code page a caller names for text and HTML.
std::unique_ptr<QStringDecoder> decoderForCodePage(int codePage);

class CodePages {
public:
    // Decodes bytes in code page `codePage`. Bytes of a code page ICU does not
    // know are decoded as windows-1252 and `unknown` is set.
    QString decode(int codePage, std::string_view bytes, bool* unknown = nullptr);

private:
    std::map<int, std::unique_ptr<QStringDecoder>> m_decoders;
};

}  // namespace rtf::detail
