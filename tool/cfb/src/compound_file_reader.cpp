// Compound-file reader ([MS-CFB]): the header, DIFAT, FAT, mini FAT and
// directory tree parsed and checked up front, stream contents read on demand.

#include "cfb_format.h"

#include <cfb/compound_file.h>
#include <common/file_bytes.h>
#include <common/text.h>

#include <algorithm>
#include <stdexcept>

namespace cfb {

using namespace format;

namespace {

std::string sectorName(std::uint32_t id) {
    switch (id) {
        case kDifSect:
            return "DIFSECT";
        case kFatSect:
            return "FATSECT";
        case kEndOfChain:
            return "ENDOFCHAIN";
        case kFreeSect:
            return "FREESECT";
        default:
            return num(id);
    }
}

// A chain's first sector id and the byte offset in the file of the field
// that holds it.
struct ChainStart {
    std::uint32_t id = kEndOfChain;
    std::size_t at = 0;
};

// The header fields that locate the file's structures.
struct Header {
    std::uint32_t fatSectors = 0;
    std::uint32_t firstDirectorySector = kEndOfChain;
    std::uint32_t firstMiniFatSector = kEndOfChain;
    std::uint32_t miniFatSectors = 0;
    std::uint32_t firstDifatSector = kEndOfChain;
    std::uint32_t difatSectors = 0;
};

}  // namespace

struct DirEntry {
    // The name is kept in the file's pools (CompoundFile::Impl::rawNames and
    // keys, the upper-cased copy for ordering and lookup) rather than in
    // strings of its own: a directory may hold tens of thousands of entries.
    std::uint32_t nameOff = 0;
    std::uint32_t nameLen = 0;
    std::uint8_t type = 0;
    std::uint32_t left = kNoStream;
    std::uint32_t right = kNoStream;
    std::uint32_t child = kNoStream;
    std::uint32_t start = kEndOfChain;
    std::uint64_t size = 0;
};

struct CompoundFile::Impl {
    std::shared_ptr<const std::vector<std::uint8_t>> owner;
    std::span<const std::uint8_t> bytes;
    int major = 3;
    std::uint32_t sectorSize = 512;
    std::uint32_t sectorCount = 0;
    std::vector<std::uint32_t> difatSectorIds;  // the DIFAT sectors, in chain order
    std::vector<std::uint32_t> fatSectorIds;    // the FAT sectors, in order
    std::vector<std::uint32_t> fat;
    std::vector<std::uint32_t> miniFatSectorIds;  // the mini FAT's sectors, in order
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint32_t> directorySectorIds;  // the directory's sectors, in order
    std::vector<std::uint32_t> miniStreamSectors;   // regular sectors of the mini stream
    std::uint64_t miniStreamSize = 0;
    std::string miniStreamFault;  // why the mini stream ends early, if it does
    std::vector<DirEntry> entries;
    std::vector<char16_t> rawNames;                    // every entry's UTF-16 name, as stored
    std::vector<char16_t> keys;                        // the same, upper-cased
    std::vector<std::vector<std::uint32_t>> children;  // per entry, in name order

    std::u16string_view key(std::uint32_t id) const {
        return {keys.data() + entries[id].nameOff, entries[id].nameLen};
    }
    std::string name(std::uint32_t id) const {
        return common::utf16ToUtf8(
            std::u16string_view(rawNames.data() + entries[id].nameOff, entries[id].nameLen));
    }

