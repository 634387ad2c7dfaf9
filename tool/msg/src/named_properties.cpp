// The named-property map of "__nameid_version1.0" ([MS-OXMSG] 2.2.3).

#include "element_names.h"

#include <msg/outlook_storage.h>

#include <common/byte_reader.h>

#include <algorithm>
#include <cstring>

namespace tool {

using common::FormatError;
using names::hex4;

std::optional<std::string> OutlookStorage::NamedPropertyMap::Find(const Guid& propertySet,
                                                                  std::uint32_t longId) const {
    for (const Entry& e : m_entries) {
        if (!e.isString && e.longId == longId && e.set == propertySet)
            return hex4(e.propertyId);
    }
    return std::nullopt;
}

std::optional<std::string> OutlookStorage::NamedPropertyMap::Find(const Guid& propertySet,
                                                                  std::u16string_view name) const {
    for (const Entry& e : m_entries) {
        if (e.isString && e.name == name && e.set == propertySet)
            return hex4(e.propertyId);
    }
    return std::nullopt;
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// The map's three streams; one that is not listed is empty.
struct NameidStreams {
    Bytes guids;
    Bytes entries;
    Bytes strings;
};

NameidStreams readNameidStreams(const cfb::Storage& nameid) {
    std::vector<std::string> listed;
    for (const cfb::Element& e : nameid.elements()) {
        if (e.type == cfb::ElementType::Stream)
            listed.push_back(e.name);
    }
    auto streamOf = [&](const char* name) {
        const bool present = std::find(listed.begin(), listed.end(), name) != listed.end();
        return present ? nameid.readStream(name) : Bytes();
    };
    return {streamOf("__substg1.0_00020102"), streamOf("__substg1.0_00030102"),
            streamOf("__substg1.0_00040102")};
}

// The property set of a GUID index: 1 PS_MAPI, 2 PS_PUBLIC_STRINGS, from 3
// the GUIDs of the GUID stream; nothing beyond them.
std::optional<OutlookStorage::Guid> propertySet(std::uint32_t guidIndex, const Bytes& guids) {
    if (guidIndex == 1)
        return OutlookStorage::PS_MAPI;
    if (guidIndex == 2)
        return OutlookStorage::PS_PUBLIC_STRINGS;
    if (guidIndex < 3 || guidIndex - 3 >= guids.size() / 16)
        return std::nullopt;
    OutlookStorage::Guid set{};
    std::memcpy(set.data(), guids.data() + static_cast<std::size_t>(guidIndex - 3) * 16, 16);
    return set;
}

// The name at nameOffset of the string stream: a 32-bit byte length, then
// UTF-16LE units. `where` and entryOffset name the entry for errors.
std::u16string entryName(const Bytes& strings, std::uint32_t nameOffset, const std::string& where,
                         std::size_t entryOffset) {
    if (nameOffset > strings.size() || strings.size() - nameOffset < 4) {
        throw FormatError(where + " names a string at offset " + std::to_string(nameOffset) +
                              "; the string stream has " + std::to_string(strings.size()) +
                              " bytes",
                          entryOffset);
    }
    common::ByteReader names(strings);
    names.seek(nameOffset);
    const std::uint32_t length = names.readU32();
    if (length > names.remaining() || length % 2 != 0) {
        throw FormatError(where + " names a string of " + std::to_string(length) +
                              " bytes at offset " + std::to_string(nameOffset) +
                              " of a string stream of " + std::to_string(strings.size()) + " bytes",
                          entryOffset);
    }
    const auto text = names.readBytes(length);
    std::u16string name(length / 2, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<char16_t>(text[2 * i] | (text[2 * i + 1] << 8));
    return name;
}

}  // namespace

OutlookStorage::NamedPropertyMap OutlookStorage::Message::NamedProperties() const {
    NamedPropertyMap map;
    const OutlookStorage& top = TopParent();
    const auto& storages = top.SubStorageStatistics();
    if (std::none_of(storages.begin(), storages.end(),
                     [](const cfb::Element& e) { return e.name == NAMEID_STORAGE; })) {
        return map;
    }
    const NameidStreams streams = readNameidStreams(*top.open().openStorage(NAMEID_STORAGE));
    const Bytes& entries = streams.entries;
    common::ByteReader r(entries);
    // Whole 8-byte entries only; each names one property, so there can be no
    // more than the stream holds.
    map.m_entries.reserve(entries.size() / 8);
    for (std::size_t off = 0; off + 8 <= entries.size(); off += 8) {
        r.seek(off);
        const std::uint32_t nameOrOffset = r.readU32();
        const std::uint32_t indexAndKind = r.readU32();
        NamedPropertyMap::Entry entry;
        entry.isString = (indexAndKind & 1u) != 0;
        const std::uint32_t guidIndex = (indexAndKind >> 1) & 0x7FFFu;
        const std::uint32_t propertyIndex = indexAndKind >> 16;
        const std::string where = "named-property entry " + std::to_string(off / 8);
        if (propertyIndex > 0x7FFFu) {
            throw FormatError(where + " gives property index " + std::to_string(propertyIndex) +
                                  ", beyond the last identifier 0xFFFF",
                              off);
        }
        entry.propertyId = static_cast<std::uint16_t>(0x8000u + propertyIndex);
        const auto set = propertySet(guidIndex, streams.guids);
        if (!set) {
            throw FormatError(where + " names GUID " + std::to_string(guidIndex) +
                                  "; the GUID stream holds " +
                                  std::to_string(streams.guids.size() / 16),
                              off);
        }
        entry.set = *set;
        if (entry.isString) {
            entry.name = entryName(streams.strings, nameOrOffset, where, off);
        } else {
            entry.longId = nameOrOffset;
        }
        map.m_entries.push_back(std::move(entry));
    }
    return map;
}

}  // namespace tool
