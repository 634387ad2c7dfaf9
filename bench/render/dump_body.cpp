// dump_body <msg_file> <out_file>: writes the body the converter would hand
// to the renderer (the RTF body byte for byte, else HTML, else text), so the
// speed bench can give LibreOffice the same document. Exit 1 on failure.
#include "tool/converter.h"

#include <cstdio>
#include <exception>
#include <fstream>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: dump_body <msg_file> <out_file>\n", stderr);
        return 2;
    }
    try {
        const tool::Message message{std::string(argv[1])};
        const tool::RenderBody body = tool::selectBody(message);
        std::ofstream out(argv[2], std::ios::binary);
        out.write(reinterpret_cast<const char*>(body.bytes.data()),
                  static_cast<std::streamsize>(body.bytes.size()));
        return out ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
