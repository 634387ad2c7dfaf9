#include <msg/clzf.h>

#include <common/byte_reader.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tool {
namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> CRC32_TABLE = makeCrcTable();

// Slicing-by-8 tables: table k advances a byte that lies k bytes further on.
constexpr std::array<std::array<std::uint32_t, 256>, 8> makeSlicingTables() {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    t[0] = CRC32_TABLE;
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
}

constexpr auto kSlices = makeSlicingTables();

using common::FormatError;

}  // namespace

std::uint32_t CLZF::getU32(std::span<const std::uint8_t> buf, std::size_t offset) {
    if (offset > buf.size() || buf.size() - offset < 4) {
        throw std::out_of_range("getU32 at " + std::to_string(offset) + " past " +
                                std::to_string(buf.size()) + " bytes");
    }
    return static_cast<std::uint32_t>(buf[offset]) |
           (static_cast<std::uint32_t>(buf[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(buf[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(buf[offset + 3]) << 24);
}

std::uint8_t CLZF::getU8(std::span<const std::uint8_t> buf, std::size_t offset) {
    if (offset >= buf.size()) {
        throw std::out_of_range("getU8 at " + std::to_string(offset) + " past " +
                                std::to_string(buf.size()) + " bytes");
    }
    return buf[offset];
}

std::uint32_t CLZF::calculateCRC32(std::span<const std::uint8_t> buf, std::size_t off,
                                   std::size_t len) {
    if (off > buf.size() || len > buf.size() - off) {
        throw std::out_of_range("calculateCRC32 range past the buffer");
    }
    std::uint32_t crc = 0;
    const std::uint8_t* p = buf.data() + off;
    std::size_t n = len;
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t one =
            crc ^
            (static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
             (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
        crc = kSlices[7][one & 0xFF] ^ kSlices[6][(one >> 8) & 0xFF] ^
              kSlices[5][(one >> 16) & 0xFF] ^ kSlices[4][one >> 24] ^ kSlices[3][p[4]] ^
              kSlices[2][p[5]] ^ kSlices[1][p[6]] ^ kSlices[0][p[7]];
    }
    for (; n > 0; --n, ++p)
        crc = CRC32_TABLE[(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

namespace {

// What a checked 16-byte header says: RAWSIZE, and whether the payload is
// compressed ("LZFu") or stored as it is ("MELA").
struct CheckedHeader {
    std::size_t raw = 0;
    bool compressed = true;
};

CheckedHeader checkHeader(std::span<const std::uint8_t> src) {
    constexpr std::size_t kHeaderSize = CLZF::kHeaderSize;
    if (src.size() < kHeaderSize) {
        throw FormatError("Invalid compressed-RTF header", src.size());  // where it ends
    }
    const auto compSize = static_cast<std::int32_t>(CLZF::getU32(src, 0));
    const auto rawSize = static_cast<std::int32_t>(CLZF::getU32(src, 4));
    const auto compType = static_cast<std::int32_t>(CLZF::getU32(src, 8));
    const std::uint32_t crc = CLZF::getU32(src, 12);

    if (compSize < 0 || static_cast<std::size_t>(compSize) != src.size() - 4) {
        throw FormatError("compressed-RTF data size mismatch", 0);
    }
    if (static_cast<std::uint32_t>(compType) != CLZF::MAGIC_UNCOMPRESSED &&
        CLZF::calculateCRC32(src, kHeaderSize, src.size() - kHeaderSize) != crc) {
        throw FormatError("compressed-RTF CRC32 failed", 12);
    }
    if (static_cast<std::uint32_t>(compType) != CLZF::MAGIC_UNCOMPRESSED &&
        static_cast<std::uint32_t>(compType) != CLZF::MAGIC_COMPRESSED) {
        throw FormatError(
            "Unknown compression type (magic number " + std::to_string(compType) + ")", 8);
    }
    if (rawSize < 0) {
        throw FormatError("compressed RTF: negative RAWSIZE " + std::to_string(rawSize), 4);
    }
    const auto raw = static_cast<std::size_t>(rawSize);
    const std::size_t payload = src.size() - kHeaderSize;

    if (static_cast<std::uint32_t>(compType) == CLZF::MAGIC_UNCOMPRESSED) {
        if (raw > payload) {
            throw FormatError("compressed RTF: uncompressed RAWSIZE " + std::to_string(raw) +
                                  " exceeds the " + std::to_string(payload) + " stored bytes",
                              4);
        }
        return {raw, false};
    }

    // One control byte and eight two-byte references give 8 * 17 bytes from
    // 17 input bytes: no input byte yields more than 8.5 output bytes.
    if (raw / 17 > payload / 2) {
        throw FormatError("compressed RTF: RAWSIZE " + std::to_string(raw) + " cannot come from " +
                              std::to_string(payload) + " bytes of compressed data",
                          4);
    }
    return {raw, true};
}

// The LZ77 payload after the header, RAWSIZE raw, decoded against the
// initial dictionary ([MS-OXRTFCP] 2.2.3.1).
std::vector<std::uint8_t> decompressPayload(std::span<const std::uint8_t> src, std::size_t raw) {
    constexpr std::string_view prebuf = CLZF::prebuf;
    constexpr std::size_t kHeaderSize = CLZF::kHeaderSize;
    constexpr std::size_t kDictionarySize = CLZF::kDictionarySize;
    const std::size_t end = prebuf.size() + raw;
    std::vector<std::uint8_t> out(end);
    std::copy(prebuf.begin(), prebuf.end(), out.begin());
    std::size_t wp = prebuf.size();
    std::size_t rp = kHeaderSize;
    const std::uint8_t* in = src.data();
    const std::size_t inSize = src.size();
    std::uint8_t* o = out.data();
    unsigned control = 0;
    int bits = 0;
    while (wp < end) {
        // A whole group of eight tokens needs at most 17 input bytes and
        // writes at most 8 * 17 bytes: when both fit, no bound is checked
        // inside the group except the reference's start.
        if (bits == 0 && inSize - rp >= 17 && end - wp >= std::size_t{8} * 17) {
            unsigned group = in[rp++];
            if (group == 0) {
                // Eight literals: the commonest group in RTF text.
                std::memcpy(o + wp, in + rp, 8);
                wp += 8;
                rp += 8;
                continue;
            }
            for (int k = 0; k < 8; ++k, group >>= 1) {
                if (!(group & 1u)) {
                    o[wp++] = in[rp++];
                    continue;
                }
                const std::size_t off = (static_cast<std::size_t>(in[rp]) << 4) | (in[rp + 1] >> 4);
                const std::size_t len = (in[rp + 1] & 0x0Fu) + 2;
                std::size_t from = (wp & ~(kDictionarySize - 1)) + off;
                if (from >= wp) {
                    if (from < kDictionarySize) {
                        throw FormatError("compressed RTF: reference at offset " +
                                              std::to_string(rp) +
                                              " points before the start of the output",
                                          rp);
                    }
                    from -= kDictionarySize;
                }
                rp += 2;
                if (wp - from >= 17) {
                    // Source and target cannot overlap within 17 bytes, and the
                    // group has room for them: copy the most a reference can
                    // take and keep len of it (the rest is written over later).
                    std::memcpy(o + wp, o + from, 16);
                    o[wp + 16] = o[from + 16];
                    wp += len;
                } else {
                    for (std::size_t i = 0; i < len; ++i)
                        o[wp++] = o[from++];
                }
            }
            continue;
        }
        if (bits == 0) {
            if (rp >= inSize) {
                throw FormatError("compressed RTF ends at offset " + std::to_string(rp) +
                                      " after " + std::to_string(wp - prebuf.size()) + " of " +
                                      std::to_string(raw) + " bytes",
                                  rp);
            }
            control = in[rp++];
            bits = 8;
        }
        const bool reference = control & 1u;
        control >>= 1;
        --bits;
        if (!reference) {
            if (rp >= inSize) {
                throw FormatError("compressed RTF ends at offset " + std::to_string(rp) +
                                      " after " + std::to_string(wp - prebuf.size()) + " of " +
                                      std::to_string(raw) + " bytes",
                                  rp);
            }
            o[wp++] = in[rp++];
            continue;
        }
        if (inSize - rp < 2) {
            throw FormatError("compressed RTF ends at offset " + std::to_string(rp) +
                                  " inside a reference, after " +
                                  std::to_string(wp - prebuf.size()) + " of " +
                                  std::to_string(raw) + " bytes",
                              rp);
        }
        const unsigned b1 = in[rp];
        const unsigned b2 = in[rp + 1];
        const std::size_t offset = (b1 << 4) | (b2 >> 4);
        const std::size_t length = (b2 & 0x0Fu) + 2;
        std::size_t source = (wp & ~(kDictionarySize - 1)) + offset;
        if (source >= wp) {
            if (source < kDictionarySize) {
                throw FormatError("compressed RTF: reference at offset " + std::to_string(rp) +
                                      " points before the start of the output",
                                  rp);
            }
            source -= kDictionarySize;
        }
        if (length > end - wp) {
            throw FormatError("compressed RTF: reference at offset " + std::to_string(rp) +
                                  " copies " + std::to_string(length) + " bytes past RAWSIZE " +
                                  std::to_string(raw),
                              rp);
        }
        rp += 2;
        // Byte by byte: a copy may read what it has just written.
        for (std::size_t k = 0; k < length; ++k)
            o[wp++] = o[source++];
    }
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(prebuf.size()));
    return out;
}

}  // namespace

std::vector<std::uint8_t> CLZF::decompressRTF(std::span<const std::uint8_t> src) {
    const CheckedHeader header = checkHeader(src);
    if (!header.compressed) {
        return std::vector<std::uint8_t>(
            src.begin() + kHeaderSize,
            src.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + header.raw));
    }
    return decompressPayload(src, header.raw);
}

}  // namespace tool
