#pragma once
// The message model: an Outlook message file ([MS-OXMSG]) read through a
// compound file (cfb::Storage) as OutlookStorage and its derived Message,
// Recipient and Attachment.
//
// Input: a message file by path, a std::istream or bytes in memory; the whole
// file is held in memory. Opening loads every recipient, attachment and
// embedded message (attach method 5) in the order the storage lists them.
//
// Failures are exceptions carrying a text:
//   - a file that cannot be read: common::FileReadError ("cannot open
//     "PATH": <the system's reason>", see common/file_bytes.h);
//   - the bytes are not a compound file: ArgumentError "The provided file is
//     not a valid IStorage" (paramName "storageFilePath") or "The provided
//     stream is not a valid IStorage" (paramName "storageStream");
//   - damaged input (the compound file, a property stream, the named-property
//     map, a compressed RTF body) and a property of a type the reader does
//     not read ("MAPI property has an unsupported type and can not be
//     retrieved."): common::FormatError, whose text names what and where and
//     whose offset() is the byte offset in the structure the text names (the
//     file, the property stream, the named-property entry stream, the
//     compressed RTF). What has no single place carries 0: an element or
//     storage that is absent, a property element (its type is in its name,
//     not in its bytes), embedding deeper than kMaxEmbeddingDepth;
//   - typed reads, one rule: GetMapiPropertyString gives the text, or
//     nothing when the property is absent or not text; GetMapiPropertyBytes
//     gives the bytes, nothing when absent, and fails for another kind;
//     GetMapiPropertyInt16 and GetMapiPropertyInt32 fail when the property
//     is absent or of another kind. Each such failure is a PropertyError
//     "property IIII is absent" or "property IIII is <what it is>, not <what
//     was asked>" ("text", "bytes", "an embedded storage", "a 16-bit
//     integer", "a 32-bit integer"). The property-stream reads
//     (FindPropertyStream*, GetMapiPropertyTime, Bool, Double) give nothing
//     when the property is absent or of another type;
//   - use of a disposed object: std::logic_error.
// Limits: embedded messages nest at most kMaxEmbeddingDepth deep.
//
// Text properties come back as UTF-8: 8-bit elements (001E) are decoded as
// UTF-8 with U+FFFD for bytes that do not decode, Unicode elements (001F) as
// UTF-16LE. Byte-exact forms (BodyRTFBytes, GetMapiPropertyRaw) are there for
// callers that must see the stored bytes.

#include <cfb/compound_file.h>
#include <msg/clzf.h>

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

namespace tool {

// A rejected argument; what() is the text, paramName() the argument's name.
class ArgumentError : public std::invalid_argument {
public:
    ArgumentError(const std::string& message, std::string paramName)
        : std::invalid_argument(message), m_paramName(std::move(paramName)) {}
    const std::string& paramName() const { return m_paramName; }

private:
    std::string m_paramName;
};

// A typed read that cannot give what was asked (see the rule above).
class PropertyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OutlookStorage {
public:
    using CLZF = tool::CLZF;
    using StorageHandle = std::shared_ptr<const cfb::Storage>;

    class Message;
    class Recipient;
    class Attachment;

    enum class RecipientType { To = 0, CC = 1, Unknown = 2 };

    struct NativeMethods {
        // Property types.
        static constexpr std::uint16_t PT_UNSPECIFIED = 0;
        static constexpr std::uint16_t PT_NULL = 1;
        static constexpr std::uint16_t PT_I2 = 2;
        static constexpr std::uint16_t PT_LONG = 3;
        static constexpr std::uint16_t PT_R4 = 4;
        static constexpr std::uint16_t PT_DOUBLE = 5;
        static constexpr std::uint16_t PT_CURRENCY = 6;
        static constexpr std::uint16_t PT_APPTIME = 7;
        static constexpr std::uint16_t PT_ERROR = 10;
        static constexpr std::uint16_t PT_BOOLEAN = 11;
        static constexpr std::uint16_t PT_OBJECT = 13;
        static constexpr std::uint16_t PT_I8 = 20;
        static constexpr std::uint16_t PT_STRING8 = 30;
        static constexpr std::uint16_t PT_UNICODE = 31;
        static constexpr std::uint16_t PT_SYSTIME = 64;
        static constexpr std::uint16_t PT_CLSID = 72;
        static constexpr std::uint16_t PT_BINARY = 258;
        // Storage modes, as the structured-storage interface numbers them. The
        // reader here only ever reads, so they document intent.
        static constexpr std::uint32_t STGM_READ_DENY_WRITE = 0x20;
        static constexpr std::uint32_t STGM_READ_EXCLUSIVE = 0x10;
        static constexpr std::uint32_t STGM_CREATE_EXCLUSIVE_READWRITE = 0x1012;
        static constexpr std::uint32_t STGM_EXCLUSIVE_READWRITE = 0x12;

