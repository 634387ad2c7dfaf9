// The compound-file reader and writer: round trips through our own writer,
// other readers' view of what we write (olefile, when installed), the
// corpus against olefile, and the reader's refusal of damaged files.

#include <cfb/compound_file.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

std::uint32_t zlibCrc32(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

// Every element below `storage`, as msgdump --tree prints it, optionally with
// the CRC-32 of stream contents; sorted bytewise.
std::vector<std::string> listing(const cfb::Storage& storage, bool withCrc) {
    std::vector<std::string> lines;
    std::function<void(const cfb::Storage&, const std::string&)> walk =
        [&](const cfb::Storage& s, const std::string& prefix) {
            for (const auto& e : s.elements()) {
                const std::string path = prefix.empty() ? e.name : prefix + "/" + e.name;
                if (e.type == cfb::ElementType::Storage) {
                    lines.push_back("storage 0 " + path);
                    walk(*s.openStorage(e.name), path);
                } else {
                    std::string line = "stream " + std::to_string(e.size) + " " + path;
                    if (withCrc) {
                        char buf[16];
                        std::snprintf(buf, sizeof buf, " %08x", zlibCrc32(s.readStream(e.name)));
                        line += buf;
                    }
                    lines.push_back(line);
                }
            }
        };
    walk(storage, "");
    std::sort(lines.begin(), lines.end());
    return lines;
}

const char* kPython = "/usr/bin/python3";

bool haveOlefile() {
    static const bool have =
        std::system((std::string(kPython) + " -c 'import olefile' >/dev/null 2>&1").c_str()) == 0;
    return have;
}

std::string sourceDir() {
    const char* s = std::getenv("ORVALINE_SOURCE");
    return s ? s : ".";
}

// olefile's listing of a file; returns false when olefile refuses it.
bool olefileListing(const fs::path& file, bool withCrc, std::vector<std::string>& lines) {
    const std::string cmd = std::string(kPython) + " '" + sourceDir() +
                            "/tests/cfb/olefile_tree.py' " + (withCrc ? "--hash " : "") + "'" +
                            file.string() + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return false;
    std::string out;
    char buf[4096];
    std::size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int rc = pclose(p);
    if (rc != 0)
        return false;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return true;
}

fs::path writeTemp(const Bytes& bytes, const std::string& name) {
    const fs::path p =
        fs::temp_directory_path() / ("orvaline-cfb-" + std::to_string(::getpid()) + "-" + name);
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p;
}

// A file with every size class: empty, mini-stream (below 4096), exactly the
// cutoff, and regular sectors; nested storages; enough elements for several
// directory sectors and a deep tree.
cfb::MemoryCompoundFile sampleFile() {
    cfb::MemoryCompoundFile f;
    auto& root = f.root();
    const std::array<std::size_t, 8> sizes = {0, 1, 63, 64, 65, 4095, 4096, 20000};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        root.writeStream("s" + std::to_string(sizes[i]),
                         pattern(sizes[i], static_cast<std::uint32_t>(i)));
    }
    auto& inner = root.createStorage("Inner");
    inner.writeStream("__substg1.0_0037001F", pattern(40, 99));
    auto& deeper = inner.createStorage("Deeper");
    deeper.writeStream("leaf", pattern(5000, 7));
    auto& many = root.createStorage("many");
    for (int i = 0; i < 150; ++i)
        many.writeStream("e" + std::to_string(i),
                         pattern(static_cast<std::size_t>(i), static_cast<std::uint32_t>(i)));
    root.createStorage("empty storage");
    return f;
}

