// Saving a message as a standalone message file.

#include <msg/outlook_storage.h>

#include <fstream>
#include <ostream>

namespace tool {

using common::FormatError;

std::vector<std::uint8_t> OutlookStorage::Message::SaveToBytes() const {
    cfb::MemoryCompoundFile copy;
    copy.root().copyFrom(open());
    if (parentMessage != nullptr) {
        const OutlookStorage& top = TopParent();
        const StorageHandle nameid = top.open().openStorage(NAMEID_STORAGE);
        copy.root().createStorage(NAMEID_STORAGE).copyFrom(*nameid);
        const std::vector<std::uint8_t> old = GetStreamBytes(PROPERTIES_STREAM);
        constexpr std::size_t kEmbedded = PROPERTIES_STREAM_HEADER_EMBEDED;
        if (old.size() < kEmbedded) {
            throw FormatError(
                "property stream of " + std::to_string(old.size()) +
                    " bytes is shorter than the 24-byte header of an embedded message",
                old.size());
        }
        std::vector<std::uint8_t> grown;
        grown.reserve(old.size() + 8);
        grown.insert(grown.end(), old.begin(), old.begin() + kEmbedded);
        grown.insert(grown.end(), 8, 0);
        grown.insert(grown.end(), old.begin() + kEmbedded, old.end());
        copy.root().destroyElement(PROPERTIES_STREAM);
        copy.root().writeStream(PROPERTIES_STREAM, std::move(grown));
    }
    return copy.save();
}

void OutlookStorage::Message::Save(std::ostream& stream) const {
    const std::vector<std::uint8_t> bytes = SaveToBytes();
    stream.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    if (!stream)
        throw std::runtime_error("writing the message failed");
}

void OutlookStorage::Message::Save(const std::string& fileName) const {
    const std::vector<std::uint8_t> bytes = SaveToBytes();
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot open \"" + fileName + "\" for writing");
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("writing \"" + fileName + "\" failed");
}
}  // namespace tool
