#include "attachment_kinds.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tool::detail {

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view prefix, std::size_t at = 0) {
    return bytes.size() >= at + prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return out;
}

struct Signature {
    std::string_view magic;
    std::size_t at;
    AttachmentKind kind;
    std::string_view mimeType;
    std::string_view description;
};

// Formats told by their first bytes.
constexpr std::array kSignatures = {
    Signature{"\xFF\xD8\xFF", 0, AttachmentKind::Picture, "image/jpeg", "JPEG picture"},
    Signature{"\x89PNG\r\n\x1A\n", 0, AttachmentKind::Picture, "image/png", "PNG picture"},
    Signature{"GIF87a", 0, AttachmentKind::Picture, "image/gif", "GIF picture"},
    Signature{"GIF89a", 0, AttachmentKind::Picture, "image/gif", "GIF picture"},
    Signature{std::string_view("II*\0", 4), 0, AttachmentKind::Picture, "image/tiff",
              "TIFF picture"},
    Signature{std::string_view("MM\0*", 4), 0, AttachmentKind::Picture, "image/tiff",
              "TIFF picture"},
    Signature{"WEBP", 8, AttachmentKind::Picture, "image/webp", "WebP picture"},
    Signature{"{\\rtf", 0, AttachmentKind::Rtf, "text/rtf", "RTF document"},
};

struct Extension {
    std::string_view extension;
    AttachmentKind kind;
    std::string_view mimeType;
    std::string_view description;
};

// Formats told by the name: those without a signature of their own, and the
// containers (ZIP, compound files) whose kind their name says.
constexpr std::array kExtensions = {
    Extension{"txt", AttachmentKind::Text, "text/plain", "text file"},
    Extension{"text", AttachmentKind::Text, "text/plain", "text file"},
    Extension{"csv", AttachmentKind::Text, "text/csv", "CSV file"},
    Extension{"log", AttachmentKind::Text, "text/plain", "log file"},
    Extension{"htm", AttachmentKind::Html, "text/html", "HTML document"},
    Extension{"html", AttachmentKind::Html, "text/html", "HTML document"},
    Extension{"eml", AttachmentKind::Mail, "message/rfc822", "e-mail message"},
    Extension{"p7m", AttachmentKind::Signed, "application/pkcs7-mime",
              "signed or encrypted content"},
    Extension{"bmp", AttachmentKind::Picture, "image/bmp", "BMP picture"},
    Extension{"doc", AttachmentKind::Office, "application/msword",
              "word-processing document (.doc)"},
    Extension{"docx", AttachmentKind::Office,
              "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
              "word-processing document (.docx)"},
    Extension{"docm", AttachmentKind::Office, "application/vnd.ms-word.document.macroenabled.12",
              "word-processing document (.docm)"},
    Extension{"odt", AttachmentKind::Office, "application/vnd.oasis.opendocument.text",
              "word-processing document (.odt)"},
    Extension{"xls", AttachmentKind::Office, "application/vnd.ms-excel", "spreadsheet (.xls)"},
    Extension{"xlsx", AttachmentKind::Office,
              "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
              "spreadsheet (.xlsx)"},
    Extension{"xlsm", AttachmentKind::Office, "application/vnd.ms-excel.sheet.macroenabled.12",
              "spreadsheet (.xlsm)"},
    Extension{"ods", AttachmentKind::Office, "application/vnd.oasis.opendocument.spreadsheet",
              "spreadsheet (.ods)"},
    Extension{"ppt", AttachmentKind::Office, "application/vnd.ms-powerpoint",
              "presentation (.ppt)"},
    Extension{"pptx", AttachmentKind::Office,
              "application/vnd.openxmlformats-officedocument.presentationml.presentation",
              "presentation (.pptx)"},
    Extension{"pptm", AttachmentKind::Office,
              "application/vnd.ms-powerpoint.presentation.macroenabled.12", "presentation (.pptm)"},
    Extension{"odp", AttachmentKind::Office, "application/vnd.oasis.opendocument.presentation",
              "presentation (.odp)"},
};

// Extensions of the formats told by their bytes, for the reason when the
// bytes say otherwise.
constexpr std::pair<std::string_view, std::string_view> kSignatureNames[] = {
    {"pdf", "PDF document"},  {"jpg", "JPEG picture"},  {"jpeg", "JPEG picture"},
    {"png", "PNG picture"},   {"gif", "GIF picture"},   {"tif", "TIFF picture"},
    {"tiff", "TIFF picture"}, {"webp", "WebP picture"}, {"bmp", "BMP picture"},
    {"rtf", "RTF document"},
};

