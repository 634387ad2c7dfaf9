// Writes the generated part of the seed corpora: messages built by the test
// fixture (nested embedded messages, both string widths, odd variants) and
// compressed-RTF bodies, plus the "1009" streams of the given message files.
//
//   fuzz_core_seeds OUT_DIR [MESSAGE_FILE...]
// writes OUT_DIR/msg/*.msg and OUT_DIR/rtf/*.bin.

#include <msg/outlook_storage.h>
#include <msg_builder/msg_builder.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using msg_builder::Bytes;

void write(const fs::path& p, const Bytes& b) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_core_seeds OUT_DIR [MESSAGE_FILE...]\n");
        return 2;
    }
    const fs::path out(argv[1]);

    msg_builder::MessageBuilder nested;
    nested.unicode(0x0037, "top").string8(0x0037, "top 8-bit").int32(0x3FFD, 1252);
    nested.rtfBody("{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 {\\*\\htmltag <p>}caf\xE9}");
    nested.addRecipient().unicode(0x3001, "To").int32(0x0C15, 1);
    nested.addRecipient().unicode(0x3001, "Bcc").int32(0x0C15, 3);
    nested.addAttachment()
        .int32(0x3705, 1)
        .unicode(0x3707, "a.png")
        .unicode(0x3712, "cid1")
        .binary(0x3701, Bytes(100, 7));
    auto& level1 = nested.addAttachment().int32(0x3705, 5).embedded();
    level1.unicode(0x0037, "level 1").rtfBody("{\\rtf1 one}");
    level1.addAttachment().int32(0x3705, 5).embedded().unicode(0x0037, "level 2");
    write(out / "msg" / "generated_nested.msg", nested.build());

    msg_builder::MessageBuilder odd;
    odd.binary(0x1009, {}).binary(0x1013, msg_builder::toBytes("<html>x</html>"));
    odd.addRecipient().unicode(0x3001, "no props").withoutPropertyStream();
    odd.storage("__other_storage");
    write(out / "msg" / "generated_odd.msg", odd.build());

    write(out / "rtf" / "generated_lzfu.bin",
          msg_builder::compressRTF("{\\rtf1\\ansi WXYZWXYZWXYZWXYZ hello hello}"));
    write(out / "rtf" / "generated_mela.bin", msg_builder::storeRTF("{\\rtf1 stored}"));

    for (int i = 2; i < argc; ++i) {
        try {
            const tool::Message m{std::string(argv[i])};
            const auto body = m.GetMapiPropertyBytes("1009");
            if (body && !body->empty()) {
                write(out / "rtf" / (fs::path(argv[i]).stem().string() + ".bin"), *body);
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", argv[i], e.what());
        }
    }
    return 0;
}
