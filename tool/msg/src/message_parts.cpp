// Recipients and attachments: their accessors over the property lookup.

#include <msg/address_text.h>
#include <msg/outlook_storage.h>

namespace tool {

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
    if ((type && equalsCaseless(*type, "SMTP")) || looksLikeSmtp(*address))
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
}  // namespace tool
