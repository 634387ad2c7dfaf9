#include "attachment_pages.h"

#include "attachment_kinds.h"

#include <common/text.h>
#include <digest/digest.h>

#include <string_view>

namespace tool::detail {

namespace {

using Format = render::LoadOptions::Format;

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool hasByteOrderMark(std::span<const std::uint8_t> bytes) {
    const std::string_view text = asText(bytes);
    return text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE") ||
           text.starts_with("\xFE\xFF");
}

// The code page of an attached text: its byte-order mark decides (0: let the
// library read it), then UTF-8 when it is valid UTF-8, then the message's own.
std::uint32_t textCodePage(std::span<const std::uint8_t> bytes, const Message& owner) {
    if (hasByteOrderMark(bytes)) {
        return 0;
    }
    if (common::isValidUtf8(asText(bytes))) {
        return 65001;
    }
    return owner.MessageCodepage().value_or(owner.InternetCodepage().value_or(1252));
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

}  // namespace

AttachmentPages::AttachmentPages(const render::Library& library, const ConvertOptions& options)
    : m_library(library), m_options(options), m_decode(codePageDecoder(library)) {}

AttachmentRecord AttachmentPages::messageRecord(const Message& embedded,
                                                const std::string& number) const {
    AttachmentRecord record;
    record.number = number;
    const Message* owner = dynamic_cast<const Message*>(embedded.ParentMessage());
    record.name = owner != nullptr
                      ? envelope::embeddedMessageName(*owner, embedded, m_decode).value_or("")
                      : std::string();
    record.type = "application/vnd.ms-outlook";
    if (const auto size = embedded.AttachmentSize(); size && *size > 0) {
        record.size = static_cast<std::uint64_t>(*size);
    }
    return record;
}

AttachmentRecord AttachmentPages::messageFileRecord(const Message& owner,
                                                    const Attachment& attachment,
                                                    const std::string& number,
                                                    std::span<const std::uint8_t> bytes) const {
    AttachmentRecord record;
    record.number = number;
    record.name = envelope::attachmentName(owner, attachment, m_decode).value_or("");
    record.type = "application/vnd.ms-outlook";
    record.size = bytes.size();
    record.sha256 = digest::sha256Hex(asText(bytes));
    return record;
}

AttachmentDocument AttachmentPages::placeholder(AttachmentRecord record,
                                                const std::string& description,
                                                const std::string& reason) const {
    std::string rows = record.name.empty() ? "(unnamed attachment)" : record.name;
    rows += "\nAttachment:\t" + record.number;
    rows += "\nType:\t" + description + " (" + record.type + ")";
    rows += "\nSize:\t" + envelope::sizeText(record.size) + " (" + groupedDigits(record.size) +
            " bytes)";
    if (!record.sha256.empty()) {
        rows += "\nSHA-256:\t" + record.sha256;
    }
    rows += "\nShown:\tnot shown: " + reason;
    record.shown = "placeholder";
    record.reason = reason;
    render::LoadOptions load;
    load.format = Format::Text;
    load.paper = m_options.paper;
    load.header = rows;
    AttachmentDocument shown;
    shown.document = std::make_unique<render::Document>(m_library, std::span<const std::uint8_t>(),
                                                        std::vector<render::InlineImage>{}, load);
    shown.record = std::move(record);
    return shown;
}

AttachmentDocument AttachmentPages::document(const Message& owner, const Attachment& attachment,
                                             const std::string& number) const {
    AttachmentRecord record;
    record.number = number;
    record.name = envelope::attachmentName(owner, attachment, m_decode).value_or("");
    std::optional<std::vector<std::uint8_t>> data;
    std::string unreadable;
    try {
        data = attachment.Data();
    } catch (const std::exception& e) {
        unreadable = e.what();
    }
    const std::string declared = attachment.MimeTag().value_or("");
    if (!data) {
        record.type = declared.empty() ? "application/octet-stream" : declared;
        record.size = attachment.DataSize().value_or(0);
        return placeholder(std::move(record), "attachment",
                           unreadable.empty() ? missingDataReason(attachment)
                                              : "its data cannot be read (" + unreadable + ")");
    }
    const AttachmentType type = classifyAttachment(record.name, declared, *data);
    record.type = type.mimeType;
    record.size = data->size();
    record.sha256 = digest::sha256Hex(asText(*data));
    render::LoadOptions load;
    load.paper = m_options.paper;
    switch (type.kind) {
        case AttachmentKind::Text:
            load.format = Format::Text;
            load.codePage = textCodePage(*data, owner);
            break;
        case AttachmentKind::Html:
            load.format = Format::Html;
            load.codePage = owner.InternetCodepage().value_or(owner.MessageCodepage().value_or(0));
            break;
        case AttachmentKind::Rtf:
            load.format = Format::Rtf;
            break;
        default:
            return placeholder(std::move(record), type.description,
                               "attachments of this kind are not drawn");
    }
    AttachmentDocument shown;
    try {
        shown.document = std::make_unique<render::Document>(
            m_library, *data, std::vector<render::InlineImage>{}, load);
    } catch (const std::exception& e) {
        return placeholder(std::move(record), type.description,
                           std::string("it cannot be read (") + e.what() + ")");
    }
    record.shown = "pages";
    shown.record = std::move(record);
    return shown;
}

}  // namespace tool::detail
