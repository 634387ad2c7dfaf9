#pragma once
// Compound files ([MS-CFB]): a reader for untrusted bytes and an in-memory
// writer.
//
// Reading: CompoundFile::open() parses the header, the DIFAT, the FAT, the mini
// FAT and the whole directory tree up front and checks every sector id and
// directory id it meets; stream contents are read on demand, whole. Any
// malformed structure throws common::FormatError whose text names what was
// wrong and where ("FAT chain of stream 7 loops at sector 12") and whose
// offset() is the byte offset in the file of what is at fault: the header
// field, the field or FAT/mini FAT/DIFAT entry holding a bad id or link, the
// sector a chain meets again, a stream's size field for a size its chain
// cannot give, the end of a file cut short. Only a name a storage does not
// hold (and MemoryStorage's failures, which have no file) carries 0. Nothing
// is allocated that the file's size cannot back.
//
// Writing: MemoryStorage is a tree of storages and streams held in memory;
// MemoryCompoundFile::save() lays it out as a version 3 (or 4) compound file
// that other readers open.
//
// Both kinds of storage implement Storage, so a storage read from a file can
// be copied into a MemoryStorage recursively (copyFrom). Element names are
// UTF-8 here and UTF-16 in the file; a storage lists its elements in the
// order the format compares names (shorter UTF-16 length first, then
// code unit by code unit after upper-casing), which is the order of a
// well-formed directory tree and does not depend on its shape.

#include <common/byte_reader.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cfb {

using common::FormatError;

enum class ElementType : std::uint8_t { Storage = 1, Stream = 2 };

// One direct element of a storage.
struct Element {
    std::string name;  // UTF-8
    ElementType type = ElementType::Stream;
    std::uint64_t size = 0;  // bytes; 0 for a storage
};

// Orders names as the directory tree does: UTF-16 length, then upper-cased
// code units. Returns <0, 0 or >0.
int compareNames(std::string_view a, std::string_view b);

// Read access to one storage. Implementations are immutable while read.
class Storage {
public:
    virtual ~Storage() = default;

    // Direct elements, in name order (see above).
    virtual std::vector<Element> elements() const = 0;
    // The named direct sub-storage. Throws FormatError when there is no
    // storage of that name.
    virtual std::shared_ptr<const Storage> openStorage(std::string_view name) const = 0;
    // The whole content of the named direct stream. Throws FormatError when
    // there is no stream of that name or its sectors are damaged.
    virtual std::vector<std::uint8_t> readStream(std::string_view name) const = 0;
};

// A compound file opened for reading. The bytes are copied (or moved) in and
// shared by every storage opened from it, so storages stay valid after the
// CompoundFile object is gone.
class CompoundFile {
public:
    // Caps that keep a hostile file from making the reader work without end:
    // Directory entries read at most; entries past them are not read.
    static constexpr std::size_t kMaxDirectoryEntries = 1u << 20;
    // Storages nest at most this deep (deeper is a FormatError), so walks keep to the stack.
    static constexpr std::uint32_t kMaxStorageDepth = 256;

    // True when the bytes begin with a complete 512-byte header carrying the
    // compound-file signature. Says nothing about the rest of the file.
    static bool isCompoundFile(std::span<const std::uint8_t> bytes);

    // Parses the file. Throws FormatError on any structural fault.
    static CompoundFile open(std::vector<std::uint8_t> bytes);
    static CompoundFile open(std::span<const std::uint8_t> bytes);
    // Shares the caller's bytes instead of copying them.
    static CompoundFile open(std::shared_ptr<const std::vector<std::uint8_t>> bytes);
    // openFile reads files of at most this many bytes (twice a version 3 file's 2 GB).
    static constexpr std::size_t kMaxFileBytes = std::size_t{4} << 30;

    // Reads the file whole, then as open(). Throws common::FileReadError
    // (a std::runtime_error) when the file cannot be opened or read, with the
    // system's reason, or holds more than kMaxFileBytes.
    static CompoundFile openFile(const std::string& path);

    std::shared_ptr<const Storage> root() const;
    // 3 (512-byte sectors) or 4 (4096-byte sectors).
    int majorVersion() const;

    struct Impl;

private:
    explicit CompoundFile(std::shared_ptr<const Impl> impl) : m_impl(std::move(impl)) {}
    std::shared_ptr<const Impl> m_impl;
};

// A storage held in memory, for building compound files.
class MemoryStorage : public Storage {
public:
    std::vector<Element> elements() const override;
    std::shared_ptr<const Storage> openStorage(std::string_view name) const override;
    std::vector<std::uint8_t> readStream(std::string_view name) const override;

    // Creates (or replaces) a direct sub-storage and returns it for filling.
    // Names must be 1 to 31 UTF-16 code units without '/', '\', ':' or '!'
    // (throws std::invalid_argument otherwise).
    MemoryStorage& createStorage(std::string_view name);
    // Creates (or replaces) a direct stream with the given content.
    void writeStream(std::string_view name, std::vector<std::uint8_t> content);
    // Removes a direct element. Throws std::invalid_argument when absent.
    void destroyElement(std::string_view name);
    // The direct sub-storage of that name, or nullptr.
    MemoryStorage* storage(std::string_view name);
    // Copies every element of source into this storage, recursively
    // (elements of the same name are replaced). FormatError when source
    // cannot be read or holds a name this writer cannot store.
    void copyFrom(const Storage& source);
    // The content of a direct stream without copying it, or nullptr.
    std::shared_ptr<const std::vector<std::uint8_t>> streamContent(std::string_view name) const;

private:
    struct NameLess {
        bool operator()(const std::string& a, const std::string& b) const {
            return compareNames(a, b) < 0;
        }
    };
    std::map<std::string, std::shared_ptr<MemoryStorage>, NameLess> m_storages;
    std::map<std::string, std::shared_ptr<const std::vector<std::uint8_t>>, NameLess> m_streams;
};

// An in-memory compound file: its root storage and its serialised bytes.
class MemoryCompoundFile {
public:
    MemoryStorage& root() { return *m_root; }
    const MemoryStorage& root() const { return *m_root; }
    std::shared_ptr<const MemoryStorage> rootHandle() const { return m_root; }

    // The file as compound-file bytes (the "commit"): version 3 (512-byte
    // sectors, the default) or 4 (4096-byte sectors); std::invalid_argument
    // for any other version.
    std::vector<std::uint8_t> save(int majorVersion = 3) const;

private:
    std::shared_ptr<MemoryStorage> m_root = std::make_shared<MemoryStorage>();
};

}  // namespace cfb
