// The pages a message file makes, in order: the message's body; with the
// header option and without the attachments option, each embedded message
// after it, depth first (the pages the header option has always made); with
// the attachments option, each attachment in the message's attachment order,
// except the pictures the body itself shows. An attached message (embedded,
// a message file, Internet mail) is followed by its own attachments. A
// signed or encrypted message shows its signed content (held in an
// smime.p7m or multipart/signed attachment) as its body and attachments,
// and says in its header what it is.
#include "tool/converter.h"

#include "attachment_kinds.h"
#include "attachment_pages.h"
#include "page_output.h"

#include <common/file_bytes.h>
#include <common/page_files.h>
#include <digest/digest.h>
#include <mime/mime.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

namespace tool {

namespace {

using detail::asText;
using detail::AttachmentKind;
using detail::AttachmentPages;
using detail::PageOutput;

render::LoadOptions::Format formatOf(RenderBody::Kind kind) {
    using Format = render::LoadOptions::Format;
    switch (kind) {
        case RenderBody::Kind::Html:
            return Format::Html;
        case RenderBody::Kind::Text:
            return Format::Text;
        case RenderBody::Kind::Rtf:
        case RenderBody::Kind::None:
            break;
    }
    // RTF is recognised from its content: a damaged body that is no RTF at
    // all is shown as text rather than refused.
    return Format::Detect;
}

// A production that draws its pages records its documents; one that only
// counts them does not.
bool recordsDocuments(const ConvertOptions& options) {
    return options.production && !options.production->countOnly;
}

void addEmbedded(const Message& message, std::vector<const Message*>& out) {
    for (const auto& embedded : message.Messages()) {
        out.push_back(embedded.get());
        addEmbedded(*embedded, out);
    }
}

// UTF-8 text with a byte-order mark, which the renderer's decoding obeys
// before anything the text itself says (an HTML <meta> charset).
std::vector<std::uint8_t> markedUtf8(std::string_view text) {
    std::vector<std::uint8_t> bytes(text.size() + 3);
    bytes[0] = 0xEF;
    bytes[1] = 0xBB;
    bytes[2] = 0xBF;
    std::copy(text.begin(), text.end(), bytes.begin() + 3);
    return bytes;
}

// Text the converter says itself, as a body.
RenderBody textBody(std::string_view text) {
    RenderBody body;
    body.kind = RenderBody::Kind::Text;
    body.bytes = markedUtf8(text);
    return body;
}

constexpr std::string_view kEncryptedNotice =
    "Encrypted: the content cannot be shown without the recipient's key.";

// Internet mail's body (UTF-8 from the mail reader) and the pictures it links
// by cid: or by their location.
RenderBody mailBody(const mime::Message& mail) {
    RenderBody body;
    if (mail.bodyKind == mime::Message::BodyKind::None) {
        return mail.security == mime::Security::Encrypted ? textBody(kEncryptedNotice) : body;
    }
    body.kind = mail.bodyKind == mime::Message::BodyKind::Html ? RenderBody::Kind::Html
                                                               : RenderBody::Kind::Text;
    body.bytes = markedUtf8(mail.body);
    for (const mime::Part& part : mail.related) {
        body.images.push_back({part.contentId,
                               part.contentLocation.empty() ? part.fileName : part.contentLocation,
                               part.bytes});
    }
    return body;
}

// The header row that says what a signed or encrypted message is.
std::optional<envelope::Row> securityRow(const mime::Message& content) {
    const std::string protocol =
        content.securityProtocol.empty() ? std::string("S/MIME") : content.securityProtocol;
    switch (content.security) {
        case mime::Security::Signed:
        case mime::Security::OpaqueSigned:
            return envelope::Row{"Signed:", protocol + " (not verified)"};
        case mime::Security::Encrypted:
            return envelope::Row{"Encrypted:", protocol +
                                                   " (the content cannot be shown without "
                                                   "the recipient's key)"};
        case mime::Security::None:
            break;
    }
    return std::nullopt;
}

// One document whose pages follow in the message file's pages: the body of
// a message file or of Internet mail, or one attachment of either.
struct Piece {
    const Message* message = nullptr;        // a message file's body, or the owner of `attachment`
    const Attachment* attachment = nullptr;  // an attachment of a message file
    const mime::Message* mail = nullptr;     // Internet mail's body
    const mime::Part* part = nullptr;        // an attachment of Internet mail
    std::uint32_t partCodePage = 0;
    std::string refusal;  // why an attachment is not drawn, when it is not
    RenderBody body;
    std::string bodyWarning;
    // What the mail reader recovered from in Internet mail.
    std::vector<std::string> readWarnings;
    // What is said about it names it: "embedded message 2: ", "attachment 3: ".
    std::string about;
    std::string number;  // an attachment's place ("2.1")
    // For a message that is an attachment: its record (pages still to come)
    // and what its caption calls it.
    std::optional<AttachmentRecord> record;
    std::string captionKind;
    std::optional<envelope::Row> security;
    // The record of the attachment that held the signed content shown as
    // this body ("smime.p7m"): listed with this piece's pages.
    std::optional<AttachmentRecord> contentRecord;
    const Attachment* contentCarrier = nullptr;
    const mime::Message* content = nullptr;
    // An attached message's own bytes (the attachment that held it), for a
    // production's document record; none for a message embedded as such.
    std::shared_ptr<const std::vector<std::uint8_t>> native;
};

// What the plan holds besides pointers into the message: message files and
// Internet mail read from attachments.
struct Plan {
    std::vector<Piece> pieces;
    std::vector<std::unique_ptr<Message>> files;
    std::vector<std::unique_ptr<mime::Message>> mails;
};

// The body of `message`; a body that cannot be read fails the top-level
// message as it always did, and only warns for an attached one.
void readBody(Piece& piece, bool topLevel) {
    try {
        piece.body = selectBody(*piece.message, &piece.bodyWarning);
    } catch (const std::exception& e) {
        if (topLevel) {
            throw;
        }
        piece.bodyWarning = std::string("the body cannot be read (") + e.what() + ")";
    }
}

std::optional<std::vector<std::uint8_t>> dataOf(const Attachment& attachment) {
    try {
        return attachment.Data();
    } catch (const std::exception&) {
        return std::nullopt;  // a placeholder says why, when it is drawn
    }
}

std::string placeOf(const std::string& number, int position) {
    return number.empty() ? std::to_string(position) : number + "." + std::to_string(position);
}

constexpr std::uint8_t kCompoundFileSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

bool isCompoundFile(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kCompoundFileSignature &&
           std::equal(std::begin(kCompoundFileSignature), std::end(kCompoundFileSignature),
                      bytes.begin());
}

bool isMessageFile(std::span<const std::uint8_t> bytes, std::string_view name,
                   std::string_view type) {
    return (detail::lowerExtension(name) == "msg" || type == "application/vnd.ms-outlook") &&
           isCompoundFile(bytes);
}

class Planner {
public:
    Planner(const AttachmentPages& attachments, Plan& plan, bool production)
        : m_attachments(attachments), m_plan(plan), m_production(production) {}

