#include "reader.h"

#include "gmime_support.h"
#include "message_header.h"
#include "parts.h"
#include "pkcs7.h"
#include "plain_text.h"
#include "text_decoding.h"

#include <common/text.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace mime::detail {

// The walk over one message's (or entity's) content into a Message.
class ContentWalk {
public:
    ContentWalk(Message& out, Budget& budget, std::size_t messageDepth)
        : m_out(out), m_budget(budget), m_messageDepth(messageDepth) {}

    void read(GMimeObject* root) { visit(root, 1, true); }

    // Signed content unwrapped from a PKCS#7 blob: a MIME entity shown as
    // this message's content.
    void readUnwrapped(std::span<const std::uint8_t> entity, std::size_t depth) {
        const ParserInput input(entity, m_out.warnings);
        GMimeParse parse(input.bytes());
        GMimeObject* root = parse.entity();
        ++m_messageDepth;
        visit(root, depth, true);
        --m_messageDepth;
        parse.warnings().moveInto(m_out.warnings);
    }

    void noteSecurity(Security kind, std::string protocol) {
        if (m_out.security == Security::None ||
            (kind == Security::Encrypted && m_out.security != Security::Encrypted)) {
            m_out.security = kind;
            m_out.securityProtocol = std::move(protocol);
        }
    }

private:
    void warn(std::string textIn) { addWarning(m_out.warnings, std::move(textIn)); }

    bool countPart() {
        if (m_budget.parts >= m_budget.limits.parts) {
            if (!m_budget.partsWarned) {
                warn("more than " + std::to_string(m_budget.limits.parts) +
                     " parts; the rest are left out");
                m_budget.partsWarned = true;
            }
            return false;
        }
        ++m_budget.parts;
        return true;
    }

    bool tooDeepForMessage() const { return m_messageDepth + 1 > m_budget.limits.messageDepth; }

    // Counts decoded bytes into the budget; says when they were cut.
    std::vector<std::uint8_t> keep(Decoded decoded, Part& part) {
        m_budget.bytes += decoded.bytes.size();
        if (decoded.truncated) {
            part.truncated = true;
            warn("the part " + (part.fileName.empty() ? part.contentType : part.fileName) +
                 " is cut at " + std::to_string(decoded.bytes.size()) +
                 " bytes: the decoded bytes of the message reach the limit of " +
                 std::to_string(m_budget.limits.decodedBytes));
        }
        return std::move(decoded.bytes);
    }

    Decoded fitted(std::vector<std::uint8_t> bytes) const {
        Decoded decoded;
        const std::uint64_t room = m_budget.room();
        if (bytes.size() > room) {
            bytes.resize(static_cast<std::size_t>(room));
            decoded.truncated = true;
        }
        decoded.bytes = std::move(bytes);
        return decoded;
    }

    void visit(GMimeObject* object, std::size_t depth, bool wantBody) {
        if (object == nullptr || !countPart()) {
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            addMessagePart(GMIME_MESSAGE_PART(object));
        } else if (GMIME_IS_MULTIPART(object)) {
            if (depth > m_budget.limits.partDepth) {
                addPlaceholder(object, "multiparts nested deeper than " +
                                           std::to_string(m_budget.limits.partDepth) +
                                           " levels: the deepest is kept whole as an attachment");
                return;
            }
            visitMultipart(GMIME_MULTIPART(object), depth, wantBody);
        } else if (GMIME_IS_PART(object)) {
            visitLeaf(GMIME_PART(object), depth, wantBody);
        } else {
            addPlaceholder(object, "a part of an unknown kind is kept whole as an attachment");
        }
    }

