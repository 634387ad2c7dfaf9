#pragma once
// CLZF: compressed RTF as [MS-OXRTFCP] defines it.
//
// decompressRTF() accepts the bytes of a PR_RTF_COMPRESSED property: a 16-byte
// header (COMPSIZE, RAWSIZE, COMPTYPE, CRC, little-endian) and the payload.
// It returns exactly RAWSIZE bytes or throws common::FormatError:
//   "Invalid compressed-RTF header"          input shorter than 16 bytes
//   "compressed-RTF data size mismatch"      COMPSIZE != input length - 4
//   "compressed-RTF CRC32 failed"            checksum mismatch (not for MELA)
//   "Unknown compression type (magic number N)"  N the signed COMPTYPE
// and, with texts of our own, for a negative RAWSIZE, a RAWSIZE the input
// cannot produce (one input byte yields at most 8.5 output bytes; refused
// before anything is allocated), input that ends early, a reference before
// the start of the output, and a copy that runs past RAWSIZE.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tool {

class CLZF {
public:
    // The initial dictionary text, 207 characters (one CR LF).
    static constexpr std::string_view prebuf =
        "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss "
        "\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier"
        "{\\colortbl\\red0\\green0\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
    static constexpr std::uint32_t MAGIC_COMPRESSED = 0x75465A4C;    // "LZFu"
    static constexpr std::uint32_t MAGIC_UNCOMPRESSED = 0x414C454D;  // "MELA"
    static constexpr std::size_t kHeaderSize = 16;
    static constexpr std::size_t kDictionarySize = 4096;

    static std::vector<std::uint8_t> decompressRTF(std::span<const std::uint8_t> src);

    // CRC-32 (reflected polynomial 0xEDB88320) starting from 0 and without a
    // final inversion, as [MS-OXRTFCP] 2.1.3.2 prescribes. off and len must
    // lie within buf (std::out_of_range otherwise).
    static std::uint32_t calculateCRC32(std::span<const std::uint8_t> buf, std::size_t off,
                                        std::size_t len);
    // Little-endian readers; std::out_of_range past the end.
    static std::uint32_t getU32(std::span<const std::uint8_t> buf, std::size_t offset);
    static std::uint8_t getU8(std::span<const std::uint8_t> buf, std::size_t offset);
};

static_assert(CLZF::prebuf.size() == 207);

}  // namespace tool