    void message(const Message& message, const std::string& number,
                 std::optional<AttachmentRecord> record, int depth);
    void mail(const mime::Message& mail, const std::string& number,
              std::optional<AttachmentRecord> record, int depth);

private:
    // A production records an attached message's own bytes with its body.
    void keepNative(const std::string& place, std::span<const std::uint8_t> bytes) {
        if (!m_production) {
            return;
        }
        for (Piece& piece : m_plan.pieces) {
            if (piece.number == place && piece.attachment == nullptr && piece.part == nullptr) {
                piece.native =
                    std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
            }
        }
    }
    // Each attachment of Internet mail, numbered under `number`.
    void mailAttachments(const mime::Message& mail, const std::string& number, int depth);
    // Opens an attachment's bytes as what they hold, when that is a message
    // (a message file or Internet mail), and plans it; false when they are
    // not one.
    bool openedAsMessage(std::span<const std::uint8_t> bytes, const std::string& name,
                         const std::string& type, const std::string& place, int depth);
    // The signed or encrypted content a message file carries in an
    // attachment, and that attachment's place in the order.
    const mime::Message* signedContent(const Message& message, std::size_t& slot);

    const AttachmentPages& m_attachments;
    Plan& m_plan;
    bool m_production;
};

const mime::Message* Planner::signedContent(const Message& message, std::size_t& slot) {
    const auto order = message.AttachmentOrder();
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Attachment* attachment = order[i].attachment;
        if (attachment == nullptr) {
            continue;
        }
        const auto bytes = dataOf(*attachment);
        if (!bytes || bytes->empty() ||
            detail::classifyAttachment(attachment->Filename().value_or(""),
                                       attachment->MimeTag().value_or(""), *bytes)
                    .kind != AttachmentKind::Signed) {
            continue;
        }
        try {
            // DER (a SEQUENCE) is PKCS#7; anything else a MIME entity.
            auto content = std::make_unique<mime::Message>(
                (*bytes)[0] == 0x30 ? mime::parsePkcs7(*bytes) : mime::parseEntity(*bytes));
            slot = i;
            m_plan.mails.push_back(std::move(content));
            return m_plan.mails.back().get();
        } catch (const std::exception&) {
            // Not what it claims to be: drawn as the attachment it is.
        }
    }
    return nullptr;
}

bool Planner::openedAsMessage(std::span<const std::uint8_t> bytes, const std::string& name,
                              const std::string& type, const std::string& place, int depth) {
    if (depth >= Message::kMaxEmbeddingDepth) {
        return false;
    }
    if (isMessageFile(bytes, name, type)) {
        try {
            auto file = std::make_unique<Message>(bytes);
            AttachmentRecord record =
                m_attachments.fileRecord(place, name, "application/vnd.ms-outlook", bytes);
            m_plan.files.push_back(std::move(file));
            message(*m_plan.files.back(), place, std::move(record), depth + 1);
            keepNative(place, bytes);
            return true;
        } catch (const std::exception&) {
            return false;  // shown as the file it is, with the reason
        }
    }
    if (detail::classifyAttachment(name, type, bytes).kind == AttachmentKind::Mail) {
        try {
            auto read = std::make_unique<mime::Message>(mime::parseMessage(bytes));
            AttachmentRecord record =
                m_attachments.fileRecord(place, name, "message/rfc822", bytes);
            m_plan.mails.push_back(std::move(read));
            mail(*m_plan.mails.back(), place, std::move(record), depth + 1);
            keepNative(place, bytes);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }
    return false;
}

void Planner::message(const Message& message, const std::string& number,
                      std::optional<AttachmentRecord> record, int depth) {
    Piece body;
    body.message = &message;
    body.about = number.empty() ? std::string() : "attachment " + number + ": ";
    body.number = number;
    body.record = std::move(record);
    body.captionKind = "message file (.msg)";
    readBody(body, number.empty());
    std::size_t contentSlot = SIZE_MAX;
    const mime::Message* content = signedContent(message, contentSlot);
    const auto order = message.AttachmentOrder();
    if (content != nullptr) {
        body.security = securityRow(*content);
        const Attachment& carrier = *order[contentSlot].attachment;
        const auto bytes = dataOf(carrier).value_or(std::vector<std::uint8_t>{});
        body.contentRecord = m_attachments.fileRecord(
            placeOf(number, static_cast<int>(contentSlot) + 1),
            envelope::attachmentName(message, carrier, m_attachments.decode()).value_or(""),
            carrier.MimeTag().value_or("application/pkcs7-mime"), bytes);
        body.contentCarrier = &carrier;
        body.content = content;
        body.contentRecord->shown = "content";
        if (content->security == mime::Security::Encrypted) {
            body.contentRecord->shown = "placeholder";
            body.contentRecord->reason =
                "encrypted: the content cannot be shown without the recipient's key";
        } else if (body.body.kind == RenderBody::Kind::None) {
            body.contentRecord->reason = "the signed content: shown as the message's body";
        } else {
            body.contentRecord->reason = "the signed content: the message's body shows it";
        }
        if (body.body.kind == RenderBody::Kind::None) {
            body.body = mailBody(*content);
        } else {
            // The message's own body links the content's pictures.
            for (const mime::Part& part : content->related) {
                body.body.images.push_back(
                    {part.contentId,
                     part.contentLocation.empty() ? part.fileName : part.contentLocation,
                     part.bytes});
            }
        }
    }
    const std::vector<std::string> ids = shownContentIds(body.body);
    const std::set<std::string> shown(ids.begin(), ids.end());
    m_plan.pieces.push_back(std::move(body));
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::string place = placeOf(number, static_cast<int>(i) + 1);
        if (i == contentSlot) {
            // The signed content's attachments stand in its place.
            mailAttachments(*content, place, depth);
            continue;
        }
        const Message::AttachmentSlot& slot = order[i];
        if (slot.message != nullptr) {
            Planner::message(*slot.message, place,
                             m_attachments.messageRecord(*slot.message, place), depth + 1);
            if (m_production) {
                // An embedded message's own bytes: it saved as a message
                // file of its own.
                try {
                    keepNative(place, slot.message->SaveToBytes());
                } catch (const std::exception&) {
                    // Its pages stand without a native.
                }
            }
            continue;
        }
        const auto contentId = slot.attachment->ContentId();
        if (contentId && shown.contains(*contentId)) {
            continue;  // a picture of the body
        }
        if (const auto bytes = dataOf(*slot.attachment)) {
            const std::string name =
                envelope::attachmentName(message, *slot.attachment, m_attachments.decode())
                    .value_or("");
            if (openedAsMessage(*bytes, name, slot.attachment->MimeTag().value_or(""), place,
                                depth)) {
                continue;
            }
        }
        Piece piece;
        piece.message = &message;
        piece.attachment = slot.attachment;
        piece.number = place;
        piece.about = "attachment " + place + ": ";
        m_plan.pieces.push_back(std::move(piece));
    }
}

void Planner::mail(const mime::Message& mail, const std::string& number,
                   std::optional<AttachmentRecord> record, int depth) {
    Piece body;
    body.mail = &mail;
    body.body = mailBody(mail);
    body.about = number.empty() ? std::string() : "attachment " + number + ": ";
    body.number = number;
    body.record = std::move(record);
    body.captionKind = "e-mail message";
    body.security = securityRow(mail);
    body.readWarnings = mail.warnings;
    m_plan.pieces.push_back(std::move(body));
    mailAttachments(mail, number, depth);
}

void Planner::mailAttachments(const mime::Message& mail, const std::string& number, int depth) {
    int position = 0;
    for (const auto& attachment : mail.attachments) {
        const std::string place = placeOf(number, ++position);
        const std::string name = attachment.part.fileName.empty() && attachment.message
                                     ? attachment.message->subject
                                     : attachment.part.fileName;
        if (attachment.message != nullptr && depth < Message::kMaxEmbeddingDepth) {
            Planner::mail(
                *attachment.message, place,
                m_attachments.fileRecord(place, name, "message/rfc822", attachment.part.bytes),
                depth + 1);
            keepNative(place, attachment.part.bytes);
            continue;
        }
        if (attachment.message == nullptr &&
            openedAsMessage(attachment.part.bytes, name, attachment.part.contentType, place,
                            depth)) {
            continue;
        }
        Piece piece;
        piece.part = &attachment.part;
        piece.partCodePage = 65001;
        piece.number = place;
        piece.about = "attachment " + place + ": ";
        if (depth >= Message::kMaxEmbeddingDepth &&
            (attachment.message != nullptr || attachment.part.contentType == "message/rfc822")) {
            piece.refusal = "it is a message nested deeper than " +
                            std::to_string(Message::kMaxEmbeddingDepth) +
                            " messages, which is not drawn";
        }
        m_plan.pieces.push_back(std::move(piece));
    }
}

Plan planPieces(const Message& message, const ConvertOptions& options,
                const AttachmentPages& attachments) {
    Plan plan;
    if (options.attachments) {
        Planner(attachments, plan, recordsDocuments(options)).message(message, {}, std::nullopt, 0);
        return plan;
    }
    const std::vector<const Message*> messages = pageMessages(message, options);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        Piece piece;
        piece.message = messages[i];
        piece.about = i == 0 ? std::string() : "embedded message " + std::to_string(i) + ": ";
        readBody(piece, i == 0);
        plan.pieces.push_back(std::move(piece));
    }
    return plan;
}

