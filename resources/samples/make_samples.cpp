// make_samples: writes the example messages shipped in the application's
// "Samples" folder, from the readable sources beside this file.
//
//   make_samples SOURCE_DIR PICTURE_PNG OUTPUT_DIR
#include <msg_builder/msg_builder.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

using msg_builder::Bytes;
using msg_builder::MessageBuilder;

constexpr std::uint16_t kSubject = 0x0037;
constexpr std::uint16_t kSenderName = 0x0C1A;
constexpr std::uint16_t kBody = 0x1000;
constexpr std::uint16_t kHtml = 0x1013;
constexpr std::uint16_t kInternetCodePage = 0x3FDE;
constexpr std::uint16_t kDisplayName = 0x3001;
constexpr std::uint16_t kSmtpAddress = 0x39FE;
constexpr std::uint16_t kRecipientType = 0x0C15;
constexpr std::uint16_t kAttachData = 0x3701;
constexpr std::uint16_t kAttachMethod = 0x3705;
constexpr std::uint16_t kAttachLongFilename = 0x3707;
constexpr std::uint16_t kAttachMimeTag = 0x370E;
constexpr std::uint16_t kAttachContentId = 0x3712;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
        if (i % 32 == 31) {
            out += '\n';
        }
    }
    return out;
}

MessageBuilder& addressed(MessageBuilder& m, const char* subject, const char* from) {
    m.unicode(kSubject, subject).unicode(kSenderName, from);
    m.addRecipient()
        .unicode(kDisplayName, "Anna Halloway")
        .unicode(kSmtpAddress, "anna.halloway@example.org")
        .int32(kRecipientType, 1);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_samples SOURCE_DIR PICTURE_PNG OUTPUT_DIR\n");
        return 2;
    }
    try {
        const std::string src = argv[1];
        const std::string png = readFile(argv[2]);
        const std::string out = argv[3];

        {
            std::string rtf = readFile(src + "/letter.rtf");
            const std::string token = "%%PICTURE%%";
            rtf.replace(rtf.find(token), token.size(), hex(png));
            MessageBuilder m;
            addressed(m, "Your records request", "Edwin Marsh")
                .unicode(kBody, "Dear Ms. Halloway, thank you for your request of 30 November.")
                .rtfBody(rtf);
            writeFile(out + "/Formatted letter with table.msg", m.build());
        }
        {
            MessageBuilder m;
            addressed(m, "Your records are ready", "Records Office")
                .unicode(kBody, "Your records request is ready.")
                .binary(kHtml, msg_builder::toBytes(readFile(src + "/inline-image.html")))
                .int32(kInternetCodePage, 65001);
            m.addAttachment()
                .int32(kAttachMethod, 1)
                .unicode(kAttachLongFilename, "seal.png")
                .unicode(kAttachMimeTag, "image/png")
                .unicode(kAttachContentId, "seal@orvaline.example")
                .binary(kAttachData, msg_builder::toBytes(png));
            writeFile(out + "/HTML message with picture.msg", m.build());
        }
        {
            MessageBuilder m;
            addressed(m, "This week", "Mira Lund")
                .unicode(kBody, readFile(src + "/plain-text.txt"));
            writeFile(out + "/Plain text message.msg", m.build());
        }
        {
            MessageBuilder m;
            addressed(m, "Minutes of the records committee", "Edwin Marsh")
                .rtfBody(readFile(src + "/two-pages.rtf"));
            writeFile(out + "/Two-page minutes.msg", m.build());
        }
        {
            MessageBuilder m;
            addressed(m, "Письма за 2023 год", "Ольга Иванова")
                .rtfBody(readFile(src + "/non-latin.rtf"));
            writeFile(out + "/Non-Latin scripts.msg", m.build());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
