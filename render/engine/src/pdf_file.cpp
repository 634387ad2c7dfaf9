// PdfFile: pages drawn through Qt's PDF writer, then the document
// information (title, author, creation date) set by an incremental update,
// as Qt's writer has no author and dates every file with the time it was
// written.

#include "engine/page_file.h"

#include "file_beside.h"

#include <QBuffer>
#include <QByteArray>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <ctime>
#include <string>

namespace render::engine {

namespace {

constexpr double kTwipsPerPoint = 20.0;

// A PDF text string: UTF-16BE with its byte-order mark, in hex.
QByteArray pdfString(const QString& text) {
    QByteArray hex("<FEFF");
    for (const QChar c : text) {
        hex += QByteArray::number(c.unicode() | 0x10000, 16).mid(1).toUpper();
    }
    return hex + '>';
}

QByteArray pdfDate(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "(D:%Y%m%d%H%M%SZ)", &utc);
    return text;
}

// The value after `key` in the last trailer of `pdf` ("/Size 12" -> "12",
// "/Root 1 0 R" -> "1 0 R").
QByteArray trailerValue(const QByteArray& pdf, qsizetype trailer, const QByteArray& key) {
    const qsizetype at = pdf.indexOf(key, trailer);
    if (at < 0) {
        return {};
    }
    qsizetype start = at + key.size();
    while (start < pdf.size() && pdf[start] == ' ') {
        ++start;
    }
    qsizetype end = start;
    while (end < pdf.size() && pdf[end] != '\n' && pdf[end] != '\r' && pdf[end] != '/' &&
           pdf[end] != '>') {
        ++end;
    }
    return pdf.mid(start, end - start).trimmed();
}

// Qt's writer dates its own information dictionary with the time it
// writes; the digits are overwritten in place (the cross-reference offsets
// stay valid), so that the same pages make the same bytes on every run.
void fixWritersDate(QByteArray& pdf, const PdfInfo& info) {
    const QByteArray key = "/CreationDate (D:";
    const qsizetype at = pdf.indexOf(key);
    constexpr qsizetype kDigits = 14;  // YYYYMMDDHHmmSS
    if (at < 0 || at + key.size() + kDigits > pdf.size()) {
        return;
    }
    const QByteArray date =
        info.created ? pdfDate(*info.created).mid(3, kDigits) : QByteArray("19700101000000");
    for (qsizetype i = 0; i < kDigits; ++i) {
        const qsizetype index = at + key.size() + i;
        if (pdf[index] < '0' || pdf[index] > '9') {
            return;
        }
        pdf[index] = date[i];
    }
}

// Appends a new information dictionary and a trailer that names it.
void setInfo(QByteArray& pdf, const PdfInfo& info) {
    fixWritersDate(pdf, info);
    const qsizetype trailer = pdf.lastIndexOf("trailer");
    const qsizetype startxref = pdf.lastIndexOf("startxref");
    bool sizeOk = false;
    bool xrefOk = false;
    const int size = trailerValue(pdf, trailer, "/Size").toInt(&sizeOk);
    const QByteArray root = trailerValue(pdf, trailer, "/Root");
    const qlonglong previous =
        startxref < 0
            ? -1
            : pdf.mid(startxref + 9, 24).trimmed().split('\n').value(0).toLongLong(&xrefOk);
    if (trailer < 0 || startxref < trailer || !sizeOk || size <= 0 || root.isEmpty() || !xrefOk) {
        throw RenderError("the PDF writer's output has no trailer to extend");
    }
    if (!pdf.endsWith('\n')) {
        pdf += '\n';
    }
    const qsizetype object = pdf.size();
    pdf += QByteArray::number(size) + " 0 obj\n<<\n/Title " + pdfString(info.title) + "\n/Author " +
           pdfString(info.author) + "\n/Creator (Orvaline)\n/Producer (Orvaline)\n";
    if (info.created) {
        pdf += "/CreationDate " + pdfDate(*info.created) + '\n';
    }
    pdf += ">>\nendobj\n";
    const qsizetype xref = pdf.size();
    pdf += "xref\n" + QByteArray::number(size) + " 1\n" +
           QByteArray::number(object).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<<\n/Size " + QByteArray::number(size + 1) + "\n/Root " + root + "\n/Info " +
           QByteArray::number(size) + " 0 R\n/Prev " + QByteArray::number(previous) +
           "\n>>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
}

}  // namespace

struct PdfFile::State {
    QString fileName;
    PdfInfo info;
    int dpi = kDefaultDpi;
    QByteArray bytes;
    QBuffer buffer{&bytes};
    std::unique_ptr<QPdfWriter> writer;
    QPainter painter;
    int pages = 0;
};

PdfFile::PdfFile(const QString& fileName, PdfInfo info, int dpi)
    : m_state(std::make_unique<State>()) {
    if (dpi < kMinDpi || dpi > kMaxDpi) {
        throw RenderError("resolution " + std::to_string(dpi) + " dpi is outside " +
                          std::to_string(kMinDpi) + ".." + std::to_string(kMaxDpi));
    }
    m_state->fileName = fileName;
    m_state->info = std::move(info);
    m_state->dpi = dpi;
    m_state->buffer.open(QIODevice::WriteOnly);
    m_state->writer = std::make_unique<QPdfWriter>(&m_state->buffer);
    m_state->writer->setResolution(dpi);
    m_state->writer->setTitle(m_state->info.title);
    m_state->writer->setCreator(QStringLiteral("Orvaline"));
}

PdfFile::~PdfFile() {
    if (m_state->painter.isActive()) {
        m_state->painter.end();
    }
}

void PdfFile::add(const PagedDocument& document, int pageIndex) {
    State& s = *m_state;
    const rtf::PageSetup paper = document.geometry();
    // The paper, and a stamp's band below it.
    const QPageSize size(
        QSizeF(paper.paperWidth / kTwipsPerPoint, document.pageHeightTwips() / kTwipsPerPoint),
        QPageSize::Point, QString(), QPageSize::ExactMatch);
    const QPageLayout layout(size, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                             QPageLayout::Point);
    s.writer->setPageLayout(layout);
    if (s.pages == 0) {
        if (!s.painter.begin(s.writer.get())) {
            throw RenderError("cannot begin the PDF file \"" + s.fileName.toStdString() + "\"");
        }
    } else {
        if (!s.writer->newPage()) {
            throw RenderError("cannot add a page to the PDF file \"" + s.fileName.toStdString() +
                              "\"");
        }
    }
    document.paintPage(s.painter, pageIndex, s.dpi);
    ++s.pages;
}

int PdfFile::pages() const {
    return m_state->pages;
}

void PdfFile::finish() {
    State& s = *m_state;
    if (s.pages == 0) {
        throw RenderError("the PDF file \"" + s.fileName.toStdString() + "\" has no pages");
    }
    s.painter.end();
    s.writer.reset();
    s.buffer.close();
    setInfo(s.bytes, s.info);
    writeWholeFile(s.fileName, s.bytes);
}

}  // namespace render::engine
