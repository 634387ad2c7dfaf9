#include "message_header.h"

#include "gmime_support.h"
#include "text_decoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace mime::detail {

namespace {

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view value) {
    while (!value.empty() && isWhiteSpace(value.front())) {
        value.remove_prefix(1);
    }
    while (!value.empty() && isWhiteSpace(value.back())) {
        value.remove_suffix(1);
    }
    return value;
}

// RFC 5322 unfolding: a line break followed by white space is removed; any
// other line break (a bare CR or LF the parser let through) becomes a space.
std::string unfolded(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r' || c == '\n') {
            std::size_t next = i + 1;
            if (c == '\r' && next < raw.size() && raw[next] == '\n') {
                ++next;
            }
            if (next < raw.size() && (raw[next] == ' ' || raw[next] == '\t')) {
                i = next - 1;
                continue;
            }
            out.push_back(' ');
            i = next - 1;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

void appendAddresses(InternetAddressList* list, std::vector<Address>& out, int level) {
    if (list == nullptr) {
        return;
    }
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            out.push_back(
                {text(internet_address_get_name(address)),
                 text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)))});
        } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
            InternetAddressList* members =
                internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address));
            if (members == nullptr || internet_address_list_length(members) == 0 || level > 0) {
                // An empty group ("undisclosed-recipients:;") is shown by
                // its name.
                out.push_back({text(internet_address_get_name(address)), {}});
            } else {
                appendAddresses(members, out, level + 1);
            }
        }
    }
}

void readAddresses(std::string_view raw, std::vector<Address>& out) {
    const std::string value = preparedHeaderValue(raw);
    const GRef<InternetAddressList> list(
        internet_address_list_parse(quietOptions(), value.c_str()));
    appendAddresses(list.get(), out, 0);
}

std::string firstMessageId(std::string_view raw) {
    const std::string value = preparedHeaderValue(raw);
    GMimeReferences* references = g_mime_references_parse(quietOptions(), value.c_str());
    std::string id;
    if (references != nullptr) {
        if (g_mime_references_length(references) > 0) {
            id = text(g_mime_references_get_message_id(references, 0));
        }
        g_mime_references_free(references);
    }
    if (id.empty()) {
        const GText decoded(g_mime_utils_decode_message_id(value.c_str()));
        id = text(decoded.get());
    }
    if (id.empty()) {
        std::string_view bare = trimmed(value);
        if (bare.size() >= 2 && bare.front() == '<' && bare.back() == '>') {
            bare = bare.substr(1, bare.size() - 2);
        }
        id = std::string(bare);
    }
    return id;
}

Date readDate(std::string_view raw) {
    Date date;
    const std::string value = preparedHeaderValue(raw);
    date.text = decodeHeaderValue(raw);
    GDateTime* parsed = g_mime_utils_header_decode_date(value.c_str());
    if (parsed != nullptr) {
        date.valid = true;
        date.seconds = g_date_time_to_unix(parsed);
        date.zoneOffsetMinutes =
            static_cast<int>(g_date_time_get_utc_offset(parsed) / G_TIME_SPAN_MINUTE);
        g_date_time_unref(parsed);
    }
    return date;
}

// Importance, X-Priority, Priority and X-MSMail-Priority, the first that
// says something.
std::optional<Importance> importanceOf(std::string_view name, std::string_view rawValue) {
    const std::string value = asciiLower(trimmed(unfolded(rawValue)));
    if (sameName(name, "Importance") || sameName(name, "X-MSMail-Priority")) {
        if (value.rfind("high", 0) == 0) {
            return Importance::High;
        }
        if (value.rfind("low", 0) == 0) {
            return Importance::Low;
        }
        if (value.rfind("normal", 0) == 0 || value.rfind("medium", 0) == 0) {
            return Importance::Normal;
        }
    } else if (sameName(name, "X-Priority")) {
        if (!value.empty() && value[0] >= '1' && value[0] <= '5') {
            return value[0] < '3' ? Importance::High
                                  : (value[0] > '3' ? Importance::Low : Importance::Normal);
        }
    } else if (sameName(name, "Priority")) {
        if (value.rfind("urgent", 0) == 0) {
            return Importance::High;
        }
        if (value.rfind("non-urgent", 0) == 0) {
            return Importance::Low;
        }
        if (value.rfind("normal", 0) == 0) {
            return Importance::Normal;
        }
    }
    return std::nullopt;
}

// The fields of a message's header in the order they stand: the parser
// keeps the Content- fields with the message's root part.
std::vector<GMimeHeader*> fieldsInOrder(GMimeMessage* message) {
    std::vector<GMimeHeader*> fields;
    const auto collect = [&fields](GMimeObject* object) {
        GMimeHeaderList* list = object != nullptr ? g_mime_object_get_header_list(object) : nullptr;
        const int count = list != nullptr ? g_mime_header_list_get_count(list) : 0;
        for (int i = 0; i < count; ++i) {
            if (GMimeHeader* header = g_mime_header_list_get_header_at(list, i)) {
                fields.push_back(header);
            }
        }
    };
    collect(GMIME_OBJECT(message));
    collect(g_mime_message_get_mime_part(message));
    std::stable_sort(fields.begin(), fields.end(), [](GMimeHeader* a, GMimeHeader* b) {
        return g_mime_header_get_offset(a) < g_mime_header_get_offset(b);
    });
    return fields;
}

}  // namespace

std::string preparedHeaderValue(std::string_view raw) {
    return guessRunsToUtf8(trimmed(unfolded(raw)));
}