// Draws the plan's pieces.
class Drawer {
public:
    // `source`: the message's own bytes.
    Drawer(const render::Library& library, const ConvertOptions& options,
           const AttachmentPages& attachments, PageOutput& writer, ConvertResult& result,
           std::span<const std::uint8_t> source)
        : m_library(library),
          m_options(options),
          m_attachments(attachments),
          m_writer(writer),
          m_result(result),
          m_source(source) {}

    void attachment(const Piece& piece) {
        detail::AttachmentDocument shown =
            piece.part != nullptr
                ? m_attachments.document({piece.number, piece.part->fileName,
                                          piece.part->contentType, piece.part->bytes,
                                          piece.partCodePage, piece.refusal})
                : m_attachments.document(*piece.message, *piece.attachment, piece.number);
        for (std::string& text : shown.warnings) {
            m_result.warnings.push_back(piece.about + text);
        }
        if (shown.record.shown != "pages") {
            m_result.warnings.push_back(piece.about + "\"" + shown.record.name +
                                        "\" is not shown: " + shown.record.reason);
        }
        shown.record.pages = m_writer.write(*shown.document, piece.about);
        if (recordsDocuments(m_options)) {
            DocumentRecord doc;
            doc.number = piece.number;
            doc.slipSheet = shown.record.shown != "pages";
            doc.fileName = shown.record.name;
            doc.type = shown.record.type;
            doc.size = shown.record.size;
            doc.sha256 = shown.record.sha256;
            std::optional<std::vector<std::uint8_t>> read;
            std::span<const std::uint8_t> bytes;
            if (piece.part != nullptr) {
                bytes = piece.part->bytes;
            } else if (!doc.sha256.empty() && (read = dataOf(*piece.attachment))) {
                bytes = *read;
            }
            addDocument(*shown.document, shown.record.pages, std::move(doc), bytes);
        }
        m_result.attachments.push_back(std::move(shown.record));
    }

