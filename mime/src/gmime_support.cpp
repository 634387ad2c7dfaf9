#include "gmime_support.h"

#include "text_decoding.h"

#include <mime/mime.h>

#include <common/text.h>

#include <mutex>

namespace mime::detail {

namespace {

GMimeParserOptions* newLooseOptions() {
    GMimeParserOptions* options = g_mime_parser_options_new();
    g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_allow_addresses_without_domain(options, TRUE);
    // 8-bit bytes the reader has not made UTF-8 before GMime sees them
    // (parameters of parts): the same guess as everywhere else.
    const char* fallback[] = {"UTF-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(options, fallback);
    return options;
}

std::string describe(GMimeParserWarning code, const std::string& item) {
    const std::string name = item.empty() ? std::string("?") : item;
    switch (code) {
        case GMIME_WARN_DUPLICATED_HEADER:
            return "the header field " + name + " is repeated";
        case GMIME_WARN_DUPLICATED_PARAMETER:
            return "the parameter " + name + " is repeated";
        case GMIME_WARN_UNENCODED_8BIT_HEADER:
            return "the header field " + name + " has 8-bit bytes without an encoding";
        case GMIME_WARN_INVALID_CONTENT_TYPE:
            return "an invalid content type (" + name + "), read as application/octet-stream";
        case GMIME_WARN_INVALID_RFC2047_HEADER_VALUE:
            return "an invalid RFC 2047 encoded word in " + name;
        case GMIME_WARN_MALFORMED_MULTIPART:
            return "multipart/" + name + " ends without its closing boundary";
        case GMIME_WARN_TRUNCATED_MESSAGE:
            return "the input ends before the message does (truncated)";
        case GMIME_WARN_MALFORMED_MESSAGE:
            return "a malformed message";
        case GMIME_CRIT_INVALID_HEADER_NAME:
            return "an invalid header field name: " + name;
        case GMIME_CRIT_CONFLICTING_HEADER:
            return "the header field " + name + " is given more than once, with different values";
        case GMIME_CRIT_CONFLICTING_PARAMETER:
            return "the parameter " + name + " is given more than once, with different values";
        case GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY:
            return "multipart/" + name + " without a boundary parameter";
        case GMIME_WARN_INVALID_PARAMETER:
            return "an invalid parameter: " + name;
        case GMIME_WARN_INVALID_ADDRESS_LIST:
            return "an invalid address list: " + name;
        case GMIME_CRIT_NESTING_OVERFLOW:
            return "parts nested too deep for the parser; the deepest are read as data";
        case GMIME_WARN_PART_WITHOUT_CONTENT:
            return "a part whose header ends at a boundary (no content)";
        case GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT:
            return "a part without header or content";
    }
    return "parser warning " + std::to_string(static_cast<int>(code));
}

void collectWarning(gint64 offset, GMimeParserWarning code, const gchar* item, gpointer data) {
    auto* list = static_cast<WarningList*>(data);
    std::string shown;
    if (item != nullptr) {
        std::string_view raw(item);
        const bool cut = raw.size() > 80;
        shown = guessRunsToUtf8(raw.substr(0, 80));
        for (char& c : shown) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                c = ' ';
            }
        }
        if (cut) {
            shown += "...";
        }
    }
    std::string textOut = describe(code, shown);
    if (offset >= 0) {
        textOut = "at byte " + std::to_string(offset) + ": " + textOut;
    }
    list->add(std::move(textOut));
}

}  // namespace

std::string text(const char* value) {
    if (value == nullptr) {
        return {};
    }
    const std::string_view bytes(value);
    if (common::isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return common::decodeUtf8(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

void initialiseGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

GMimeParserOptions* quietOptions() {
    initialiseGMime();
    static GMimeParserOptions* const options = newLooseOptions();
    return options;
}

void WarningList::add(std::string textIn) {
    if (m_items.size() < kMaxWarnings) {
        m_items.push_back(std::move(textIn));
    } else {
        ++m_dropped;
    }
}

void WarningList::moveInto(std::vector<std::string>& out) {
    for (auto& item : m_items) {
        addWarning(out, std::move(item));
    }
    m_items.clear();
    if (m_dropped > 0) {
        addWarning(out, std::to_string(m_dropped) + " more parser warnings left out");
        m_dropped = 0;
    }
}

void addWarning(std::vector<std::string>& warnings, std::string textIn) {
    if (warnings.size() < kMaxWarnings) {
        warnings.push_back(std::move(textIn));
    } else if (warnings.size() == kMaxWarnings) {
        warnings.push_back("more warnings left out");
    }
}

GMimeParse::GMimeParse(std::span<const std::uint8_t> bytes) {
    initialiseGMime();
    m_options = newLooseOptions();
    g_mime_parser_options_set_warning_callback(m_options, collectWarning, &m_warnings);
    m_stream.reset(g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(bytes.data()),
                                                     bytes.size()));
    m_parser.reset(g_mime_parser_new_with_stream(m_stream.get()));
    g_mime_parser_set_format(m_parser.get(), GMIME_FORMAT_MESSAGE);
    // Parts refer to the input stream instead of copying their content.
    g_mime_parser_set_persist_stream(m_parser.get(), TRUE);
}

GMimeParse::~GMimeParse() {
    // The objects, then the parser and stream, then the options they use.
    m_objects.clear();
    m_parser.reset();
    m_stream.reset();
    g_mime_parser_options_free(m_options);
}

GMimeMessage* GMimeParse::nextMessage() {
    GMimeMessage* message = g_mime_parser_construct_message(m_parser.get(), m_options);
    if (message != nullptr) {
        m_objects.emplace_back(G_OBJECT(message));
    }
    return message;
}

GMimeObject* GMimeParse::entity() {
    GMimeObject* object = g_mime_parser_construct_part(m_parser.get(), m_options);
    if (object != nullptr) {
        m_objects.emplace_back(G_OBJECT(object));
    }
    return object;
}

std::vector<std::uint8_t> serialise(GMimeObject* object) {
    const GRef<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(object, nullptr, stream.get());
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    if (array == nullptr || array->data == nullptr) {
        return {};
    }
    return std::vector<std::uint8_t>(array->data, array->data + array->len);
}

}  // namespace mime::detail
