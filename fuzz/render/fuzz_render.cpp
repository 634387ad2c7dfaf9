// fuzz_render: any bytes through the rendering engine: format recognition,
// reading, pagination and painting of the first and last page (no JPEG is
// written). RenderError and RtfError are the documented failures; anything
// else (a crash, a hang, std::bad_alloc) is a finding.
#include "../finding.h"

#include "engine/paged_document.h"

#include <rtf/rtf_reader.h>

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication* app = new QGuiApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        static const std::vector<common::InlineImage> images{
            {"image001.png@01D0", "image001.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}};
        const auto doc =
            render::engine::PagedDocument::load(std::span<const std::uint8_t>(data, size), images);
        (void)doc.renderPage(0);
        (void)doc.renderPage(doc.pageCount() - 1);
    } catch (const render::engine::RenderError&) {
    } catch (const rtf::RtfError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
