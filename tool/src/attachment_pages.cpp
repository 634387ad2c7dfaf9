#include "attachment_pages.h"

#include "attachment_kinds.h"
#include "office_documents.h"

#include <common/text.h>
#include <digest/digest.h>

#include <string_view>

namespace tool::detail {

namespace {

using Format = render::LoadOptions::Format;

bool hasByteOrderMark(std::span<const std::uint8_t> bytes) {
    const std::string_view text = asText(bytes);
    return text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE") ||
           text.starts_with("\xFE\xFF");
}

// The code page of an attached text: its byte-order mark decides (0: let the
// library read it), then UTF-8 when it is valid UTF-8, then the message's.
std::uint32_t textCodePage(std::span<const std::uint8_t> bytes, std::uint32_t messageCodePage) {
    if (hasByteOrderMark(bytes)) {
        return 0;
    }
    if (common::isValidUtf8(asText(bytes))) {
        return 65001;
    }
    return messageCodePage != 0 ? messageCodePage : 1252;
}

// "12,345,678"
std::string groupedDigits(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t i = digits.size(); i > 3; i -= 3) {
        digits.insert(i - 3, ",");
    }
    return digits;
}

// Why an attachment without bytes of its own has none.
std::string missingDataReason(const Attachment& attachment) {
    switch (attachment.AttachMethod()) {
        case 2:
        case 3:
        case 4:
            return "it is a link to a file outside the message";
        case 6:
            return "it is an embedded object (OLE), which is not shown";
        default:
            return "the message holds no data for it";
    }
}

std::string shownName(const AttachmentRecord& record) {
    return record.name.empty() ? "(unnamed attachment)" : record.name;
}

}  // namespace

AttachmentPages::AttachmentPages(const render::Library& library, const ConvertOptions& options)
    : m_library(library), m_options(options), m_decode(codePageDecoder(library)) {}

std::string AttachmentPages::caption(const AttachmentRecord& record,
                                     const std::string& description) {
    return "Attachment " + record.number + ": " + shownName(record) + " \u00B7 " + description +
           " \u00B7 " + envelope::sizeText(record.size);
}

AttachmentRecord AttachmentPages::messageRecord(const Message& embedded,
                                                const std::string& number) const {
    AttachmentRecord record;
    record.number = number;
    const auto* owner = dynamic_cast<const Message*>(embedded.ParentMessage());
    record.name = owner != nullptr
                      ? envelope::embeddedMessageName(*owner, embedded, m_decode).value_or("")
                      : std::string();
    record.type = "application/vnd.ms-outlook";
    if (const auto size = embedded.AttachmentSize(); size && *size > 0) {
        record.size = static_cast<std::uint64_t>(*size);
    }
    return record;
}

AttachmentRecord AttachmentPages::fileRecord(const std::string& number, const std::string& name,
                                             const std::string& type,
                                             std::span<const std::uint8_t> bytes) const {
    AttachmentRecord record;
    record.number = number;
    record.name = name;
    record.type = type;
    record.size = bytes.size();
    record.sha256 = digest::sha256Hex(asText(bytes));
    return record;
}

AttachmentDocument AttachmentPages::placeholder(AttachmentRecord record,
                                                const std::string& description,
                                                const std::string& reason) const {
    // A production's slip sheet says first what it stands for.
    std::string rows = m_options.production ? std::string(kSlipSheetText) + "\n" : std::string();
    rows += shownName(record);
    rows += "\nType:\t" + description + " (" + record.type + ")";
    rows += "\nSize:\t" + envelope::sizeText(record.size) + " (" + groupedDigits(record.size) +
            " bytes)";
    if (!record.sha256.empty()) {
        rows += "\nSHA-256:\t" + record.sha256;
    }
    rows += "\nShown:\tnot shown: " + reason;
    render::LoadOptions load = documentOptions(m_options);
    load.format = Format::Placeholder;
    load.caption = caption(record, description);
    record.shown = "placeholder";
    record.reason = reason;
    AttachmentDocument shown;
    shown.document = std::make_unique<render::Document>(
        m_library,
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(rows.data()),
                                      rows.size()),
        std::vector<render::InlineImage>{}, load);
    shown.record = std::move(record);
    return shown;
}