    std::size_t sectorOffset(std::uint32_t id) const {
        return (static_cast<std::size_t>(id) + 1) * sectorSize;
    }
    // Where in the file these are, for errors: the FAT entry of a sector,
    // the mini FAT entry and the data of a mini sector, a directory entry,
    // and entry i of the DIFAT (the header's 109, then the DIFAT sectors').
    std::size_t fatEntryOffset(std::uint32_t id) const {
        const std::size_t perSector = sectorSize / 4;
        return sectorOffset(fatSectorIds[id / perSector]) + 4 * (id % perSector);
    }
    std::size_t miniFatEntryOffset(std::uint32_t id) const {
        const std::size_t perSector = sectorSize / 4;
        return sectorOffset(miniFatSectorIds[id / perSector]) + 4 * (id % perSector);
    }
    std::size_t miniSectorOffset(std::uint32_t id) const {
        const std::uint64_t pos = std::uint64_t{id} * kMiniSectorSize;
        return sectorOffset(miniStreamSectors[pos / sectorSize]) + pos % sectorSize;
    }
    std::size_t entryOffset(std::uint32_t id) const {
        const std::size_t perSector = sectorSize / kDirEntrySize;
        return sectorOffset(directorySectorIds[id / perSector]) + (id % perSector) * kDirEntrySize;
    }
    std::size_t difatEntryOffset(std::size_t i) const {
        if (i < kHeaderDifatEntries)
            return kHeaderDifat + 4 * i;
        const std::size_t perSector = sectorSize / 4 - 1;
        i -= kHeaderDifatEntries;
        return sectorOffset(difatSectorIds[i / perSector]) + 4 * (i % perSector);
    }
    ChainStart streamStart(std::uint32_t entryId) const {
        return {entries[entryId].start, entryOffset(entryId) + kEntryStart};
    }

    // Bytes [offset, offset+n) of sector id; the sector must exist in the
    // file at least that far.
    std::span<const std::uint8_t> sectorBytes(std::uint32_t id, std::size_t n,
                                              const std::string& what) const;
    // Follows a FAT chain from start. Stops after maxSectors sectors when
    // maxSectors is given; otherwise runs to ENDOFCHAIN. Loops and bad ids
    // are errors naming `what`, at the link that holds the bad id (the loop:
    // at the sector met again).
    // With `fault` given, a broken chain is not thrown: the sectors before
    // the break are returned and *fault says what broke.
    std::vector<std::uint32_t> fatChain(ChainStart start, const std::string& what,
                                        std::size_t maxSectors = SIZE_MAX,
                                        std::string* fault = nullptr) const;
    void checkLink(std::uint32_t id, std::size_t linkAt, const std::string& what, std::size_t steps,
                   const std::vector<bool>& seen) const;
    // The first count mini sectors of the mini FAT chain from start.
    std::vector<std::uint32_t> miniChain(ChainStart start, const std::string& what,
                                         std::size_t count) const;
    // The whole content of stream entryId.
    std::vector<std::uint8_t> readEntry(std::uint32_t entryId) const;