    void body(const Piece& piece) {
        if (!piece.bodyWarning.empty()) {
            m_result.warnings.push_back(piece.about + piece.bodyWarning);
        }
        for (const std::string& text : piece.readWarnings) {
            m_result.warnings.push_back(piece.about + text);
        }
        render::LoadOptions load = documentOptions(m_options);
        load.codePage = piece.body.codePage;
        load.format = formatOf(piece.body.kind);
        envelope::Header header;
        if (m_options.header || recordsDocuments(m_options)) {
            envelope::Options options = headerOptions();
            if (piece.mail != nullptr) {
                header = envelope::describe(*piece.mail, options);
            } else {
                options.shownContentIds = shownContentIds(piece.body);
                options.contentCarrier = piece.contentCarrier;
                if (piece.content != nullptr) {
                    options.contentAttachments = envelope::attachmentEntries(*piece.content);
                }
                header = envelope::describe(*piece.message, m_attachments.decode(), options);
            }
            if (piece.security) {
                header.rows.push_back(*piece.security);
            }
            if (m_options.header) {
                for (std::string& text : header.warnings) {
                    m_result.warnings.push_back(piece.about + text);
                }
                load.header = envelope::toText(header);
            }
        }
        if (piece.record) {
            load.caption = AttachmentPages::caption(*piece.record, piece.captionKind);
        }
        const render::Document document(m_library, piece.body.bytes, piece.body.images, load);
        const std::vector<int> numbers = m_writer.write(document, piece.about);
        if (recordsDocuments(m_options)) {
            addDocument(document, numbers, mailRecord(piece, header),
                        piece.record ? (piece.native ? std::span<const std::uint8_t>(*piece.native)
                                                     : std::span<const std::uint8_t>())
                                     : m_source);
        }
        if (piece.record) {
            AttachmentRecord record = *piece.record;
            record.shown = "pages";
            record.pages = numbers;
            m_result.attachments.push_back(std::move(record));
        }
        if (piece.contentRecord) {
            AttachmentRecord record = *piece.contentRecord;
            record.pages = numbers;
            m_result.attachments.push_back(std::move(record));
        }
    }

private:
    // A message's document record: what its header says, and for an
    // attached message its attachment's name and bytes.
    DocumentRecord mailRecord(const Piece& piece, const envelope::Header& header) const {
        DocumentRecord doc;
        doc.number = piece.number;
        doc.mail = true;
        const auto row = [&](std::initializer_list<std::string_view> labels) {
            for (const envelope::Row& r : header.rows) {
                if (std::find(labels.begin(), labels.end(), r.label) != labels.end()) {
                    return r.value;
                }
            }
            return std::string();
        };
        doc.from = row({"From:", "Organizer:"});
        doc.to = row({"To:", "Required Attendees:"});
        doc.cc = row({"Cc:", "Optional Attendees:"});
        doc.bcc = row({"Bcc:"});
        doc.subject = row({"Subject:"});
        if (piece.mail != nullptr) {
            doc.messageId = piece.mail->messageId.empty() ? "" : "<" + piece.mail->messageId + ">";
        } else {
            doc.messageId = piece.message->GetMapiPropertyString("1035").value_or("");
            // Stored with the white space or NUL its writer left after it.
            while (!doc.messageId.empty() &&
                   static_cast<unsigned char>(doc.messageId.back()) <= ' ') {
                doc.messageId.pop_back();
            }
        }
        if (header.sentSeconds) {
            const envelope::SentFields sent =
                envelope::sentFields(*header.sentSeconds, m_options.timeZone);
            doc.sentDate = sent.date;
            doc.sentTime = sent.time;
            doc.timeZone = sent.zone;
        }
        if (piece.record) {
            doc.fileName = piece.record->name;
            doc.type = piece.record->type;
            doc.size = piece.record->size;
            doc.sha256 = piece.record->sha256;
            if (doc.sha256.empty() && piece.native) {
                // An embedded message: the message file it saves as.
                doc.size = piece.native->size();
                doc.sha256 = digest::sha256Hex(asText(*piece.native));
            }
        } else {
            doc.size = m_source.size();
            doc.sha256 = digest::sha256Hex(asText(m_source));
        }
        return doc;
    }

