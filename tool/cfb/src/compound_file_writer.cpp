// Compound-file writer: an in-memory storage tree laid out as a version 3
// (512-byte sectors) or version 4 (4096-byte sectors) file. save() works in
// phases: the entries of the tree, the layout plan, the streams, the mini
// FAT, the directory, then the FAT, the header and the DIFAT. Sectors are
// given out in that order: mini stream, regular streams, mini FAT,
// directory, FAT, DIFAT.

#include "cfb_format.h"

#include <cfb/compound_file.h>
#include <common/text.h>

#include <algorithm>
#include <stdexcept>

namespace cfb {

using namespace format;

namespace {

struct OutEntry {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint8_t colour = 1;  // black
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::uint32_t start = kEndOfChain;
    std::uint64_t size = 0;
    const std::vector<std::uint8_t>* data = nullptr;
};

void put16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v) {
    b[off] = static_cast<std::uint8_t>(v);
    b[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v) {
    put32(b, off, static_cast<std::uint32_t>(v));
    put32(b, off + 4, static_cast<std::uint32_t>(v >> 32));
}

bool inMiniStream(const OutEntry& e) {
    return e.type == kTypeStream && e.size > 0 && e.size < kMiniStreamCutoff;
}

// The directory entries of a storage tree, root first, each storage's
// children after it.
struct Flattener {
    std::vector<OutEntry> entries;

    // A balanced search tree over ids[lo, hi); the deepest level is red, the
    // rest black, which satisfies the red-black rules because a middle split
    // leaves every empty link at the deepest or the next-deepest level.
    std::uint32_t balance(const std::vector<std::uint32_t>& ids, std::size_t lo, std::size_t hi,
                          int depth, int maxDepth) {
        if (lo >= hi)
            return kNoStream;
        const std::size_t mid = lo + (hi - lo) / 2;
        const std::uint32_t id = ids[mid];
        entries[id].colour = (depth == maxDepth && maxDepth > 0) ? 0 : 1;
        entries[id].left = balance(ids, lo, mid, depth + 1, maxDepth);
        entries[id].right = balance(ids, mid + 1, hi, depth + 1, maxDepth);
        return id;
    }

    void add(const MemoryStorage& storage, std::uint32_t self) {
        std::vector<std::uint32_t> kids;
        for (const Element& e : storage.elements()) {
            const auto id = static_cast<std::uint32_t>(entries.size());
            OutEntry out;
            out.name = common::utf8ToUtf16(e.name);
            out.type = e.type == ElementType::Storage ? kTypeStorage : kTypeStream;
            entries.push_back(std::move(out));
            kids.push_back(id);
        }
        int maxDepth = 0;
        while ((std::size_t{2} << maxDepth) - 1 < kids.size())
            ++maxDepth;
        entries[self].child = balance(kids, 0, kids.size(), 0, maxDepth);
        for (std::uint32_t id : kids) {
            const std::string name = common::utf16ToUtf8(entries[id].name);
            if (entries[id].type == kTypeStorage) {
                add(*std::static_pointer_cast<const MemoryStorage>(storage.openStorage(name)), id);
            } else {
                entries[id].data = storage.streamContent(name).get();
                entries[id].size = entries[id].data->size();
            }
        }
    }
};

std::vector<OutEntry> flatten(const MemoryStorage& root) {
    Flattener flat;
    OutEntry rootEntry;
    rootEntry.name = u"Root Entry";
    rootEntry.type = kTypeRoot;
    flat.entries.push_back(rootEntry);
    flat.add(root, 0);
    return std::move(flat.entries);
}

// How many sectors each part of the file takes.
struct Layout {
    int majorVersion = 3;
    std::uint32_t sectorSize = 512;
    std::uint32_t idsPerSector = 128;  // sector ids in a FAT, mini FAT or DIFAT sector
    std::uint64_t miniStreamBytes = 0;
    std::uint64_t miniStreamSectors = 0;
    std::uint64_t dataSectors = 0;
    std::uint64_t miniFatSectors = 0;
    std::uint64_t dirSectors = 0;
    std::uint64_t fatSectors = 0;
    std::uint64_t difatSectors = 0;
    std::uint64_t totalSectors = 0;
};

// Small streams go to the mini stream (each given its first mini sector
// here), the rest to sectors of their own. The FAT must map itself and the
// DIFAT sectors too, so their counts are found by iterating to a fixed point.
Layout planLayout(std::vector<OutEntry>& entries, int majorVersion) {
    Layout plan;
    plan.majorVersion = majorVersion;
    plan.sectorSize = majorVersion == 3 ? 512 : 4096;
    plan.idsPerSector = plan.sectorSize / 4;
    const std::uint64_t perSector = plan.idsPerSector;
    std::uint64_t miniSectors = 0;
    for (auto& e : entries) {
        if (e.type != kTypeStream || e.size == 0)
            continue;
        if (e.size < kMiniStreamCutoff) {
            e.start = static_cast<std::uint32_t>(miniSectors);
            miniSectors += (e.size + kMiniSectorSize - 1) / kMiniSectorSize;
        } else {
            plan.dataSectors += (e.size + plan.sectorSize - 1) / plan.sectorSize;
        }
    }
    plan.miniStreamBytes = miniSectors * kMiniSectorSize;
    plan.miniStreamSectors = (plan.miniStreamBytes + plan.sectorSize - 1) / plan.sectorSize;
    plan.miniFatSectors = (miniSectors + perSector - 1) / perSector;
    plan.dirSectors = (entries.size() * kDirEntrySize + plan.sectorSize - 1) / plan.sectorSize;
    const std::uint64_t fixed =
        plan.miniStreamSectors + plan.dataSectors + plan.miniFatSectors + plan.dirSectors;
    while (true) {
        const std::uint64_t total = fixed + plan.fatSectors + plan.difatSectors;
        const std::uint64_t needFat = (total + perSector - 1) / perSector;
        const std::uint64_t needDifat =
            needFat > kHeaderDifatEntries
                ? (needFat - kHeaderDifatEntries + perSector - 2) / (perSector - 1)
                : 0;
        if (needFat == plan.fatSectors && needDifat == plan.difatSectors)
            break;
        plan.fatSectors = needFat;
        plan.difatSectors = needDifat;
    }
    plan.totalSectors = fixed + plan.fatSectors + plan.difatSectors;
    if (plan.totalSectors >= kMaxRegSect)
        throw std::length_error("compound file too large");
    return plan;
}

// The file being written: its bytes, its FAT, and the next sector to give out.
struct Output {
    explicit Output(const Layout& plan)
        : sectorSize(plan.sectorSize),
          bytes((plan.totalSectors + 1) * plan.sectorSize, 0),
          fat(plan.fatSectors * plan.idsPerSector, kFreeSect) {}

    // Gives out the next count sectors as one chain; ENDOFCHAIN for none.
    std::uint32_t chain(std::uint64_t count) {
        const std::uint32_t first = next;
        for (std::uint64_t i = 0; i < count; ++i, ++next) {
            fat[next] = (i + 1 == count) ? kEndOfChain : next + 1;
        }
        return count == 0 ? kEndOfChain : first;
    }
    std::size_t sectorAt(std::uint32_t id) const { return (std::size_t{id} + 1) * sectorSize; }

    std::uint32_t sectorSize;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> fat;
    std::uint32_t next = 0;
};

// The mini stream (the root entry's stream) and every regular stream; gives
// each regular stream its start sector.
void writeStreams(Output& out, std::vector<OutEntry>& entries, const Layout& plan) {
    const std::uint32_t miniStreamStart = out.chain(plan.miniStreamSectors);
    entries[0].start = miniStreamStart;
    entries[0].size = plan.miniStreamBytes;
    for (auto& e : entries) {
        if (e.type != kTypeStream || e.size == 0) {
            if (e.type == kTypeStream)
                e.start = kEndOfChain;
            continue;
        }
        std::size_t at = 0;
        if (e.size < kMiniStreamCutoff) {
            at = out.sectorAt(miniStreamStart) + std::size_t{e.start} * kMiniSectorSize;
        } else {
            e.start = out.chain((e.size + plan.sectorSize - 1) / plan.sectorSize);
            at = out.sectorAt(e.start);
        }
        std::copy(e.data->begin(), e.data->end(),
                  out.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

// The mini FAT: each small stream's mini sectors chained in order. Returns
// its first sector.
std::uint32_t writeMiniFat(Output& out, const std::vector<OutEntry>& entries, const Layout& plan) {
    const std::uint32_t miniFatStart = out.chain(plan.miniFatSectors);
    std::vector<std::uint32_t> miniFat(plan.miniFatSectors * plan.idsPerSector, kFreeSect);
    for (const auto& e : entries) {
        if (!inMiniStream(e))
            continue;
        const std::uint64_t n = (e.size + kMiniSectorSize - 1) / kMiniSectorSize;
        for (std::uint64_t i = 0; i < n; ++i) {
            miniFat[e.start + i] =
                (i + 1 == n) ? kEndOfChain : static_cast<std::uint32_t>(e.start + i + 1);
        }
    }
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        put32(out.bytes, out.sectorAt(miniFatStart) + 4 * i, miniFat[i]);
    return miniFatStart;
}

// The directory: one entry per element, then unused entries to the end of
// the last sector. Returns its first sector.
std::uint32_t writeDirectory(Output& out, const std::vector<OutEntry>& entries,
                             const Layout& plan) {
    const std::uint32_t dirStart = out.chain(plan.dirSectors);
    auto& b = out.bytes;
    for (std::size_t i = 0; i < plan.dirSectors * (plan.sectorSize / kDirEntrySize); ++i) {
        const std::size_t off = out.sectorAt(dirStart) + i * kDirEntrySize;
        if (i >= entries.size()) {
            put32(b, off + kEntryLeft, kNoStream);
            put32(b, off + kEntryRight, kNoStream);
            put32(b, off + kEntryChild, kNoStream);
            continue;
        }
        const OutEntry& e = entries[i];
        for (std::size_t k = 0; k < e.name.size(); ++k)
            put16(b, off + kEntryName + 2 * k, e.name[k]);
        put16(b, off + kEntryNameLength, static_cast<std::uint16_t>((e.name.size() + 1) * 2));
        b[off + kEntryType] = e.type;
        b[off + kEntryColour] = e.type == kTypeRoot ? 1 : e.colour;
        put32(b, off + kEntryLeft, e.left);
        put32(b, off + kEntryRight, e.right);
        put32(b, off + kEntryChild, e.child);
        put32(b, off + kEntryStart, e.type == kTypeStorage ? 0 : e.start);
        put64(b, off + kEntrySize, e.size);
    }
    return dirStart;
}

// The FAT sectors and the DIFAT sectors that list them (beyond the header's
// 109 entries), the FAT itself, and the header.
void writeFatHeaderDifat(Output& out, const Layout& plan, std::uint32_t miniFatStart,
                         std::uint32_t dirStart) {
    const std::uint32_t fatStart = out.next;
    for (std::uint64_t i = 0; i < plan.fatSectors; ++i)
        out.fat[out.next++] = kFatSect;
    const std::uint32_t difatStart = out.next;
    for (std::uint64_t i = 0; i < plan.difatSectors; ++i)
        out.fat[out.next++] = kDifSect;
    auto& b = out.bytes;
    for (std::size_t i = 0; i < out.fat.size(); ++i)
        put32(b, out.sectorAt(fatStart) + 4 * i, out.fat[i]);

    const bool version3 = plan.majorVersion == 3;
    std::copy(kSignature.begin(), kSignature.end(), b.begin());
    put16(b, kHeaderMinorVersion, kMinorVersion);
    put16(b, kHeaderMajorVersion, static_cast<std::uint16_t>(plan.majorVersion));
    put16(b, kHeaderByteOrder, kByteOrderMark);
    put16(b, kHeaderSectorShift, version3 ? kSectorShiftVersion3 : kSectorShiftVersion4);
    put16(b, kHeaderMiniSectorShift, kMiniSectorShift);
    // Version 3 leaves the directory sector count 0 ([MS-CFB] 2.2).
    put32(b, kHeaderDirectorySectors, version3 ? 0 : static_cast<std::uint32_t>(plan.dirSectors));
    put32(b, kHeaderFatSectors, static_cast<std::uint32_t>(plan.fatSectors));
    put32(b, kHeaderFirstDirectorySector, dirStart);
    put32(b, kHeaderMiniStreamCutoff, static_cast<std::uint32_t>(kMiniStreamCutoff));
    put32(b, kHeaderFirstMiniFatSector, plan.miniFatSectors ? miniFatStart : kEndOfChain);
    put32(b, kHeaderMiniFatSectors, static_cast<std::uint32_t>(plan.miniFatSectors));
    put32(b, kHeaderFirstDifatSector, plan.difatSectors ? difatStart : kEndOfChain);
    put32(b, kHeaderDifatSectors, static_cast<std::uint32_t>(plan.difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i) {
        put32(b, kHeaderDifat + 4 * i,
              i < plan.fatSectors ? fatStart + static_cast<std::uint32_t>(i) : kFreeSect);
    }
    const std::size_t perDifat = plan.idsPerSector - 1;  // the last id links to the next
    for (std::uint64_t d = 0; d < plan.difatSectors; ++d) {
        const std::size_t off = out.sectorAt(difatStart + static_cast<std::uint32_t>(d));
        for (std::size_t k = 0; k < perDifat; ++k) {
            const std::uint64_t idx = kHeaderDifatEntries + d * perDifat + k;
            put32(b, off + 4 * k,
                  idx < plan.fatSectors ? fatStart + static_cast<std::uint32_t>(idx) : kFreeSect);
        }
        put32(b, off + 4 * perDifat,
              d + 1 < plan.difatSectors ? difatStart + static_cast<std::uint32_t>(d + 1)
                                        : kEndOfChain);
    }
}

}  // namespace

std::vector<std::uint8_t> MemoryCompoundFile::save(int majorVersion) const {
    if (majorVersion != 3 && majorVersion != 4) {
        throw std::invalid_argument("compound-file version " + std::to_string(majorVersion) +
                                    " is neither 3 nor 4");
    }
    std::vector<OutEntry> entries = flatten(*m_root);
    const Layout plan = planLayout(entries, majorVersion);
    Output out(plan);
    writeStreams(out, entries, plan);
    const std::uint32_t miniFatStart = writeMiniFat(out, entries, plan);
    const std::uint32_t dirStart = writeDirectory(out, entries, plan);
    writeFatHeaderDifat(out, plan, miniFatStart, dirStart);
    return std::move(out.bytes);
}

}  // namespace cfb