    void parse();
    Header readHeader();
    void readDifat(const Header& header);
    void readFat();
    void readMiniFat(const Header& header);
    void parseDirectory(std::uint32_t start);
    void locateMiniStream();
    void buildTree();
};

std::span<const std::uint8_t> CompoundFile::Impl::sectorBytes(std::uint32_t id, std::size_t n,
                                                              const std::string& what) const {
    const std::size_t off = sectorOffset(id);
    if (off > bytes.size() || n > bytes.size() - off) {
        throw FormatError(what + ": sector " + num(id) + " lies beyond the end of the file (" +
                              num(bytes.size()) + " bytes)",
                          std::min(off, bytes.size()));
    }
    return bytes.subspan(off, n);
}

std::vector<std::uint32_t> CompoundFile::Impl::fatChain(ChainStart start, const std::string& what,
                                                        std::size_t maxSectors,
                                                        std::string* fault) const {
    std::vector<std::uint32_t> chain;
    std::vector<bool> seen(fat.size());
    std::uint32_t id = start.id;
    std::size_t linkAt = start.at;
    while (id != kEndOfChain && chain.size() < maxSectors) {
        if (fault != nullptr) {
            try {
                checkLink(id, linkAt, what, chain.size(), seen);
            } catch (const FormatError& e) {
                *fault = e.what();
                return chain;
            }
        } else {
            checkLink(id, linkAt, what, chain.size(), seen);
        }
        seen[id] = true;
        chain.push_back(id);
        linkAt = fatEntryOffset(id);
        id = fat[id];
    }
    return chain;
}

void CompoundFile::Impl::checkLink(std::uint32_t id, std::size_t linkAt, const std::string& what,
                                   std::size_t steps, const std::vector<bool>& seen) const {
    if (id > kMaxRegSect) {
        throw FormatError("FAT chain of " + what + " holds " + sectorName(id) + " after " +
                              num(steps) + " sectors",
                          linkAt);
    }
    if (id >= fat.size() || id >= sectorCount) {
        throw FormatError("FAT chain of " + what + ": sector " + num(id) + " out of range (" +
                              num(std::min<std::size_t>(fat.size(), sectorCount)) + " sectors)",
                          linkAt);
    }
    if (seen[id]) {
        throw FormatError("FAT chain of " + what + " loops at sector " + num(id), sectorOffset(id));
    }
}

std::vector<std::uint32_t> CompoundFile::Impl::miniChain(ChainStart start, const std::string& what,
                                                         std::size_t count) const {
    const std::size_t miniCount =
        std::min<std::size_t>(miniFat.size(), miniStreamSize / kMiniSectorSize);
    std::vector<std::uint32_t> chain;
    chain.reserve(count);
    std::vector<bool> seen(miniCount);
    std::uint32_t id = start.id;
    std::size_t linkAt = start.at;
    while (chain.size() < count) {
        if (id == kEndOfChain) {
            throw FormatError("mini FAT chain of " + what + " ends after " + num(chain.size()) +
                                  " mini sectors, " + num(count) + " needed",
                              linkAt);
        }
        if (id >= miniCount) {
            throw FormatError("mini FAT chain of " + what + ": mini sector " + sectorName(id) +
                                  " out of range (" + num(miniCount) + " mini sectors" +
                                  (miniStreamFault.empty() ? "" : "; " + miniStreamFault) + ")",
                              linkAt);
        }
        if (seen[id]) {
            throw FormatError("mini FAT chain of " + what + " loops at mini sector " + num(id),
                              miniSectorOffset(id));
        }
        seen[id] = true;
        chain.push_back(id);
        linkAt = miniFatEntryOffset(id);
        id = miniFat[id];
    }
    return chain;
}

std::vector<std::uint8_t> CompoundFile::Impl::readEntry(std::uint32_t entryId) const {
    const DirEntry& e = entries[entryId];
    const std::string what = "stream " + num(entryId) + " (\"" + name(entryId) + "\")";
    const std::uint64_t size = e.size;
    if (size == 0)
        return {};
    std::vector<std::uint8_t> out;
    if (size < kMiniStreamCutoff) {
        const std::size_t count = (size + kMiniSectorSize - 1) / kMiniSectorSize;
        const auto chain = miniChain(streamStart(entryId), what, count);
        out.reserve(size);
        for (std::uint32_t mini : chain) {
            const std::uint64_t pos = std::uint64_t{mini} * kMiniSectorSize;
            const std::uint32_t sector = miniStreamSectors[pos / sectorSize];
            const std::size_t n = std::min<std::uint64_t>(kMiniSectorSize, size - out.size());
            const auto data = sectorBytes(sector, pos % sectorSize + n, what);
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos % sectorSize),
                       data.end());
        }
        return out;
    }
    const std::uint64_t count = sectorsFor(size, sectorSize);
    if (count > sectorCount) {
        throw FormatError(what + " declares " + num(size) + " bytes, more than the file's " +
                              num(sectorCount) + " sectors can hold",
                          entryOffset(entryId) + kEntrySize);
    }
    const auto chain = fatChain(streamStart(entryId), what, static_cast<std::size_t>(count));
    if (chain.size() < count) {
        throw FormatError(what + " declares " + num(size) + " bytes but its FAT chain ends after " +
                              num(chain.size()) + " sectors",
                          entryOffset(entryId) + kEntrySize);
    }
    out.reserve(size);
    for (std::uint32_t sector : chain) {
        const std::size_t n = std::min<std::uint64_t>(sectorSize, size - out.size());
        const auto data = sectorBytes(sector, n, what);
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

// ---------------------------------------------------------------------------
// Parsing, in the order the structures depend on each other.

void CompoundFile::Impl::parse() {
    const Header header = readHeader();
    readDifat(header);
    readFat();
    readMiniFat(header);
    parseDirectory(header.firstDirectorySector);
    locateMiniStream();
    buildTree();
}

Header CompoundFile::Impl::readHeader() {
    if (bytes.size() < kHeaderSize) {
        throw FormatError(
            "header: file of " + num(bytes.size()) + " bytes is shorter than the 512-byte header",
            bytes.size());
    }
    common::ByteReader r(bytes);
    const auto u16At = [&r](std::size_t offset) {
        r.seek(offset);
        return r.readU16();
    };
    const auto u32At = [&r](std::size_t offset) {
        r.seek(offset);
        return r.readU32();
    };
    const auto sig = r.readBytes(kSignature.size());
    if (!std::equal(sig.begin(), sig.end(), kSignature.begin())) {
        throw FormatError("header: no compound-file signature", 0);
    }
    major = u16At(kHeaderMajorVersion);
    const std::uint16_t byteOrder = u16At(kHeaderByteOrder);
    const std::uint16_t sectorShift = u16At(kHeaderSectorShift);
    const std::uint16_t miniShift = u16At(kHeaderMiniSectorShift);
    if (byteOrder != kByteOrderMark) {
        throw FormatError("header: byte order mark " + num(byteOrder) + ", expected 65534",
                          kHeaderByteOrder);
    }
    if (sectorShift != kSectorShiftVersion3 && sectorShift != kSectorShiftVersion4) {
        throw FormatError("header: sector shift " + num(sectorShift) + " is neither 9 nor 12",
                          kHeaderSectorShift);
    }
    if (miniShift != kMiniSectorShift) {
        throw FormatError("header: mini sector shift " + num(miniShift) + ", expected 6",
                          kHeaderMiniSectorShift);
    }
    sectorSize = 1u << sectorShift;
    Header h;
    h.fatSectors = u32At(kHeaderFatSectors);
    h.firstDirectorySector = u32At(kHeaderFirstDirectorySector);
    // The transaction signature is not used by readers.
    const std::uint32_t cutoff = u32At(kHeaderMiniStreamCutoff);
    h.firstMiniFatSector = u32At(kHeaderFirstMiniFatSector);
    h.miniFatSectors = u32At(kHeaderMiniFatSectors);
    h.firstDifatSector = u32At(kHeaderFirstDifatSector);
    h.difatSectors = u32At(kHeaderDifatSectors);
    if (cutoff != kMiniStreamCutoff) {
        throw FormatError("header: mini stream cutoff " + num(cutoff) + ", expected 4096",
                          kHeaderMiniStreamCutoff);
    }
    if (bytes.size() <= sectorSize) {
        throw FormatError("header: file of " + num(bytes.size()) + " bytes holds no sectors of " +
                              num(sectorSize) + " bytes",
                          bytes.size());
    }
    const std::size_t sectors = (bytes.size() - sectorSize + sectorSize - 1) / sectorSize;
    sectorCount = static_cast<std::uint32_t>(std::min<std::size_t>(sectors, kMaxRegSect));
    if (h.fatSectors > sectorCount) {
        throw FormatError("header: " + num(h.fatSectors) + " FAT sectors declared, the file has " +
                              num(sectorCount) + " sectors",
                          kHeaderFatSectors);
    }
    return h;
}

// The ids of the FAT sectors: the header's 109 DIFAT entries, then a chain of
// DIFAT sectors whose last entry links to the next one ([MS-CFB] 2.5).
void CompoundFile::Impl::readDifat(const Header& header) {
    std::vector<std::uint32_t>& ids = fatSectorIds;
    ids.reserve(header.fatSectors);
    common::ByteReader r(bytes);
    r.seek(kHeaderDifat);
    for (std::size_t i = 0; i < kHeaderDifatEntries && ids.size() < header.fatSectors; ++i) {
        ids.push_back(r.readU32());
    }
    if (ids.size() == header.fatSectors)
        return;
    if (header.difatSectors > sectorCount) {
        throw FormatError("header: " + num(header.difatSectors) +
                              " DIFAT sectors declared, the file has " + num(sectorCount) +
                              " sectors",
                          kHeaderDifatSectors);
    }
    const std::size_t perSector = sectorSize / 4 - 1;
    std::vector<bool> seen(sectorCount);
    std::uint32_t id = header.firstDifatSector;
    for (std::uint32_t n = 0; ids.size() < header.fatSectors; ++n) {
        if (n >= header.difatSectors || id >= sectorCount) {
            // At the link to the missing sector: the header's, or the last
            // id of the DIFAT sector before.
            throw FormatError(
                "DIFAT: " + num(ids.size()) + " of " + num(header.fatSectors) +
                    " FAT sector ids found before sector " + sectorName(id) + " (DIFAT sector " +
                    num(n) + " of " + num(header.difatSectors) + ")",
                difatSectorIds.empty() ? kHeaderFirstDifatSector
                                       : sectorOffset(difatSectorIds.back()) + sectorSize - 4);
        }
        if (seen[id]) {
            throw FormatError("DIFAT chain loops at sector " + num(id), sectorOffset(id));
        }
        seen[id] = true;
        difatSectorIds.push_back(id);
        common::ByteReader d(sectorBytes(id, sectorSize, "DIFAT"));
        for (std::size_t i = 0; i < perSector && ids.size() < header.fatSectors; ++i) {
            ids.push_back(d.readU32());
        }
        d.seek(sectorSize - 4);
        id = d.readU32();
    }
}

void CompoundFile::Impl::readFat() {
    const std::size_t perFatSector = sectorSize / 4;
    fat.reserve(std::min<std::size_t>(fatSectorIds.size() * perFatSector, sectorCount));
    for (std::size_t i = 0; i < fatSectorIds.size() && fat.size() < sectorCount; ++i) {
        const std::uint32_t id = fatSectorIds[i];
        if (id >= sectorCount) {
            throw FormatError("DIFAT: FAT sector " + num(i) + " is sector " + sectorName(id) +
                                  ", out of range (" + num(sectorCount) + " sectors)",
                              difatEntryOffset(i));
        }
        common::ByteReader f(sectorBytes(id, sectorSize, "FAT sector " + num(i)));
        for (std::size_t k = 0; k < perFatSector && fat.size() < sectorCount; ++k) {
            fat.push_back(f.readU32());
        }
    }
}

void CompoundFile::Impl::readMiniFat(const Header& header) {
    if (header.miniFatSectors == 0 || header.firstMiniFatSector == kEndOfChain)
        return;
    if (header.miniFatSectors > sectorCount) {
        throw FormatError("header: " + num(header.miniFatSectors) +
                              " mini FAT sectors declared, the file has " + num(sectorCount) +
                              " sectors",
                          kHeaderMiniFatSectors);
    }
    const std::size_t perFatSector = sectorSize / 4;
    miniFatSectorIds = fatChain({header.firstMiniFatSector, kHeaderFirstMiniFatSector},
                                "the mini FAT", header.miniFatSectors);
    miniFat.reserve(miniFatSectorIds.size() * perFatSector);
    for (std::uint32_t id : miniFatSectorIds) {
        common::ByteReader m(sectorBytes(id, sectorSize, "mini FAT"));
        for (std::size_t k = 0; k < perFatSector; ++k)
            miniFat.push_back(m.readU32());
    }
}

void CompoundFile::Impl::parseDirectory(std::uint32_t start) {
    directorySectorIds = fatChain({start, kHeaderFirstDirectorySector}, "the directory");
    const auto& chain = directorySectorIds;
    if (chain.empty()) {
        throw FormatError("directory: no sectors", kHeaderFirstDirectorySector);
    }
    const std::size_t perSector = sectorSize / kDirEntrySize;
    const std::size_t count = std::min(chain.size() * perSector, kMaxDirectoryEntries);
    entries.resize(count);
    rawNames.reserve(count * 31);
    keys.reserve(count * 31);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t sector = chain[i / perSector];
        const std::size_t off = (i % perSector) * kDirEntrySize;
        common::ByteReader d(sectorBytes(sector, off + kDirEntrySize, "directory").subspan(off));
        DirEntry& e = entries[i];
        d.seek(kEntryType);
        e.type = d.readU8();
        if (i == 0 && e.type != kTypeRoot) {
            throw FormatError(
                "directory: entry 0 has type " + num(e.type) + ", expected the root storage (5)",
                sectorOffset(sector) + off + kEntryType);
        }
        if (i > 0 && e.type != kTypeStorage && e.type != kTypeStream) {
            continue;  // unused: never part of the tree, its fields are not read
        }
        // The length counts the terminating NUL ([MS-CFB] 2.6.1); a damaged
        // length is clamped to the 64-byte field. Units before the terminator
        // are kept as they are, NULs included.
        d.seek(kEntryNameLength);
        const std::size_t nameLen = std::min<std::size_t>(d.readU16(), kEntryNameBytes) / 2;
        d.seek(kEntryName);
        const auto nameBytes = d.readBytes(kEntryNameBytes);
        e.nameOff = static_cast<std::uint32_t>(rawNames.size());
        for (std::size_t k = 0; k + 1 < nameLen; ++k) {
            const auto unit = static_cast<char16_t>(nameBytes[2 * k] | (nameBytes[2 * k + 1] << 8));
            rawNames.push_back(unit);
            keys.push_back(upperUnit(unit));
        }
        e.nameLen = static_cast<std::uint32_t>(rawNames.size() - e.nameOff);
        d.seek(kEntryLeft);
        e.left = d.readU32();
        d.seek(kEntryRight);
        e.right = d.readU32();
        d.seek(kEntryChild);
        e.child = d.readU32();
        d.seek(kEntryStart);
        e.start = d.readU32();
        d.seek(kEntrySize);
        e.size = d.readU64();
        if (sectorSize == 512) {
            // Version 3 writers may leave garbage in the high half ([MS-CFB]
            // 2.6.3); the sector size, not the version field, says which
            // layout the file really has.
            e.size &= 0xFFFFFFFFu;
        }
        // A storage has no size; the root's is its mini stream's.
        if (e.type == kTypeStorage)
            e.size = 0;
    }
}

