#pragma once
// Digests of bytes in memory and of files, as lower-case hex, by OpenSSL's
// libcrypto. Records of converted messages name each source and image by its
// SHA-256, so a reader can show which file an image came from; load files of
// productions also name documents by MD5 or SHA-1.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace digest {

enum class Algorithm { Md5, Sha1, Sha256 };

// A digest taken piece by piece.
class Hash {
public:
    explicit Hash(Algorithm algorithm);
    ~Hash();
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    void update(std::string_view bytes);
    void update(const void* data, std::size_t size);
    // The digest of everything given so far, as hex. Ends the hash: call it
    // once.
    std::string hex();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

std::string hexOf(Algorithm algorithm, std::string_view bytes);

inline std::string sha256Hex(std::string_view bytes) {
    return hexOf(Algorithm::Sha256, bytes);
}

// The size and digests of a file's bytes, read once.
struct FileDigest {
    std::uint64_t size = 0;
    std::string sha256;
    std::string md5;   // when asked for
    std::string sha1;  // when asked for
};

// SHA-256 of the file, and the `also` digests. No value when the file
// cannot be opened or read; errno then says why.
std::optional<FileDigest> ofFile(const std::string& path,
                                 std::initializer_list<Algorithm> also = {});

// The size and SHA-256 of `length` bytes of the file from `offset` (one
// message of an mbox file). No value when they cannot be read, or the file
// ends before them (errno EIO).
std::optional<FileDigest> ofFileRange(const std::string& path, std::uint64_t offset,
                                      std::uint64_t length);

}  // namespace digest
