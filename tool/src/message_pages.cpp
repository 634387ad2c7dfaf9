// The pages a message file makes, in order: the message's body; with the
// header option and without the attachments option, each embedded message
// after it, depth first (the pages the header option has always made); with
// the attachments option, each attachment in the message's attachment order
// (embedded messages among them, each followed by its own attachments),
// except the pictures the body itself shows.
#include "tool/converter.h"

#include "attachment_kinds.h"
#include "attachment_pages.h"

#include <common/file_bytes.h>
#include <common/page_files.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

namespace tool {

namespace {

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

void addEmbedded(const Message& message, std::vector<const Message*>& out) {
    for (const auto& embedded : message.Messages()) {
        out.push_back(embedded.get());
        addEmbedded(*embedded, out);
    }
}

// One document whose pages follow in the message file's pages: a message's
// body, or one of its attachments.
struct Piece {
    const Message* message = nullptr;
    const Attachment* attachment = nullptr;  // set for an attachment
    RenderBody body;                         // a message's body
    std::string bodyWarning;
    // What is said about it names it: "embedded message 2: ",
    // "attachment 3 (report.pdf): ".
    std::string about;
    // For an attachment: its place ("2.1").
    std::string number;
    // For a message that is an attachment (embedded, or a message file
    // attached): its record, the pages still to be filled in.
    std::optional<AttachmentRecord> record;
};

// A message file attached as a file (attach method 1, "Test.msg"): opened
// as a message when its bytes are one.
std::unique_ptr<Message> attachedMessageFile(const Attachment& attachment,
                                             std::vector<std::uint8_t>& bytes) {
    static constexpr std::uint8_t kCompoundFile[] = {0xD0, 0xCF, 0x11, 0xE0,
                                                     0xA1, 0xB1, 0x1A, 0xE1};
    const auto name = attachment.Filename().value_or("");
    const auto tag = attachment.MimeTag().value_or("");
    const bool named = detail::lowerExtension(name) == "msg" || tag == "application/vnd.ms-outlook";
    if (!named || bytes.size() < sizeof kCompoundFile ||
        !std::equal(std::begin(kCompoundFile), std::end(kCompoundFile), bytes.begin())) {
        return nullptr;
    }
    try {
        return std::make_unique<Message>(std::span<const std::uint8_t>(bytes));
    } catch (const std::exception&) {
        return nullptr;  // shown as the file it is, with the reason
    }
}

// What the plan holds besides pointers into the message: message files
// opened from attachments.
struct Plan {
    std::vector<Piece> pieces;
    std::vector<std::unique_ptr<Message>> opened;
};

// The body of `message`; a body that cannot be read fails the top-level
// message as it always did, and only warns for an embedded one.
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

// The message's body, then each of its attachments the body does not show,
// in their order; an attached message (embedded, or a message file) with
// its own, to the embedding limit.
void planWithAttachments(const Message& message, const std::string& number,
                         const detail::AttachmentPages& attachments,
                         std::optional<AttachmentRecord> record, int depth, Plan& plan) {
    Piece body;
    body.message = &message;
    body.about = number.empty() ? std::string() : "attachment " + number + ": ";
    body.number = number;
    body.record = std::move(record);
    readBody(body, number.empty());
    const std::vector<std::string> ids = shownContentIds(body.body);
    const std::set<std::string> shown(ids.begin(), ids.end());
    plan.pieces.push_back(std::move(body));
    int position = 0;
    for (const Message::AttachmentSlot& slot : message.AttachmentOrder()) {
        ++position;
        const std::string place =
            number.empty() ? std::to_string(position) : number + "." + std::to_string(position);
        if (slot.message != nullptr) {
            planWithAttachments(*slot.message, place, attachments,
                                attachments.messageRecord(*slot.message, place), depth + 1, plan);
            continue;
        }
        const auto contentId = slot.attachment->ContentId();
        if (contentId && shown.contains(*contentId)) {
            continue;  // a picture of the body
        }
        if (depth < Message::kMaxEmbeddingDepth) {
            std::optional<std::vector<std::uint8_t>> bytes;
            try {
                bytes = slot.attachment->Data();
            } catch (const std::exception&) {
                // Shown as a placeholder with the reason, below.
            }
            if (bytes) {
                if (auto file = attachedMessageFile(*slot.attachment, *bytes)) {
                    AttachmentRecord fileRecord =
                        attachments.messageFileRecord(message, *slot.attachment, place, *bytes);
                    plan.opened.push_back(std::move(file));
                    planWithAttachments(*plan.opened.back(), place, attachments,
                                        std::move(fileRecord), depth + 1, plan);
                    continue;
                }
            }
        }
        Piece piece;
        piece.message = &message;
        piece.attachment = slot.attachment;
        piece.number = place;
        piece.about = "attachment " + place + ": ";
        plan.pieces.push_back(std::move(piece));
    }
}

Plan planPieces(const Message& message, const ConvertOptions& options,
                const detail::AttachmentPages& attachments) {
    Plan plan;
    if (options.attachments) {
        planWithAttachments(message, {}, attachments, std::nullopt, 0, plan);
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

// The message file itself must never be replaced by one of its images (a
// message file named like its own output path).
void refuseToOverwrite(const std::string& msgPath, const std::string& imagePath) {
    std::error_code error;
    if (std::filesystem::equivalent(msgPath, imagePath, error)) {
        throw std::runtime_error("the image \"" + imagePath +
                                 "\" would replace the message file itself; nothing written");
    }
}

// Writes pages one after another under the result's page names, to the page
// cap.
class PageWriter {
public:
    PageWriter(const std::string& msgPath, const std::string& outputPath,
               const ConvertOptions& options, bool numbered, ConvertResult& result)
        : m_msgPath(msgPath), m_outputPath(outputPath), m_numbered(numbered), m_result(result) {
        m_image.JpegQuality = options.quality;
        m_image.Resolution = options.dpi;
    }

    bool full() const { return written() >= common::kMaxPages; }
    int written() const { return static_cast<int>(m_result.images.size()); }

    // The document's pages, as many as the cap leaves room for; returns
    // their page numbers.
    std::vector<int> write(const render::Document& document, const std::string& about) {
        for (std::string& text : document.Warnings()) {
            m_result.warnings.push_back(about + text);
        }
        const int pages = document.PageCount();
        const int room = common::kMaxPages - written();
        if (pages > room) {
            m_result.warnings.push_back(about + std::to_string(pages - room) +
                                        " pages are left out: the message makes more than " +
                                        std::to_string(common::kMaxPages) + " pages");
        }
        std::vector<int> numbers;
        for (int i = 0; i < std::min(pages, room); ++i) {
            const std::string pageFile = m_numbered || pages > 1
                                             ? common::pageFileName(m_outputPath, written() + 1)
                                             : m_outputPath;
            refuseToOverwrite(m_msgPath, pageFile);
            document.SaveToImage(i, 1, pageFile, m_image);
            m_result.images.push_back(pageFile);
            numbers.push_back(written());
        }
        return numbers;
    }

private:
    const std::string& m_msgPath;
    const std::string& m_outputPath;
    bool m_numbered;
    ConvertResult& m_result;
    render::ImageOptions m_image;
};

}  // namespace

std::vector<const Message*> pageMessages(const Message& message, const ConvertOptions& options) {
    std::vector<const Message*> messages{&message};
    if (options.header) {
        addEmbedded(message, messages);
    }
    return messages;
}

ConvertResult convertMessage(const render::Library& library, const std::string& msgPath,
                             const std::string& outputPath, const ConvertOptions& options) {
    // Read whole, then opened as a stream's bytes would be.
    Message message(std::make_shared<const std::vector<std::uint8_t>>(
        common::readFileBytes(msgPath, cfb::CompoundFile::kMaxFileBytes)));
    ConvertResult result;
    const envelope::CodePageDecoder decode = codePageDecoder(library);
    detail::AttachmentPages attachments(library, options);
    const Plan plan = planPieces(message, options, attachments);
    const std::vector<Piece>& pieces = plan.pieces;
    // With more than one document there are two pages at least: the names
    // are numbered from the first.
    PageWriter writer(msgPath, outputPath, options, pieces.size() > 1, result);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        if (writer.full()) {
            result.warnings.push_back(std::to_string(pieces.size() - i) +
                                      (options.attachments
                                           ? " parts of the message are left out: it already makes "
                                           : " embedded messages are left out: the message already "
                                             "makes ") +
                                      std::to_string(common::kMaxPages) + " pages");
            break;
        }
        if (piece.attachment != nullptr) {
            detail::AttachmentDocument shown =
                attachments.document(*piece.message, *piece.attachment, piece.number);
            for (std::string& text : shown.warnings) {
                result.warnings.push_back(piece.about + text);
            }
            if (shown.record.shown != "pages") {
                result.warnings.push_back(piece.about + "\"" + shown.record.name +
                                          "\" is not shown: " + shown.record.reason);
            }
            shown.record.pages = writer.write(*shown.document, piece.about);
            result.attachments.push_back(std::move(shown.record));
            continue;
        }
        if (!piece.bodyWarning.empty()) {
            result.warnings.push_back(piece.about + piece.bodyWarning);
        }
        render::LoadOptions load;
        load.codePage = piece.body.codePage;
        load.format = formatOf(piece.body.kind);
        load.paper = options.paper;
        if (options.header) {
            envelope::Header header = messageHeader(*piece.message, piece.body, options, decode);
            for (std::string& text : header.warnings) {
                result.warnings.push_back(piece.about + text);
            }
            load.header = envelope::toText(header);
        }
        const render::Document document(library, piece.body.bytes, piece.body.images, load);
        const std::vector<int> numbers = writer.write(document, piece.about);
        if (piece.record) {
            AttachmentRecord record = *piece.record;
            record.shown = "pages";
            record.pages = numbers;
            result.attachments.push_back(std::move(record));
        }
    }
    message.Dispose();
    return result;
}

}  // namespace tool
