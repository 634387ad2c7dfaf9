#pragma once
// A message's envelope as a mail program prints it above the body: a bold
// line naming the sender (or the item), a rule, then label/value rows (From,
// Sent, To, Cc, Bcc, Subject, the fields of the item's kind, Attachments,
// Importance), as text for the rendering library's header block.
// Standard library only.
//
// No text from the message is read as markup. 8-bit strings are
// decoded by the caller's code-page table, trying the message code page
// ("3FFD"), the internet code page ("3FDE"), those of the messages it is
// embedded in, then Windows-1252; bytes invalid in one code page fall to the
// next, and ISO-8859-1 ends the chain (every byte is a character in it).

#include <msg/outlook_storage.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mime {
struct Message;
}

namespace envelope {

using Message = tool::OutlookStorage::Message;

// 8-bit text in a Windows code page as UTF-8; nothing when the code page is
// unknown or the bytes are not valid in it.
using CodePageDecoder = std::function<std::optional<std::string>(
    std::uint32_t codePage, std::span<const std::uint8_t> bytes)>;

struct Options {
    // Time zone of the dates (an IANA name such as "Europe/Berlin"); empty:
    // the machine's own.
    std::string timeZone;
    // Content ids of the pictures the body shows: those attachments are not
    // listed under "Attachments:".
    std::vector<std::string> shownContentIds;
    // The attachment that carries the message's signed or encrypted content
    // (smime.p7m): not listed; the content's own attachments are, by these
    // entries ("name (12 KB)").
    const tool::OutlookStorage::Attachment* contentCarrier = nullptr;
    std::vector<std::string> contentAttachments;
};

// What kind of item a message class names, for the fields shown.
enum class ItemKind { Mail, Meeting, Appointment, Contact, Task, Report, Other };
ItemKind kindOf(std::string_view messageClass);

struct Row {
    std::string label;  // "From:", "Sent:", ...
    std::string value;  // UTF-8; line breaks are kept
};

struct Header {
    std::string title;  // the bold line: the sender, or the contact's name
    std::vector<Row> rows;
    // The instant of the "Sent:" row, in seconds since 1970 UTC; nothing for
    // a draft or a date that cannot be read.
    std::optional<std::int64_t> sentSeconds;
    // Parts of the message that could not be read for the header (a damaged
    // named-property map, ...): the rest is shown, the reason said.
    std::vector<std::string> warnings;
};

// The header of a message. Reading failures of optional parts become
// warnings; the message model's failures on what every message has (a
// disposed message) are thrown.
Header describe(const Message& message, const CodePageDecoder& decode, const Options& options);

// The header of Internet mail (RFC 5322 fields as the mail reader decoded
// them), in the same rows; the reader's warnings become the header's.
Header describe(const mime::Message& mail, const Options& options);

// The entries the Attachments row lists for Internet mail: "name (12 KB)".
std::vector<std::string> attachmentEntries(const mime::Message& mail);

// The header block as the rendering library's header text
// (orv_document_set_header): the title on the first line, then a row a line,
// label and value apart by a tab, a line break within a value as U+2028. A
// row longer than a page's worth of text (a list of a thousand recipients)
// goes last, whole, so the subject stays on the first page.
std::string toText(const Header& header);

// The names the header lists attachments by: an attachment's long file
// name, else its file name, else its display name; an embedded message's
// name as its attachment gave it, else its subject. Decoded in the code pages
// of `message` (the owner); nothing when there is none.
std::optional<std::string> attachmentName(const Message& message,
                                          const tool::OutlookStorage::Attachment& attachment,
                                          const CodePageDecoder& decode);
std::optional<std::string> embeddedMessageName(const Message& owner, const Message& embedded,
                                               const CodePageDecoder& decode);

// A size as mail programs list attachments: "1.2 MB", "12 KB" (rounded up).
std::string sizeText(std::uint64_t bytes);

// A FILETIME (100 ns ticks since 1601) in seconds since 1970 UTC.
constexpr std::int64_t fileTimeToUnixSeconds(std::int64_t fileTime) {
    return fileTime / 10'000'000 - 11'644'473'600;
}

// An instant (seconds since 1970 UTC) as load files give it, in the zone
// (empty: the machine's own): "12/31/2026", "23:59:05" and the zone's name
// (the one given, else the machine's abbreviation, "CET"); all empty for a
// time out of range.
struct SentFields {
    std::string date, time, zone;
};
SentFields sentFields(std::int64_t unixSeconds, const std::string& timeZone);

// A FILETIME (100 ns since 1601 UTC) in the zone (empty: the machine's
// own), as "Tuesday, 8 December 2026 01:27", or without the time of day. Nothing
// for a time before 1601 or after 4500 (the "no date" mark of mail programs).
std::optional<std::string> formatTime(std::int64_t fileTime, const std::string& timeZone,
                                      bool withTimeOfDay = true);

}  // namespace envelope