std::string decodeHeaderValue(std::string_view raw) {
    const std::string value = preparedHeaderValue(raw);
    const GText decoded(g_mime_utils_header_decode_text(quietOptions(), value.c_str()));
    return text(decoded.get());
}

void readHeaderFields(GMimeMessage* message, Message& out) {
    bool haveSubject = false;
    bool haveDate = false;
    bool haveMessageId = false;
    bool haveInReplyTo = false;
    bool haveImportance = false;
    for (GMimeHeader* header : fieldsInOrder(message)) {
        const std::string name = text(g_mime_header_get_name(header));
        const char* rawValue = g_mime_header_get_raw_value(header);
        const std::string_view raw = rawValue != nullptr ? rawValue : "";
        out.headers.push_back({name, decodeHeaderValue(raw)});
        if (sameName(name, "Subject")) {
            if (!haveSubject) {
                out.subject = out.headers.back().value;
                haveSubject = true;
            }
        } else if (sameName(name, "From")) {
            readAddresses(raw, out.from);
        } else if (sameName(name, "Sender")) {
            readAddresses(raw, out.sender);
        } else if (sameName(name, "Reply-To")) {
            readAddresses(raw, out.replyTo);
        } else if (sameName(name, "To")) {
            readAddresses(raw, out.to);
        } else if (sameName(name, "Cc")) {
            readAddresses(raw, out.cc);
        } else if (sameName(name, "Bcc")) {
            readAddresses(raw, out.bcc);
        } else if (sameName(name, "Date")) {
            if (!haveDate) {
                out.date = readDate(raw);
                haveDate = true;
            }
        } else if (sameName(name, "Message-ID")) {
            if (!haveMessageId) {
                out.messageId = firstMessageId(raw);
                haveMessageId = true;
            }
        } else if (sameName(name, "In-Reply-To")) {
            if (!haveInReplyTo) {
                out.inReplyTo = firstMessageId(raw);
                haveInReplyTo = true;
            }
        } else if (!haveImportance) {
            if (const auto importance = importanceOf(name, raw)) {
                out.importance = *importance;
                haveImportance = true;
            }
        }
    }
}

HeaderLine classifyHeaderLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.empty()) {
        return {HeaderLine::Kind::Empty, {}};
    }
    if (line.front() == ' ' || line.front() == '\t') {
        return {HeaderLine::Kind::Continuation, {}};
    }
    std::size_t colon = 0;
    while (colon < line.size() && line[colon] != ':' && line[colon] > 0x20 && line[colon] < 0x7F) {
        ++colon;
    }
    const std::size_t nameEnd = colon;
    while (colon < line.size() && (line[colon] == ' ' || line[colon] == '\t')) {
        ++colon;  // obsolete white space before the colon
    }
    if (nameEnd == 0 || colon >= line.size() || line[colon] != ':') {
        return {HeaderLine::Kind::Other, {}};
    }
    return {HeaderLine::Kind::Field, line.substr(0, nameEnd)};
}

std::size_t missingHeaderEnd(std::string_view bytes) {
    std::size_t at = 0;
    bool first = true;
    while (at < bytes.size()) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos) {
            end = bytes.size();
        }
        const HeaderLine line = classifyHeaderLine(bytes.substr(at, end - at));
        if (line.kind == HeaderLine::Kind::Empty) {
            return std::string_view::npos;
        }
        if (line.kind == HeaderLine::Kind::Other ||
            (first && line.kind == HeaderLine::Kind::Continuation)) {
            return at;
        }
        first = false;
        at = end + 1;
    }
    return std::string_view::npos;
}

std::size_t mailStart(std::string_view bytes) {
    std::size_t at = 0;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        at = 3;
    }
    if (bytes.substr(at, 5) == "From ") {
        const std::size_t end = bytes.find('\n', at);
        at = end == std::string_view::npos ? bytes.size() : end + 1;
    }
    return at;
}

}  // namespace mime::detail

namespace mime {

bool looksLikeMail(std::span<const std::uint8_t> head) {
    static constexpr std::array<std::string_view, 24> kMailFields = {
        "from",          "to",          "cc",
        "subject",       "date",        "message-id",
        "received",      "return-path", "mime-version",
        "sender",        "reply-to",    "delivered-to",
        "in-reply-to",   "references",  "content-type",
        "x-mailer",      "user-agent",  "dkim-signature",
        "x-original-to", "envelope-to", "thread-topic",
        "thread-index",  "x-received",  "arc-seal"};
    const std::string_view bytes(reinterpret_cast<const char*>(head.data()), head.size());
    std::size_t at = detail::mailStart(bytes);
    std::size_t fields = 0;
    bool known = false;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos) {
            break;  // a line cut by the end of the head
        }
        const detail::HeaderLine line = detail::classifyHeaderLine(bytes.substr(at, end - at));
        at = end + 1;
        if (line.kind == detail::HeaderLine::Kind::Empty ||
            line.kind == detail::HeaderLine::Kind::Other) {
            break;  // the end of the header, as a parser sees it
        }
        if (line.kind == detail::HeaderLine::Kind::Continuation) {
            if (fields == 0) {
                return false;
            }
            continue;
        }
        ++fields;
        const std::string name = detail::asciiLower(line.name);
        known =
            known || std::find(kMailFields.begin(), kMailFields.end(), name) != kMailFields.end();
    }
    return fields > 0 && known;
}

}  // namespace mime
