// The message model's storages: the registry of open storages, the two
// lookup stages of a property (its element, then the property stream), the
// typed reads over them, and stream access.

#include "element_names.h"

#include <msg/outlook_storage.h>

#include <common/byte_reader.h>
#include <common/text.h>

#include <algorithm>
#include <bit>
#include <iterator>

namespace tool {
namespace {

using common::FormatError;
using names::hex4;
using names::parseHex4;
using names::startsWith;

constexpr const char* kUnsupportedType =
    "MAPI property has an unsupported type and can not be retrieved.";

// A property element's name and the type its last four digits give.
struct ElementRef {
    std::string name;
    bool isStream = true;
    std::uint16_t type = 0;
};

std::optional<ElementRef> findPropertyElement(const std::vector<cfb::Element>& streams,
                                              const std::vector<cfb::Element>& storages,
                                              std::string_view propIdentifier) {
    const std::string prefix =
        std::string(OutlookStorage::SUBSTG_PREFIX) + std::string(propIdentifier);
    const cfb::Element* found = nullptr;
    bool isStream = true;
    for (const auto& e : streams) {
        if (startsWith(e.name, prefix)) {
            found = &e;
            break;
        }
    }
    if (found == nullptr) {
        isStream = false;
        for (const auto& e : storages) {
            if (startsWith(e.name, prefix)) {
                found = &e;
                break;
            }
        }
    }
    if (found == nullptr)
        return std::nullopt;
    const std::string_view tag =
        std::string_view(found->name).substr(OutlookStorage::SUBSTG_PREFIX.size());
    const auto type = tag.size() >= 8 ? parseHex4(tag.substr(4, 4)) : std::nullopt;
    if (!type) {
        throw FormatError("property element \"" + found->name + "\" does not end in a property tag",
                          0);
    }
    return ElementRef{found->name, isStream, *type};
}

}  // namespace

// ---------------------------------------------------------------------------
// NativeMethods and ReferenceManager

OutlookStorage::StorageHandle OutlookStorage::NativeMethods::CloneStorage(StorageHandle& source,
                                                                          bool closeSource) {
    auto copy = std::make_shared<cfb::MemoryCompoundFile>();
    copy->root().copyFrom(*source);
    // The root handle keeps the whole in-memory file alive.
    StorageHandle handle(copy, &copy->root());
    ReferenceManager::Instance().AddItem(handle);
    if (closeSource)
        source.reset();
    return handle;
}

OutlookStorage::ReferenceManager& OutlookStorage::ReferenceManager::Instance() {
    static ReferenceManager instance;
    return instance;
}

void OutlookStorage::ReferenceManager::AddItem(const StorageHandle& handle) {
    if (!handle)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    trackingObjects.insert(handle);
}

void OutlookStorage::ReferenceManager::RemoveItem(const StorageHandle& handle) {
    std::lock_guard<std::mutex> guard(m_lock);
    trackingObjects.erase(handle);
}

std::size_t OutlookStorage::ReferenceManager::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return trackingObjects.size();
}

// ---------------------------------------------------------------------------
// OutlookStorage

OutlookStorage::~OutlookStorage() {
    Dispose();
}

const cfb::Storage& OutlookStorage::open() const {
    if (!storage)
        throw std::logic_error("the storage has been disposed");
    return *storage;
}

void OutlookStorage::LoadStorage(StorageHandle storageToLoad) {
    storage = std::move(storageToLoad);
    ReferenceManager::Instance().AddItem(storage);
    streamStatistics.clear();
    subStorageStatistics.clear();
    for (cfb::Element& e : storage->elements()) {
        if (e.type == cfb::ElementType::Storage) {
            subStorageStatistics.push_back(std::move(e));
        } else {
            streamStatistics.push_back(std::move(e));
        }
    }
}

void OutlookStorage::Dispose() {
    if (disposed)
        return;
    disposed = true;
    Disposing();
    if (storage) {
        ReferenceManager::Instance().RemoveItem(storage);
        storage.reset();
    }
}

const OutlookStorage& OutlookStorage::TopParent() const {
    const OutlookStorage* s = this;
    while (s->parentMessage != nullptr)
        s = s->parentMessage;
    return *s;
}

std::optional<OutlookStorage::MapiValue> OutlookStorage::GetMapiProperty(
    std::string_view propIdentifier) const {
    auto value = GetMapiPropertyFromStreamOrStorage(propIdentifier);
    if (!value)
        value = GetMapiPropertyFromPropertyStream(propIdentifier);
    return value;
}

