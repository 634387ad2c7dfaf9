// The public entry points: input checks, then the reader.

#include <mime/mime.h>

#include "gmime_support.h"
#include "message_header.h"
#include "reader.h"

#include <string_view>

namespace mime {

namespace {

// GLib's byte arrays hold at most 4 GiB; the input is copied into one.
constexpr std::uint64_t kLargestStream = std::uint64_t{0xFFFFFFFF} - 1;

void checkSize(std::span<const std::uint8_t> bytes, const Limits& limits) {
    const std::uint64_t cap = std::min(limits.inputBytes, kLargestStream);
    if (bytes.size() > cap) {
        throw ParseError("the input is " + std::to_string(bytes.size()) + " bytes, more than the " +
                         std::to_string(cap) + " bytes read");
    }
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

constexpr std::size_t kHeadBytes = std::size_t{64} * 1024;

}  // namespace

Message parseMessage(std::span<const std::uint8_t> bytes, const Limits& limits) {
    checkSize(bytes, limits);
    if (bytes.empty()) {
        throw ParseError("the input is empty: no mail header");
    }
    if (!looksLikeMail(bytes.first(std::min(bytes.size(), kHeadBytes)))) {
        throw ParseError("not an Internet mail message: it does not start with header fields");
    }
    detail::Budget budget(limits);
    return detail::readMessageBytes(bytes.subspan(detail::mailStart(asText(bytes))), budget, 1);
}

Message parseEntity(std::span<const std::uint8_t> bytes, const Limits& limits) {
    checkSize(bytes, limits);
    detail::Budget budget(limits);
    return detail::readEntityBytes(bytes, budget, 1);
}

Message parsePkcs7(std::span<const std::uint8_t> der, const Limits& limits) {
    checkSize(der, limits);
    detail::Budget budget(limits);
    return detail::readPkcs7Bytes(der, budget);
}

std::vector<Message> parseMailbox(std::span<const std::uint8_t> bytes, const Limits& limits) {
    checkSize(bytes, limits);
    MailboxSplitter splitter(limits);
    splitter.add(bytes);
    const std::vector<MailboxEntry> entries = splitter.finish();
    std::vector<Message> messages;
    messages.reserve(entries.size());
    for (const MailboxEntry& entry : entries) {
        const auto one = bytes.subspan(static_cast<std::size_t>(entry.offset),
                                       static_cast<std::size_t>(entry.length));
        detail::Budget budget(limits);
        messages.push_back(
            detail::readMessageBytes(one.subspan(detail::mailStart(asText(one))), budget, 1));
    }
    if (!messages.empty()) {
        for (const std::string& text : splitter.warnings()) {
            detail::addWarning(messages.back().warnings, text);
        }
    }
    return messages;
}

}  // namespace mime
