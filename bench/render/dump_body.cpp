// dump_body [--html | --browser [--images DIR]] <msg_file> <out_file>
//
// Writes the body the converter would hand to the renderer (the RTF body byte
// for byte, else HTML, else text), so the benches can give LibreOffice the
// same document. Exit 1 on failure.
//
// --html: an RTF body that wraps HTML is written as the HTML it wraps (to
// look at what the layout gets).
//
// --browser: the message's HTML as a browser is to read it: the HTML wrapped
// in the RTF body (\fromhtml1), else the HTML body ("1013") even when the
// converter shows an RTF body. Written as UTF-8 with a byte-order mark (which
// a browser obeys before any <meta charset>), except 8-bit HTML that names
// its own charset, written as it is. Exit 3 when the message has no HTML.
// With --images DIR, the attachments the HTML can show by content id go to
// DIR as 1.<ext>, 2.<ext>, ... and DIR/index.tsv lists "content id <TAB>
// file name" per line.
#include "rtf/code_pages.h"
#include "rtf/rtf_reader.h"
#include "tool/converter.h"

#include <QByteArray>
#include <QString>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>

namespace {

constexpr int kNoHtml = 3;

void write(std::ofstream& out, const std::string& bytes) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string utf8WithBom(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return "\xEF\xBB\xBF" + std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

// The HTML body property as text a browser reads the same way our engine
// does: UTF-16 and byte-order marks as they say, a <meta charset> as it says,
// else the message's code page (binary HTML: the internet code page first).
std::string htmlProperty(const tool::Message& message) {
    using Storage = tool::OutlookStorage;
    const auto html = message.BodyHTML();
    if (!html || html->bytes.empty()) {
        return {};
    }
    std::string bytes(html->bytes.begin(), html->bytes.end());
    if (html->type == Storage::NativeMethods::PT_UNICODE) {
        QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data()),
                                          static_cast<qsizetype>(bytes.size() / 2));
        while (text.endsWith(QChar(u'\0'))) {
            text.chop(1);
        }
        return utf8WithBom(text);
    }
    while (!bytes.empty() && bytes.back() == '\0') {
        bytes.pop_back();
    }
    const QByteArray head = QByteArray::fromStdString(bytes.substr(0, 4096)).toLower();
    if (bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") ||
        bytes.starts_with("\xFE\xFF") || head.contains("charset=")) {
        return bytes;
    }
    const bool binary = html->type == Storage::NativeMethods::PT_BINARY;
    const auto first = binary ? message.InternetCodepage() : message.MessageCodepage();
    const auto second = binary ? message.MessageCodepage() : message.InternetCodepage();
    const auto codePage = static_cast<int>(first.value_or(second.value_or(0)));
    if (auto text = rtf::decodeCodePage(
            codePage, QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())))) {
        return utf8WithBom(*text);
    }
    return bytes;
}

std::string extension(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || fileName.size() - dot > 6) {
        return "bin";
    }
    std::string ext = fileName.substr(dot + 1);
    for (char c : ext) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            return "bin";
        }
    }
    return ext;
}

void writeImages(const tool::RenderBody& body, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::ofstream index(folder / "index.tsv", std::ios::binary);
    int n = 0;
    for (const auto& image : body.images) {
        const std::string name = std::to_string(++n) + "." + extension(image.fileName);
        std::ofstream file(folder / name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(image.data.data()),
                   static_cast<std::streamsize>(image.data.size()));
        index << image.contentId << '\t' << name << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    int at = 1;
    const bool html = argc > at && std::strcmp(argv[at], "--html") == 0;
    const bool browser = argc > at && std::strcmp(argv[at], "--browser") == 0;
    at += (html || browser) ? 1 : 0;
    std::optional<std::filesystem::path> images;
    if (browser && argc > at + 1 && std::strcmp(argv[at], "--images") == 0) {
        images = argv[at + 1];
        at += 2;
    }
    if (argc != at + 2) {
        std::fputs("usage: dump_body [--html | --browser [--images DIR]] <msg_file> <out_file>\n",
                   stderr);
        return 2;
    }
    const char* input = argv[at];
    const char* output = argv[at + 1];
    try {
        const tool::Message message{std::string(input)};
        const tool::RenderBody body = tool::selectBody(message);
        const std::span<const std::uint8_t> bytes(body.bytes.data(), body.bytes.size());
        std::string text;
        if (html || browser) {
            try {
                text = body.kind == tool::RenderBody::Kind::Rtf ? rtf::extractHtml(bytes) : "";
            } catch (const rtf::RtfError&) {
                text.clear();  // not HTML wrapped in RTF
            }
        }
        if (browser) {
            text = text.empty() ? htmlProperty(message) : "\xEF\xBB\xBF" + text;
            if (text.empty()) {
                return kNoHtml;
            }
            if (images) {
                writeImages(body, *images);
            }
        }
        std::ofstream out(output, std::ios::binary);
        if (!text.empty()) {
            write(out, text);
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
