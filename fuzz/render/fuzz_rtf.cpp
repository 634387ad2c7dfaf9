// fuzz_rtf: the RTF reader (and the HTML it may wrap) on arbitrary bytes.
// RtfError is the reader's documented failure; anything else (a crash, a
// hang, std::bad_alloc) is a finding.
#include "../finding.h"

#include <rtf/rtf_reader.h>

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The document and its images are Qt GUI objects; the offscreen platform
    // needs no display.
    // An object with static storage, so it is destroyed at exit and releases
    // the font caches it holds (leak checkers would report them otherwise).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int appArgc = 1;
    static char* appArgv[] = {argc != nullptr && *argc > 0 ? (*argv)[0] : nullptr, nullptr};
    static QGuiApplication app(appArgc, appArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        std::vector<rtf::InlineImage> images{{"image001.png@01D0", "image001.png", {}}};
        rtf::ReadResult result = rtf::readRtf(std::span<const std::uint8_t>(data, size), images);
        (void)result.document->blockCount();
    } catch (const rtf::RtfError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