// Little helpers to damage files we wrote (version 3 layout).
std::uint32_t u32(const Bytes& b, std::size_t off) {
    return static_cast<std::uint32_t>(b[off] | (b[off + 1] << 8) | (b[off + 2] << 16)) |
           (static_cast<std::uint32_t>(b[off + 3]) << 24);
}
void setU32(Bytes& b, std::size_t off, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::size_t sectorOffset(const Bytes& b, std::uint32_t id) {
    const std::size_t size = std::size_t{1} << (b[0x1E] | (b[0x1F] << 8));
    return (id + 1) * size;
}
// Offset of the directory entry with this ASCII name (directory of one chain
// laid out in order, as our writer does).
std::size_t entryOffset(const Bytes& b, const std::string& name) {
    const std::size_t dir = sectorOffset(b, u32(b, 0x30));
    for (std::size_t off = dir; off + 128 <= b.size(); off += 128) {
        const auto len = static_cast<std::size_t>(b[off + 64] | (b[off + 65] << 8));
        if (len != (name.size() + 1) * 2)
            continue;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k)
            same = b[off + 2 * k] == static_cast<std::uint8_t>(name[k]);
        if (same)
            return off;
    }
    ADD_FAILURE() << "no directory entry " << name;
    return 0;
}
std::uint32_t fatEntry(const Bytes& b, std::uint32_t sector) {
    const std::size_t perSector = sectorOffset(b, 0) / 4;
    const std::uint32_t fatSector = u32(b, 0x4C + 4 * (sector / perSector));
    return u32(b, sectorOffset(b, fatSector) + 4 * (sector % perSector));
}
void setFatEntry(Bytes& b, std::uint32_t sector, std::uint32_t value) {
    const std::size_t perSector = sectorOffset(b, 0) / 4;
    const std::uint32_t fatSector = u32(b, 0x4C + 4 * (sector / perSector));
    setU32(b, sectorOffset(b, fatSector) + 4 * (sector % perSector), value);
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const cfb::FormatError& e) {
        return e.what();
    }
    return "(no error)";
}

// Where the failure says the fault lies; SIZE_MAX when there is none.
std::size_t offsetOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const cfb::FormatError& e) {
        return e.offset();
    }
    return SIZE_MAX;
}

std::size_t fatEntryOffset(const Bytes& b, std::uint32_t sector) {
    const std::size_t perSector = sectorOffset(b, 0) / 4;
    return sectorOffset(b, u32(b, 0x4C + 4 * (sector / perSector))) + 4 * (sector % perSector);
}

// --- Round trips through our own writer and reader --------------------------

TEST(CompoundFileRoundTrip, EverySizeClassAndNestingReadsBackUnchanged) {
    for (int version : {3, 4}) {
        const auto original = sampleFile();
        const auto file = cfb::CompoundFile::open(original.save(version));
        EXPECT_EQ(file.majorVersion(), version);
        EXPECT_EQ(listing(*file.root(), true), listing(original.root(), true))
            << "version " << version;
    }
}

TEST(CompoundFileRoundTrip, ListsElementsInDirectoryNameOrder) {
    cfb::MemoryCompoundFile f;
    for (const char* name : {"bb", "a", "B", "ccc", "Ab"})
        f.root().writeStream(name, {1});
    const auto file = cfb::CompoundFile::open(f.save());
    std::vector<std::string> names;
    for (const auto& e : file.root()->elements())
        names.push_back(e.name);
    // Shorter names first, then case-insensitively.
    EXPECT_EQ(names, (std::vector<std::string>{"a", "B", "Ab", "bb", "ccc"}));
}

TEST(CompoundFileRoundTrip, LookupIgnoresCaseAsTheDirectoryDoes) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("__substg1.0_0037001F", {7, 8});
    const auto file = cfb::CompoundFile::open(f.save());
    EXPECT_EQ(file.root()->readStream("__substg1.0_0037001f"), (Bytes{7, 8}));
}

TEST(CompoundFileRoundTrip, NonAsciiNamesSurvive) {
    cfb::MemoryCompoundFile f;
    f.root().createStorage("Ünïcødé 名前").writeStream("é", {1, 2, 3});
    const auto file = cfb::CompoundFile::open(f.save());
    EXPECT_EQ(file.root()->openStorage("Ünïcødé 名前")->readStream("é"), (Bytes{1, 2, 3}));
}

TEST(CompoundFileRoundTrip, MoreThan109FatSectorsUseDifatSectors) {
    // 109 FAT sectors map 109 * 128 sectors of 512 bytes: about 7 MB.
    cfb::MemoryCompoundFile f;
    const Bytes big = pattern(8u << 20, 5);
    f.root().writeStream("big", big);
    f.root().writeStream("small", pattern(100, 6));
    const Bytes bytes = f.save();
    ASSERT_GT(u32(bytes, 0x2C), 109u);
    ASSERT_GE(u32(bytes, 0x48), 1u);
    const auto file = cfb::CompoundFile::open(bytes);
    EXPECT_EQ(file.root()->readStream("big"), big);
    EXPECT_EQ(file.root()->readStream("small"), pattern(100, 6));
}

