#pragma once
// The header fields of a message as Message holds them, and the test of
// whether bytes start like mail.

#include <mime/mime.h>

#include <gmime/gmime.h>

#include <string>
#include <string_view>

namespace mime::detail {

// A raw header value ready for GMime's decoders: unfolded, trimmed, 8-bit
// runs guessed (valid UTF-8).
std::string preparedHeaderValue(std::string_view raw);

// A raw header value as shown: unfolded, trimmed, 8-bit runs guessed,
// RFC 2047 words decoded.
std::string decodeHeaderValue(std::string_view raw);

// Fills the header fields of `out` from the message's header.
void readHeaderFields(GMimeMessage* message, Message& out);

// One line of a header block (without its "\n").
struct HeaderLine {
    enum class Kind { Field, Continuation, Empty, Other };
    Kind kind = Kind::Other;
    std::string_view name;  // of a field
};
HeaderLine classifyHeaderLine(std::string_view line);

// Where a header block ends without the empty line RFC 5322 asks for: the
// offset of its first line that is no header field (0 for bytes that start
// with no field), or npos when it ends properly or the input ends inside it.
// The parser would drop such lines; the reader reads them as the body.
std::size_t missingHeaderEnd(std::string_view bytes);

// Where the mail starts in bytes: after a UTF-8 byte order mark and an mbox
// "From " line.
std::size_t mailStart(std::string_view bytes);

}  // namespace mime::detail
