#pragma once
// Windows code pages for callers outside the RTF reader: the same table that
// decodes RTF text decodes the text and HTML bodies a caller hands over with
// their code page number.

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace rtf {

// 8-bit text in Windows code page `codePage` (1252, 1251, 932, 65001, ...);
// nothing when the table has no decoder for it (or codePage <= 0).
std::optional<QString> decodeCodePage(int codePage, QByteArrayView bytes);

}  // namespace rtf
