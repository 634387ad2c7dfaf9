#pragma once
// Helpers for the RTF reader tests: read RTF given as text, find runs of text
// and their formats in the resulting document.

#include <rtf/rtf_reader.h>

#include <QBuffer>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <optional>
#include <span>
#include <string>

namespace rtftest {

inline std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline rtf::ReadResult read(const std::string& text,
                            const std::vector<rtf::InlineImage>& images = {}) {
    return rtf::readRtf(bytesOf(text), images);
}

// All text of the document, table cells included, blocks separated by "\n".
inline QString allText(const QTextDocument& doc) {
    QString out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        out += b.text();
        out += u'\n';
    }
    return out;
}

// The format of the fragment holding `text`.
inline std::optional<QTextCharFormat> formatOf(const QTextDocument& doc, const QString& text) {
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            if (it.fragment().text().contains(text)) {
                return it.fragment().charFormat();
            }
        }
    }
    return std::nullopt;
}

inline std::optional<QTextBlock> blockWith(const QTextDocument& doc, const QString& text) {
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b.text().contains(text)) {
            return b;
        }
    }
    return std::nullopt;
}

inline std::vector<std::uint8_t> encodeImage(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return {bytes.begin(), bytes.end()};
}

inline std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

}  // namespace rtftest