    void visitMultipart(GMimeMultipart* multipart, std::size_t depth, bool wantBody) {
        GMimeObject* object = GMIME_OBJECT(multipart);
        const std::string type = mimeTypeOf(object);
        const int count = g_mime_multipart_get_count(multipart);
        if (count <= 0) {
            readPrologueOnly(multipart, type, wantBody);
        } else if (GMIME_IS_MULTIPART_SIGNED(object) || type == "multipart/signed") {
            visitSigned(multipart, count, depth, wantBody);
        } else if (GMIME_IS_MULTIPART_ENCRYPTED(object) || type == "multipart/encrypted") {
            visitEncrypted(multipart, count, depth, wantBody);
        } else if (type == "multipart/alternative") {
            visitAlternative(multipart, count, depth, wantBody);
        } else if (type == "multipart/related") {
            visitRelated(multipart, count, depth, wantBody);
        } else {
            // mixed, and what is read like it: digest, report, parallel, and
            // subtypes this reader does not know.
            for (int i = 0; i < count; ++i) {
                visit(g_mime_multipart_get_part(multipart, i), depth + 1, wantBody);
            }
        }
    }

    // A multipart the parser found no parts in (no boundary parameter, or
    // none of its boundaries): its text is all there is.
    void readPrologueOnly(GMimeMultipart* multipart, const std::string& type, bool wantBody) {
        const char* prologue = g_mime_multipart_get_prologue(multipart);
        if (prologue == nullptr || *prologue == '\0') {
            return;
        }
        warn(type + " has no parts; its content is read as text/plain");
        const std::string_view content(prologue);
        if (wantBody && !m_bodyTaken) {
            setBody(content, "text/plain", nullptr, false);
            return;
        }
        Message::Attachment attachment;
        attachment.part.contentType = "text/plain";
        attachment.part.bytes = keep(fitted({content.begin(), content.end()}), attachment.part);
        m_out.attachments.push_back(std::move(attachment));
    }

    void visitSigned(GMimeMultipart* multipart, int count, std::size_t depth, bool wantBody) {
        GMimeObject* object = GMIME_OBJECT(multipart);
        std::string protocol = asciiLower(typeParameter(object, "protocol"));
        if (protocol.empty() && count > 1) {
            protocol = mimeTypeOf(g_mime_multipart_get_part(multipart, 1));
        }
        if (wantBody && !m_bodyTaken) {
            noteSecurity(Security::Signed, protocolName(protocol));
        }
        visit(g_mime_multipart_get_part(multipart, 0), depth + 1, wantBody);
        if (count < 2) {
            warn("multipart/signed without its signature part");
        }
        // The signature part is not content; anything after it is.
        for (int i = 2; i < count; ++i) {
            visit(g_mime_multipart_get_part(multipart, i), depth + 1, false);
        }
    }

    // Signed or encrypted parts say so of the message when they are what it
    // shows, not when they stand among its attachments (a signed message
    // forwarded inline).
    void visitEncrypted(GMimeMultipart* multipart, int count, std::size_t depth, bool wantBody) {
        GMimeObject* object = GMIME_OBJECT(multipart);
        const std::string protocol = asciiLower(typeParameter(object, "protocol"));
        if (wantBody && !m_bodyTaken) {
            noteSecurity(Security::Encrypted, protocolName(protocol));
        }
        // The control part ("Version: 1") is not kept; the encrypted data is,
        // as an attachment.
        for (int i = 0; i < count; ++i) {
            GMimeObject* child = g_mime_multipart_get_part(multipart, i);
            if (i == 0 && count > 1 && !protocol.empty() && mimeTypeOf(child) == protocol) {
                continue;
            }
            visit(child, depth + 1, false);
        }
    }

    static std::string protocolName(const std::string& protocol) {
        if (protocol.find("pkcs7") != std::string::npos) {
            return "S/MIME";
        }
        if (protocol.find("pgp") != std::string::npos) {
            return "PGP/MIME";
        }
        return protocol.empty() ? std::string("unknown") : guessRunsToUtf8(protocol.substr(0, 60));
    }

    // How rich a body a part gives: HTML 3, enriched text 2, plain text 1,
    // none 0. Remembered, so alternatives within alternatives look at each
    // part once.
    int rank(GMimeObject* object, std::size_t depth) {
        if (object == nullptr || depth > m_budget.limits.partDepth) {
            return 0;
        }
        if (const auto known = m_ranks.find(object); known != m_ranks.end()) {
            return known->second;
        }
        const int r = rankOnce(object, depth);
        m_ranks.emplace(object, r);
        return r;
    }

