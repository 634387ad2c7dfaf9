// fuzz_render: any bytes through the rendering engine: format recognition,
// reading, pagination and painting of the first and last page (no JPEG is
// written). An input whose first byte is 0x01, 0x02 or 0x03 is the rest of
// it as a picture file, a PDF file or placeholder rows (with a caption);
// any other input is the whole of it, its format recognised. RenderError and
// RtfError are the documented failures of loading; anything else (a crash, a
// hang, std::bad_alloc, RenderError for a page within range, a placeholder
// reason that is empty) is a finding.
#include "../finding.h"

#include "engine/paged_document.h"
#include "engine/render_limits.h"

#include <rtf/rtf_reader.h>

#include <QGuiApplication>
#include <QImageReader>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication* app = new QGuiApplication(*argc, *argv);
    (void)app;
    // As the library sets it up.
    QImageReader::setAllocationLimit(render::engine::kMaxPictureAllocationMiB);
    return 0;
}

namespace {

using render::engine::SourceFormat;

// The format an input's first byte names, if any.
std::optional<SourceFormat> namedFormat(std::uint8_t first) {
    switch (first) {
        case 0x01:
            return SourceFormat::Picture;
        case 0x02:
            return SourceFormat::Pdf;
        case 0x03:
            return SourceFormat::Placeholder;
        default:
            return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<common::InlineImage> images{
        {"image001.png@01D0", "image001.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}};
    std::span<const std::uint8_t> bytes(data, size);
    render::engine::LoadOptions options;
    if (!bytes.empty()) {
        options.format = namedFormat(bytes.front());
        if (options.format) {
            bytes = bytes.subspan(1);
            options.caption = QStringLiteral("attachment.bin \u2014 attachment, %1 bytes")
                                  .arg(static_cast<qulonglong>(bytes.size()));
        }
    }
    std::optional<render::engine::PagedDocument> doc;
    try {
        doc.emplace(render::engine::PagedDocument::load(bytes, images, options));
    } catch (const render::engine::RenderError&) {
        return 0;
    } catch (const rtf::RtfError&) {
        return 0;
    } catch (...) {
        fuzz::reportFinding();
    }
    const int pages = doc->pageCount();
    if (pages < 1 || pages > render::engine::kMaxPages) {
        fuzz::reportFinding("page count " + std::to_string(pages));
    }
    if (doc->placeholderReason() && doc->placeholderReason()->empty()) {
        fuzz::reportFinding("a placeholder without a reason");
    }
    // Pages within [0, pageCount()) at the default resolution: RenderError is
    // documented only for other pages and resolutions.
    try {
        for (const int page : {0, pages - 1}) {
            const QImage image = doc->renderPage(page);
            if (image.isNull() || image.size() != doc->pagePixelSize()) {
                fuzz::reportFinding("page " + std::to_string(page) + " is not a page-sized image");
            }
        }
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
