#pragma once
// Steps on the text of a text/plain body, after it is UTF-8 with "\n" line
// ends: format=flowed joining, and the inline PGP armour.

#include <string>
#include <string_view>

namespace mime::detail {

// CRLF and lone CR line ends as "\n".
std::string unixLineEnds(std::string_view text);

// text/plain; format=flowed (RFC 3676): a line ending in a space continues on
// the next line of the same quote depth; space-stuffing is removed; with
// DelSp=yes the space at the join is removed too. Quoted lines come out as
// ">" per level and one space before the text; the signature separator
// "-- " stays a line of its own.
std::string joinFlowed(std::string_view text, bool delSp);

enum class InlinePgp { None, Signed, Encrypted };

struct InlinePgpText {
    InlinePgp kind = InlinePgp::None;
    std::string text;
};

// Clear-signed blocks ("-----BEGIN PGP SIGNED MESSAGE-----" at a line start)
// lose their armour: the begin line and its armour headers, the dash
// escaping ("- " before a line), the signature block. The text around them
// stays. An encrypted block ("-----BEGIN PGP MESSAGE-----") is left as it is
// and only named.
InlinePgpText stripInlinePgp(std::string text);

}  // namespace mime::detail