        // Copies source, recursively, into a new in-memory compound file,
        // registers it with ReferenceManager and returns its root. When
        // closeSource is set, source is released (reset). Throws what reading
        // source throws.
        static StorageHandle CloneStorage(StorageHandle& source, bool closeSource);
    };

    // The process-wide registry of open storages; whatever is still in it
    // when the process ends is released then.
    class ReferenceManager {
    public:
        static ReferenceManager& Instance();
        void AddItem(const StorageHandle& handle);
        void RemoveItem(const StorageHandle& handle);
        std::size_t Count() const;

    private:
        mutable std::mutex m_lock;
        // Open storage handles, without duplicates.
        std::unordered_set<StorageHandle> trackingObjects;
    };

    // A value as GetMapiProperty finds it: text, bytes, a storage (an object),
    // or a 16- or 32-bit integer from the property stream.
    using MapiValue = std::variant<std::string, std::vector<std::uint8_t>, StorageHandle,
                                   std::int16_t, std::int32_t>;

    // A property element's stored bytes, untouched, with its type from the
    // element name (PT_STRING8, PT_UNICODE or PT_BINARY).
    struct RawProperty {
        std::uint16_t type = 0;
        std::vector<std::uint8_t> bytes;
    };

    enum class Encoding { Utf8, Utf16LE };

    // One 16-byte entry of the property stream: the property's type, its
    // flags and its 8 value bytes (a fixed-size value, or the size of a value
    // held in an element of its own).
    struct PropertyStreamEntry {
        std::uint16_t type = 0;
        std::uint32_t flags = 0;
        std::uint64_t value = 0;
    };

