// Compound-file reader and writer, after [MS-CFB].

#include <cfb/compound_file.h>
#include <common/file_bytes.h>
#include <common/text.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace cfb {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint64_t kMiniStreamCutoff = 4096;
// Storages nested deeper than this are refused, so that recursive copies and
// walks of a hostile file cannot exhaust the stack.
constexpr std::uint32_t kMaxStorageDepth = 256;

// Special sector ids ([MS-CFB] 2.1).
constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;

std::string num(std::uint64_t v) {
    return std::to_string(v);
}

// Sectors needed for n bytes, without the overflow of (n + size - 1) / size
// when n comes from the file and may be close to 2^64.
std::uint64_t sectorsFor(std::uint64_t n, std::uint64_t size) {
    return n / size + (n % size != 0);
}

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

char16_t upperUnit(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 32);
    return c;
}

// Orders upper-cased keys: length first, then unit by unit.
int compareKeys(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int compareUnits(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t x = upperUnit(a[i]);
        const char16_t y = upperUnit(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace

int compareNames(std::string_view a, std::string_view b) {
    const auto ascii = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    if (ascii(a) && ascii(b)) {
        // One byte is one UTF-16 unit: compare without converting.
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const char16_t x = upperUnit(static_cast<char16_t>(a[i]));
            const char16_t y = upperUnit(static_cast<char16_t>(b[i]));
            if (x != y)
                return x < y ? -1 : 1;
        }
        return 0;
    }
    return compareUnits(common::utf8ToUtf16(a), common::utf8ToUtf16(b));
}

// ---------------------------------------------------------------------------
// Reader

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
    std::vector<std::uint32_t> fat;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint32_t> miniStreamSectors;  // regular sectors of the mini stream
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

    // Bytes [offset, offset+n) of sector id; the sector must exist in the
    // file at least that far.
    std::span<const std::uint8_t> sectorBytes(std::uint32_t id, std::size_t n,
                                              const std::string& what) const {
        const std::size_t off = sectorOffset(id);
        if (off > bytes.size() || n > bytes.size() - off) {
            throw FormatError(what + ": sector " + num(id) + " lies beyond the end of the file (" +
                                  num(bytes.size()) + " bytes)",
                              std::min(off, bytes.size()));
        }
        return bytes.subspan(off, n);
    }

    // Follows a FAT chain from start. Stops after maxSectors sectors when
    // maxSectors is given; otherwise runs to ENDOFCHAIN. Loops and bad ids
    // are errors naming `what`.
    // With `fault` given, a broken chain is not thrown: the sectors before
    // the break are returned and *fault says what broke.
    std::vector<std::uint32_t> fatChain(std::uint32_t start, const std::string& what,
                                        std::size_t maxSectors = SIZE_MAX,
                                        std::string* fault = nullptr) const {
        std::vector<std::uint32_t> chain;
        std::vector<bool> seen(fat.size());
        std::uint32_t id = start;
        while (id != kEndOfChain && chain.size() < maxSectors) {
            if (fault != nullptr) {
                try {
                    checkLink(id, what, chain.size(), seen);
                } catch (const FormatError& e) {
                    *fault = e.what();
                    return chain;
                }
            } else {
                checkLink(id, what, chain.size(), seen);
            }
            seen[id] = true;
            chain.push_back(id);
            id = fat[id];
        }
        return chain;
    }

    void checkLink(std::uint32_t id, const std::string& what, std::size_t steps,
                   const std::vector<bool>& seen) const {
        {
            if (id > kMaxRegSect) {
                throw FormatError("FAT chain of " + what + " holds " + sectorName(id) + " after " +
                                      num(steps) + " sectors",
                                  0);
            }
            if (id >= fat.size() || id >= sectorCount) {
                throw FormatError(
                    "FAT chain of " + what + ": sector " + num(id) + " out of range (" +
                        num(std::min<std::size_t>(fat.size(), sectorCount)) + " sectors)",
                    0);
            }
            if (seen[id]) {
                throw FormatError("FAT chain of " + what + " loops at sector " + num(id),
                                  sectorOffset(id));
            }
        }
    }

    std::vector<std::uint32_t> miniChain(std::uint32_t start, const std::string& what,
                                         std::size_t count) const {
        const std::size_t miniCount =
            std::min<std::size_t>(miniFat.size(), miniStreamSize / kMiniSectorSize);
        std::vector<std::uint32_t> chain;
        chain.reserve(count);
        std::vector<bool> seen(miniCount);
        std::uint32_t id = start;
        while (chain.size() < count) {
            if (id == kEndOfChain) {
                throw FormatError("mini FAT chain of " + what + " ends after " + num(chain.size()) +
                                      " mini sectors, " + num(count) + " needed",
                                  0);
            }
            if (id >= miniCount) {
                throw FormatError("mini FAT chain of " + what + ": mini sector " + sectorName(id) +
                                      " out of range (" + num(miniCount) + " mini sectors" +
                                      (miniStreamFault.empty() ? "" : "; " + miniStreamFault) + ")",
                                  0);
            }
            if (seen[id]) {
                throw FormatError("mini FAT chain of " + what + " loops at mini sector " + num(id),
                                  0);
            }
            seen[id] = true;
            chain.push_back(id);
            id = miniFat[id];
        }
        return chain;
    }

    std::vector<std::uint8_t> readEntry(std::uint32_t entryId) const {
        const DirEntry& e = entries[entryId];
        const std::string what = "stream " + num(entryId) + " (\"" + name(entryId) + "\")";
        const std::uint64_t size = e.size;
        if (size == 0)
            return {};
        if (size < kMiniStreamCutoff) {
            const std::size_t count = (size + kMiniSectorSize - 1) / kMiniSectorSize;
            const auto chain = miniChain(e.start, what, count);
            std::vector<std::uint8_t> out;
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
                              0);
        }
        const auto chain = fatChain(e.start, what, static_cast<std::size_t>(count));
        if (chain.size() < count) {
            throw FormatError(what + " declares " + num(size) +
                                  " bytes but its FAT chain ends after " + num(chain.size()) +
                                  " sectors",
                              0);
        }
        std::vector<std::uint8_t> out;
        out.reserve(size);
        for (std::uint32_t sector : chain) {
            const std::size_t n = std::min<std::uint64_t>(sectorSize, size - out.size());
            const auto data = sectorBytes(sector, n, what);
            out.insert(out.end(), data.begin(), data.end());
        }
        return out;
    }

    void parse();
    void parseDirectory(std::uint32_t start);
    void buildTree();
};

