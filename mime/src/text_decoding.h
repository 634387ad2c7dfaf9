#pragma once
// Text of mail to UTF-8: a part's bytes by its declared charset, with a guess
// where the declaration is absent or plainly wrong, and the 8-bit bytes of
// header fields that carry no encoding. Output is always valid UTF-8.

#include <string>
#include <string_view>

namespace mime::detail {

// windows-1252 to UTF-8 (the five bytes it leaves undefined stand for the
// C1 controls of the same value, as Windows reads them). Never fails.
std::string decodeWindows1252(std::string_view bytes);

// 8-bit bytes without a declared charset: each run of non-ASCII bytes as
// UTF-8 when it is valid UTF-8, else as windows-1252.
std::string guessRunsToUtf8(std::string_view bytes);

struct DecodedText {
    std::string text;
    std::string warning;  // empty unless the declaration was not followed
};

// A text part's bytes by its charset parameter (empty when there is none):
// - none: UTF-8 when valid, else windows-1252;
// - us-ascii, iso-8859-1, windows-1252, iso-8859-15: valid UTF-8 with 8-bit
//   bytes is read as UTF-8 (mislabelled), else by the label (iso-8859-1 and
//   us-ascii as windows-1252, as mail programs read them);
// - utf-8 that is not valid: windows-1252;
// - any other charset iconv knows: converted, every invalid byte one U+FFFD,
//   unless the bytes are valid UTF-8 instead;
// - unknown charsets: the guess of "none".
DecodedText decodeText(std::string_view bytes, std::string_view charset);

// Lower-case ASCII copy.
std::string asciiLower(std::string_view text);

}  // namespace mime::detail
