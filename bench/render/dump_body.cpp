// dump_body [--html] <msg_file> <out_file>: writes the body the converter
// would hand to the renderer (the RTF body byte for byte, else HTML, else
// text), so the benches can give LibreOffice the same document. With --html,
// an RTF body that wraps HTML is written as the HTML it wraps (to look at
// what the layout gets). Exit 1 on failure.
#include "rtf/rtf_reader.h"
#include "tool/converter.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <span>

int main(int argc, char** argv) {
    const bool html = argc > 1 && std::strcmp(argv[1], "--html") == 0;
    if (argc < 3 + (html ? 1 : 0)) {
        std::fputs("usage: dump_body [--html] <msg_file> <out_file>\n", stderr);
        return 2;
    }
    const char* input = argv[html ? 2 : 1];
    const char* output = argv[html ? 3 : 2];
    try {
        const tool::Message message{std::string(input)};
        const tool::RenderBody body = tool::selectBody(message);
        std::ofstream out(output, std::ios::binary);
        const std::span<const std::uint8_t> bytes(body.bytes.data(), body.bytes.size());
        std::string text;
        if (html) {
            try {
                text = rtf::extractHtml(bytes);
            } catch (const rtf::RtfError&) {
                text.clear();  // not HTML wrapped in RTF: written as it is
            }
        }
        if (!text.empty()) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
        } else {
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        return out ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