// The mini stream is the root entry's stream. A damaged one only matters to
// the small streams that live past the damage; the fault is kept for them.
void CompoundFile::Impl::locateMiniStream() {
    const DirEntry& rootEntry = entries[0];
    if (rootEntry.size == 0 || miniFat.empty())
        return;
    // Small streams in the part before a break still read correctly.
    const std::uint64_t count = sectorsFor(rootEntry.size, sectorSize);
    miniStreamSectors = fatChain(
        streamStart(0), "the mini stream",
        static_cast<std::size_t>(std::min<std::uint64_t>(count, sectorCount)), &miniStreamFault);
    miniStreamSize = std::min<std::uint64_t>(rootEntry.size,
                                             std::uint64_t{miniStreamSectors.size()} * sectorSize);
}

void CompoundFile::Impl::buildTree() {
    children.assign(entries.size(), {});
    std::vector<bool> reached(entries.size());
    std::vector<std::uint32_t> depth(entries.size());
    reached[0] = true;
    // Storages to expand, each reached exactly once, so the work is bounded
    // by the number of entries.
    std::vector<std::uint32_t> storages{0};
    while (!storages.empty()) {
        const std::uint32_t parent = storages.back();
        storages.pop_back();
        std::vector<std::uint32_t>& kids = children[parent];
        // In-order walk of the siblings' tree: a well-formed tree yields the
        // names already sorted. The stack only holds entries reached for the
        // first time, so it is bounded by the number of entries.
        std::vector<std::uint32_t> stack;
        auto usable = [&](std::uint32_t id) {
            // A link past the directory leads nowhere, and an unused (or
            // unknown) entry is not part of the tree (its links are often
            // zeros); neither is followed, the rest of the tree stays usable.
            return id < entries.size() &&
                   (entries[id].type == kTypeStorage || entries[id].type == kTypeStream);
        };
        // linkAt: where the link to id is written (an entry's child, left
        // or right field).
        auto descend = [&](std::uint32_t id, std::size_t linkAt) {
            while (usable(id)) {
                const DirEntry& e = entries[id];
                if (reached[id]) {
                    throw FormatError("directory: entry " + num(id) + " (\"" + name(id) +
                                          "\") is reached twice; the tree under storage " +
                                          num(parent) + " loops",
                                      linkAt);
                }
                reached[id] = true;
                stack.push_back(id);
                linkAt = entryOffset(id) + kEntryLeft;
                id = e.left;
            }
        };
        descend(entries[parent].child, entryOffset(parent) + kEntryChild);
        while (!stack.empty()) {
            const std::uint32_t id = stack.back();
            stack.pop_back();
            kids.push_back(id);
            const DirEntry& e = entries[id];
            if (e.type == kTypeStorage) {
                if (depth[parent] + 1 > kMaxStorageDepth) {
                    throw FormatError("directory: storage " + num(id) + " (\"" + name(id) +
                                          "\") is nested deeper than " + num(kMaxStorageDepth) +
                                          " levels",
                                      entryOffset(id));
                }
                depth[id] = depth[parent] + 1;
                storages.push_back(id);
            }
            descend(e.right, entryOffset(id) + kEntryRight);
        }
        const auto byKey = [this](std::uint32_t a, std::uint32_t b) {
            return compareKeys(key(a), key(b)) < 0;
        };
        if (!std::is_sorted(kids.begin(), kids.end(), byKey)) {
            std::stable_sort(kids.begin(), kids.end(), byKey);
        }
    }
}

