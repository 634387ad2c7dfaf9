// The in-memory storage tree the writer lays out, and the order of names.

#include "cfb_format.h"

#include <cfb/compound_file.h>
#include <common/text.h>

#include <algorithm>
#include <stdexcept>

namespace cfb {

using namespace format;

namespace {

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

}  // namespace cfb
