#include <msg/outlook_storage.h>

#include <common/byte_reader.h>
#include <common/file_bytes.h>
#include <common/text.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>

namespace tool {

// Each embedded message is two storages deeper than its parent (the
// attachment's and its own): the embedding limit is met before the
// compound-file reader's.
static_assert(2 * OutlookStorage::kMaxEmbeddingDepth + 2 < cfb::CompoundFile::kMaxStorageDepth);

namespace {

using common::FormatError;

constexpr const char* kUnsupportedType =
    "MAPI property has an unsupported type and can not be retrieved.";

std::string hex4(std::uint16_t v) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(v));
    return buf;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::uint16_t> parseHex4(std::string_view s) {
    if (s.size() != 4)
        return std::nullopt;
    unsigned v = 0;
    for (char c : s) {
        v <<= 4;
        if (c >= '0' && c <= '9') {
            v |= static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            v |= static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            v |= static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::uint16_t>(v);
}

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

std::optional<OutlookStorage::MapiValue> OutlookStorage::GetMapiPropertyFromPropertyStream(
    std::string_view propIdentifier) const {
    const auto stream = propertyStreamBytes();
    if (!stream)
        return std::nullopt;
    const std::vector<std::uint8_t>& bytes = *stream;
    common::ByteReader r(bytes);
    try {
        for (std::size_t off = static_cast<std::size_t>(propHeaderSize); off < bytes.size();
             off += 16) {
            r.seek(off);
            const std::uint16_t type = r.readU16();
            const std::uint16_t id = r.readU16();
            if (hex4(id) != propIdentifier)
                continue;
            r.skip(4);  // flags
            if (type == NativeMethods::PT_I2)
                return MapiValue(static_cast<std::int16_t>(r.readU16()));
            if (type == NativeMethods::PT_LONG)
                return MapiValue(static_cast<std::int32_t>(r.readU32()));
            throw FormatError(kUnsupportedType, off);
        }
    } catch (const FormatError& e) {
        if (std::string_view(e.what()) == kUnsupportedType)
            throw;
        // Only a short last entry can run past the end: say where.
        throw FormatError("property stream of " + std::to_string(bytes.size()) +
                              " bytes ends inside the entry for " + std::string(propIdentifier) +
                              ": " + e.what(),
                          e.offset());
    }
    return std::nullopt;
}

std::optional<std::string> OutlookStorage::GetMapiPropertyString(
    std::string_view propIdentifier) const {
    auto v = GetMapiProperty(propIdentifier);
    if (v && std::holds_alternative<std::string>(*v))
        return std::get<std::string>(std::move(*v));
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> OutlookStorage::GetMapiPropertyBytes(
    std::string_view propIdentifier) const {
    auto v = GetMapiProperty(propIdentifier);
    if (!v)
        return std::nullopt;
    if (!std::holds_alternative<std::vector<std::uint8_t>>(*v)) {
        throw PropertyError("property " + std::string(propIdentifier) + " does not hold bytes");
    }
    return std::get<std::vector<std::uint8_t>>(std::move(*v));
}

namespace {

// The integer a property must hold, or the failure text naming what is wrong.
template <typename Int>
Int requiredInteger(const std::optional<OutlookStorage::MapiValue>& v,
                    std::string_view propIdentifier, const char* kind) {
    if (!v)
        throw PropertyError("property " + std::string(propIdentifier) + " is absent");
    if (!std::holds_alternative<Int>(*v)) {
        throw PropertyError("property " + std::string(propIdentifier) + " is not a " + kind);
    }
    return std::get<Int>(*v);
}

}  // namespace

std::int16_t OutlookStorage::GetMapiPropertyInt16(std::string_view propIdentifier) const {
    return requiredInteger<std::int16_t>(GetMapiProperty(propIdentifier), propIdentifier,
                                         "16-bit integer");
}

std::int32_t OutlookStorage::GetMapiPropertyInt32(std::string_view propIdentifier) const {
    return requiredInteger<std::int32_t>(GetMapiProperty(propIdentifier), propIdentifier,
                                         "32-bit integer");
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
    const auto stream = propertyStreamBytes();
    if (!stream)
        return std::nullopt;
    const std::vector<std::uint8_t>& bytes = *stream;
    common::ByteReader r(bytes);
    for (std::size_t off = static_cast<std::size_t>(propHeaderSize); off + 16 <= bytes.size();
         off += 16) {
        r.seek(off);
        const std::uint16_t type = r.readU16();
        const std::uint16_t id = r.readU16();
        if (hex4(id) != propIdentifier)
            continue;
        if (type != NativeMethods::PT_LONG)
            return std::nullopt;
        r.skip(4);
        return static_cast<std::int32_t>(r.readU32());
    }
    return std::nullopt;
}

std::optional<OutlookStorage::PropertyStreamEntry> OutlookStorage::FindPropertyStreamEntry(
    std::string_view propIdentifier) const {
    const auto id = parseHex4(propIdentifier);
    const auto stream = id ? propertyStreamBytes() : std::nullopt;
    if (!stream)
        return std::nullopt;
    const std::vector<std::uint8_t>& bytes = *stream;
    common::ByteReader r(bytes);
    for (std::size_t off = static_cast<std::size_t>(propHeaderSize); off + 16 <= bytes.size();
         off += 16) {
        r.seek(off);
        PropertyStreamEntry entry;
        entry.type = r.readU16();
        if (r.readU16() != *id)
            continue;
        entry.flags = r.readU32();
        entry.value = r.readU64();
        return entry;
    }
    return std::nullopt;
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

// ---------------------------------------------------------------------------
// Recipient and Attachment

OutlookStorage::Recipient::Recipient(StorageHandle storageToLoad) {
    LoadStorage(std::move(storageToLoad));
    propHeaderSize = PROPERTIES_STREAM_HEADER_ATTACH_OR_RECIP;
}

std::optional<std::string> OutlookStorage::Recipient::DisplayName() const {
    return GetMapiPropertyString(PR_DISPLAY_NAME);
}

std::optional<std::string> OutlookStorage::Recipient::Email() const {
    auto email = GetMapiPropertyString(PR_EMAIL);
    if (!email || email->empty())
        email = GetMapiPropertyString(PR_EMAIL_2);
    return email;
}

OutlookStorage::RecipientType OutlookStorage::Recipient::Type() const {
    switch (GetMapiPropertyInt32(PR_RECIPIENT_TYPE)) {
        case MAPI_TO:
            return RecipientType::To;
        case MAPI_CC:
            return RecipientType::CC;
        default:
            return RecipientType::Unknown;
    }
}

std::optional<int> OutlookStorage::Recipient::TypeNumber() const {
    const auto type = FindPropertyStreamInt32(PR_RECIPIENT_TYPE);
    if (!type)
        return std::nullopt;
    // The high bits flag resent and submitted recipients.
    return static_cast<int>(static_cast<std::uint32_t>(*type) & 0x0FFFFFFFu);
}

namespace {

bool equalsAsciiCaseless(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// "name@domain" without spaces; an Exchange address ("/O=...") never is one.
bool looksLikeSmtp(std::string_view address) {
    const auto at = address.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < address.size() &&
           address.front() != '/' && address.find_first_of(" \t<>") == std::string_view::npos;
}

// An address property's text without the terminating zeros 8-bit strings
// are often stored with.
std::optional<std::string> addressText(std::optional<std::string> text) {
    if (text) {
        while (!text->empty() && (text->back() == '\0' || text->back() == ' '))
            text->pop_back();
    }
    return text;
}

}  // namespace

std::optional<std::string> OutlookStorage::Recipient::SmtpAddress() const {
    auto smtp = addressText(GetMapiPropertyString(PR_SMTP_ADDRESS));
    if (smtp && !smtp->empty())
        return smtp;
    auto address = EmailAddress();
    if (!address || address->empty())
        return std::nullopt;
    const auto type = AddressType();
    if ((type && equalsAsciiCaseless(*type, "SMTP")) || looksLikeSmtp(*address))
        return address;
    return std::nullopt;
}

std::optional<std::string> OutlookStorage::Recipient::EmailAddress() const {
    return addressText(GetMapiPropertyString(PR_EMAIL_ADDRESS));
}

std::optional<std::string> OutlookStorage::Recipient::AddressType() const {
    return addressText(GetMapiPropertyString(PR_ADDRTYPE));
}

OutlookStorage::Attachment::Attachment(StorageHandle storageToLoad) {
    LoadStorage(std::move(storageToLoad));
    propHeaderSize = PROPERTIES_STREAM_HEADER_ATTACH_OR_RECIP;
}

std::optional<std::string> OutlookStorage::Attachment::Filename() const {
    for (std::string_view id : {PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME, PR_DISPLAY_NAME}) {
        auto name = GetMapiPropertyString(id);
        if (name && !name->empty())
            return name;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> OutlookStorage::Attachment::Data() const {
    return GetMapiPropertyBytes(PR_ATTACH_DATA);
}

std::optional<std::string> OutlookStorage::Attachment::ContentId() const {
    return GetMapiPropertyString(PR_ATTACH_CONTENT_ID);
}

std::optional<std::string> OutlookStorage::Attachment::MimeTag() const {
    return GetMapiPropertyString(PR_ATTACH_MIME_TAG);
}

std::int32_t OutlookStorage::Attachment::RenderingPosition() const {
    return GetMapiPropertyInt32(PR_RENDERING_POSITION);
}

std::int32_t OutlookStorage::Attachment::AttachMethod() const {
    return GetMapiPropertyInt32(PR_ATTACH_METHOD);
}

std::optional<std::uint64_t> OutlookStorage::Attachment::DataSize() const {
    if (auto size = PropertyElementSize(PR_ATTACH_DATA))
        return size;
    const auto size = FindPropertyStreamInt32(PR_ATTACH_SIZE);
    if (!size || *size < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(*size);
}

// ---------------------------------------------------------------------------
// Message

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
    // The attachment object is not kept; its storage is released now rather
    // than at process end.
    attachment->Dispose();
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

OutlookStorage::NamedPropertyMap OutlookStorage::Message::NamedProperties() const {
    NamedPropertyMap map;
    const OutlookStorage& top = TopParent();
    const auto& storages = top.SubStorageStatistics();
    if (std::none_of(storages.begin(), storages.end(),
                     [](const cfb::Element& e) { return e.name == NAMEID_STORAGE; })) {
        return map;
    }
    const StorageHandle nameid = top.open().openStorage(NAMEID_STORAGE);
    std::vector<std::string> listed;
    for (const cfb::Element& e : nameid->elements()) {
        if (e.type == cfb::ElementType::Stream)
            listed.push_back(e.name);
    }
    auto streamOf = [&](const char* name) {
        const bool present = std::find(listed.begin(), listed.end(), name) != listed.end();
        return present ? nameid->readStream(name) : std::vector<std::uint8_t>();
    };
    const std::vector<std::uint8_t> guids = streamOf("__substg1.0_00020102");
    const std::vector<std::uint8_t> entries = streamOf("__substg1.0_00030102");
    const std::vector<std::uint8_t> strings = streamOf("__substg1.0_00040102");
    const std::size_t guidCount = guids.size() / 16;
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
        if (guidIndex == 1) {
            entry.set = PS_MAPI;
        } else if (guidIndex == 2) {
            entry.set = PS_PUBLIC_STRINGS;
        } else if (guidIndex >= 3 && guidIndex - 3 < guidCount) {
            std::memcpy(entry.set.data(),
                        guids.data() + static_cast<std::size_t>(guidIndex - 3) * 16, 16);
        } else {
            throw FormatError(where + " names GUID " + std::to_string(guidIndex) +
                                  "; the GUID stream holds " + std::to_string(guidCount),
                              off);
        }
        if (!entry.isString) {
            entry.longId = nameOrOffset;
        } else {
            common::ByteReader names(strings);
            if (nameOrOffset > strings.size() || strings.size() - nameOrOffset < 4) {
                throw FormatError(where + " names a string at offset " +
                                      std::to_string(nameOrOffset) + "; the string stream has " +
                                      std::to_string(strings.size()) + " bytes",
                                  off);
            }
            names.seek(nameOrOffset);
            const std::uint32_t length = names.readU32();
            if (length > names.remaining() || length % 2 != 0) {
                throw FormatError(where + " names a string of " + std::to_string(length) +
                                      " bytes at offset " + std::to_string(nameOrOffset) +
                                      " of a string stream of " + std::to_string(strings.size()) +
                                      " bytes",
                                  off);
            }
            const auto text = names.readBytes(length);
            entry.name.resize(length / 2);
            for (std::size_t i = 0; i < entry.name.size(); ++i) {
                entry.name[i] = static_cast<char16_t>(text[2 * i] | (text[2 * i + 1] << 8));
            }
        }
        map.m_entries.push_back(std::move(entry));
    }
    return map;
}

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
                0);
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
