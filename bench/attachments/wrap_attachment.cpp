// wrap_attachment OUT.msg SUBJECT [FILE...]: a message file with a plain
//   body and each FILE as an attachment (by value, named as the file);
// wrap_attachment --to IN.msg OUT.msg FILE...: IN.msg with each FILE added
//   after its own attachments.
// For the attachment benches.
#include <cfb/compound_file.h>
#include <msg_builder/msg_builder.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

msg_builder::Bytes readAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "wrap_attachment: cannot read %s\n", path);
        std::exit(1);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

void writeAll(const char* path, const msg_builder::Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void putU32(msg_builder::Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Adds FILEs to an existing message: new attachment storages numbered on,
// and the top-level property stream's next id and count (bytes 12 and 20).
int addTo(const char* in, const char* out, int count, char** files) {
    const auto file = cfb::CompoundFile::openFile(in);
    cfb::MemoryCompoundFile copy;
    copy.root().copyFrom(*file.root());
    std::uint32_t next = 0;
    for (const cfb::Element& e : copy.root().elements()) {
        if (e.type == cfb::ElementType::Storage && e.name.starts_with("__attach_version1.0_#")) {
            next = std::max(
                next, static_cast<std::uint32_t>(std::stoul(e.name.substr(21), nullptr, 16)) + 1);
        }
    }
    for (int i = 0; i < count; ++i, ++next) {
        char name[40];
        std::snprintf(name, sizeof name, "__attach_version1.0_#%08X", next);
        msg_builder::AttachmentBuilder attachment;
        attachment.int32(0x3705, 1)
            .unicode(0x3707, baseName(files[i]))
            .binary(0x3701, readAll(files[i]));
        attachment.writeTo(copy.root().createStorage(name));
    }
    auto properties = copy.root().readStream("__properties_version1.0");
    if (properties.size() >= 32) {
        putU32(properties, 12, next);
        putU32(properties, 20, next);
        copy.root().writeStream("__properties_version1.0", std::move(properties));
    }
    writeAll(out, copy.save());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::string(argv[1]) == "--to") {
        return addTo(argv[2], argv[3], argc - 4, argv + 4);
    }
    if (argc < 3) {
        std::fputs(
            "usage: wrap_attachment OUT.msg SUBJECT [FILE...]\n"
            "       wrap_attachment --to IN.msg OUT.msg FILE...\n",
            stderr);
        return 2;
    }
    msg_builder::MessageBuilder message;
    message.unicode(0x0037, argv[2])
        .unicode(0x1000, std::string("The body of ") + argv[2] + ".\r\nIts attachments follow.");
    for (int i = 3; i < argc; ++i) {
        message.addAttachment()
            .int32(0x3705, 1)
            .unicode(0x3707, baseName(argv[i]))
            .binary(0x3701, readAll(argv[i]));
    }
    writeAll(argv[1], message.build());
    return 0;
}
