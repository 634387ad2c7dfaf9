#pragma once
// How the text of an address is compared and recognised: one rule for the
// message model (Recipient::SmtpAddress) and the envelope.

#include <string_view>

namespace tool {

// Whether a and b are equal with ASCII letters compared without case; every
// other byte must be equal (no locale is consulted).
bool equalsCaseless(std::string_view a, std::string_view b);

// Whether an address reads as an Internet one: "name@domain", something on
// both sides of the '@', no space, tab or angle bracket. An Exchange address
// ("/O=...") never does.
bool looksLikeSmtp(std::string_view address);

}  // namespace tool