    // A property set, as [MS-OXMSG] stores it: the GUID's first three fields
    // little-endian, then its last eight bytes.
    using Guid = std::array<std::uint8_t, 16>;
    static constexpr Guid PS_MAPI = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    static constexpr Guid PS_PUBLIC_STRINGS = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    static constexpr Guid PSETID_Appointment = {0x02, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    static constexpr Guid PSETID_Task = {0x03, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    static constexpr Guid PSETID_Address = {0x04, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    static constexpr Guid PSETID_Common = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

    // The named-property map of "__nameid_version1.0": which property
    // identifier (0x8000 and above) a file gives a property named by a set
    // and a number, or by a set and a name.
    class NamedPropertyMap {
    public:
        // The identifier as four upper-case hex digits, or nothing when the
        // file names no such property.
        std::optional<std::string> Find(const Guid& propertySet, std::uint32_t longId) const;
        std::optional<std::string> Find(const Guid& propertySet, std::u16string_view name) const;
        std::size_t size() const { return m_entries.size(); }

    private:
        friend class OutlookStorage;
        struct Entry {
            Guid set{};
            bool isString = false;
            std::uint32_t longId = 0;
            std::u16string name;
            std::uint16_t propertyId = 0;
        };
        std::vector<Entry> m_entries;
    };

    static constexpr std::string_view PROPERTIES_STREAM = "__properties_version1.0";
    static constexpr int PROPERTIES_STREAM_HEADER_TOP = 32;
    static constexpr int PROPERTIES_STREAM_HEADER_EMBEDED = 24;
    static constexpr int PROPERTIES_STREAM_HEADER_ATTACH_OR_RECIP = 8;
    static constexpr std::string_view RECIP_STORAGE_PREFIX = "__recip_version1.0_#";
    static constexpr std::string_view ATTACH_STORAGE_PREFIX = "__attach_version1.0_#";
    static constexpr std::string_view NAMEID_STORAGE = "__nameid_version1.0";
    static constexpr std::string_view SUBSTG_PREFIX = "__substg1.0_";
    static constexpr std::string_view PR_SUBJECT = "0037";
    static constexpr std::string_view PR_BODY = "1000";
    static constexpr std::string_view PR_RTF_COMPRESSED = "1009";
    static constexpr std::string_view PR_BODY_HTML = "1013";
    static constexpr std::string_view PR_SENDER_NAME = "0C1A";
    static constexpr std::string_view PR_DISPLAY_NAME = "3001";
    static constexpr std::string_view PR_EMAIL = "39FE";
    static constexpr std::string_view PR_EMAIL_2 = "403E";
    static constexpr std::string_view PR_RECIPIENT_TYPE = "0C15";
    static constexpr std::string_view PR_ATTACH_DATA = "3701";
    static constexpr std::string_view PR_ATTACH_FILENAME = "3704";
    static constexpr std::string_view PR_ATTACH_METHOD = "3705";
    static constexpr std::string_view PR_ATTACH_LONG_FILENAME = "3707";
    static constexpr std::string_view PR_RENDERING_POSITION = "370B";
    static constexpr std::string_view PR_ATTACH_MIME_TAG = "370E";
    static constexpr std::string_view PR_ATTACH_CONTENT_ID = "3712";
    static constexpr std::string_view PR_MESSAGE_CODEPAGE = "3FFD";
    static constexpr std::string_view PR_INTERNET_CPID = "3FDE";
    static constexpr std::string_view PR_ADDRTYPE = "3002";
    static constexpr std::string_view PR_EMAIL_ADDRESS = "3003";
    static constexpr std::string_view PR_SMTP_ADDRESS = "39FE";
    static constexpr std::string_view PR_ATTACH_SIZE = "0E20";
    static constexpr std::string_view PR_ATTACHMENT_HIDDEN = "7FFE";
    static constexpr int MAPI_TO = 1;
    static constexpr int MAPI_CC = 2;
    static constexpr int MAPI_BCC = 3;
    static constexpr int ATTACH_BY_VALUE = 1;
    static constexpr int ATTACH_EMBEDDED_MSG = 5;
    // Embedded messages nest at most this deep (deeper is a FormatError).
    static constexpr int kMaxEmbeddingDepth = 32;

    OutlookStorage(const OutlookStorage&) = delete;
    OutlookStorage& operator=(const OutlookStorage&) = delete;
    virtual ~OutlookStorage();

    // Two lookup stages: a property element ("__substg1.0_" + identifier +
    // type; streams first, then sub-storages, each in listing order), and
    // only when there is none, the property stream (PT_I2 and PT_LONG).
    // Nothing when neither has it. propIdentifier is four upper-case hex digits.
    std::optional<MapiValue> GetMapiProperty(std::string_view propIdentifier) const;
    // The typed reads over GetMapiProperty (the rule is at the top).
    std::optional<std::string> GetMapiPropertyString(std::string_view propIdentifier) const;
    std::optional<std::vector<std::uint8_t>> GetMapiPropertyBytes(
        std::string_view propIdentifier) const;
    std::int16_t GetMapiPropertyInt16(std::string_view propIdentifier) const;
    std::int32_t GetMapiPropertyInt32(std::string_view propIdentifier) const;
    // The first stream element of the identifier, its bytes as stored.
    std::optional<RawProperty> GetMapiPropertyRaw(std::string_view propIdentifier) const;
    // A PT_LONG entry of the property stream, or nothing (absent, other type).
    std::optional<std::int32_t> FindPropertyStreamInt32(std::string_view propIdentifier) const;
    // The first entry of the identifier in the property stream, or nothing.
    // Every read of the property stream (this, FindPropertyStreamInt32, the
    // typed values below and GetMapiProperty's second stage) walks it alike:
    // entry by entry from the header while the offset is below the stream's
    // length. A stream whose last entry is cut short is a damaged file: a
    // FormatError ("property stream of N bytes ends inside the entry for
    // IIII: ...", offset() the entry's offset in the stream) when the cut entry
    // is the one asked for, or too short to hold an identifier.
    std::optional<PropertyStreamEntry> FindPropertyStreamEntry(
        std::string_view propIdentifier) const;
    // Typed values of the property stream, beside GetMapiProperty (which
    // reads only 16- and 32-bit integers there); nothing when the property is
    // absent or of another type. A time (PT_SYSTIME) is a FILETIME: 100 ns
    // intervals since 1 January 1601 UTC.
    std::optional<std::int64_t> GetMapiPropertyTime(std::string_view propIdentifier) const;
    std::optional<bool> GetMapiPropertyBool(std::string_view propIdentifier) const;
    std::optional<double> GetMapiPropertyDouble(std::string_view propIdentifier) const;
    // The size of the first stream element of the identifier, without
    // reading it, or nothing.
    std::optional<std::uint64_t> PropertyElementSize(std::string_view propIdentifier) const;

    // A listed stream of this storage, whole. FormatError when not listed.
    std::vector<std::uint8_t> GetStreamBytes(std::string_view streamName) const;
    // Those bytes as text; a leading byte-order mark chooses the encoding
    // instead and is dropped.
    std::string GetStreamAsString(std::string_view streamName, Encoding encoding) const;

    // Releases this storage (and, for a Message, everything it owns). Later
    // calls do nothing. The destructor calls it.
    void Dispose();
    bool IsDisposed() const { return disposed; }

    bool IsTopParent() const { return parentMessage == nullptr; }
    const OutlookStorage& TopParent() const;
    const OutlookStorage* ParentMessage() const { return parentMessage; }
    int PropHeaderSize() const { return propHeaderSize; }
    const std::vector<cfb::Element>& StreamStatistics() const { return streamStatistics; }
    const std::vector<cfb::Element>& SubStorageStatistics() const { return subStorageStatistics; }
    // The open storage (for tools that walk it); null after Dispose.
    const StorageHandle& Storage() const { return storage; }

protected:
    OutlookStorage() = default;
    // Lists the storage's direct elements into the two statistics tables and
    // registers it.
    virtual void LoadStorage(StorageHandle storageToLoad);
    virtual void Disposing() {}
    const cfb::Storage& open() const;

    StorageHandle storage;
    int propHeaderSize = PROPERTIES_STREAM_HEADER_TOP;
    const OutlookStorage* parentMessage = nullptr;
    std::vector<cfb::Element> streamStatistics;      // listing order
    std::vector<cfb::Element> subStorageStatistics;  // listing order
    bool disposed = false;

private:
    std::optional<MapiValue> GetMapiPropertyFromStreamOrStorage(
        std::string_view propIdentifier) const;
    std::optional<MapiValue> GetMapiPropertyFromPropertyStream(
        std::string_view propIdentifier) const;
    // The walk of the property stream: the entry of the identifier and its
    // offset in the stream.
    std::optional<std::pair<PropertyStreamEntry, std::size_t>> propertyStreamEntry(
        std::string_view propIdentifier) const;
    // The "__properties_version1.0" stream, whole, or nothing when not listed.
    std::optional<std::vector<std::uint8_t>> propertyStreamBytes() const;
};

class OutlookStorage::Recipient : public OutlookStorage {
public:
    explicit Recipient(StorageHandle storageToLoad);
    std::optional<std::string> DisplayName() const;
    // "39FE", or "403E" when that is absent or empty.
    std::optional<std::string> Email() const;
    // From the 32-bit "0C15": 1 To, 2 CC, anything else Unknown.
    // PropertyError when "0C15" is absent.
    RecipientType Type() const;
    // "0C15" as stored, without its flag bits (1 To, 2 Cc, 3 Bcc, ...), or
    // nothing when absent.
    std::optional<int> TypeNumber() const;
    // The recipient's Internet address: "39FE", else "3003" when "3002" says
    // SMTP or it reads as one. Nothing when the only address is another kind
    // (an Exchange "/O=..." address, a fax number).
    std::optional<std::string> SmtpAddress() const;
    // "3003" as stored (any kind of address) and its kind "3002" ("SMTP",
    // "EX", ...).
    std::optional<std::string> EmailAddress() const;
    std::optional<std::string> AddressType() const;
};

class OutlookStorage::Attachment : public OutlookStorage {
public:
    explicit Attachment(StorageHandle storageToLoad);
    // "3707", else "3704", else "3001"; an empty text counts as absent.
    std::optional<std::string> Filename() const;
    std::optional<std::vector<std::uint8_t>> Data() const;
    std::optional<std::string> ContentId() const;
    std::optional<std::string> MimeTag() const;
    std::int32_t RenderingPosition() const;
    // The original spelling of the same accessor, kept for callers written
    // against it.
    [[deprecated("use RenderingPosition")]] std::int32_t RenderingPosisiton() const {
        return RenderingPosition();
    }
    std::int32_t AttachMethod() const;
    // The size of the attached data ("3701"), else the attachment's size
    // ("0E20"), in bytes; nothing when neither is known.
    std::optional<std::uint64_t> DataSize() const;
};

class OutlookStorage::Message : public OutlookStorage {
public:
    // From a file path; ArgumentError "The provided file is not a valid
    // IStorage" (storageFilePath) when it is not a compound file,
    // common::FileReadError when it cannot be read or holds more than
    // cfb::CompoundFile::kMaxFileBytes.
    explicit Message(const std::string& msgfile);
    // From a stream read whole; ArgumentError "The provided stream is not a
    // valid IStorage" (storageStream) when it is not a compound file.
    explicit Message(std::istream& storageStream);
    // From bytes in memory, as from a stream.
    explicit Message(std::span<const std::uint8_t> storageBytes);
    // From bytes in memory, shared rather than copied.
    explicit Message(std::shared_ptr<const std::vector<std::uint8_t>> storageBytes);
    ~Message() override;

    const std::vector<std::unique_ptr<Recipient>>& Recipients() const { return recipients; }
    const std::vector<std::unique_ptr<Attachment>>& Attachments() const { return attachments; }
    const std::vector<std::unique_ptr<Message>>& Messages() const { return messages; }
    // Every attachment in the order the message lists them, ordinary ones
    // and embedded messages alike: exactly one of the two is set.
    struct AttachmentSlot {
        const Attachment* attachment = nullptr;
        const Message* message = nullptr;
    };
    std::vector<AttachmentSlot> AttachmentOrder() const;

    std::optional<std::string> From() const;
    std::optional<std::string> Subject() const;
    std::optional<std::string> BodyText() const;
    // Decompressed "1009" as 7-bit text, every byte above 127 turned into '?'.
    // Nothing when "1009" is absent or empty. Decompression failures throw.
    std::optional<std::string> BodyRTF() const;
    // Decompressed "1009", byte for byte. Nothing when absent or empty.
    std::optional<std::vector<std::uint8_t>> BodyRTFBytes() const;
    // "1013" as stored: PT_BINARY (bytes in the internet code page),
    // PT_STRING8 (bytes in the message code page) or PT_UNICODE (UTF-16LE).
    std::optional<RawProperty> BodyHTML() const;
    // "1000" as stored (PT_STRING8 or PT_UNICODE).
    std::optional<RawProperty> BodyTextRaw() const;
    // "3FFD" and "3FDE" from the property stream, when present as PT_LONG.
    std::optional<std::uint32_t> MessageCodepage() const;
    std::optional<std::uint32_t> InternetCodepage() const;
    // "001A", e.g. "IPM.Note", "IPM.Appointment"; nothing when absent.
    std::optional<std::string> MessageClass() const;

    // The named-property map ("__nameid_version1.0" of the top-level
    // message, which embedded messages share); empty when there is none.
    // FormatError when it is damaged: a GUID index the GUID stream lacks, a
    // name outside the string stream, an identifier beyond 0xFFFF.
    NamedPropertyMap NamedProperties() const;

    // For an embedded message, the attachment that held it: its name
    // ("3707", else "3704", else "3001", as stored) and its size ("0E20").
    const std::optional<RawProperty>& AttachmentName() const { return m_attachmentName; }
    std::optional<std::int32_t> AttachmentSize() const { return m_attachmentSize; }

    // Writes this message as a standalone message file. An embedded message
    // gets a 32-byte property-stream header and the top-level message's
    // "__nameid_version1.0".
    void Save(const std::string& fileName) const;
    void Save(std::ostream& stream) const;
    std::vector<std::uint8_t> SaveToBytes() const;

protected:
    void LoadStorage(StorageHandle storageToLoad) override;
    void Disposing() override;

private:
    Message(StorageHandle storageToLoad, const Message* parent, int depth);
    void openBytes(std::shared_ptr<const std::vector<std::uint8_t>> bytes, const char* message,
                   const char* paramName);
    void LoadAttachmentStorage(StorageHandle attachmentStorage);

    std::vector<std::unique_ptr<Recipient>> recipients;
    std::vector<std::unique_ptr<Attachment>> attachments;
    std::vector<std::unique_ptr<Message>> messages;
    // For each attachment in listing order: true for an embedded message.
    std::vector<bool> m_embeddedInOrder;
    int m_depth = 0;
    std::optional<RawProperty> m_attachmentName;
    std::optional<std::int32_t> m_attachmentSize;
};

using Message = OutlookStorage::Message;
using Recipient = OutlookStorage::Recipient;
using Attachment = OutlookStorage::Attachment;
using RecipientType = OutlookStorage::RecipientType;

}  // namespace tool