std::optional<OutlookStorage::MapiValue> OutlookStorage::GetMapiPropertyFromStreamOrStorage(
    std::string_view propIdentifier) const {
    const cfb::Storage& s = open();
    const auto ref = findPropertyElement(streamStatistics, subStorageStatistics, propIdentifier);
    if (!ref)
        return std::nullopt;
    switch (ref->type) {
        case NativeMethods::PT_STRING8:
            return MapiValue(common::decodeUtf8(s.readStream(ref->name)));
        case NativeMethods::PT_UNICODE:
            return MapiValue(common::decodeUtf16le(s.readStream(ref->name)));
        case NativeMethods::PT_BINARY:
            return MapiValue(s.readStream(ref->name));
        case NativeMethods::PT_OBJECT: {
            StorageHandle sub = s.openStorage(ref->name);
            return MapiValue(NativeMethods::CloneStorage(sub, true));
        }
        default:
            throw FormatError(kUnsupportedType, 0);
    }
}

std::optional<std::vector<std::uint8_t>> OutlookStorage::propertyStreamBytes() const {
    const auto it = std::find_if(streamStatistics.begin(), streamStatistics.end(),
                                 [](const cfb::Element& e) { return e.name == PROPERTIES_STREAM; });
    if (it == streamStatistics.end())
        return std::nullopt;
    return open().readStream(PROPERTIES_STREAM);
}

// The one walk of the property stream (its rule is written at
// FindPropertyStreamEntry in the header).
std::optional<std::pair<OutlookStorage::PropertyStreamEntry, std::size_t>>
OutlookStorage::propertyStreamEntry(std::string_view propIdentifier) const {
    const auto id = parseHex4(propIdentifier);
    if (!id || hex4(*id) != propIdentifier)
        return std::nullopt;  // only four upper-case hex digits name a property
    const auto stream = propertyStreamBytes();
    if (!stream)
        return std::nullopt;
    const std::vector<std::uint8_t>& bytes = *stream;
    constexpr std::size_t kEntrySize = 16;
    common::ByteReader r(bytes);
    for (std::size_t off = static_cast<std::size_t>(propHeaderSize); off < bytes.size();
         off += kEntrySize) {
        const std::size_t held = std::min(kEntrySize, bytes.size() - off);
        // Built only when the stream is damaged: the walk runs for every lookup.
        const auto cut = [&](const std::string& which, const std::string& detail) {
            std::string text = "property stream of " + std::to_string(bytes.size());
            text += " bytes ends inside the entry ";
            text += which;
            text += ": ";
            text += detail;
            text += std::to_string(held) + " of its 16 bytes";
            return FormatError(text, off);
        };
        if (held < 4) {
            throw cut("at offset " + std::to_string(off) + ", before its identifier", "");
        }
        r.seek(off);
        PropertyStreamEntry entry;
        entry.type = r.readU16();
        if (r.readU16() != *id)
            continue;
        if (held < kEntrySize) {
            throw cut("for " + std::string(propIdentifier),
                      "the entry at offset " + std::to_string(off) + " has ");
        }
        entry.flags = r.readU32();
        entry.value = r.readU64();
        return std::make_pair(entry, off);
    }
    return std::nullopt;
}

std::optional<OutlookStorage::MapiValue> OutlookStorage::GetMapiPropertyFromPropertyStream(
    std::string_view propIdentifier) const {
    const auto found = propertyStreamEntry(propIdentifier);
    if (!found)
        return std::nullopt;
    const auto& [entry, offset] = *found;
    if (entry.type == NativeMethods::PT_I2)
        return MapiValue(static_cast<std::int16_t>(entry.value & 0xFFFFu));
    if (entry.type == NativeMethods::PT_LONG)
        return MapiValue(static_cast<std::int32_t>(entry.value & 0xFFFFFFFFu));
    throw FormatError(kUnsupportedType, offset);
}

std::optional<std::string> OutlookStorage::GetMapiPropertyString(
    std::string_view propIdentifier) const {
    auto v = GetMapiProperty(propIdentifier);
    if (v && std::holds_alternative<std::string>(*v))
        return std::get<std::string>(std::move(*v));
    return std::nullopt;
}