// A PDF's header may follow some bytes of junk (up to 1024, as readers allow).
bool looksLikePdf(std::span<const std::uint8_t> bytes) {
    const std::size_t end = std::min<std::size_t>(bytes.size(), 1024 + 5);
    for (std::size_t at = 0; at + 5 <= end; ++at) {
        if (startsWith(bytes, "%PDF-", at)) {
            return true;
        }
    }
    return false;
}

bool looksLikeBmp(std::span<const std::uint8_t> bytes) {
    // "BM", then the file size and a header of a known length.
    if (!startsWith(bytes, "BM") || bytes.size() < 26) {
        return false;
    }
    const std::uint32_t header = static_cast<std::uint32_t>(bytes[14]) |
                                 (static_cast<std::uint32_t>(bytes[15]) << 8) |
                                 (static_cast<std::uint32_t>(bytes[16]) << 16) |
                                 (static_cast<std::uint32_t>(bytes[17]) << 24);
    return header == 12 || header == 40 || header == 52 || header == 56 || header == 64 ||
           header == 108 || header == 124;
}

AttachmentType typeOf(AttachmentKind kind, std::string_view mime, std::string_view description) {
    return {kind, std::string(mime), std::string(description), {}, {}};
}

}  // namespace

std::string lowerExtension(std::string_view fileName) {
    const auto slash = fileName.find_last_of("/\\");
    const std::string_view base =
        slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = base.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == base.size()) {
        return {};
    }
    return lower(base.substr(dot + 1));
}

AttachmentType classifyAttachment(std::string_view fileName, std::string_view declaredMimeType,
                                  std::span<const std::uint8_t> bytes) {
    const std::string extension = lowerExtension(fileName);
    const std::string declared = lower(declaredMimeType.substr(0, declaredMimeType.find(';')));
    for (const Signature& signature : kSignatures) {
        if (startsWith(bytes, signature.magic, signature.at) &&
            (signature.at == 0 || startsWith(bytes, "RIFF"))) {
            return typeOf(signature.kind, signature.mimeType, signature.description);
        }
    }
    if (looksLikePdf(bytes)) {
        return typeOf(AttachmentKind::Pdf, "application/pdf", "PDF document");
    }
    if (looksLikeBmp(bytes)) {
        return typeOf(AttachmentKind::Picture, "image/bmp", "BMP picture");
    }
    if (lower(fileName) == "smime.p7m" || declared == "application/pkcs7-mime" ||
        declared == "application/x-pkcs7-mime" || declared == "multipart/signed") {
        return typeOf(AttachmentKind::Signed,
                      declared.empty() ? "application/pkcs7-mime" : declared,
                      "signed or encrypted content");
    }
    for (const Extension& known : kExtensions) {
        if (extension == known.extension) {
            // A picture or a PDF by name only is no picture: its bytes said so above.
            if (known.kind == AttachmentKind::Picture) {
                break;
            }
            AttachmentType type = typeOf(known.kind, known.mimeType, known.description);
            type.extension = known.extension;
            return type;
        }
    }
    // A name without its extension: the declared type of an Office document.
    for (const Extension& known : kExtensions) {
        if (known.kind == AttachmentKind::Office && declared == known.mimeType) {
            AttachmentType type = typeOf(known.kind, known.mimeType, known.description);
            type.extension = known.extension;
            return type;
        }
    }
    if (declared == "message/rfc822") {
        return typeOf(AttachmentKind::Mail, declared, "e-mail message");
    }
    // Reports a mail server sends back: text for people to read.
    if (declared == "message/delivery-status" || declared == "message/disposition-notification" ||
        declared == "text/rfc822-headers") {
        return typeOf(AttachmentKind::Text, declared, "delivery report");
    }
    if (declared == "text/html") {
        return typeOf(AttachmentKind::Html, declared, "HTML document");
    }
    if (declared == "text/rtf" || declared == "application/rtf") {
        return typeOf(AttachmentKind::Text, declared, "RTF document");
    }
    if (declared.starts_with("text/")) {
        return typeOf(AttachmentKind::Text, declared, "text file");
    }
    std::string description = extension.empty() ? "file" : "file (." + extension + ")";
    AttachmentType other{AttachmentKind::Other,
                         declared.empty() ? "application/octet-stream" : declared,
                         std::move(description),
                         {},
                         "there is no reader for this kind of file"};
    // A name that promises what the bytes do not hold.
    for (const auto& [named, what] : kSignatureNames) {
        if (extension == named) {
            other.why =
                "its name says ." + extension + ", but its bytes are no " + std::string(what);
        }
    }
    return other;
}

}  // namespace tool::detail