TEST(CompoundFileRoundTrip, CopyFromReplacesAndDestroyRemoves) {
    const auto source = cfb::CompoundFile::open(sampleFile().save());
    cfb::MemoryCompoundFile copy;
    copy.root().writeStream("Inner", {1});  // replaced by the storage of that name
    copy.root().copyFrom(*source.root());
    copy.root().destroyElement("many");
    EXPECT_THROW(copy.root().destroyElement("many"), std::invalid_argument);
    const auto reread = cfb::CompoundFile::open(copy.save());
    auto expected = listing(*source.root(), true);
    std::erase_if(expected,
                  [](const std::string& l) { return l.find(" many") != std::string::npos; });
    EXPECT_EQ(listing(*reread.root(), true), expected);
}

TEST(CompoundFileRoundTrip, WriterRefusesNamesTheFormatCannotHold) {
    cfb::MemoryStorage s;
    EXPECT_THROW(s.writeStream("", {}), std::invalid_argument);
    EXPECT_THROW(s.writeStream(std::string(32, 'x'), {}), std::invalid_argument);
    EXPECT_THROW(s.createStorage("a/b"), std::invalid_argument);
    EXPECT_NO_THROW(s.writeStream(std::string(31, 'x'), {}));
}

// --- Other readers open what we write ---------------------------------------

TEST(CompoundFileOlefile, OpensOurFilesWithTheSameElementsAndContents) {
    if (!haveOlefile())
        GTEST_SKIP() << "python3-olefile is not installed";
    for (int version : {3, 4}) {
        const auto original = sampleFile();
        const fs::path p =
            writeTemp(original.save(version), "v" + std::to_string(version) + ".cfb");
        std::vector<std::string> theirs;
        ASSERT_TRUE(olefileListing(p, true, theirs)) << "olefile refused version " << version;
        EXPECT_EQ(theirs, listing(original.root(), true)) << "version " << version;
        fs::remove(p);
    }
}

TEST(CompoundFileOlefile, CorpusListingsAndContentsEqualOlefiles) {
    if (!haveOlefile())
        GTEST_SKIP() << "python3-olefile is not installed";
    const char* corpus = std::getenv("ORVALINE_CORPUS");
    if (corpus == nullptr || !fs::is_directory(fs::path(corpus) / "msg"))
        FAIL() << "no corpus at " << (corpus ? corpus : "(ORVALINE_CORPUS unset)") << "/msg";
    // Every file olefile opens is compared; of those whose every stream it
    // reads, each is compared or refused for a size its chain cannot hold.
    int opened = 0;
    int compared = 0;
    int contentsRead = 0;
    int contentsCompared = 0;
    int contentsRefused = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(corpus) / "msg")) {
        if (entry.path().extension() != ".msg")
            continue;
        std::vector<std::string> theirs;
        if (!olefileListing(entry.path(), false, theirs))
            continue;
        ++opened;
        SCOPED_TRACE(entry.path().filename().string());
        try {
            const auto file = cfb::CompoundFile::openFile(entry.path().string());
            EXPECT_EQ(listing(*file.root(), false), theirs);
            ++compared;
            // Contents too, where both can read every stream.
            std::vector<std::string> theirContents;
            if (olefileListing(entry.path(), true, theirContents)) {
                ++contentsRead;
                try {
                    EXPECT_EQ(listing(*file.root(), true), theirContents);
                    ++contentsCompared;
                } catch (const cfb::FormatError& e) {
                    // olefile hands out what it finds of a stream whose size
                    // its chain cannot hold; we refuse such a stream.
                    EXPECT_NE(std::string(e.what()).find(" declares "), std::string::npos)
                        << e.what();
                    ++contentsRefused;
                }
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << "olefile opens it, we do not: " << e.what();
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_EQ(compared, opened);
    EXPECT_GT(contentsCompared, 0);
    EXPECT_EQ(contentsCompared + contentsRefused, contentsRead);
    std::printf("olefile opens %d corpus files: %d listings and %d contents compared\n", opened,
                compared, contentsCompared);
}

// --- Damaged files ---------------------------------------------------------

TEST(CompoundFileDamage, NonCompoundBytesAreRefusedAtTheHeader) {
    const Bytes text(600, 'x');
    EXPECT_FALSE(cfb::CompoundFile::isCompoundFile(text));
    EXPECT_EQ(errorOf([&] { cfb::CompoundFile::open(text); }),
              "header: no compound-file signature");
    EXPECT_EQ(errorOf([&] { cfb::CompoundFile::open(Bytes(11, 0)); }),
              "header: file of 11 bytes is shorter than the 512-byte header");
    // The signature is at 0; a file cut short is at fault where it ends.
    EXPECT_EQ(offsetOf([&] { cfb::CompoundFile::open(text); }), 0u);
    EXPECT_EQ(offsetOf([&] { cfb::CompoundFile::open(Bytes(11, 0)); }), 11u);
}

// Opens every prefix of a valid file. What opens must never yield bytes that
// differ from the original: each stream reads back exactly or fails.
void checkEveryTruncation(const Bytes& whole) {
    const auto truth = listing(*cfb::CompoundFile::open(whole).root(), true);
    for (std::size_t len = 0; len < whole.size(); ++len) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(len));
        std::optional<cfb::CompoundFile> file;
        try {
            file.emplace(cfb::CompoundFile::open(cut));
        } catch (const cfb::FormatError&) {
            continue;
        }
        std::vector<std::string> partial;
        try {
            partial = listing(*file->root(), true);
        } catch (const cfb::FormatError&) {
            continue;  // a clean refusal is fine; wrong bytes are not
        }
        EXPECT_EQ(partial, truth) << "length " << len;
    }
}

