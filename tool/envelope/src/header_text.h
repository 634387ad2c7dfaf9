#pragma once
// How the header block writes people and lists, for the header of a message
// file and of Internet mail alike. Private to the envelope library.

#include <msg/address_text.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace envelope {

// "Ann <ann@example.com>"; the address alone when the name is only the
// address (or the address in quotes); whichever of the two there is.
inline std::string nameAndAddress(const std::optional<std::string>& name,
                                  const std::optional<std::string>& address) {
    const bool hasName = name && !name->empty();
    const bool hasAddress = address && !address->empty();
    if (hasName && hasAddress) {
        const std::string_view bare = std::string_view(*name);
        if (tool::equalsCaseless(bare, *address) ||
            tool::equalsCaseless(bare, "'" + *address + "'")) {
            return *address;
        }
        return *name + " <" + *address + ">";
    }
    return hasName ? *name : hasAddress ? *address : std::string();
}

inline std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty()) {
            out += separator;
        }
        out += part;
    }
    return out;
}

}  // namespace envelope
