#include <rtf/rtf_reader.h>

#include "reader.h"

#include <QFont>
#include <QTextOption>

#include <algorithm>

namespace rtf {

namespace detail {

QVariant ResourceDocument::loadResource(int, const QUrl&) {
    // Everything this document shows was added with addResource(); nothing
    // else is ever read from files or the network.
    return {};
}

qreal textWidthPixels(const PageSetup& page) {
    const int twips = page.paperWidth - page.marginLeft - page.marginRight;
    return std::max(48.0, twips / kTwipsPerPixel);
}

}  // namespace detail

namespace {

void layOutHtml(ReadResult& result, const QString& html, const std::vector<InlineImage>& images) {
    QTextDocument& doc = *result.document;
    detail::prepareDocument(doc);
    detail::loadHtml(doc, html, images, detail::textWidthPixels(result.page), result.warnings);
}

}  // namespace

ReadResult readHtml(const QString& html, const std::vector<InlineImage>& images) {
    ReadResult result;
    result.document = std::make_unique<detail::ResourceDocument>();
    result.encapsulation = Encapsulation::Html;
    const auto limit = static_cast<qsizetype>(kMaxTextChars) * 2;
    if (html.size() > limit) {
        result.warnings.push_back("HTML longer than " + std::to_string(limit) +
                                  " characters was truncated");
        layOutHtml(result, html.left(limit), images);
    } else {
        layOutHtml(result, html, images);
    }
    return result;
}

ReadResult readRtf(std::span<const std::uint8_t> bytes, const std::vector<InlineImage>& images) {
    detail::requireRtfSignature(bytes);
    ReadResult result;
    result.document = std::make_unique<detail::ResourceDocument>();
    result.encapsulation = detail::detectEncapsulation(bytes);
    if (result.encapsulation == Encapsulation::Html) {
        const QString html = detail::extractHtmlText(bytes);
        // A wrapper without any markup is shown as the RTF it also is.
        if (html.contains(u'<')) {
            layOutHtml(result, html, images);
            return result;
        }
        result.warnings.push_back("\\fromhtml1 RTF without HTML tags is shown as RTF");
    }
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                                std::min<std::size_t>(bytes.size(), 64));
    if (head.find("{\\rtf") == std::string_view::npos) {
        result.warnings.push_back("RTF without its \\rtf header");
    }
    detail::readPlainRtf(bytes, result);
    return result;
}

std::string extractHtml(std::span<const std::uint8_t> bytes) {
    detail::requireRtfSignature(bytes);
    if (detail::detectEncapsulation(bytes) != Encapsulation::Html) {
        throw RtfError("RTF does not encapsulate HTML (no \\fromhtml1)", 0);
    }
    return detail::extractHtmlText(bytes).toStdString();
}

}  // namespace rtf
