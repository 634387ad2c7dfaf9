#include <msg/address_text.h>

#include <algorithm>

namespace tool {

bool equalsCaseless(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool looksLikeSmtp(std::string_view address) {
    const auto at = address.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < address.size() &&
           address.front() != '/' && address.find_first_of(" \t<>") == std::string_view::npos;
}

}  // namespace tool