    int rankOnce(GMimeObject* object, std::size_t depth) {
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const std::string type = mimeTypeOf(object);
            const int count = g_mime_multipart_get_count(multipart);
            if (count <= 0) {
                const char* prologue = g_mime_multipart_get_prologue(multipart);
                return prologue != nullptr && *prologue != '\0' ? 1 : 0;
            }
            if (type == "multipart/alternative") {
                int best = 0;
                for (int i = 0; i < count; ++i) {
                    best = std::max(best, rank(g_mime_multipart_get_part(multipart, i), depth + 1));
                }
                return best;
            }
            if (type == "multipart/related") {
                return rank(relatedRoot(multipart, count).second, depth + 1);
            }
            if (GMIME_IS_MULTIPART_SIGNED(object) || type == "multipart/signed") {
                return rank(g_mime_multipart_get_part(multipart, 0), depth + 1);
            }
            if (GMIME_IS_MULTIPART_ENCRYPTED(object) || type == "multipart/encrypted") {
                return 0;
            }
            for (int i = 0; i < count; ++i) {
                if (const int r = rank(g_mime_multipart_get_part(multipart, i), depth + 1); r > 0) {
                    return r;
                }
            }
            return 0;
        }
        if (!GMIME_IS_PART(object)) {
            return 0;
        }
        const std::string type = mimeTypeOf(object);
        if (isPkcs7MimeType(type)) {
            return 1;
        }
        if (isAttachmentDisposition(object)) {
            return 0;
        }
        if (type == "text/html") {
            return 3;
        }
        if (type == "text/enriched" || type == "text/richtext") {
            return 2;
        }
        return type == "text/plain" ? 1 : 0;
    }

    void visitAlternative(GMimeMultipart* multipart, int count, std::size_t depth, bool wantBody) {
        int best = -1;
        int bestRank = 0;
        for (int i = 0; i < count; ++i) {
            // The last of equally rich alternatives is the one the sender
            // preferred.
            const int r = rank(g_mime_multipart_get_part(multipart, i), depth + 1);
            if (r > 0 && r >= bestRank) {
                best = i;
                bestRank = r;
            }
        }
        for (int i = 0; i < count; ++i) {
            GMimeObject* child = g_mime_multipart_get_part(multipart, i);
            if (best < 0) {
                visit(child, depth + 1, false);  // nothing to show: keep them all
            } else if (i == best) {
                visit(child, depth + 1, wantBody);
            } else {
                keepAttachmentsOnly(child, depth + 1);
            }
        }
    }

    // From an alternative not shown: only what is marked as an attachment.
    void keepAttachmentsOnly(GMimeObject* object, std::size_t depth) {
        if (object == nullptr || depth > m_budget.limits.partDepth) {
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i) {
                keepAttachmentsOnly(g_mime_multipart_get_part(multipart, i), depth + 1);
            }
        } else if (isAttachmentDisposition(object)) {
            visit(object, depth, false);
        }
    }

    // The root of a multipart/related: the part its start parameter names,
    // else the first.
    static std::pair<int, GMimeObject*> relatedRoot(GMimeMultipart* multipart, int count) {
        const std::string start = withoutAngles(typeParameter(GMIME_OBJECT(multipart), "start"));
        if (!start.empty()) {
            for (int i = 0; i < count; ++i) {
                GMimeObject* child = g_mime_multipart_get_part(multipart, i);
                if (withoutAngles(text(g_mime_object_get_content_id(child))) == start) {
                    return {i, child};
                }
            }
        }
        return {0, g_mime_multipart_get_part(multipart, 0)};
    }

    void visitRelated(GMimeMultipart* multipart, int count, std::size_t depth, bool wantBody) {
        const auto [rootIndex, root] = relatedRoot(multipart, count);
        const bool hadBody = m_bodyTaken;
        visit(root, depth + 1, wantBody);
        const bool htmlHere = !hadBody && m_bodyTaken && m_out.bodyKind == Message::BodyKind::Html;
        for (int i = 0; i < count; ++i) {
            if (i == rootIndex) {
                continue;
            }
            GMimeObject* child = g_mime_multipart_get_part(multipart, i);
            if (htmlHere && GMIME_IS_PART(child) && !isMessageType(mimeTypeOf(child))) {
                Part part = describePart(child);
                if (referencedByBody(part)) {
                    if (countPart()) {
                        part.bytes = keep(decodeContent(GMIME_PART(child), m_budget.room()), part);
                        m_out.related.push_back(std::move(part));
                    }
                    continue;
                }
            }
            // Not linked from the body: an attachment, so nothing is lost.
            visit(child, depth + 1, false);
        }
    }

    bool referencedByBody(const Part& part) {
        if (!m_referencesRead) {
            readReferences();
        }
        return (!part.contentId.empty() && m_cids.count(asciiLower(part.contentId)) > 0) ||
               (!part.contentLocation.empty() && m_values.count(part.contentLocation) > 0);
    }

    // What the HTML body links: every "cid:" URL, and every attribute value.
    void readReferences() {
        m_referencesRead = true;
        const std::string& html = m_out.body;
        for (std::size_t i = 0; i + 4 <= html.size(); ++i) {
            const char c = html[i];
            if ((c == 'c' || c == 'C') && (html[i + 1] == 'i' || html[i + 1] == 'I') &&
                (html[i + 2] == 'd' || html[i + 2] == 'D') && html[i + 3] == ':') {
                std::size_t end = i + 4;
                while (end < html.size() && !isUrlDelimiter(html[end])) {
                    ++end;
                }
                m_cids.insert(asciiLower(percentDecoded(std::string_view(html).substr(
                    i + 4, std::min<std::size_t>(end - i - 4, 998)))));
                i = end - 1;
            } else if (c == '=') {
                std::size_t at = i + 1;
                while (at < html.size() && (html[at] == ' ' || html[at] == '\t')) {
                    ++at;
                }
                if (at >= html.size()) {
                    break;
                }
                std::size_t end = at;
                if (html[at] == '"' || html[at] == '\'') {
                    const char quote = html[at++];
                    end = html.find(quote, at);
                    if (end == std::string::npos) {
                        end = html.size();
                    }
                } else {
                    while (end < html.size() && !isUrlDelimiter(html[end])) {
                        ++end;
                    }
                }
                if (end > at && end - at <= 2048) {
                    std::string value = html.substr(at, end - at);
                    if (value.size() > 4 && asciiLower(value.substr(0, 4)) == "cid:") {
                        m_cids.insert(
                            asciiLower(percentDecoded(std::string_view(value).substr(4))));
                    }
                    m_values.insert(std::move(value));
                }
                i = end > i ? end - 1 : i;
            }
        }
    }

    void visitLeaf(GMimePart* part, std::size_t depth, bool wantBody) {
        GMimeObject* object = GMIME_OBJECT(part);
        const std::string type = mimeTypeOf(object);
        if (isMessageType(type)) {
            // A message/rfc822 part with a transfer encoding: the parser
            // leaves it as data; it is read here once decoded.
            addEncodedMessage(part);
            return;
        }
        if (wantBody && !m_bodyTaken) {
            if (isPkcs7MimeType(type) ||
                (depth == 1 && type == "application/octet-stream" &&
                 endsWithP7m(rawParameter(object, "Content-Type", "name") +
                             rawParameter(object, "Content-Disposition", "filename")))) {
                readSmimeBody(part, depth);
                return;
            }
            if (isBodyType(type) && !isAttachmentDisposition(object)) {
                const Decoded decoded = decodeContent(part, m_budget.room());
                setBody(asText(decoded.bytes), type, object, decoded.truncated);
                return;
            }
        }
        addAttachment(part, std::nullopt);
    }

    void readSmimeBody(GMimePart* part, std::size_t depth) {
        Decoded decoded = decodeContent(part, m_budget.room());
        const Pkcs7Content content = readPkcs7(decoded.bytes);
        switch (content.kind) {
            case Pkcs7Kind::SignedData:
                if (content.detached) {
                    // A signature of nothing here, or certificates only
                    // (smime-type=certs-only): no content to show or mark.
                    warn(
                        "application/pkcs7-mime signed-data without content (a detached "
                        "signature or certificates), kept as an attachment");
                    break;
                }
                noteSecurity(Security::OpaqueSigned, "S/MIME");
                if (tooDeepForMessage()) {
                    warn("signed content nested deeper than " +
                         std::to_string(m_budget.limits.messageDepth) +
                         " messages: kept as an attachment, unread");
                    break;
                }
                readUnwrapped(content.content, depth + 1);
                return;
            case Pkcs7Kind::EnvelopedData:
            case Pkcs7Kind::AuthEnvelopedData:
                noteSecurity(Security::Encrypted, "S/MIME");
                break;
            case Pkcs7Kind::Other:
                warn("application/pkcs7-mime holds PKCS#7 " + content.typeName +
                     ", which has no message to show");
                break;
            case Pkcs7Kind::NotPkcs7:
                warn("application/pkcs7-mime whose content is no PKCS#7 structure");
                break;
        }
        addAttachment(part, std::move(decoded));
    }

    void setBody(std::string_view bytes, const std::string& type, GMimeObject* object,
                 bool truncated) {
        m_bodyTaken = true;
        std::string charset = object != nullptr ? typeParameter(object, "charset") : std::string();
        if (charset.empty() && type == "text/html" && !common::isValidUtf8(bytes)) {
            charset = sniffHtmlCharset(bytes);
        }
        DecodedText decoded = decodeText(bytes, charset);
        if (!decoded.warning.empty()) {
            warn(decoded.warning);
        }
        std::string body = unixLineEnds(decoded.text);
        Message::BodyKind kind = Message::BodyKind::Text;
        if (type == "text/html") {
            kind = Message::BodyKind::Html;
        } else if (type == "text/enriched" || type == "text/richtext") {
            body = enrichedToHtml(body, type == "text/richtext");
            kind = Message::BodyKind::Html;
        } else {
            if (object != nullptr && asciiLower(typeParameter(object, "format")) == "flowed") {
                body = joinFlowed(body, asciiLower(typeParameter(object, "delsp")) == "yes");
            }
            InlinePgpText pgp = stripInlinePgp(std::move(body));
            if (pgp.kind == InlinePgp::Signed) {
                noteSecurity(Security::Signed, "PGP (inline)");
            } else if (pgp.kind == InlinePgp::Encrypted) {
                noteSecurity(Security::Encrypted, "PGP (inline)");
            }
            body = std::move(pgp.text);
        }
        const std::uint64_t room = m_budget.room();
        if (body.size() > room) {
            cutUtf8(body, static_cast<std::size_t>(room));
            truncated = true;
        }
        if (truncated) {
            warn("the body is cut at " + std::to_string(body.size()) +
                 " bytes: the decoded bytes of the message reach the limit of " +
                 std::to_string(m_budget.limits.decodedBytes));
        }
        m_budget.bytes += body.size();
        m_out.body = std::move(body);
        m_out.bodyKind = kind;
    }

    void addAttachment(GMimePart* part, std::optional<Decoded> decoded) {
        Message::Attachment attachment;
        attachment.part = describePart(GMIME_OBJECT(part));
        attachment.part.bytes = keep(
            decoded ? std::move(*decoded) : decodeContent(part, m_budget.room()), attachment.part);
        m_out.attachments.push_back(std::move(attachment));
    }

    void addPlaceholder(GMimeObject* object, std::string why) {
        warn(std::move(why));
        Message::Attachment attachment;
        attachment.part = describePart(object);
        attachment.part.bytes = keep(fitted(serialise(object)), attachment.part);
        m_out.attachments.push_back(std::move(attachment));
    }

    void addMessagePart(GMimeMessagePart* messagePart) {
        GMimeObject* object = GMIME_OBJECT(messagePart);
        Message::Attachment attachment;
        attachment.part = describePart(object);
        GMimeMessage* inner = g_mime_message_part_get_message(messagePart);
        if (inner == nullptr) {
            m_out.attachments.push_back(std::move(attachment));
            return;
        }
        attachment.part.bytes = keep(fitted(serialise(GMIME_OBJECT(inner))), attachment.part);
        if (tooDeepForMessage()) {
            warn("messages nested deeper than " + std::to_string(m_budget.limits.messageDepth) +
                 " levels: the deepest is kept as an attachment, unread");
        } else {
            attachment.message = std::make_unique<Message>();
            readHeaderFields(inner, *attachment.message);
            ContentWalk(*attachment.message, m_budget, m_messageDepth + 1)
                .read(g_mime_message_get_mime_part(inner));
        }
        m_out.attachments.push_back(std::move(attachment));
    }

    void addEncodedMessage(GMimePart* part) {
        Message::Attachment attachment;
        attachment.part = describePart(GMIME_OBJECT(part));
        attachment.part.bytes = keep(decodeContent(part, m_budget.room()), attachment.part);
        if (tooDeepForMessage()) {
            warn("messages nested deeper than " + std::to_string(m_budget.limits.messageDepth) +
                 " levels: the deepest is kept as an attachment, unread");
        } else {
            const std::span<const std::uint8_t> bytes(attachment.part.bytes);
            const std::size_t start = mailStart(asText(attachment.part.bytes));
            attachment.message = std::make_unique<Message>(
                readMessageBytes(bytes.subspan(start), m_budget, m_messageDepth + 1));
        }
        m_out.attachments.push_back(std::move(attachment));
    }

    Message& m_out;
    Budget& m_budget;
    std::size_t m_messageDepth;
    bool m_bodyTaken = false;
    bool m_referencesRead = false;
    std::unordered_map<GMimeObject*, int> m_ranks;
    std::unordered_set<std::string> m_cids;
    std::unordered_set<std::string> m_values;
};

