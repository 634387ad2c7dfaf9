#pragma once
// What an attachment is, and so how its pages are made: told by its bytes
// first (the signatures of picture, PDF, RTF and archive formats), then by
// its name's extension, then by the MIME type the message declares for it.
// A name or a declared type never makes bytes into what they are not: a
// ".pdf" that does not begin like a PDF is shown as a file that is not
// shown, with the reason.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tool::detail {

enum class AttachmentKind {
    Picture,  // JPEG, PNG, GIF, BMP, TIFF, WebP
    Pdf,
    Text,  // .txt .csv .log, text/*: shown in a monospace face
    Html,
    Rtf,
    Mail,    // .eml, message/rfc822
    Signed,  // smime.p7m and its kin: the signed or encrypted content of the message
    Office,  // word-processing, spreadsheet and presentation files: through LibreOffice
    Other    // a placeholder page
};

struct AttachmentType {
    AttachmentKind kind = AttachmentKind::Other;
    std::string mimeType;  // lower case, "application/pdf"; "application/octet-stream" when unknown
    std::string description;  // for the caption: "PDF document", "spreadsheet (.xlsx)", ...
    std::string extension;    // the extension its reader knows it by ("docx"), for LibreOffice
    // For Other: why there is nothing to show ("its name says .pdf, but its
    // bytes are no PDF document").
    std::string why;
};

AttachmentType classifyAttachment(std::string_view fileName, std::string_view declaredMimeType,
                                  std::span<const std::uint8_t> bytes);

// The extension of a file name in lower case, without the dot ("" when none).
std::string lowerExtension(std::string_view fileName);

}  // namespace tool::detail
