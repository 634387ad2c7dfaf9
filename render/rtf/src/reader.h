#pragma once
// Private pieces shared by the RTF reader and the HTML de-encapsulation.

#include <rtf/rtf_reader.h>

#include <QTextDocument>
#include <QVariant>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rtf::detail {

// A document that serves only the resources put into it with addResource():
// it never reads a local file or the network for an image name it does not
// hold (a hostile body could otherwise name /etc/passwd or a tracking URL).
class ResourceDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};

// The set-up every document starts from: no margin of its own (the page
// margins are the caller's), no undo history, 12 pt Liberation Serif, and long
// words and URLs wrapped instead of running off the page.
void prepareDocument(QTextDocument& document);

// Reads RTF (not encapsulated) into `result` (document already created).
void readPlainRtf(std::span<const std::uint8_t> bytes, ReadResult& result);

// The first top-level marker of what the RTF wraps (\fromhtml, \fromtext).
Encapsulation detectEncapsulation(std::span<const std::uint8_t> bytes);

// De-encapsulated HTML as text (see extractHtml).
QString extractHtmlText(std::span<const std::uint8_t> bytes);

// Lays encapsulated HTML out into `document`, resolving cid: images from
// `images`; `textWidth` (pixels) bounds image widths.
void loadHtml(QTextDocument& document, const QString& html, const std::vector<InlineImage>& images,
              qreal textWidth, std::vector<std::string>& warnings);

// Throws RtfError unless `bytes` begins (after white space) with "{\rtf".
void requireRtfSignature(std::span<const std::uint8_t> bytes);

// Pixel width of the text area of `page` (never below 48 pixels).
qreal textWidthPixels(const PageSetup& page);

}  // namespace rtf::detail
