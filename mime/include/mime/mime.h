#pragma once
// The Internet mail reader: RFC 5322 messages with MIME (.eml files,
// message/rfc822 attachments, mbox files), MIME entities without a mail
// header (what an smime.p7m attachment holds) and DER PKCS#7 / CMS blobs, read
// into plain values for drawing: the header fields decoded to UTF-8, the body
// a mail program would show, the pictures it links, and the attachments.
// Signed and encrypted mail is recognised and unwrapped where that needs no
// key; nothing is verified or decrypted.
//
// Hostile input is expected: damaged mail is read as far as it goes, and what
// the reader recovered from is listed in Message::warnings. Every call is
// bounded by Limits. Thread-safe: calls share no state but the mail library's
// process-wide tables, which it sets up once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace mime {

// Nesting of multiparts in multiparts within one message; a multipart deeper
// than this is kept whole as one attachment (its raw entity) with a warning.
inline constexpr std::size_t kMaxPartDepth = 32;
// Nesting of messages in messages (message/rfc822, and the entity an S/MIME
// signed-data blob holds); a message deeper than this is kept as an
// attachment of its raw bytes, unread, with a warning.
inline constexpr std::size_t kMaxMessageDepth = 32;
// MIME parts looked at in one call, nested messages included; the parts after
// it are left out with a warning.
inline constexpr std::size_t kMaxParts = 10000;
// Decoded bytes held in one result (part bytes, body text, nested messages'
// raw bytes); a part that would go over it keeps its first bytes and is marked
// truncated, with a warning.
inline constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{512} << 20;
// Bytes one call accepts; a larger input is refused with a ParseError (never
// more than 4 GiB - 2, what the parser's byte arrays hold, whatever Limits
// says).
inline constexpr std::uint64_t kMaxInputBytes = std::uint64_t{1} << 30;
// Messages read from one mbox file; the rest are left out with a warning.
inline constexpr std::size_t kMaxMailboxMessages = 100000;
// Warnings kept per message; one more line then says how many were left out.
inline constexpr std::size_t kMaxWarnings = 200;

struct Limits {
    std::size_t partDepth = kMaxPartDepth;
    std::size_t messageDepth = kMaxMessageDepth;
    std::size_t parts = kMaxParts;
    std::uint64_t decodedBytes = kMaxDecodedBytes;
    std::uint64_t inputBytes = kMaxInputBytes;
    std::size_t mailboxMessages = kMaxMailboxMessages;
};

// The input is not what the call reads (no mail header, no PKCS#7
// structure), or is larger than Limits::inputBytes. The text says which.
class ParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Address {
    std::string name;     // display name, UTF-8, RFC 2047 decoded; may be empty
    std::string address;  // the bare address (local@domain) as written; empty for an empty group
};

struct Header {
    std::string name;   // as written
    std::string value;  // unfolded, RFC 2047 decoded, UTF-8
};

struct Date {
    bool valid = false;         // the text could be read as a date
    std::int64_t seconds = 0;   // since 1970-01-01 00:00 UTC
    int zoneOffsetMinutes = 0;  // the zone it was written with (+0100 is 60)
    std::string text;           // the field as written, decoded
};

enum class Importance { Normal, Low, High };

// A leaf part: an attachment or an inline picture.
struct Part {
    std::string contentType;  // lower case, "image/png"
    // Content-Disposition filename, else Content-Type name; decoded. As the
    // mail gives it: make it safe before a file system sees it.
    std::string fileName;
    std::string contentId;  // without < >
    std::string contentLocation;
    bool inlineDisposition = false;
    // Transfer encoding removed; of a message/rfc822 part, the message as
    // the parser writes it back.
    std::vector<std::uint8_t> bytes;
    std::uint64_t declaredSize = 0;  // Content-Disposition size=, when given
    bool truncated = false;          // bytes stop at Limits::decodedBytes
};

enum class Security { None, Signed, OpaqueSigned, Encrypted };

struct Message {
    // Header fields, decoded to UTF-8: RFC 2047 words by their charset;
    // 8-bit bytes without an encoding as UTF-8 when valid, else windows-1252.
    std::string subject;
    std::vector<Address> from;
    std::vector<Address> sender;
    std::vector<Address> replyTo;
    std::vector<Address> to;
    std::vector<Address> cc;
    std::vector<Address> bcc;
    Date date;
    std::string messageId;  // without < >
    std::string inReplyTo;  // the first message id in it, without < >
    Importance importance = Importance::Normal;
    std::vector<Header> headers;  // every field, in order

