// The public entry points: input checks, then the reader.

#include <mime/mime.h>

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
    std::string_view text = asText(bytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    if (text.substr(0, 5) != "From ") {
        throw ParseError("not an mbox file: it does not start with a \"From \" line");
    }
    return detail::readMailboxBytes(bytes.subspan(bytes.size() - text.size()), limits);
}

}  // namespace mime