    // Records a production's document drawn on `numbers` (none: left out
    // at the page cap) and writes its files.
    void addDocument(const render::Document& document, const std::vector<int>& numbers,
                     DocumentRecord doc, std::span<const std::uint8_t> bytes) {
        if (numbers.empty()) {
            return;
        }
        doc.firstPage = numbers.front();
        doc.pages = static_cast<int>(numbers.size());
        if (!doc.sha256.empty()) {
            doc.md5 = digest::hexOf(digest::Algorithm::Md5, asText(bytes));  // empty bytes too
        }
        m_writer.writeDocumentFiles(
            document, doc.sha256.empty() ? std::span<const std::uint8_t>() : bytes, doc);
        m_result.documents.push_back(std::move(doc));
    }

    envelope::Options headerOptions() const {
        envelope::Options header;
        header.timeZone = m_options.timeZone;
        return header;
    }

    const render::Library& m_library;
    const ConvertOptions& m_options;
    const AttachmentPages& m_attachments;
    PageOutput& m_writer;
    ConvertResult& m_result;
    std::span<const std::uint8_t> m_source;
};

}  // namespace

std::vector<const Message*> pageMessages(const Message& message, const ConvertOptions& options) {
    std::vector<const Message*> messages{&message};
    if (options.header) {
        addEmbedded(message, messages);
    }
    return messages;
}