    // The body a mail program shows: in multipart/alternative the richest
    // part it can show (text/html over text/enriched, which comes as HTML,
    // over text/plain), in multipart/related the root part, in
    // multipart/mixed the first text part that is not an attachment. UTF-8,
    // line ends "\n"; text/plain format=flowed joined.
    enum class BodyKind { None, Html, Text };
    BodyKind bodyKind = BodyKind::None;
    std::string body;
    std::vector<Part> related;  // pictures the HTML body links by cid: or Content-Location

    // Every other leaf part in the order it stands in the message;
    // message/rfc822 parts also as a nested Message.
    struct Attachment {
        Part part;
        std::unique_ptr<Message> message;  // set for a message read as one
    };
    std::vector<Attachment> attachments;

    Security security = Security::None;
    std::string securityProtocol;  // "S/MIME", "PGP/MIME", "PGP (inline)"; empty for None
    std::vector<std::string> warnings;
};

// An RFC 5322 message (an .eml file; a leading mbox "From " line is passed
// over). Throws ParseError when looksLikeMail is false for its start.
Message parseMessage(std::span<const std::uint8_t> bytes, const Limits& limits = {});
// A MIME entity without a mail header: the header fields of Message are
// empty. Never throws ParseError but for the input size.
Message parseEntity(std::span<const std::uint8_t> bytes, const Limits& limits = {});
// A DER (or BER) PKCS#7 / CMS ContentInfo: signed-data with its content
// (opaque-signed: the content is read as a MIME entity), signed-data without
// it (a detached signature: Signed, nothing to show), enveloped-data or
// authEnveloped-data (encrypted: nothing to show). Throws ParseError for
// anything else.
Message parsePkcs7(std::span<const std::uint8_t> der, const Limits& limits = {});
// Every message of an mbox file, split as MailboxSplitter does; each read
// as parseMessage reads it. Throws ParseError when it does not start with a
// "From " line.
std::vector<Message> parseMailbox(std::span<const std::uint8_t> bytes, const Limits& limits = {});

// One message's place in an mbox file: its "From " line starts at `offset`,
// and it runs `length` bytes, to the empty line before the next message's
// "From " line, or to the end (less a last empty line).
struct MailboxEntry {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Splits an mbox file into its messages as its bytes come, in blocks of any
// size: what it keeps does not grow with the file (but for the entries).
// A message starts at a line beginning "From " at the start of the input
// (after an optional byte order mark) or after an empty line, when header
// fields follow it; a body's "From " line that was not quoted as ">From " is
// then still body text. Quoted lines (">From ") are the message's bytes and
// stay as they are. After Limits::mailboxMessages messages the rest is left
// out, with a warning.
class MailboxSplitter {
public:
    explicit MailboxSplitter(const Limits& limits = {});
    // The next bytes of the file.
    void add(std::span<const std::uint8_t> bytes);
    // Every message, once the file has ended. Throws ParseError when the
    // input does not start with a "From " line.
    std::vector<MailboxEntry> finish();
    // What the split recovered from, one text each.
    const std::vector<std::string>& warnings() const { return m_warnings; }

private:
    void lineEnded();
    void decideCandidate();

    std::size_t m_maxMessages;
    std::uint64_t m_position = 0;
    std::uint64_t m_lineStart = 0;
    std::string m_lineHead;  // the first bytes of the current line
    std::uint64_t m_lineLength = 0;
    bool m_afterEmpty = true;
    bool m_probing = false;    // collecting a possible message start
    bool m_candidate = false;  // it began with "From "
    std::uint64_t m_probeStart = 0;
    std::uint64_t m_probeSeparator = 0;  // the empty line before it
    std::uint64_t m_emptyLineStart = 0;  // the last empty line's
    std::string m_probe;
    bool m_startsWithFrom = false;
    bool m_full = false;
    std::vector<std::uint64_t> m_starts;
    std::vector<std::uint64_t> m_ends;
    std::vector<std::string> m_warnings;
};

// The messages of the mbox file at `path`, read in blocks. Throws ParseError
// as MailboxSplitter::finish does, and common::FileReadError when the file
// cannot be read.
std::vector<MailboxEntry> splitMailboxFile(const std::string& path,
                                           std::vector<std::string>* warnings = nullptr,
                                           const Limits& limits = {});

// By content: an mbox file starts with a "From " line (after an optional
// byte order mark) followed by header fields. Give it the first few KiB.
bool looksLikeMailbox(std::span<const std::uint8_t> head);

// By content: header fields at the start (after an optional byte order mark
// and mbox "From " line), one of them a field mail always has. Give it the
// first few KiB; a line cut by the end of `head` is passed over.
bool looksLikeMail(std::span<const std::uint8_t> head);

}  // namespace mime
