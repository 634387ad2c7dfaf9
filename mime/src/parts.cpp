// The parts of a MIME entity: what the content walk reads of each.
#include "parts.h"

#include "text_decoding.h"

#include <common/text.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mime::detail {

std::string mimeTypeOf(GMimeObject* object) {
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (type == nullptr) {
        return "text/plain";
    }
    const GText name(g_mime_content_type_get_mime_type(type));
    return asciiLower(text(name));
}

std::string typeParameter(GMimeObject* object, const char* name) {
    return text(g_mime_object_get_content_type_parameter(object, name));
}

std::string_view firstRawHeader(GMimeObject* object, std::string_view name) {
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    const int count = list != nullptr ? g_mime_header_list_get_count(list) : 0;
    const std::string wanted = asciiLower(name);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(list, i);
        const char* headerName = header != nullptr ? g_mime_header_get_name(header) : nullptr;
        if (headerName != nullptr && asciiLower(headerName) == wanted) {
            const char* raw = g_mime_header_get_raw_value(header);
            return raw != nullptr ? std::string_view(raw) : std::string_view();
        }
    }
    return {};
}

// A parameter read again from the raw field, with its 8-bit bytes guessed
// as everywhere else (GMime's own reading of them would go by iconv's
// windows-1252, which lacks five bytes).
std::string rawParameter(GMimeObject* object, std::string_view field, const char* name) {
    const std::string_view raw = firstRawHeader(object, field);
    if (raw.empty()) {
        return {};
    }
    const std::string value = preparedHeaderValue(raw);
    if (field == "Content-Disposition") {
        const GRef<GMimeContentDisposition> disposition(
            g_mime_content_disposition_parse(quietOptions(), value.c_str()));
        return disposition ? text(g_mime_content_disposition_get_parameter(disposition.get(), name))
                           : std::string();
    }
    const GRef<GMimeContentType> type(g_mime_content_type_parse(quietOptions(), value.c_str()));
    return type ? text(g_mime_content_type_get_parameter(type.get(), name)) : std::string();
}

std::string dispositionOf(GMimeObject* object) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    return disposition != nullptr
               ? asciiLower(text(g_mime_content_disposition_get_disposition(disposition)))
               : std::string();
}

bool isAttachmentDisposition(GMimeObject* object) {
    return dispositionOf(object) == "attachment";
}

std::uint64_t parseSize(std::string_view digits) {
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            break;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return 0;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::string withoutAngles(std::string value) {
    if (value.size() >= 2 && value.front() == '<' && value.back() == '>') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The description of a part, without its bytes.
Part describePart(GMimeObject* object) {
    Part part;
    part.contentType = mimeTypeOf(object);
    const std::string disposition = dispositionOf(object);
    part.inlineDisposition = disposition == "inline";
    if (GMimeContentDisposition* d = g_mime_object_get_content_disposition(object)) {
        part.declaredSize = parseSize(text(g_mime_content_disposition_get_parameter(d, "size")));
    }
    part.fileName = rawParameter(object, "Content-Disposition", "filename");
    if (part.fileName.empty()) {
        part.fileName = rawParameter(object, "Content-Type", "name");
    }
    part.contentId = withoutAngles(text(g_mime_object_get_content_id(object)));
    part.contentLocation = decodeHeaderValue(firstRawHeader(object, "Content-Location"));
    return part;
}

bool isMessageType(const std::string& type) {
    return type == "message/rfc822" || type == "message/rfc2822" || type == "message/global" ||
           type == "message/news";
}

bool isBodyType(const std::string& type) {
    return type == "text/plain" || type == "text/html" || type == "text/enriched" ||
           type == "text/richtext";
}

bool isPkcs7MimeType(const std::string& type) {
    return type == "application/pkcs7-mime" || type == "application/x-pkcs7-mime";
}

bool endsWithP7m(const std::string& fileName) {
    const std::string lower = asciiLower(fileName);
    return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".p7m") == 0;
}

// The content of a leaf part with its transfer encoding removed, at most
// `room` bytes.
Decoded decodeContent(GMimePart* part, std::uint64_t room) {
    Decoded out;
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    GMimeStream* stream = wrapper != nullptr ? g_mime_data_wrapper_get_stream(wrapper) : nullptr;
    if (stream == nullptr) {
        return out;
    }
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
    GRef<GMimeFilter> filter;
    if (encoding == GMIME_CONTENT_ENCODING_BASE64 ||
        encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
        encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
        filter.reset(g_mime_filter_basic_new(encoding, FALSE));
    }
    const auto append = [&](const char* data, std::size_t size) {
        const std::uint64_t left = room - out.bytes.size();
        const std::size_t take = size > left ? static_cast<std::size_t>(left) : size;
        out.bytes.insert(out.bytes.end(), reinterpret_cast<const std::uint8_t*>(data),
                         reinterpret_cast<const std::uint8_t*>(data) + take);
        if (take < size) {
            out.truncated = true;
        }
    };
    g_mime_stream_reset(stream);
    const gint64 length = g_mime_stream_length(stream);
    if (length > 0) {
        out.bytes.reserve(static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(length), room)));
    }
    std::vector<char> buffer(kReadChunk);
    while (!out.truncated) {
        const gssize read = g_mime_stream_read(stream, buffer.data(), buffer.size());
        if (read <= 0) {
            break;
        }
        if (filter) {
            char* result = nullptr;
            std::size_t resultLength = 0;
            std::size_t resultPrespace = 0;
            g_mime_filter_filter(filter.get(), buffer.data(), static_cast<std::size_t>(read), 0,
                                 &result, &resultLength, &resultPrespace);
            append(result, resultLength);
        } else {
            append(buffer.data(), static_cast<std::size_t>(read));
        }
    }
    if (filter && !out.truncated) {
        char* result = nullptr;
        std::size_t resultLength = 0;
        std::size_t resultPrespace = 0;
        g_mime_filter_complete(filter.get(), buffer.data(), 0, 0, &result, &resultLength,
                               &resultPrespace);
        append(result, resultLength);
    }
    g_mime_stream_reset(stream);
    return out;
}