Message readMessageBytes(std::span<const std::uint8_t> bytes, Budget& budget,
                         std::size_t messageDepth) {
    Message out;
    const ParserInput input(bytes, out.warnings);
    GMimeParse parse(input.bytes());
    GMimeMessage* message = parse.nextMessage();
    parse.warnings().moveInto(out.warnings);
    if (message == nullptr) {
        addWarning(out.warnings, "no message could be read");
        return out;
    }
    readHeaderFields(message, out);
    ContentWalk(out, budget, messageDepth).read(g_mime_message_get_mime_part(message));
    parse.warnings().moveInto(out.warnings);
    return out;
}

Message readEntityBytes(std::span<const std::uint8_t> bytes, Budget& budget,
                        std::size_t messageDepth) {
    Message out;
    const ParserInput input(bytes, out.warnings);
    GMimeParse parse(input.bytes());
    GMimeObject* root = parse.entity();
    parse.warnings().moveInto(out.warnings);
    ContentWalk(out, budget, messageDepth).read(root);
    parse.warnings().moveInto(out.warnings);
    return out;
}

Message readPkcs7Bytes(std::span<const std::uint8_t> der, Budget& budget) {
    const Pkcs7Content content = readPkcs7(der);
    Message out;
    ContentWalk walk(out, budget, 1);
    switch (content.kind) {
        case Pkcs7Kind::NotPkcs7:
            throw ParseError("not a PKCS#7 / CMS structure: no DER ContentInfo could be read");
        case Pkcs7Kind::Other:
            throw ParseError("a PKCS#7 structure of type " + content.typeName +
                             ", which holds no message");
        case Pkcs7Kind::EnvelopedData:
        case Pkcs7Kind::AuthEnvelopedData:
            walk.noteSecurity(Security::Encrypted, "S/MIME");
            return out;
        case Pkcs7Kind::SignedData:
            break;
    }
    if (content.detached) {
        walk.noteSecurity(Security::Signed, "S/MIME");
        addWarning(out.warnings, "signed-data without its content (a detached signature)");
        return out;
    }
    walk.noteSecurity(Security::OpaqueSigned, "S/MIME");
    walk.readUnwrapped(content.content, 1);
    return out;
}

}  // namespace mime::detail