namespace {

std::vector<std::uint8_t> readSource(const Source& source) {
    if (source.length) {
        return common::readFileRange(source.path, source.offset, *source.length,
                                     static_cast<std::size_t>(mime::kMaxInputBytes));
    }
    return common::readFileBytes(source.path, cfb::CompoundFile::kMaxFileBytes);
}

// The bytes as Internet mail, when that is what they hold: a message of an
// mbox file, an mbox file of one message, or text starting with mail header
// fields. Nothing for anything else, which is read as a message file.
std::unique_ptr<mime::Message> readAsMail(const Source& source,
                                          std::span<const std::uint8_t> bytes) {
    if (isCompoundFile(bytes)) {
        return nullptr;
    }
    constexpr std::size_t kHead = std::size_t{64} << 10;
    const auto head = bytes.first(std::min(bytes.size(), kHead));
    if (!source.length && mime::looksLikeMailbox(head)) {
        mime::MailboxSplitter splitter;
        splitter.add(bytes);
        const std::size_t count = splitter.finish().size();
        if (count > 1) {
            throw std::runtime_error("\"" + source.path + "\" is an mbox file of " +
                                     std::to_string(count) +
                                     " messages; orvaline-convert converts each of them");
        }
    } else if (!source.length && !mime::looksLikeMail(head)) {
        return nullptr;
    }
    if (bytes.size() > mime::kMaxInputBytes) {
        throw std::runtime_error("\"" + source.path + "\" is larger than the " +
                                 std::to_string(mime::kMaxInputBytes) +
                                 " bytes of mail that are read");
    }
    return std::make_unique<mime::Message>(mime::parseMessage(bytes));
}

Plan planMail(const mime::Message& mail, const ConvertOptions& options,
              const AttachmentPages& attachments) {
    Plan plan;
    if (options.attachments) {
        Planner(attachments, plan, recordsDocuments(options)).mail(mail, {}, std::nullopt, 0);
        return plan;
    }
    // As for a message file: the body, and with the header option each
    // attached message after it, depth first.
    std::vector<const mime::Message*> messages{&mail};
    for (std::size_t i = 0; i < messages.size() && options.header; ++i) {
        std::vector<const mime::Message*> nested;
        for (const auto& attachment : messages[i]->attachments) {
            if (attachment.message != nullptr) {
                nested.push_back(attachment.message.get());
            }
        }
        messages.insert(messages.begin() + static_cast<std::ptrdiff_t>(i) + 1, nested.begin(),
                        nested.end());
    }
    for (std::size_t i = 0; i < messages.size(); ++i) {
        Piece piece;
        piece.mail = messages[i];
        piece.body = mailBody(*messages[i]);
        piece.security = securityRow(*messages[i]);
        piece.readWarnings = messages[i]->warnings;
        piece.about = i == 0 ? std::string() : "embedded message " + std::to_string(i) + ": ";
        plan.pieces.push_back(std::move(piece));
    }
    return plan;
}

}  // namespace

