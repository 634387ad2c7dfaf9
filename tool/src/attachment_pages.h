#pragma once
// The document that shows one attachment: its content through the reader
// made for its kind, or a placeholder page with its name, type, size,
// SHA-256 and why it is not shown. Either way the record of how it was
// shown, for the report.

#include "tool/converter.h"

#include <memory>
#include <string>
#include <vector>

namespace tool::detail {

struct AttachmentDocument {
    std::unique_ptr<render::Document> document;
    AttachmentRecord record;            // its pages are filled in by the caller
    std::vector<std::string> warnings;  // what was recovered from
};

class AttachmentPages {
public:
    // `library` and `options` must outlive this.
    AttachmentPages(const render::Library& library, const ConvertOptions& options);

    // The document of `attachment`, an attachment of `owner` at place
    // `number` ("2", "2.1"). Never throws for what the attachment holds: what
    // cannot be shown is a placeholder page.
    AttachmentDocument document(const Message& owner, const Attachment& attachment,
                                const std::string& number) const;

    // The records of a message shown as pages of its own: an embedded one,
    // and a message file attached as a file; their pages are filled in by
    // the caller.
    AttachmentRecord messageRecord(const Message& embedded, const std::string& number) const;
    AttachmentRecord messageFileRecord(const Message& owner, const Attachment& attachment,
                                       const std::string& number,
                                       std::span<const std::uint8_t> bytes) const;

private:
    AttachmentDocument placeholder(AttachmentRecord record, const std::string& description,
                                   const std::string& reason) const;

    const render::Library& m_library;
    const ConvertOptions& m_options;
    envelope::CodePageDecoder m_decode;
};

}  // namespace tool::detail