TEST(CompoundFileDamage, EveryTruncationOfOurFileFailsCleanly) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("mini", pattern(300, 1));
    f.root().writeStream("regular", pattern(5000, 2));
    f.root().createStorage("sub").writeStream("x", pattern(70, 3));
    checkEveryTruncation(f.save());
}

TEST(CompoundFileDamage, EveryTruncationOfARealMessageFailsCleanlyOrReadsTrueData) {
    const char* corpus = std::getenv("ORVALINE_CORPUS");
    const fs::path file = fs::path(corpus ? corpus : "") / "msg" / "eom__html_unsent.msg";
    if (corpus == nullptr || !fs::exists(file))
        FAIL() << "no corpus file " << file;
    std::ifstream in(file, std::ios::binary);
    const Bytes whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    checkEveryTruncation(whole);
}

TEST(CompoundFileDamage, FatLoopIsReportedWithStreamAndSector) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("regular", pattern(3000 * 4, 2));
    Bytes b = f.save();
    const std::size_t e = entryOffset(b, "regular");
    const std::uint32_t start = u32(b, e + 116);
    const std::uint32_t second = fatEntry(b, start);
    setFatEntry(b, second, start);  // sector 2 of the chain leads back to sector 1
    const auto file = cfb::CompoundFile::open(b);
    EXPECT_EQ(errorOf([&] { file.root()->readStream("regular"); }),
              "FAT chain of stream 1 (\"regular\") loops at sector " + std::to_string(start));
    EXPECT_EQ(offsetOf([&] { file.root()->readStream("regular"); }), sectorOffset(b, start));
}

TEST(CompoundFileDamage, DirectorySiblingLoopIsRefused) {
    cfb::MemoryCompoundFile f;
    for (const char* name : {"a", "b", "c"})
        f.root().writeStream(name, {1});
    Bytes b = f.save();
    // The balanced tree has "b" at the top; point "c"'s right link back to "b".
    const std::size_t c = entryOffset(b, "c");
    const std::uint32_t bId =
        static_cast<std::uint32_t>((entryOffset(b, "b") - sectorOffset(b, u32(b, 0x30))) / 128);
    setU32(b, c + 72, bId);
    EXPECT_EQ(errorOf([&] { cfb::CompoundFile::open(b); }),
              "directory: entry " + std::to_string(bId) +
                  " (\"b\") is reached twice; the tree under storage 0 loops");
    EXPECT_EQ(offsetOf([&] { cfb::CompoundFile::open(b); }), c + 72);  // "c"'s right link
}

