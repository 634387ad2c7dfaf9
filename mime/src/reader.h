#pragma once
// The walk over what GMime parsed: header fields, the body a mail program
// would choose, related pictures, attachments and nested messages, the
// security shapes; bounded by Limits through one Budget per call.

#include <mime/mime.h>

#include <cstdint>
#include <span>

namespace mime::detail {

// What one call may still spend: parts looked at and decoded bytes held.
struct Budget {
    explicit Budget(const Limits& l) : limits(l) {}
    const Limits& limits;
    std::size_t parts = 0;
    std::uint64_t bytes = 0;
    bool partsWarned = false;

    std::uint64_t room() const {
        return bytes < limits.decodedBytes ? limits.decodedBytes - bytes : 0;
    }
};

// Bytes of a message (the mail start already found), read as a message at
// nesting level `messageDepth` (the outermost is 1).
Message readMessageBytes(std::span<const std::uint8_t> bytes, Budget& budget,
                         std::size_t messageDepth);
// Bytes of a MIME entity without a mail header.
Message readEntityBytes(std::span<const std::uint8_t> bytes, Budget& budget,
                        std::size_t messageDepth);
// A PKCS#7 ContentInfo; throws ParseError when it is none this reader shows.
Message readPkcs7Bytes(std::span<const std::uint8_t> der, Budget& budget);

}  // namespace mime::detail