namespace {

using MapiValue = OutlookStorage::MapiValue;

// What a value is, as the failures of typed reads name it; by the order of
// MapiValue's alternatives.
const char* kindOf(const MapiValue& v) {
    static constexpr const char* kKinds[] = {"text", "bytes", "an embedded storage",
                                             "a 16-bit integer", "a 32-bit integer"};
    static_assert(std::size(kKinds) == std::variant_size_v<MapiValue>);
    return kKinds[v.index()];
}

// The failure of every typed read: "property IIII is absent", or "property
// IIII is <what it is>, not <what was asked>".
PropertyError typedReadFailure(std::string_view propIdentifier, const std::optional<MapiValue>& v,
                               const char* wanted) {
    const std::string property = "property " + std::string(propIdentifier);
    if (!v)
        return PropertyError(property + " is absent");
    return PropertyError(property + " is " + kindOf(*v) + ", not " + wanted);
}

// The value of type T, or the failure: wanted names T.
template <typename T>
T required(std::optional<MapiValue> v, std::string_view propIdentifier, const char* wanted) {
    if (!v || !std::holds_alternative<T>(*v))
        throw typedReadFailure(propIdentifier, v, wanted);
    return std::get<T>(std::move(*v));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> OutlookStorage::GetMapiPropertyBytes(
    std::string_view propIdentifier) const {
    auto v = GetMapiProperty(propIdentifier);
    if (!v)
        return std::nullopt;
    return required<std::vector<std::uint8_t>>(std::move(v), propIdentifier, "bytes");
}

std::int16_t OutlookStorage::GetMapiPropertyInt16(std::string_view propIdentifier) const {
    return required<std::int16_t>(GetMapiProperty(propIdentifier), propIdentifier,
                                  "a 16-bit integer");
}

std::int32_t OutlookStorage::GetMapiPropertyInt32(std::string_view propIdentifier) const {
    return required<std::int32_t>(GetMapiProperty(propIdentifier), propIdentifier,
                                  "a 32-bit integer");
}

std::optional<OutlookStorage::RawProperty> OutlookStorage::GetMapiPropertyRaw(
    std::string_view propIdentifier) const {
    const auto ref = findPropertyElement(streamStatistics, {}, propIdentifier);
    if (!ref)
        return std::nullopt;
    return RawProperty{ref->type, open().readStream(ref->name)};
}

std::optional<std::int32_t> OutlookStorage::FindPropertyStreamInt32(
    std::string_view propIdentifier) const {
    const auto found = propertyStreamEntry(propIdentifier);
    if (!found || found->first.type != NativeMethods::PT_LONG)
        return std::nullopt;
    return static_cast<std::int32_t>(found->first.value & 0xFFFFFFFFu);
}

std::optional<OutlookStorage::PropertyStreamEntry> OutlookStorage::FindPropertyStreamEntry(
    std::string_view propIdentifier) const {
    const auto found = propertyStreamEntry(propIdentifier);
    if (!found)
        return std::nullopt;
    return found->first;
}

std::optional<std::int64_t> OutlookStorage::GetMapiPropertyTime(
    std::string_view propIdentifier) const {
    const auto entry = FindPropertyStreamEntry(propIdentifier);
    if (!entry || entry->type != NativeMethods::PT_SYSTIME)
        return std::nullopt;
    return static_cast<std::int64_t>(entry->value);
}

std::optional<bool> OutlookStorage::GetMapiPropertyBool(std::string_view propIdentifier) const {
    const auto entry = FindPropertyStreamEntry(propIdentifier);
    if (!entry || entry->type != NativeMethods::PT_BOOLEAN)
        return std::nullopt;
    // A 16-bit value; writers leave the rest of the 8 bytes as they please.
    return (entry->value & 0xFFFFu) != 0;
}

std::optional<double> OutlookStorage::GetMapiPropertyDouble(std::string_view propIdentifier) const {
    const auto entry = FindPropertyStreamEntry(propIdentifier);
    if (!entry || entry->type != NativeMethods::PT_DOUBLE)
        return std::nullopt;
    return std::bit_cast<double>(entry->value);
}

std::optional<std::uint64_t> OutlookStorage::PropertyElementSize(
    std::string_view propIdentifier) const {
    const auto ref = findPropertyElement(streamStatistics, {}, propIdentifier);
    if (!ref)
        return std::nullopt;
    const auto it = std::find_if(streamStatistics.begin(), streamStatistics.end(),
                                 [&](const cfb::Element& e) { return e.name == ref->name; });
    return it->size;
}

std::vector<std::uint8_t> OutlookStorage::GetStreamBytes(std::string_view streamName) const {
    const auto it = std::find_if(streamStatistics.begin(), streamStatistics.end(),
                                 [&](const cfb::Element& e) { return e.name == streamName; });
    if (it == streamStatistics.end()) {
        throw FormatError("no stream \"" + std::string(streamName) + "\" in this storage", 0);
    }
    return open().readStream(streamName);
}

std::string OutlookStorage::GetStreamAsString(std::string_view streamName,
                                              Encoding encoding) const {
    const std::vector<std::uint8_t> bytes = GetStreamBytes(streamName);
    std::span<const std::uint8_t> data(bytes);
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        return common::decodeUtf8(data.subspan(3));
    }
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        return common::decodeUtf16le(data.subspan(2));
    }
    return encoding == Encoding::Utf8 ? common::decodeUtf8(data) : common::decodeUtf16le(data);
}
}  // namespace tool