void CompoundFile::Impl::parse() {
    if (bytes.size() < kHeaderSize) {
        throw FormatError(
            "header: file of " + num(bytes.size()) + " bytes is shorter than the 512-byte header",
            0);
    }
    common::ByteReader r(bytes);
    const auto sig = r.readBytes(8);
    if (!std::equal(sig.begin(), sig.end(), kSignature.begin())) {
        throw FormatError("header: no compound-file signature", 0);
    }
    r.seek(0x1A);
    major = r.readU16();
    const std::uint16_t byteOrder = r.readU16();
    const std::uint16_t sectorShift = r.readU16();
    const std::uint16_t miniShift = r.readU16();
    if (byteOrder != 0xFFFE) {
        throw FormatError("header: byte order mark " + num(byteOrder) + ", expected 65534", 0x1C);
    }
    if (sectorShift != 9 && sectorShift != 12) {
        throw FormatError("header: sector shift " + num(sectorShift) + " is neither 9 nor 12",
                          0x1E);
    }
    if (miniShift != 6) {
        throw FormatError("header: mini sector shift " + num(miniShift) + ", expected 6", 0x20);
    }
    sectorSize = 1u << sectorShift;
    r.seek(0x2C);
    const std::uint32_t fatSectorCount = r.readU32();
    const std::uint32_t dirStart = r.readU32();
    r.skip(4);  // transaction signature: not used by readers
    const std::uint32_t cutoff = r.readU32();
    const std::uint32_t miniFatStart = r.readU32();
    const std::uint32_t miniFatCount = r.readU32();
    const std::uint32_t difatStart = r.readU32();
    const std::uint32_t difatCount = r.readU32();
    if (cutoff != kMiniStreamCutoff) {
        throw FormatError("header: mini stream cutoff " + num(cutoff) + ", expected 4096", 0x38);
    }
    if (bytes.size() <= sectorSize) {
        throw FormatError("header: file of " + num(bytes.size()) + " bytes holds no sectors of " +
                              num(sectorSize) + " bytes",
                          0);
    }
    const std::size_t sectors = (bytes.size() - sectorSize + sectorSize - 1) / sectorSize;
    sectorCount = static_cast<std::uint32_t>(std::min<std::size_t>(sectors, kMaxRegSect));
    if (fatSectorCount > sectorCount) {
        throw FormatError("header: " + num(fatSectorCount) +
                              " FAT sectors declared, the file has " + num(sectorCount) +
                              " sectors",
                          0x2C);
    }

    // DIFAT: the header's 109 entries, then a chain of DIFAT sectors whose last
    // entry links to the next one ([MS-CFB] 2.5).
    std::vector<std::uint32_t> fatSectors;
    fatSectors.reserve(fatSectorCount);
    r.seek(0x4C);
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatSectorCount; ++i) {
        fatSectors.push_back(r.readU32());
    }
    if (fatSectors.size() < fatSectorCount) {
        if (difatCount > sectorCount) {
            throw FormatError("header: " + num(difatCount) +
                                  " DIFAT sectors declared, the file has " + num(sectorCount) +
                                  " sectors",
                              0x48);
        }
        const std::size_t perSector = sectorSize / 4 - 1;
        std::vector<bool> seen(sectorCount);
        std::uint32_t id = difatStart;
        for (std::uint32_t n = 0; fatSectors.size() < fatSectorCount; ++n) {
            if (n >= difatCount || id >= sectorCount) {
                throw FormatError("DIFAT: " + num(fatSectors.size()) + " of " +
                                      num(fatSectorCount) + " FAT sector ids found before sector " +
                                      sectorName(id) + " (DIFAT sector " + num(n) + " of " +
                                      num(difatCount) + ")",
                                  0x44);
            }
            if (seen[id]) {
                throw FormatError("DIFAT chain loops at sector " + num(id), sectorOffset(id));
            }
            seen[id] = true;
            common::ByteReader d(sectorBytes(id, sectorSize, "DIFAT"));
            for (std::size_t i = 0; i < perSector && fatSectors.size() < fatSectorCount; ++i) {
                fatSectors.push_back(d.readU32());
            }
            d.seek(sectorSize - 4);
            id = d.readU32();
        }
    }
    const std::size_t perFatSector = sectorSize / 4;
    fat.reserve(std::min<std::size_t>(fatSectors.size() * perFatSector, sectorCount));
    for (std::size_t i = 0; i < fatSectors.size() && fat.size() < sectorCount; ++i) {
        const std::uint32_t id = fatSectors[i];
        if (id >= sectorCount) {
            throw FormatError("DIFAT: FAT sector " + num(i) + " is sector " + sectorName(id) +
                                  ", out of range (" + num(sectorCount) + " sectors)",
                              0);
        }
        common::ByteReader f(sectorBytes(id, sectorSize, "FAT sector " + num(i)));
        for (std::size_t k = 0; k < perFatSector && fat.size() < sectorCount; ++k) {
            fat.push_back(f.readU32());
        }
    }

    // Mini FAT.
    if (miniFatCount > 0 && miniFatStart != kEndOfChain) {
        if (miniFatCount > sectorCount) {
            throw FormatError("header: " + num(miniFatCount) +
                                  " mini FAT sectors declared, the file has " + num(sectorCount) +
                                  " sectors",
                              0x40);
        }
        const auto chain = fatChain(miniFatStart, "the mini FAT", miniFatCount);
        miniFat.reserve(chain.size() * perFatSector);
        for (std::uint32_t id : chain) {
            common::ByteReader m(sectorBytes(id, sectorSize, "mini FAT"));
            for (std::size_t k = 0; k < perFatSector; ++k)
                miniFat.push_back(m.readU32());
        }
    }

    parseDirectory(dirStart);

    // The mini stream is the root entry's stream. A damaged one only matters
    // to the small streams that live past the damage; the fault is kept for them.
    const DirEntry& rootEntry = entries[0];
    if (rootEntry.size > 0 && !miniFat.empty()) {
        // Small streams in the part before a break still read correctly.
        const std::uint64_t count = sectorsFor(rootEntry.size, sectorSize);
        miniStreamSectors =
            fatChain(rootEntry.start, "the mini stream",
                     static_cast<std::size_t>(std::min<std::uint64_t>(count, sectorCount)),
                     &miniStreamFault);
        miniStreamSize = std::min<std::uint64_t>(
            rootEntry.size, std::uint64_t{miniStreamSectors.size()} * sectorSize);
    }
    buildTree();
}