TEST(CompoundFileDamage, OutOfRangeSectorIsNamed) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("regular", pattern(5000, 2));
    Bytes b = f.save();
    setU32(b, entryOffset(b, "regular") + 116, 9999);
    const auto file = cfb::CompoundFile::open(b);
    const std::string err = errorOf([&] { file.root()->readStream("regular"); });
    EXPECT_EQ(err.rfind("FAT chain of stream 1 (\"regular\"): sector 9999 out of range (", 0), 0u)
        << err;
    // The id is in the entry's start field.
    EXPECT_EQ(offsetOf([&] { file.root()->readStream("regular"); }),
              entryOffset(b, "regular") + 116);
}

TEST(CompoundFileDamage, ABadLinkInsideAChainIsAtItsFatEntry) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("regular", pattern(5000, 2));
    Bytes b = f.save();
    const std::uint32_t start = u32(b, entryOffset(b, "regular") + 116);
    const std::uint32_t second = fatEntry(b, start);
    setFatEntry(b, second, 9999);
    const auto file = cfb::CompoundFile::open(b);
    EXPECT_EQ(errorOf([&] {
                  file.root()->readStream("regular");
              }).rfind("FAT chain of stream 1 (\"regular\"): sector 9999 out of range (", 0),
              0u);
    EXPECT_EQ(offsetOf([&] { file.root()->readStream("regular"); }), fatEntryOffset(b, second));
    // A FAT sector the DIFAT names out of range: at the DIFAT entry.
    Bytes difat = b;
    setU32(difat, 0x4C, 9999);
    EXPECT_EQ(errorOf([&] {
                  cfb::CompoundFile::open(difat);
              }).rfind("DIFAT: FAT sector 0 is sector 9999, out of range (", 0),
              0u);
    EXPECT_EQ(offsetOf([&] { cfb::CompoundFile::open(difat); }), 0x4Cu);
}

TEST(CompoundFileDamage, StoragesNestedBeyondTheLimitAreRefusedAtTheirEntry) {
    cfb::MemoryCompoundFile f;
    cfb::MemoryStorage* s = &f.root();
    for (std::uint32_t depth = 1; depth <= cfb::CompoundFile::kMaxStorageDepth + 1; ++depth)
        s = &s->createStorage("d" + std::to_string(depth));
    s->writeStream("leaf", {1});
    const Bytes b = f.save();
    const std::string deepest = "d" + std::to_string(cfb::CompoundFile::kMaxStorageDepth + 1);
    const std::string err = errorOf([&] { cfb::CompoundFile::open(b); });
    EXPECT_NE(err.find("(\"" + deepest + "\") is nested deeper than 256 levels"), std::string::npos)
        << err;
    EXPECT_EQ(offsetOf([&] { cfb::CompoundFile::open(b); }), entryOffset(b, deepest));
    // One level less opens.
    cfb::MemoryCompoundFile g;
    s = &g.root();
    for (std::uint32_t depth = 1; depth <= cfb::CompoundFile::kMaxStorageDepth; ++depth)
        s = &s->createStorage("d" + std::to_string(depth));
    EXPECT_NO_THROW(cfb::CompoundFile::open(g.save()));
}

TEST(CompoundFileDamage, AbsurdStreamSizeIsRefusedBeforeAllocating) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("regular", pattern(5000, 2));
    Bytes b = f.save();
    setU32(b, entryOffset(b, "regular") + 120, 0xFFFFFF00u);
    const auto file = cfb::CompoundFile::open(b);
    EXPECT_EQ(file.root()->elements()[0].size, 0xFFFFFF00u);
    const std::string err = errorOf([&] { file.root()->readStream("regular"); });
    EXPECT_NE(err.find("declares 4294967040 bytes, more than the file's"), std::string::npos)
        << err;
    EXPECT_EQ(offsetOf([&] { file.root()->readStream("regular"); }),
              entryOffset(b, "regular") + 120);  // the size field
}

