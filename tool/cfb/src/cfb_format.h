#pragma once
// What the compound-file reader and writer both know of [MS-CFB]: the
// signature and sizes, the special sector ids, the entry types, where the
// fields of the header and of a directory entry lie, and how names compare.
// Private to the cfb library.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cfb::format {

inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                           0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr std::size_t kHeaderSize = 512;
inline constexpr std::size_t kHeaderDifatEntries = 109;
inline constexpr std::size_t kDirEntrySize = 128;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint64_t kMiniStreamCutoff = 4096;

// Special sector ids ([MS-CFB] 2.1).
inline constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

// Directory entry types.
inline constexpr std::uint8_t kTypeStorage = 1;
inline constexpr std::uint8_t kTypeStream = 2;
inline constexpr std::uint8_t kTypeRoot = 5;

// Fields of the header ([MS-CFB] 2.2), by byte offset.
inline constexpr std::size_t kHeaderMinorVersion = 0x18;          // 16 bits
inline constexpr std::size_t kHeaderMajorVersion = 0x1A;          // 16 bits
inline constexpr std::size_t kHeaderByteOrder = 0x1C;             // 16 bits
inline constexpr std::size_t kHeaderSectorShift = 0x1E;           // 16 bits
inline constexpr std::size_t kHeaderMiniSectorShift = 0x20;       // 16 bits
inline constexpr std::size_t kHeaderDirectorySectors = 0x28;      // 32 bits, 0 in version 3
inline constexpr std::size_t kHeaderFatSectors = 0x2C;            // 32 bits
inline constexpr std::size_t kHeaderFirstDirectorySector = 0x30;  // 32 bits
inline constexpr std::size_t kHeaderMiniStreamCutoff = 0x38;      // 32 bits
inline constexpr std::size_t kHeaderFirstMiniFatSector = 0x3C;    // 32 bits
inline constexpr std::size_t kHeaderMiniFatSectors = 0x40;        // 32 bits
inline constexpr std::size_t kHeaderFirstDifatSector = 0x44;      // 32 bits
inline constexpr std::size_t kHeaderDifatSectors = 0x48;          // 32 bits
inline constexpr std::size_t kHeaderDifat = 0x4C;                 // 109 sector ids of 32 bits

inline constexpr std::uint16_t kByteOrderMark = 0xFFFE;
inline constexpr std::uint16_t kMinorVersion = 0x003E;
inline constexpr std::uint16_t kSectorShiftVersion3 = 9;   // 512-byte sectors
inline constexpr std::uint16_t kSectorShiftVersion4 = 12;  // 4096-byte sectors
inline constexpr std::uint16_t kMiniSectorShift = 6;       // 64-byte mini sectors

// Fields of a directory entry ([MS-CFB] 2.6.1), by byte offset in the entry.
inline constexpr std::size_t kEntryName = 0;         // 32 UTF-16 units
inline constexpr std::size_t kEntryNameLength = 64;  // 16 bits, in bytes with the NUL
inline constexpr std::size_t kEntryType = 66;        // 8 bits
inline constexpr std::size_t kEntryColour = 67;      // 8 bits
inline constexpr std::size_t kEntryLeft = 68;        // 32 bits
inline constexpr std::size_t kEntryRight = 72;       // 32 bits
inline constexpr std::size_t kEntryChild = 76;       // 32 bits
inline constexpr std::size_t kEntryStart = 116;      // 32 bits
inline constexpr std::size_t kEntrySize = 120;       // 64 bits
inline constexpr std::size_t kEntryNameBytes = kEntryNameLength - kEntryName;

inline std::string num(std::uint64_t v) {
    return std::to_string(v);
}

// Sectors needed for n bytes, without the overflow of (n + size - 1) / size
// when n comes from the file and may be close to 2^64.
inline std::uint64_t sectorsFor(std::uint64_t n, std::uint64_t size) {
    return n / size + (n % size != 0);
}

// The upper-case form names are compared in.
inline char16_t upperUnit(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 32);
    return c;
}

// Orders upper-cased keys: length first, then unit by unit.
inline int compareKeys(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

}  // namespace cfb::format