void CompoundFile::Impl::parseDirectory(std::uint32_t start) {
    const auto chain = fatChain(start, "the directory");
    if (chain.empty()) {
        throw FormatError("directory: no sectors", 0x30);
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
        const auto nameBytes = d.readBytes(64);
        std::size_t nameLen = d.readU16();
        e.type = d.readU8();
        if (i > 0 && e.type != kTypeStorage && e.type != kTypeStream) {
            continue;  // unused: never part of the tree, its fields are not read
        }
        // The length counts the terminating NUL ([MS-CFB] 2.6.1); a damaged
        // length is clamped to the 64-byte field. Units before the terminator
        // are kept as they are, NULs included.
        nameLen = std::min<std::size_t>(nameLen, 64) / 2;
        e.nameOff = static_cast<std::uint32_t>(rawNames.size());
        for (std::size_t k = 0; k + 1 < nameLen; ++k) {
            const auto unit = static_cast<char16_t>(nameBytes[2 * k] | (nameBytes[2 * k + 1] << 8));
            rawNames.push_back(unit);
            keys.push_back(upperUnit(unit));
        }
        e.nameLen = static_cast<std::uint32_t>(rawNames.size() - e.nameOff);
        d.skip(1);  // colour
        e.left = d.readU32();
        e.right = d.readU32();
        e.child = d.readU32();
        d.skip(16 + 4 + 8 + 8);  // CLSID, state bits, times
        e.start = d.readU32();
        e.size = d.readU64();
        if (sectorSize == 512) {
            // Version 3 writers may leave garbage in the high half ([MS-CFB]
            // 2.6.3); the sector size, not the version field, says which
            // layout the file really has.
            e.size &= 0xFFFFFFFFu;
        }
        if (e.type == kTypeStorage || e.type == kTypeRoot)
            e.size = 0;
        if (i == 0) {
            if (e.type != kTypeRoot) {
                throw FormatError("directory: entry 0 has type " + num(e.type) +
                                      ", expected the root storage (5)",
                                  sectorOffset(sector) + off + 66);
            }
            // The root's size is its mini stream's size.
            common::ByteReader s(
                sectorBytes(sector, off + kDirEntrySize, "directory").subspan(off));
            s.seek(120);
            e.size = s.readU64();
            if (sectorSize == 512)
                e.size &= 0xFFFFFFFFu;
        }
    }
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
        auto descend = [&](std::uint32_t id) {
            while (usable(id)) {
                const DirEntry& e = entries[id];
                if (reached[id]) {
                    throw FormatError("directory: entry " + num(id) + " (\"" + name(id) +
                                          "\") is reached twice; the tree under storage " +
                                          num(parent) + " loops",
                                      0);
                }
                reached[id] = true;
                stack.push_back(id);
                id = e.left;
            }
        };
        descend(entries[parent].child);
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
                                      0);
                }
                depth[id] = depth[parent] + 1;
                storages.push_back(id);
            }
            descend(e.right);
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

