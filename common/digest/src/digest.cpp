#include "digest/digest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

namespace digest {

namespace {

const EVP_MD* method(Algorithm algorithm) {
    switch (algorithm) {
        case Algorithm::Md5:
            return EVP_md5();
        case Algorithm::Sha1:
            return EVP_sha1();
        case Algorithm::Sha256:
            break;
    }
    return EVP_sha256();
}

std::string toHex(const unsigned char* bytes, unsigned size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(std::size_t{2} * size);
    for (unsigned i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

struct Hash::Context {
    EVP_MD_CTX* md = nullptr;
};

Hash::Hash(Algorithm algorithm) : m_context(std::make_unique<Context>()) {
    m_context->md = EVP_MD_CTX_new();
    if (m_context->md == nullptr) {
        throw std::bad_alloc();
    }
    if (EVP_DigestInit_ex(m_context->md, method(algorithm), nullptr) != 1) {
        EVP_MD_CTX_free(m_context->md);
        throw std::runtime_error("the digest cannot be started (libcrypto)");
    }
}

Hash::~Hash() {
    EVP_MD_CTX_free(m_context->md);
}

void Hash::update(const void* data, std::size_t size) {
    if (size > 0 && EVP_DigestUpdate(m_context->md, data, size) != 1) {
        throw std::runtime_error("the digest cannot take more bytes (libcrypto)");
    }
}

void Hash::update(std::string_view bytes) {
    update(bytes.data(), bytes.size());
}

std::string Hash::hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> bytes{};
    unsigned size = 0;
    if (EVP_DigestFinal_ex(m_context->md, bytes.data(), &size) != 1) {
        throw std::runtime_error("the digest cannot be finished (libcrypto)");
    }
    return toHex(bytes.data(), size);
}

std::string hexOf(Algorithm algorithm, std::string_view bytes) {
    Hash hash(algorithm);
    hash.update(bytes);
    return hash.hex();
}

namespace {

// The digests of `limit` bytes of `file` from where it stands (all of it for
// SIZE_MAX); no value when reading fails (errno says why) or the file ends
// before `limit` bytes (EIO).
std::optional<FileDigest> digestOf(std::FILE* file, std::uint64_t limit,
                                   std::initializer_list<Algorithm> also) {
    Hash sha256(Algorithm::Sha256);
    std::vector<std::pair<Algorithm, std::unique_ptr<Hash>>> extra;
    for (const Algorithm algorithm : also) {
        if (algorithm != Algorithm::Sha256) {
            extra.emplace_back(algorithm, std::make_unique<Hash>(algorithm));
        }
    }
    FileDigest digest;
    std::vector<char> buffer(1 << 16);
    std::size_t got = 0;
    while (digest.size < limit &&
           (got = std::fread(buffer.data(), 1,
                             static_cast<std::size_t>(
                                 std::min<std::uint64_t>(buffer.size(), limit - digest.size)),
                             file)) > 0) {
        sha256.update(buffer.data(), got);
        for (auto& [algorithm, hash] : extra) {
            hash->update(buffer.data(), got);
        }
        digest.size += got;
    }
    const bool failed = std::ferror(file) != 0;
    const int why = errno;
    std::fclose(file);
    if (failed || (limit != UINT64_MAX && digest.size < limit)) {
        errno = failed && why != 0 ? why : EIO;
        return std::nullopt;
    }
    digest.sha256 = sha256.hex();
    for (auto& [algorithm, hash] : extra) {
        (algorithm == Algorithm::Md5 ? digest.md5 : digest.sha1) = hash->hex();
    }
    return digest;
}

}  // namespace

std::optional<FileDigest> ofFile(const std::string& path, std::initializer_list<Algorithm> also) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    return digestOf(file, UINT64_MAX, also);
}

std::optional<FileDigest> ofFileRange(const std::string& path, std::uint64_t offset,
                                      std::uint64_t length) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        const int why = errno;
        std::fclose(file);
        errno = why != 0 ? why : EINVAL;
        return std::nullopt;
    }
    return digestOf(file, length, {});
}

}  // namespace digest