TEST(CompoundFileDamage, StreamLongerThanItsChainIsRefused) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("regular", pattern(5000, 2));
    f.root().writeStream("padding", pattern(9000, 3));
    Bytes b = f.save();
    setU32(b, entryOffset(b, "regular") + 120, 6000);
    const auto file = cfb::CompoundFile::open(b);
    EXPECT_EQ(errorOf([&] { file.root()->readStream("regular"); }),
              "stream 2 (\"regular\") declares 6000 bytes but its FAT chain ends after 10 sectors");
    EXPECT_EQ(offsetOf([&] { file.root()->readStream("regular"); }),
              entryOffset(b, "regular") + 120);
}

TEST(CompoundFileDamage, Version3IgnoresTheHighHalfOfStreamSizes) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("regular", pattern(5000, 2));
    Bytes b = f.save(3);
    setU32(b, entryOffset(b, "regular") + 124, 0xDEADBEEF);
    const auto file = cfb::CompoundFile::open(b);
    EXPECT_EQ(file.root()->readStream("regular"), pattern(5000, 2));
}

TEST(CompoundFileDamage, MiniChainOutOfRangeIsNamed) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("mini", pattern(300, 1));
    Bytes b = f.save();
    setU32(b, entryOffset(b, "mini") + 116, 4000);
    const auto file = cfb::CompoundFile::open(b);
    EXPECT_EQ(
        errorOf([&] { file.root()->readStream("mini"); }),
        "mini FAT chain of stream 1 (\"mini\"): mini sector 4000 out of range (5 mini sectors)");
    EXPECT_EQ(offsetOf([&] { file.root()->readStream("mini"); }), entryOffset(b, "mini") + 116);
}

TEST(CompoundFileDamage, BadSectorShiftAndFatCountAreRefused) {
    cfb::MemoryCompoundFile f;
    f.root().writeStream("x", {1});
    Bytes b = f.save();
    Bytes shift = b;
    shift[0x1E] = 10;
    EXPECT_EQ(errorOf([&] { cfb::CompoundFile::open(shift); }),
              "header: sector shift 10 is neither 9 nor 12");
    EXPECT_EQ(offsetOf([&] { cfb::CompoundFile::open(shift); }), 0x1Eu);
    Bytes fatCount = b;
    setU32(fatCount, 0x2C, 5000);
    EXPECT_EQ(errorOf([&] { cfb::CompoundFile::open(fatCount); }),
              "header: 5000 FAT sectors declared, the file has " +
                  std::to_string((b.size() - 512) / 512) + " sectors");
    EXPECT_EQ(offsetOf([&] { cfb::CompoundFile::open(fatCount); }), 0x2Cu);
}

// --- Fuzzer findings ----------------------------------------------------------

Bytes regressionInput(const std::string& name) {
    std::ifstream in(fs::path(sourceDir()) / "fuzz/core/regress/fuzz_cfb" / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(CompoundFileFuzzFindings, StreamSizeNearTwoToThe64IsRefusedNotAllocated) {
    // A 4096-byte-sector size field of almost 2^64 once wrapped the sector
    // count to a small number and reached reserve() with the huge size.
    const Bytes input = regressionInput("version4_stream_size_near_2_64.cfb");
    ASSERT_FALSE(input.empty());
    cfb::MemoryCompoundFile f;
    f.root().writeStream("regular", pattern(5000, 2));
    Bytes b = f.save(4);
    setU32(b, entryOffset(b, "regular") + 120, 0xFFFFFFFFu);
    setU32(b, entryOffset(b, "regular") + 124, 0xFFFFFFFFu);
    const auto file = cfb::CompoundFile::open(b);
    EXPECT_NE(errorOf([&] {
                  file.root()->readStream("regular");
              }).find("declares 18446744073709551615 bytes"),
              std::string::npos);
    try {
        const auto found = cfb::CompoundFile::open(input);
        std::function<void(const cfb::Storage&)> walk = [&](const cfb::Storage& s) {
            for (const auto& e : s.elements()) {
                try {
                    if (e.type == cfb::ElementType::Storage) {
                        walk(*s.openStorage(e.name));
                    } else {
                        (void)s.readStream(e.name);
                    }
                } catch (const cfb::FormatError&) {
                }
            }
        };
        walk(*found.root());
    } catch (const cfb::FormatError&) {
    }
}

}  // namespace