// ---------------------------------------------------------------------------
// In-memory storage

namespace {

void checkName(std::string_view name) {
    const std::u16string units = common::utf8ToUtf16(name);
    if (units.empty() || units.size() > 31) {
        throw std::invalid_argument("element name \"" + std::string(name) +
                                    "\" must have 1 to 31 UTF-16 code units");
    }
    for (char16_t c : units) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!') {
            throw std::invalid_argument("element name \"" + std::string(name) +
                                        "\" holds a character not allowed in names");
        }
    }
}

}  // namespace

std::vector<Element> MemoryStorage::elements() const {
    // Both maps are in name order: merge them.
    std::vector<Element> out;
    out.reserve(m_storages.size() + m_streams.size());
    auto st = m_storages.begin();
    auto sm = m_streams.begin();
    while (st != m_storages.end() || sm != m_streams.end()) {
        if (sm == m_streams.end() ||
            (st != m_storages.end() && compareNames(st->first, sm->first) <= 0)) {
            out.push_back({st->first, ElementType::Storage, 0});
            ++st;
        } else {
            out.push_back({sm->first, ElementType::Stream, sm->second->size()});
            ++sm;
        }
    }
    return out;
}

std::shared_ptr<const Storage> MemoryStorage::openStorage(std::string_view name) const {
    const auto it = m_storages.find(std::string(name));
    if (it == m_storages.end()) {
        throw FormatError("no storage \"" + std::string(name) + "\"", 0);
    }
    return it->second;
}

