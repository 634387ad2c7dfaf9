// Opening a message: the file or bytes, its recipients, attachments and
// embedded messages, and the message's own accessors.

#include "element_names.h"

#include <msg/outlook_storage.h>

#include <common/file_bytes.h>

#include <istream>
#include <iterator>

namespace tool {

// Each embedded message is two storages deeper than its parent (the
// attachment's and its own): the embedding limit is met before the
// compound-file reader's.
static_assert(2 * OutlookStorage::kMaxEmbeddingDepth + 2 < cfb::CompoundFile::kMaxStorageDepth);

using common::FormatError;
using names::hex4;
using names::startsWith;

OutlookStorage::Message::Message(const std::string& msgfile) {
    std::vector<std::uint8_t> bytes =
        common::readFileBytes(msgfile, cfb::CompoundFile::kMaxFileBytes);
    openBytes(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)),
              "The provided file is not a valid IStorage", "storageFilePath");
}

OutlookStorage::Message::Message(std::istream& storageStream) {
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(storageStream)),
                                    std::istreambuf_iterator<char>());
    if (storageStream.bad())
        throw std::runtime_error("cannot read the message stream");
    openBytes(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)),
              "The provided stream is not a valid IStorage", "storageStream");
}

OutlookStorage::Message::Message(std::span<const std::uint8_t> storageBytes) {
    openBytes(
        std::make_shared<const std::vector<std::uint8_t>>(storageBytes.begin(), storageBytes.end()),
        "The provided stream is not a valid IStorage", "storageStream");
}

OutlookStorage::Message::Message(std::shared_ptr<const std::vector<std::uint8_t>> storageBytes) {
    if (!storageBytes)
        throw ArgumentError("The provided stream is not a valid IStorage", "storageStream");
    openBytes(std::move(storageBytes), "The provided stream is not a valid IStorage",
              "storageStream");
}

OutlookStorage::Message::Message(StorageHandle storageToLoad, const Message* parent, int depth)
    : m_depth(depth) {
    parentMessage = parent;
    LoadStorage(std::move(storageToLoad));
}

OutlookStorage::Message::~Message() {
    Dispose();
}

void OutlookStorage::Message::openBytes(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                                        const char* message, const char* paramName) {
    if (!cfb::CompoundFile::isCompoundFile(*bytes))
        throw ArgumentError(message, paramName);
    try {
        LoadStorage(cfb::CompoundFile::open(std::move(bytes)).root());
    } catch (...) {
        Dispose();
        throw;
    }
}

void OutlookStorage::Message::LoadStorage(StorageHandle storageToLoad) {
    OutlookStorage::LoadStorage(std::move(storageToLoad));
    for (const cfb::Element& e : subStorageStatistics) {
        StorageHandle sub = storage->openStorage(e.name);
        if (startsWith(e.name, RECIP_STORAGE_PREFIX)) {
            recipients.push_back(std::make_unique<Recipient>(std::move(sub)));
        } else if (startsWith(e.name, ATTACH_STORAGE_PREFIX)) {
            LoadAttachmentStorage(std::move(sub));
        }
        // Any other sub-storage (such as "__nameid_version1.0") is released here.
    }
}

void OutlookStorage::Message::LoadAttachmentStorage(StorageHandle attachmentStorage) {
    auto attachment = std::make_unique<Attachment>(std::move(attachmentStorage));
    if (attachment->AttachMethod() != ATTACH_EMBEDDED_MSG) {
        attachments.push_back(std::move(attachment));
        m_embeddedInOrder.push_back(false);
        return;
    }
    if (m_depth >= kMaxEmbeddingDepth) {
        throw FormatError(
            "embedded messages nest deeper than " + std::to_string(kMaxEmbeddingDepth) + " levels",
            0);
    }
    auto data = attachment->GetMapiProperty(PR_ATTACH_DATA);
    if (!data || !std::holds_alternative<StorageHandle>(*data)) {
        throw FormatError("attachment with attach method 5 holds no embedded message storage (" +
                              std::string(PR_ATTACH_DATA) + " of type " +
                              hex4(NativeMethods::PT_OBJECT) + ")",
                          0);
    }
    std::unique_ptr<Message> embedded(
        new Message(std::get<StorageHandle>(*data), this, m_depth + 1));
    embedded->propHeaderSize = PROPERTIES_STREAM_HEADER_EMBEDED;
    for (std::string_view id : {PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME, PR_DISPLAY_NAME}) {
        auto name = attachment->GetMapiPropertyRaw(id);
        if (name && !name->bytes.empty()) {
            embedded->m_attachmentName = std::move(name);
            break;
        }
    }
    embedded->m_attachmentSize = attachment->FindPropertyStreamInt32(PR_ATTACH_SIZE);
    messages.push_back(std::move(embedded));
    m_embeddedInOrder.push_back(true);
    // The attachment object is not kept; its storage is released now rather
    // than at process end.
    attachment->Dispose();
}

std::vector<OutlookStorage::Message::AttachmentSlot> OutlookStorage::Message::AttachmentOrder()
    const {
    std::vector<AttachmentSlot> order;
    std::size_t ordinary = 0;
    std::size_t embedded = 0;
    for (const bool isMessage : m_embeddedInOrder) {
        if (isMessage) {
            order.push_back({nullptr, messages[embedded++].get()});
        } else {
            order.push_back({attachments[ordinary++].get(), nullptr});
        }
    }
    return order;
}

void OutlookStorage::Message::Disposing() {
    for (auto& m : messages)
        m->Dispose();
    for (auto& r : recipients)
        r->Dispose();
    for (auto& a : attachments)
        a->Dispose();
}

std::optional<std::string> OutlookStorage::Message::From() const {
    return GetMapiPropertyString(PR_SENDER_NAME);
}

std::optional<std::string> OutlookStorage::Message::Subject() const {
    return GetMapiPropertyString(PR_SUBJECT);
}

std::optional<std::string> OutlookStorage::Message::BodyText() const {
    return GetMapiPropertyString(PR_BODY);
}

std::optional<std::vector<std::uint8_t>> OutlookStorage::Message::BodyRTFBytes() const {
    const auto compressed = GetMapiPropertyBytes(PR_RTF_COMPRESSED);
    if (!compressed || compressed->empty())
        return std::nullopt;
    return CLZF::decompressRTF(*compressed);
}

std::optional<std::string> OutlookStorage::Message::BodyRTF() const {
    const auto bytes = BodyRTFBytes();
    if (!bytes)
        return std::nullopt;
    std::string text(bytes->size(), '?');
    for (std::size_t i = 0; i < bytes->size(); ++i) {
        if ((*bytes)[i] < 128)
            text[i] = static_cast<char>((*bytes)[i]);
    }
    return text;
}

std::optional<OutlookStorage::RawProperty> OutlookStorage::Message::BodyHTML() const {
    return GetMapiPropertyRaw(PR_BODY_HTML);
}

std::optional<OutlookStorage::RawProperty> OutlookStorage::Message::BodyTextRaw() const {
    return GetMapiPropertyRaw(PR_BODY);
}

std::optional<std::uint32_t> OutlookStorage::Message::MessageCodepage() const {
    const auto v = FindPropertyStreamInt32(PR_MESSAGE_CODEPAGE);
    if (!v)
        return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::uint32_t> OutlookStorage::Message::InternetCodepage() const {
    const auto v = FindPropertyStreamInt32(PR_INTERNET_CPID);
    if (!v)
        return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::string> OutlookStorage::Message::MessageClass() const {
    return GetMapiPropertyString("001A");
}

}  // namespace tool
