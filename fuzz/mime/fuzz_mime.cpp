// Fuzz target: the mail reader. The same bytes go through parseMessage,
// parseEntity, parsePkcs7 and parseMailbox. mime::ParseError is the
// documented failure of all but parseEntity, which has none. Every result
// must hold valid UTF-8 in its texts, at most kMaxWarnings + 1 warnings,
// messages nested no deeper than kMaxMessageDepth, a body only with a body
// kind and a protocol only with a security shape.

#include "../finding.h"

#include <mime/mime.h>

#include <common/text.h>

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
    return 0;
}