std::vector<std::uint8_t> MemoryStorage::readStream(std::string_view name) const {
    const auto it = m_streams.find(std::string(name));
    if (it == m_streams.end()) {
        throw FormatError("no stream \"" + std::string(name) + "\"", 0);
    }
    return *it->second;
}

MemoryStorage& MemoryStorage::createStorage(std::string_view name) {
    checkName(name);
    const std::string key(name);
    m_streams.erase(key);
    auto& slot = m_storages[key];
    slot = std::make_shared<MemoryStorage>();
    return *slot;
}

void MemoryStorage::writeStream(std::string_view name, std::vector<std::uint8_t> content) {
    checkName(name);
    const std::string key(name);
    m_storages.erase(key);
    m_streams[key] = std::make_shared<const std::vector<std::uint8_t>>(std::move(content));
}

void MemoryStorage::destroyElement(std::string_view name) {
    const std::string key(name);
    if (m_storages.erase(key) == 0 && m_streams.erase(key) == 0) {
        throw std::invalid_argument("no element \"" + key + "\" to destroy");
    }
}

std::shared_ptr<const std::vector<std::uint8_t>> MemoryStorage::streamContent(
    std::string_view name) const {
    const auto it = m_streams.find(std::string(name));
    return it == m_streams.end() ? nullptr : it->second;
}

MemoryStorage* MemoryStorage::storage(std::string_view name) {
    const auto it = m_storages.find(std::string(name));
    return it == m_storages.end() ? nullptr : it->second.get();
}

void MemoryStorage::copyFrom(const Storage& source) {
    // Into an empty storage (every copy the message model makes) the source's
    // elements arrive in name order and go in at the end of each map.
    const bool fresh = m_storages.empty() && m_streams.empty();
    for (const Element& e : source.elements()) {
        try {
            checkName(e.name);
        } catch (const std::invalid_argument& bad) {
            // A name another writer let through but the format forbids.
            throw FormatError(std::string("cannot copy: ") + bad.what(), 0);
        }
        if (!fresh) {
            if (e.type == ElementType::Storage) {
                createStorage(e.name).copyFrom(*source.openStorage(e.name));
            } else {
                writeStream(e.name, source.readStream(e.name));
            }
            continue;
        }
        if (e.type == ElementType::Storage) {
            auto child = std::make_shared<MemoryStorage>();
            child->copyFrom(*source.openStorage(e.name));
            m_storages.emplace_hint(m_storages.end(), e.name, std::move(child));
        } else {
            m_streams.emplace_hint(
                m_streams.end(), e.name,
                std::make_shared<const std::vector<std::uint8_t>>(source.readStream(e.name)));
        }
    }
}

// ---------------------------------------------------------------------------
// Writer: version 3 (512-byte sectors) or 4 (4096-byte sectors).

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
                entries[id].data = streamData(storage, name);
                entries[id].size = entries[id].data->size();
            }
        }
    }

    static const std::vector<std::uint8_t>* streamData(const MemoryStorage& s,
                                                       const std::string& name);
};

}  // namespace

const std::vector<std::uint8_t>* Flattener::streamData(const MemoryStorage& s,
                                                       const std::string& name) {
    return s.streamContent(name).get();
}

