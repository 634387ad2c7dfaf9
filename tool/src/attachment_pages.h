#pragma once
// The document that shows one attachment: its content through the reader
// made for its kind (pictures and PDF files through the rendering library,
// text, HTML and RTF through its readers, Office documents through
// LibreOffice and then as PDF), its first page opening with a caption band;
// or a placeholder page with its name, type, size, SHA-256 and why it is not
// shown. Either way the record of how it was shown, for the report.

#include "tool/converter.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mime {
struct Message;
struct Part;
}  // namespace mime

namespace tool::detail {

struct AttachmentType;

// Bytes as the text the digests and readers take.
inline std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// An attachment's bytes and what its message says of them.
struct AttachmentSource {
    std::string number;  // its place: "2", "2.1"
    std::string name;
    std::string declaredType;  // the MIME type the message gives it
    std::span<const std::uint8_t> bytes;
    // The code page of 8-bit text that does not say its own: the message's.
    std::uint32_t codePage = 0;
    // Set when the attachment is not to be drawn, and why (a message nested
    // deeper than the limit): a placeholder page says so.
    std::string refusal;
};

struct AttachmentDocument {
    std::unique_ptr<render::Document> document;
    AttachmentRecord record;            // its pages are filled in by the caller
    std::vector<std::string> warnings;  // what was recovered from
};

class AttachmentPages {
public:
    // `library` and `options` must outlive this.
    AttachmentPages(const render::Library& library, const ConvertOptions& options);

    // The document of an attachment of a message file at place `number`.
    // Never throws for what the attachment holds: what cannot be shown is a
    // placeholder page.
    AttachmentDocument document(const Message& owner, const Attachment& attachment,
                                const std::string& number) const;
    // The document of an attachment's bytes (a part of Internet mail).
    AttachmentDocument document(const AttachmentSource& source) const;

    // The records of a message shown as pages of its own: embedded, attached
    // as a message file, attached as Internet mail (the part that held it).
    // Their pages are filled in by the caller.
    AttachmentRecord messageRecord(const Message& embedded, const std::string& number) const;
    AttachmentRecord fileRecord(const std::string& number, const std::string& name,
                                const std::string& type, std::span<const std::uint8_t> bytes) const;

    // The caption band of an attachment's first page: its place, name, what
    // it is and its size.
    static std::string caption(const AttachmentRecord& record, const std::string& description);

    const envelope::CodePageDecoder& decode() const { return m_decode; }

private:
    AttachmentDocument placeholder(AttachmentRecord record, const std::string& description,
                                   const std::string& reason) const;
    std::unique_ptr<render::Document> contentDocument(const AttachmentSource& source,
                                                      const AttachmentType& type,
                                                      render::LoadOptions load) const;

    const render::Library& m_library;
    const ConvertOptions& m_options;
    envelope::CodePageDecoder m_decode;
};

}  // namespace tool::detail
