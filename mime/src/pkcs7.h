#pragma once
// What a DER (or BER) PKCS#7 / CMS ContentInfo holds, read with OpenSSL's
// CMS functions. Nothing is verified or decrypted.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mime::detail {

enum class Pkcs7Kind {
    NotPkcs7,       // no ContentInfo could be read
    SignedData,     // content holds the signed content; empty when detached
    EnvelopedData,  // encrypted
    AuthEnvelopedData,
    Other,  // another content type; typeName names it
};

struct Pkcs7Content {
    Pkcs7Kind kind = Pkcs7Kind::NotPkcs7;
    bool detached = false;  // signed-data without its content
    std::vector<std::uint8_t> content;
    std::string typeName;
};

Pkcs7Content readPkcs7(std::span<const std::uint8_t> der);

}  // namespace mime::detail
