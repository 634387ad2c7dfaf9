// Fuzz target: the mail reader. The same bytes go through parseMessage,
// parseEntity, parsePkcs7 and parseMailbox, and the mbox split whole and in
// blocks. mime::ParseError is the
// documented failure of all but parseEntity, which has none. Every result
// must hold valid UTF-8 in its texts, at most kMaxWarnings + 1 warnings,
// messages nested no deeper than kMaxMessageDepth, a body only with a body
// kind and a protocol only with a security shape.

#include "../finding.h"

#include <mime/mime.h>

#include <common/text.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

void checkText(const std::string& text, const char* what) {
    if (!common::isValidUtf8(text)) {
        fuzz::reportFinding(std::string(what) + " is not valid UTF-8");
    }
}

void checkPart(const mime::Part& part) {
    checkText(part.contentType, "a content type");
    checkText(part.fileName, "a file name");
    checkText(part.contentId, "a content id");
    checkText(part.contentLocation, "a content location");
}

void checkAddresses(const std::vector<mime::Address>& addresses) {
    for (const auto& address : addresses) {
        checkText(address.name, "a display name");
        checkText(address.address, "an address");
    }
}

void checkMessage(const mime::Message& m, std::size_t depth) {
    if (depth > mime::kMaxMessageDepth) {
        fuzz::reportFinding("a message nested " + std::to_string(depth) + " deep");
    }
    checkText(m.subject, "the subject");
    checkText(m.body, "the body");
    checkText(m.date.text, "the date text");
    checkText(m.messageId, "the message id");
    checkText(m.inReplyTo, "In-Reply-To");
    checkText(m.securityProtocol, "the security protocol");
    for (const auto* list : {&m.from, &m.sender, &m.replyTo, &m.to, &m.cc, &m.bcc}) {
        checkAddresses(*list);
    }
    for (const auto& header : m.headers) {
        checkText(header.name, "a header name");
        checkText(header.value, "a header value");
    }
    if (m.warnings.size() > mime::kMaxWarnings + 1) {
        fuzz::reportFinding(std::to_string(m.warnings.size()) + " warnings");
    }
    for (const auto& warning : m.warnings) {
        checkText(warning, "a warning");
    }
    if (m.bodyKind == mime::Message::BodyKind::None && !m.body.empty()) {
        fuzz::reportFinding("a body without a body kind");
    }
    if ((m.security == mime::Security::None) != m.securityProtocol.empty()) {
        fuzz::reportFinding("a security shape and its protocol disagree");
    }
    for (const auto& part : m.related) {
        checkPart(part);
    }
    for (const auto& attachment : m.attachments) {
        checkPart(attachment.part);
        if (attachment.message) {
            checkMessage(*attachment.message, depth + 1);
        }
    }
}

// The mbox split does not depend on how the bytes come: whole, or in
// blocks of a size the input picks. Its entries are in order, within the
// input, and never overlap.
void checkMailboxSplit(std::span<const std::uint8_t> input) {
    std::vector<mime::MailboxEntry> whole;
    try {
        mime::MailboxSplitter splitter;
        splitter.add(input);
        whole = splitter.finish();
    } catch (const mime::ParseError&) {
        return;
    }
    const std::size_t block = input.empty() ? 1 : std::size_t{1} + input[0] % 61u;
    mime::MailboxSplitter pieces;
    for (std::size_t at = 0; at < input.size(); at += block) {
        pieces.add(input.subspan(at, std::min(block, input.size() - at)));
    }
    const std::vector<mime::MailboxEntry> split = pieces.finish();
    if (split.size() != whole.size()) {
        fuzz::reportFinding("the mbox split depends on the block size");
    }
    std::uint64_t end = 0;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i < split.size() &&
            (split[i].offset != whole[i].offset || split[i].length != whole[i].length)) {
            fuzz::reportFinding("the mbox split depends on the block size");
        }
        if (whole[i].offset < end || whole[i].offset + whole[i].length > input.size()) {
            fuzz::reportFinding("an mbox entry overlaps another or the end");
        }
        end = whole[i].offset + whole[i].length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    try {
        checkMessage(mime::parseMessage(input), 1);
    } catch (const mime::ParseError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    try {
        checkMessage(mime::parseEntity(input), 1);
    } catch (...) {
        fuzz::reportFinding();
    }
    try {
        checkMessage(mime::parsePkcs7(input), 1);
    } catch (const mime::ParseError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    try {
        for (const auto& message : mime::parseMailbox(input)) {
            checkMessage(message, 1);
        }
    } catch (const mime::ParseError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    try {
        checkMailboxSplit(input);
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