std::vector<std::uint8_t> MemoryCompoundFile::save(int majorVersion) const {
    if (majorVersion != 3 && majorVersion != 4) {
        throw std::invalid_argument("compound-file version " + std::to_string(majorVersion) +
                                    " is neither 3 nor 4");
    }
    const std::uint32_t kOutSectorSize = majorVersion == 3 ? 512 : 4096;
    const std::uint32_t kFatPerSector = kOutSectorSize / 4;
    Flattener flat;
    OutEntry rootEntry;
    rootEntry.name = u"Root Entry";
    rootEntry.type = kTypeRoot;
    flat.entries.push_back(rootEntry);
    flat.add(*m_root, 0);
    auto& entries = flat.entries;

    // Small streams go to the mini stream, the rest to sectors of their own.
    std::uint64_t miniSectors = 0;
    std::uint64_t dataSectors = 0;
    for (auto& e : entries) {
        if (e.type != kTypeStream || e.size == 0)
            continue;
        if (e.size < kMiniStreamCutoff) {
            e.start = static_cast<std::uint32_t>(miniSectors);
            miniSectors += (e.size + kMiniSectorSize - 1) / kMiniSectorSize;
        } else {
            dataSectors += (e.size + kOutSectorSize - 1) / kOutSectorSize;
        }
    }
    const std::uint64_t miniStreamBytes = miniSectors * kMiniSectorSize;
    const std::uint64_t miniStreamSectors = (miniStreamBytes + kOutSectorSize - 1) / kOutSectorSize;
    const std::uint64_t miniFatSectors = (miniSectors + kFatPerSector - 1) / kFatPerSector;
    const std::uint64_t dirSectors =
        (entries.size() * kDirEntrySize + kOutSectorSize - 1) / kOutSectorSize;
    const std::uint64_t fixed = miniStreamSectors + dataSectors + miniFatSectors + dirSectors;
    std::uint64_t fatSectors = 0, difatSectors = 0;
    while (true) {
        const std::uint64_t total = fixed + fatSectors + difatSectors;
        const std::uint64_t needFat = (total + kFatPerSector - 1) / kFatPerSector;
        const std::uint64_t needDifat =
            needFat > kHeaderDifatEntries
                ? (needFat - kHeaderDifatEntries + kFatPerSector - 2) / (kFatPerSector - 1)
                : 0;
        if (needFat == fatSectors && needDifat == difatSectors)
            break;
        fatSectors = needFat;
        difatSectors = needDifat;
    }
    const std::uint64_t totalSectors = fixed + fatSectors + difatSectors;
    if (totalSectors >= kMaxRegSect)
        throw std::length_error("compound file too large");

    std::vector<std::uint8_t> out((totalSectors + 1) * kOutSectorSize, 0);
    std::vector<std::uint32_t> fat(fatSectors * kFatPerSector, kFreeSect);
    std::uint32_t next = 0;
    auto chain = [&](std::uint64_t count) {
        const std::uint32_t first = next;
        for (std::uint64_t i = 0; i < count; ++i, ++next) {
            fat[next] = (i + 1 == count) ? kEndOfChain : next + 1;
        }
        return count == 0 ? kEndOfChain : first;
    };
    auto sectorAt = [&](std::uint32_t id) { return (std::size_t{id} + 1) * kOutSectorSize; };

    const std::uint32_t miniStreamStart = chain(miniStreamSectors);
    entries[0].start = miniStreamStart;
    entries[0].size = miniStreamBytes;
    for (auto& e : entries) {
        if (e.type != kTypeStream || e.size == 0) {
            if (e.type == kTypeStream)
                e.start = kEndOfChain;
            continue;
        }
        if (e.size < kMiniStreamCutoff) {
            const std::size_t off =
                sectorAt(miniStreamStart) + std::size_t{e.start} * kMiniSectorSize;
            std::copy(e.data->begin(), e.data->end(),
                      out.begin() + static_cast<std::ptrdiff_t>(off));
        } else {
            e.start = chain((e.size + kOutSectorSize - 1) / kOutSectorSize);
            std::copy(e.data->begin(), e.data->end(),
                      out.begin() + static_cast<std::ptrdiff_t>(sectorAt(e.start)));
        }
    }
    const std::uint32_t miniFatStart = chain(miniFatSectors);
    {
        std::vector<std::uint32_t> miniFat(miniFatSectors * kFatPerSector, kFreeSect);
        for (const auto& e : entries) {
            if (e.type != kTypeStream || e.size == 0 || e.size >= kMiniStreamCutoff)
                continue;
            const std::uint64_t n = (e.size + kMiniSectorSize - 1) / kMiniSectorSize;
            for (std::uint64_t i = 0; i < n; ++i) {
                miniFat[e.start + i] =
                    (i + 1 == n) ? kEndOfChain : static_cast<std::uint32_t>(e.start + i + 1);
            }
        }
        for (std::size_t i = 0; i < miniFat.size(); ++i)
            put32(out, sectorAt(miniFatStart) + 4 * i, miniFat[i]);
    }
    const std::uint32_t dirStart = chain(dirSectors);
    for (std::size_t i = 0; i < dirSectors * (kOutSectorSize / kDirEntrySize); ++i) {
        const std::size_t off = sectorAt(dirStart) + i * kDirEntrySize;
        if (i >= entries.size()) {
            put32(out, off + 68, kNoStream);
            put32(out, off + 72, kNoStream);
            put32(out, off + 76, kNoStream);
            continue;
        }
        const OutEntry& e = entries[i];
        for (std::size_t k = 0; k < e.name.size(); ++k)
            put16(out, off + 2 * k, e.name[k]);
        put16(out, off + 64, static_cast<std::uint16_t>((e.name.size() + 1) * 2));
        out[off + 66] = e.type;
        out[off + 67] = e.type == kTypeRoot ? 1 : e.colour;
        put32(out, off + 68, e.left);
        put32(out, off + 72, e.right);
        put32(out, off + 76, e.child);
        put32(out, off + 116, e.type == kTypeStorage ? 0 : e.start);
        put64(out, off + 120, e.size);
    }
    const std::uint32_t fatStart = next;
    for (std::uint64_t i = 0; i < fatSectors; ++i)
        fat[next++] = kFatSect;
    const std::uint32_t difatStart = next;
    for (std::uint64_t i = 0; i < difatSectors; ++i)
        fat[next++] = kDifSect;
    for (std::size_t i = 0; i < fat.size(); ++i)
        put32(out, sectorAt(fatStart) + 4 * i, fat[i]);

    // Header.
    std::copy(kSignature.begin(), kSignature.end(), out.begin());
    put16(out, 0x18, 0x003E);
    put16(out, 0x1A, static_cast<std::uint16_t>(majorVersion));
    put16(out, 0x1C, 0xFFFE);
    put16(out, 0x1E, majorVersion == 3 ? 9 : 12);
    put16(out, 0x20, 6);
    // Version 3 leaves the directory sector count 0 ([MS-CFB] 2.2).
    put32(out, 0x28, majorVersion == 3 ? 0 : static_cast<std::uint32_t>(dirSectors));
    put32(out, 0x2C, static_cast<std::uint32_t>(fatSectors));
    put32(out, 0x30, dirStart);
    put32(out, 0x38, static_cast<std::uint32_t>(kMiniStreamCutoff));
    put32(out, 0x3C, miniFatSectors ? miniFatStart : kEndOfChain);
    put32(out, 0x40, static_cast<std::uint32_t>(miniFatSectors));
    put32(out, 0x44, difatSectors ? difatStart : kEndOfChain);
    put32(out, 0x48, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i) {
        put32(out, 0x4C + 4 * i,
              i < fatSectors ? fatStart + static_cast<std::uint32_t>(i) : kFreeSect);
    }
    for (std::uint64_t d = 0; d < difatSectors; ++d) {
        const std::size_t off = sectorAt(difatStart + static_cast<std::uint32_t>(d));
        for (std::size_t k = 0; k < kFatPerSector - 1; ++k) {
            const std::uint64_t idx = kHeaderDifatEntries + d * (kFatPerSector - 1) + k;
            put32(out, off + 4 * k,
                  idx < fatSectors ? fatStart + static_cast<std::uint32_t>(idx) : kFreeSect);
        }
        put32(out, off + std::size_t{4} * (kFatPerSector - 1),
              d + 1 < difatSectors ? difatStart + static_cast<std::uint32_t>(d + 1) : kEndOfChain);
    }
    return out;
}

}  // namespace cfb
