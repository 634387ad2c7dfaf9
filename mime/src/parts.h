#pragma once
// The parts of a MIME entity as the content walk reads them: their type,
// disposition and parameters, their content with the transfer encoding
// removed, and the text helpers of the body choice.

#include "gmime_support.h"
#include "message_header.h"

#include <mime/mime.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mime::detail {

// Bytes read from a GMime stream at a time.
constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

// A part's content, and whether it stopped at the room it was given.
struct Decoded {
    std::vector<std::uint8_t> bytes;
    bool truncated = false;
};

// "type/subtype" in lower case.
std::string mimeTypeOf(GMimeObject* object);

// A parameter of the Content-Type field, decoded; empty when absent.
std::string typeParameter(GMimeObject* object, const char* name);

// The first field of that name as written, undecoded.
std::string_view firstRawHeader(GMimeObject* object, std::string_view name);

// A parameter read again from the raw field, with its 8-bit bytes guessed
// as everywhere else (GMime's own reading of them would go by iconv's
// windows-1252, which lacks five bytes).
std::string rawParameter(GMimeObject* object, std::string_view field, const char* name);

// The Content-Disposition value in lower case ("inline", "attachment"); empty
// when there is none.
std::string dispositionOf(GMimeObject* object);

// The part says it is an attachment.
bool isAttachmentDisposition(GMimeObject* object);

// The leading digits of a size= parameter as a number; 0 when it overflows.
std::uint64_t parseSize(std::string_view digits);

// A message or content id without its < >.
std::string withoutAngles(std::string value);

// The description of a part, without its bytes.
Part describePart(GMimeObject* object);

// message/rfc822 and its kinds, which hold a message.
bool isMessageType(const std::string& type);

// Types a mail program shows as the body.
bool isBodyType(const std::string& type);

// application/pkcs7-mime and its x- form.
bool isPkcs7MimeType(const std::string& type);

// A file name ending in .p7m, in any case.
bool endsWithP7m(const std::string& fileName);

// The content of a leaf part with its transfer encoding removed, at most
// `room` bytes.
Decoded decodeContent(GMimePart* part, std::uint64_t room);

std::string_view asText(const std::vector<std::uint8_t>& bytes);

// The charset an HTML document names in its first bytes (a meta element),
// for HTML whose part declares none.
std::string sniffHtmlCharset(std::string_view html);

std::string enrichedToHtml(const std::string& enriched, bool richtext);

// Cuts UTF-8 text to at most `size` bytes, at a character boundary.
void cutUtf8(std::string& textIn, std::size_t size);

bool isUrlDelimiter(char c);

std::string percentDecoded(std::string_view value);

// The bytes as the parser is to see them: with an empty line where a header
// ends without one, so the lines after it are read as the body instead of
// being dropped.
class ParserInput {
public:
    ParserInput(std::span<const std::uint8_t> bytes, std::vector<std::string>& warnings)
        : m_bytes(bytes) {
        const std::size_t gap = missingHeaderEnd(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (gap == std::string_view::npos) {
            return;
        }
        m_copy.reserve(bytes.size() + 1);
        m_copy.insert(m_copy.end(), bytes.begin(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(gap));
        m_copy.push_back('\n');
        m_copy.insert(m_copy.end(), bytes.begin() + static_cast<std::ptrdiff_t>(gap), bytes.end());
        m_bytes = m_copy;
        addWarning(warnings,
                   gap == 0
                       ? std::string("no header fields at the start: all of it is read as the body")
                       : "the header ends without an empty line at byte " + std::to_string(gap) +
                             "; the lines from there on are the body");
    }
    std::span<const std::uint8_t> bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_copy;
    std::span<const std::uint8_t> m_bytes;
};

}  // namespace mime::detail
