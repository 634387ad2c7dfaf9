#include <rtf/rtf_reader.h>

#include "reader.h"

#include <QFont>
#include <QTextOption>

namespace rtf {

ReadResult readRtf(std::span<const std::uint8_t> bytes, const std::vector<InlineImage>& images) {
    detail::requireRtfSignature(bytes);
    ReadResult result;
    result.document = std::make_unique<detail::ResourceDocument>();
    result.encapsulation = detail::detectEncapsulation(bytes);
    if (result.encapsulation == Encapsulation::Html) {
        const QString html = detail::extractHtmlText(bytes);
        // A wrapper without any markup is shown as the RTF it also is.
        if (html.contains(u'<')) {
            QTextDocument& doc = *result.document;
            doc.setDocumentMargin(0);
            doc.setUndoRedoEnabled(false);
            QFont font(QStringLiteral("Liberation Serif"));
            font.setPointSizeF(12);
            doc.setDefaultFont(font);
            QTextOption option = doc.defaultTextOption();
            // Long words and URLs wrap instead of running off the page.
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            doc.setDefaultTextOption(option);
            detail::loadHtml(doc, html, images, detail::textWidthPixels(result.page),
                             result.warnings);
            return result;
        }
        result.warnings.push_back("\\fromhtml1 RTF without HTML tags is shown as RTF");
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.find("{\\rtf") == std::string_view::npos || text.find("{\\rtf") > 64) {
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