AttachmentDocument AttachmentPages::document(const Message& owner, const Attachment& attachment,
                                             const std::string& number) const {
    AttachmentSource source;
    source.number = number;
    source.name = envelope::attachmentName(owner, attachment, m_decode).value_or("");
    source.declaredType = attachment.MimeTag().value_or("");
    source.codePage = owner.MessageCodepage().value_or(owner.InternetCodepage().value_or(0));
    std::optional<std::vector<std::uint8_t>> data;
    std::string unreadable;
    try {
        data = attachment.Data();
    } catch (const std::exception& e) {
        unreadable = e.what();
    }
    if (!data) {
        AttachmentRecord record;
        record.number = number;
        record.name = source.name;
        record.type =
            source.declaredType.empty() ? "application/octet-stream" : source.declaredType;
        record.size = attachment.DataSize().value_or(0);
        return placeholder(std::move(record), "attachment",
                           unreadable.empty() ? missingDataReason(attachment)
                                              : "its data cannot be read (" + unreadable + ")");
    }
    source.bytes = *data;
    return document(source);
}

std::unique_ptr<render::Document> AttachmentPages::contentDocument(const AttachmentSource& source,
                                                                   const AttachmentType& type,
                                                                   render::LoadOptions load) const {
    const auto make = [&](std::span<const std::uint8_t> bytes) {
        return std::make_unique<render::Document>(m_library, bytes,
                                                  std::vector<render::InlineImage>{}, load);
    };
    switch (type.kind) {
        case AttachmentKind::Picture:
            load.format = Format::Picture;
            return make(source.bytes);
        case AttachmentKind::Pdf:
            load.format = Format::Pdf;
            return make(source.bytes);
        case AttachmentKind::Text:
            load.format = Format::Text;
            load.monospace = true;
            load.codePage = textCodePage(source.bytes, source.codePage);
            return make(source.bytes);
        case AttachmentKind::Html:
            load.format = Format::Html;
            load.codePage = source.codePage;
            return make(source.bytes);
        case AttachmentKind::Rtf:
            load.format = Format::Rtf;
            return make(source.bytes);
        case AttachmentKind::Office: {
            const std::vector<std::uint8_t> pdf = OfficeConverter::forThisProcess().toPdf(
                source.bytes, type.extension, m_options.officeSeconds);
            load.format = Format::Pdf;
            return make(pdf);
        }
        case AttachmentKind::Mail:
        case AttachmentKind::Signed:
        case AttachmentKind::Other:
            break;
    }
    return nullptr;
}

AttachmentDocument AttachmentPages::document(const AttachmentSource& source) const {
    const AttachmentType type = classifyAttachment(source.name, source.declaredType, source.bytes);
    AttachmentRecord record = fileRecord(source.number, source.name, type.mimeType, source.bytes);
    if (!source.refusal.empty()) {
        return placeholder(std::move(record), type.description, source.refusal);
    }
    render::LoadOptions load = documentOptions(m_options);
    load.caption = caption(record, type.description);
    AttachmentDocument shown;
    try {
        shown.document = contentDocument(source, type, load);
    } catch (const OfficeError& e) {
        return placeholder(std::move(record), type.description, e.what());
    } catch (const std::exception& e) {
        return placeholder(std::move(record), type.description,
                           std::string("it cannot be read (") + e.what() + ")");
    }
    if (!shown.document) {
        return placeholder(
            std::move(record), type.description,
            type.kind == AttachmentKind::Other
                ? type.why
                : "it cannot be read as the " + type.description + " it claims to be");
    }
    if (const auto reason = shown.document->PlaceholderReason()) {
        if (m_options.production) {
            return placeholder(std::move(record), type.description, *reason);
        }
        record.shown = "placeholder";
        record.reason = *reason;
    } else {
        record.shown = "pages";
    }
    shown.record = std::move(record);
    return shown;
}

}  // namespace tool::detail