std::string_view asText(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The charset an HTML document names in its first bytes (a meta element),
// for HTML whose part declares none.
std::string sniffHtmlCharset(std::string_view html) {
    const std::string head = asciiLower(html.substr(0, 4096));
    const std::size_t at = head.find("charset=");
    if (at == std::string::npos) {
        return {};
    }
    std::size_t i = at + 8;
    while (i < head.size() && (head[i] == '"' || head[i] == '\'' || head[i] == ' ')) {
        ++i;
    }
    std::string name;
    while (i < head.size() && name.size() < 40 &&
           ((head[i] >= 'a' && head[i] <= 'z') || (head[i] >= '0' && head[i] <= '9') ||
            head[i] == '-' || head[i] == '_' || head[i] == '.' || head[i] == ':')) {
        name.push_back(head[i++]);
    }
    return name;
}

std::string enrichedToHtml(const std::string& enriched, bool richtext) {
    const GRef<GMimeFilter> filter(
        g_mime_filter_enriched_new(richtext ? GMIME_FILTER_ENRICHED_IS_RICHTEXT : 0));
    std::string html;
    std::vector<char> chunk(kReadChunk);
    char* result = nullptr;
    std::size_t resultLength = 0;
    std::size_t resultPrespace = 0;
    for (std::size_t at = 0; at < enriched.size(); at += chunk.size()) {
        const std::size_t size = std::min(chunk.size(), enriched.size() - at);
        std::copy_n(enriched.data() + at, size, chunk.data());
        g_mime_filter_filter(filter.get(), chunk.data(), size, 0, &result, &resultLength,
                             &resultPrespace);
        html.append(result, resultLength);
    }
    g_mime_filter_complete(filter.get(), chunk.data(), 0, 0, &result, &resultLength,
                           &resultPrespace);
    html.append(result, resultLength);
    return text(html.c_str());
}

// Cuts UTF-8 text to at most `size` bytes, at a character boundary.
void cutUtf8(std::string& textIn, std::size_t size) {
    if (textIn.size() <= size) {
        return;
    }
    while (size > 0 && (static_cast<unsigned char>(textIn[size]) & 0xC0) == 0x80) {
        --size;
    }
    textIn.resize(size);
}

bool isUrlDelimiter(char c) {
    return c == '"' || c == '\'' || c == '<' || c == '>' || c == '(' || c == ')' || c == ' ' ||
           c == '\t' || c == '\r' || c == '\n';
}

std::string percentDecoded(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size()) {
            const int high = common::hexDigitValue(static_cast<unsigned char>(value[i + 1]));
            const int low = common::hexDigitValue(static_cast<unsigned char>(value[i + 2]));
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(value[i]);
    }
    return out;
}

}  // namespace mime::detail