ConvertResult convertMessage(const render::Library& library, const Source& source,
                             const std::string& outputPath, const ConvertOptions& options) {
    // Read whole, then opened as a stream's bytes would be.
    const auto bytes = std::make_shared<const std::vector<std::uint8_t>>(readSource(source));
    const std::unique_ptr<mime::Message> mail = readAsMail(source, *bytes);
    std::optional<Message> message;
    if (mail == nullptr) {
        message.emplace(bytes);
    }
    ConvertResult result;
    const AttachmentPages attachments(library, options);
    const Plan plan = mail != nullptr ? planMail(*mail, options, attachments)
                                      : planPieces(*message, options, attachments);
    const std::vector<Piece>& pieces = plan.pieces;
    // With more than one document there are two pages at least: the names
    // are numbered from the first.
    PageOutput writer(library, source.path, outputPath, options, pieces.size() > 1, result);
    if (options.format == ConvertOptions::Format::Pdf && !pieces.empty()) {
        const Piece& first = pieces.front();
        envelope::Options header;
        header.timeZone = options.timeZone;
        writer.describe(first.mail != nullptr
                            ? envelope::describe(*first.mail, header)
                            : envelope::describe(*first.message, attachments.decode(), header));
    }
    Drawer drawer(library, options, attachments, writer, result, *bytes);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (writer.full()) {
            result.warnings.push_back(std::to_string(pieces.size() - i) +
                                      (options.attachments
                                           ? " parts of the message are left out: it already makes "
                                           : " embedded messages are left out: the message already "
                                             "makes ") +
                                      std::to_string(common::kMaxPages) + " pages");
            break;
        }
        const Piece& piece = pieces[i];
        if (piece.attachment != nullptr || piece.part != nullptr) {
            drawer.attachment(piece);
        } else {
            drawer.body(piece);
        }
    }
    writer.finish();
    if (message) {
        message->Dispose();
    }
    return result;
}

}  // namespace tool
