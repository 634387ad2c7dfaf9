// fuzz_render: any bytes through the rendering engine: format recognition,
// reading, pagination and painting of the first and last page (no JPEG is
// written). RenderError and RtfError are the documented failures of loading;
// anything else (a crash, a hang, std::bad_alloc, RenderError for a page
// within range) is a finding.
#include "../finding.h"

#include "engine/paged_document.h"
#include "engine/render_limits.h"

#include <rtf/rtf_reader.h>

#include <QGuiApplication>

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
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<common::InlineImage> images{
        {"image001.png@01D0", "image001.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}};
    std::optional<render::engine::PagedDocument> doc;
    try {
        doc.emplace(
            render::engine::PagedDocument::load(std::span<const std::uint8_t>(data, size), images));
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
