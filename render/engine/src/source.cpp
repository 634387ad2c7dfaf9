#include "engine/source.h"

#include <rtf/code_pages.h>

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace render::engine {

namespace {

// How much of the start of a document the format and charset sniffing reads.
constexpr std::size_t kSniffBytes = 4096;

QByteArrayView view(std::span<const std::uint8_t> bytes) {
    return QByteArrayView(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
}

std::span<const std::uint8_t> skipUtf8Bom(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return bytes.subspan(3);
    }
    return bytes;
}

bool isValidUtf8(QByteArrayView data) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(data);
    return !decoder.hasError();
}

// Windows-1252 without relying on a codec being present: Latin-1 except for
// 0x80..0x9F.
QString decodeWindows1252(QByteArrayView data) {
    static constexpr std::array<char16_t, 32> kHigh = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    QString out;
    out.reserve(data.size());
    for (const char c : data) {
        const auto b = static_cast<unsigned char>(c);
        out.append(b >= 0x80 && b < 0xA0 ? QChar(kHigh[b - 0x80u]) : QChar(b));
    }
    return out;
}

// Decodes with a named encoding; nothing when the name is unknown.
std::optional<QString> decodeWith(const QByteArray& encodingName, QByteArrayView data) {
    if (encodingName.isEmpty()) {
        return std::nullopt;
    }
    QStringDecoder decoder(encodingName.constData());
    if (!decoder.isValid()) {
        return std::nullopt;
    }
    return decoder.decode(data);
}

// UTF-8 when the bytes are valid UTF-8, else Windows-1252.
QString decodeGuessing(QByteArrayView data) {
    return isValidUtf8(data) ? QString::fromUtf8(data) : decodeWindows1252(data);
}

bool hasByteOrderMark(QByteArrayView data) {
    return data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") ||
           data.startsWith("\xFE\xFF");
}

QString lowerAsciiPrefix(std::span<const std::uint8_t> bytes, std::size_t limit) {
    const auto head = bytes.first(std::min(bytes.size(), limit));
    return QString::fromLatin1(view(head)).toLower();
}

// The charset an HTML document names in a <meta> tag, if any.
QByteArray htmlCharset(std::span<const std::uint8_t> bytes) {
    const QString head = lowerAsciiPrefix(bytes, kSniffBytes);
    const qsizetype at = head.indexOf(QLatin1String("charset="));
    if (at < 0) {
        return {};
    }
    qsizetype begin = at + 8;
    while (begin < head.size() && (head[begin] == u'"' || head[begin] == u'\'')) {
        ++begin;
    }
    qsizetype end = begin;
    while (end < head.size() && (head[end].isLetterOrNumber() || head[end] == u'-' ||
                                 head[end] == u'_' || head[end] == u':')) {
        ++end;
    }
    return head.mid(begin, end - begin).toLatin1();
}

}  // namespace

SourceFormat detectFormat(std::span<const std::uint8_t> bytes) {
    auto rest = skipUtf8Bom(bytes);
    std::size_t start = 0;
    while (start < rest.size() && (rest[start] == ' ' || rest[start] == '\t' ||
                                   rest[start] == '\r' || rest[start] == '\n')) {
        ++start;
    }
    rest = rest.subspan(start);
    static constexpr std::string_view kRtf = "{\\rtf";
    if (rest.size() >= kRtf.size() &&
        std::equal(kRtf.begin(), kRtf.end(), rest.begin(),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
        return SourceFormat::Rtf;
    }
    // UTF-16 markup is decoded before it is looked at.
    const QString head =
        (bytes.size() >= 2 &&
         ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
            ? decodeText(bytes.first(std::min(bytes.size(), kSniffBytes))).trimmed().toLower()
            : lowerAsciiPrefix(rest, kSniffBytes);
    if (!head.startsWith(u'<')) {
        return SourceFormat::Text;
    }
    for (const char* tag : {"<html", "<!doctype html", "<head", "<body"}) {
        if (head.contains(QLatin1String(tag))) {
            return SourceFormat::Html;
        }
    }
    return SourceFormat::Text;
}

QString decodeText(std::span<const std::uint8_t> bytes, int codePage) {
    const QByteArrayView data = view(bytes);
    if (data.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(data.sliced(3));
    }
    if (data.startsWith("\xFF\xFE")) {
        return QStringDecoder(QStringDecoder::Utf16LE).decode(data.sliced(2));
    }
    if (data.startsWith("\xFE\xFF")) {
        return QStringDecoder(QStringDecoder::Utf16BE).decode(data.sliced(2));
    }
    if (auto known = rtf::decodeCodePage(codePage, data)) {
        return *known;
    }
    return decodeGuessing(data);
}

QString decodeHtml(std::span<const std::uint8_t> bytes, int codePage) {
    const QByteArrayView data = view(bytes);
    if (hasByteOrderMark(data)) {
        return decodeText(bytes);
    }
    if (auto named = decodeWith(htmlCharset(bytes), data)) {
        return *named;
    }
    return decodeText(bytes, codePage);
}

}  // namespace render::engine