namespace {

class FileStorage : public Storage {
public:
    FileStorage(std::shared_ptr<const CompoundFile::Impl> file, std::uint32_t entry)
        : m_file(std::move(file)), m_entry(entry) {}

    std::vector<Element> elements() const override {
        std::vector<Element> out;
        const auto& kids = m_file->children[m_entry];
        out.reserve(kids.size());
        for (std::uint32_t id : kids) {
            const DirEntry& e = m_file->entries[id];
            out.push_back(Element{
                m_file->name(id),
                e.type == kTypeStorage ? ElementType::Storage : ElementType::Stream, e.size});
        }
        return out;
    }

    std::shared_ptr<const Storage> openStorage(std::string_view name) const override {
        const std::uint32_t id = find(name, kTypeStorage, "storage");
        return std::make_shared<FileStorage>(m_file, id);
    }

    std::vector<std::uint8_t> readStream(std::string_view name) const override {
        return m_file->readEntry(find(name, kTypeStream, "stream"));
    }

private:
    std::uint32_t find(std::string_view name, std::uint8_t type, const char* kind) const {
        std::u16string wanted = common::utf8ToUtf16(name);
        std::transform(wanted.begin(), wanted.end(), wanted.begin(), upperUnit);
        // Children are sorted by their keys, so the name is found by
        // bisection; equal names (a damaged file) are scanned for the type.
        const auto& kids = m_file->children[m_entry];
        const auto& entries = m_file->entries;
        auto it = std::lower_bound(kids.begin(), kids.end(), wanted,
                                   [&](std::uint32_t id, const std::u16string& w) {
                                       return compareKeys(m_file->key(id), w) < 0;
                                   });
        for (; it != kids.end() && m_file->key(*it) == std::u16string_view(wanted); ++it) {
            if (entries[*it].type == type)
                return *it;
        }
        throw FormatError(std::string("no ") + kind + " \"" + std::string(name) +
                              "\" in storage \"" + m_file->name(m_entry) + "\"",
                          0);
    }

    std::shared_ptr<const CompoundFile::Impl> m_file;
    std::uint32_t m_entry;
};

}  // namespace

bool CompoundFile::isCompoundFile(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kHeaderSize &&
           std::equal(kSignature.begin(), kSignature.end(), bytes.begin());
}

CompoundFile CompoundFile::open(std::vector<std::uint8_t> bytes) {
    return open(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
}

CompoundFile CompoundFile::open(std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    if (!bytes)
        throw std::invalid_argument("CompoundFile::open: no bytes");
    auto impl = std::make_shared<Impl>();
    impl->owner = std::move(bytes);
    impl->bytes = std::span<const std::uint8_t>(*impl->owner);
    impl->parse();
    return CompoundFile(std::move(impl));
}

CompoundFile CompoundFile::open(std::span<const std::uint8_t> bytes) {
    return open(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

CompoundFile CompoundFile::openFile(const std::string& path) {
    return open(common::readFileBytes(path, kMaxFileBytes));
}

std::shared_ptr<const Storage> CompoundFile::root() const {
    return std::make_shared<FileStorage>(m_impl, 0);
}

int CompoundFile::majorVersion() const {
    return m_impl->major;
}

}  // namespace cfb
