#pragma once
// Files made by hand for tests: the edges of formats that ordinary writers
// never produce (a picture that claims more than it holds, a PDF of a
// hundred thousand pages).

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace made_files {

inline void put32be(QByteArray& b, std::uint32_t v) {
    for (int shift : {24, 16, 8, 0}) {
        b.append(static_cast<char>((v >> shift) & 0xFF));
    }
}

inline std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

inline QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    put32be(chunk, static_cast<std::uint32_t>(data.size()));
    const QByteArray body = QByteArray(type) + data;
    chunk += body;
    put32be(chunk, crc32(body));
    return chunk;
}

// A PNG that claims `width` x `height` pixels and holds one byte of data.
inline QByteArray pngClaiming(std::uint32_t width, std::uint32_t height) {
    QByteArray header;
    put32be(header, width);
    put32be(header, height);
    header += QByteArray("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", header) +
           pngChunk("IDAT", QByteArray("\x78\x01", 2)) + pngChunk("IEND", {});
}

// A PDF of `count` pages made cheaply: one page object repeated, each copy
// drawing the one content stream on the paper the page tree gives them all.
// (Poppler does not believe a page count above the number of objects.)
inline QByteArray manyPagesPdf(int count) {
    std::vector<qsizetype> offsets;
    QByteArray pdf("%PDF-1.4\n");
    pdf.reserve(count * 80);
    const auto object = [&](const QByteArray& body) {
        offsets.push_back(pdf.size());
        pdf +=
            QByteArray::number(static_cast<int>(offsets.size())) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    QByteArray kids;
    kids.reserve(count * 10);
    for (int i = 0; i < count; ++i) {
        kids += QByteArray::number(4 + i) + " 0 R ";
    }
    object("<< /Type /Pages /Count " + QByteArray::number(count) +
           " /MediaBox [0 0 612 792] /Kids [" + kids + "] >>");
    const QByteArray content = "0 0 0 rg 72 72 468 648 re f";
    object("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
           "\nendstream");
    for (int i = 0; i < count; ++i) {
        object("<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>");
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(static_cast<int>(offsets.size()) + 1) +
           "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(static_cast<int>(offsets.size()) + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

}  // namespace made_files
