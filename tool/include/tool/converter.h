#pragma once
// The converter's pipeline: one message file (or Internet mail) in, one JPEG
// image per rendered page out ("Kestrune.exe <msg_file> <output_file>").
// Standard library only; the rendering library ("liborvaline-render.so"
// beside the executable) is loaded at run time through render/document.h.
//
// Failures are exceptions carrying their text: the message reader's
// ("The provided stream is not a valid IStorage", "compressed-RTF CRC32
// failed", ...), the rendering library's, or our own naming the file. The
// converter writes no file besides its images: the body goes to the renderer
// in memory.

#include "msg/outlook_storage.h"

#include "envelope/envelope.h"
#include "render/document.h"

#include <common/bates.h>
#include <common/page_files.h>

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tool {

inline constexpr int kJpegQuality = 80;
// Seconds LibreOffice may take to turn one Office attachment into PDF, by
// default; past them it is stopped and the attachment gets a placeholder.
inline constexpr unsigned kOfficeSecondsLimit = 60;
// Processor seconds the converter may use before it stops with a text.
inline constexpr unsigned kCpuSecondsLimit = 120;
inline constexpr const char* kUsageLine = "Usage: Veltrane.exe <msg_file> <output_file>";

// What the renderer is given for one message.
struct RenderBody {
    enum class Kind { Rtf, Html, Text, None };
    Kind kind = Kind::None;
    std::vector<std::uint8_t> bytes;
    // Windows code page of 8-bit HTML or text bytes that do not declare
    // their encoding (0: unknown); the rendering library's table decodes it.
    std::uint32_t codePage = 0;
    // Attachments with a content id, for HTML bodies (plain or wrapped in
    // RTF) that show them.
    std::vector<render::InlineImage> images;
};

// How pages are made; the defaults are the converter's designed behaviour.
struct ConvertOptions {
    // The message's header block (sender, date, recipients, ...) above the
    // body on the first page.
    bool header = false;
    // Every attachment that is not a picture the body shows follows the
    // message's pages, in the message's attachment order (embedded messages
    // among them), each first page opening with a caption band.
    bool attachments = false;
    // Seconds LibreOffice may take over one Office attachment (and to start).
    unsigned officeSeconds = kOfficeSecondsLimit;
    // Dots per inch of the page images.
    int dpi = 96;
    render::LoadOptions::Paper paper = render::LoadOptions::Paper::Document;
    int quality = kJpegQuality;
    // Time zone the header shows dates in (an IANA name such as
    // "Europe/Berlin"); empty: the machine's own.
    std::string timeZone;
    // What the pages are written as: a JPEG per page; one PDF per message
    // (text as text, its title the subject, its author the sender, its date
    // the sent time); TIFF pages, at kTiffDpi unless --dpi says otherwise.
    enum class Format { Jpeg, Pdf, Tiff };
    Format format = Format::Jpeg;
    // TIFF: which pages are bilevel (Group 4) and which JPEG; one file per
    // page, or one file per message holding every page.
    render::PageFile::Colour colour = render::PageFile::Colour::Auto;
    bool tiffMulti = false;
    // The words of the pages beside them (common::textFileName), UTF-8: the
    // header and body of each document as laid out, one after another.
    bool text = false;
    // A production (the batch converter's --bates): the message and each of
    // its attachments are documents of their own (ConvertResult::documents),
    // each page carries its Bates number in a band added below it, with the
    // legend; the words of each document go to a file of its own, and what
    // cannot be shown is a slip sheet "Produced in native format".
    struct Production {
        common::Bates bates;
        std::string legend;
        // The number of the message's first page.
        std::uint64_t first = 1;
        // Pages are laid out and counted only: nothing is painted or written.
        bool countOnly = false;
        // Each document's own bytes are written beside its pages.
        bool natives = false;
    };
    std::optional<Production> production;
};

// TIFF pages are made at the resolution productions ask for.
inline constexpr int kTiffDpi = 300;

// What every document of a message is loaded with: the paper, and for PDF
// pages no ligatures (so that the PDF's text gives back every letter).
inline render::LoadOptions documentOptions(const ConvertOptions& options) {
    render::LoadOptions load;
    load.paper = options.paper;
    load.ligatures = options.format != ConvertOptions::Format::Pdf;
    return load;
}

// One line per option, for usage texts of every program that takes them.
inline constexpr const char* kOptionsHelp =
    "  --header          put the message's header block (From, Sent, To, ...) above the body;\n"
    "                    forwarded messages follow as pages of their own\n"
    "  --attachments     every attachment follows as pages (pictures, PDF, text, Office\n"
    "                    documents, forwarded mail) or as a page that says why it is not shown\n"
    "  --office-timeout SECONDS\n"
    "                    LibreOffice's time for one Office attachment (default 60)\n"
    "  --dpi N           resolution of the page images, 72 to 600 dots per inch (default 96)\n"
    "  --paper NAME      letter or a4 (default: the body's own paper, Letter for HTML and text)\n"
    "  --quality N       JPEG quality, 1 to 100 (default 80)\n"
    "  --timezone ZONE   time zone of the header's dates, e.g. Europe/Berlin (default: local)\n"
    "  --format NAME     jpeg (default: a JPEG image per page), pdf (one PDF per message, its\n"
    "                    text searchable) or tiff (pages at 300 dpi unless --dpi says otherwise)\n"
    "  --colour NAME     TIFF pages: auto (default: a page all grey is bilevel, CCITT Group 4;\n"
    "                    others JPEG), never (every page bilevel) or always (every page JPEG)\n"
    "  --tiff-pages NAME single (default: one TIFF file per page) or multi (one per message)\n"
    "  --text            also write the words of the pages, as laid out, to NAME.txt (UTF-8)\n";

// `options` with the options among `words` ("--header", "--dpi 300" or
// "--dpi=300", ...) applied. Words that do not begin with "-" are left
// alone, as every argument after the first two always was. Throws
// common::UsageError with the text of the first option refused (unknown,
// missing its value, or out of range).
ConvertOptions parseOptions(const std::vector<std::string>& words, ConvertOptions options = {});

// The body to render: the RTF body byte for byte; else the HTML body ("1013");
// else the plain body ("1000"); else an empty text (one blank page). A damaged
// RTF body gives way to the HTML or plain body when the message has one (the
// reason goes to *warning when given); without one, what the message reader
// threw for the RTF body is thrown.
RenderBody selectBody(const Message& message, std::string* warning = nullptr);

// The content ids of the body's pictures that the body links to ("cid:" +
// id, in 8-bit or UTF-16 text): those attachments are the body's, not pages
// of their own.
std::vector<std::string> shownContentIds(const RenderBody& body);

// The rendering library's code-page table, for the header's 8-bit strings.
// The library must outlive the decoder.
envelope::CodePageDecoder codePageDecoder(const render::Library& library);

// The header block of `message` above `body` (its rows, for callers that
// lay it out themselves); attachments the body shows as pictures are not
// listed.
envelope::Header messageHeader(const Message& message, const RenderBody& body,
                               const ConvertOptions& options,
                               const envelope::CodePageDecoder& decode);

// The messages whose pages a message file makes, in page order: the message
// itself; with the header option, then each embedded message (an attachment
// holding a message), depth first.
std::vector<const Message*> pageMessages(const Message& message, const ConvertOptions& options);

// An attachment as the pages show it (with the attachments option).
struct AttachmentRecord {
    // Its place: "2" for the message's second attachment, "2.1" for the
    // first attachment of the message attached second.
    std::string number;
    std::string name;  // as the message names it
    std::string type;  // MIME type, from its bytes where they tell
    std::uint64_t size = 0;
    std::string sha256;  // of its bytes ("" for an embedded message)
    // "pages" when its content is shown, else "placeholder", with the reason.
    std::string shown;
    std::string reason;
    std::vector<int> pages;  // its page numbers among the message's images, from 1
};

// One document of a production: the message, or one attachment (an attached
// message among them), with what a load file says of it.
struct DocumentRecord {
    std::string number;  // "" for the message itself, else its attachment's place ("2.1")
    int firstPage = 1;   // among the message's pages, from 1
    int pages = 0;
    bool slipSheet = false;  // not shown: its page says "Produced in native format"
    std::string fileName;    // the attachment's name ("" for the message itself)
    std::string type;        // its MIME type, from its bytes where they tell
    std::uint64_t size = 0;
    // Of its own bytes (an embedded message's: the message file it saves
    // as); "" when they cannot be read.
    std::string md5, sha256;
    bool mail = false;  // a message: the fields below are its header's
    std::string from, to, cc, bcc, subject, messageId;
    std::string sentDate, sentTime, timeZone;  // "12/31/2026", "23:59:00", "UTC"
    std::string textFile;                      // its words, written beside the pages
    std::string nativeFile;                    // its bytes (with natives), "" without
};

inline constexpr const char* kSlipSheetText = "Produced in native format";

// What converting one message made.
struct ConvertResult {
    // The page files written, in page order (one for a PDF or multi-page
    // TIFF, which holds `pages` pages).
    std::vector<std::string> images;
    int pages = 0;
    std::string textFile;               // written with the text option
    std::vector<std::string> warnings;  // what was recovered from, one text each
    std::vector<AttachmentRecord> attachments;
    // With a production: its documents in page order.
    std::vector<DocumentRecord> documents;
};

// What a message is read from: a whole file (a message file, Internet mail,
// an mbox file of one message), or one message of an mbox file, `length`
// bytes from `offset`.
struct Source {
    std::string path;
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> length;
};

// Converts the message at msgPath with a loaded rendering library: one page
// goes to outputPath itself, more pages to common::pageFileName(outputPath,
// 1...). With the header option each message's first page starts with its
// header block, and the pages of embedded messages follow the message's own,
// numbered on (at most common::kMaxPages in all; what is left out is said
// in a warning). Each image is complete or absent (written under a temporary
// name and renamed); images written before a failure stay. Throws on failure.
// What the file holds decides how it is read, never its name: a compound
// file is a message file; text that starts with mail header fields is
// Internet mail (RFC 5322 with MIME), drawn as the same message file would
// be; an mbox file of several messages is refused with a text naming the
// batch converter.
ConvertResult convertMessage(const render::Library& library, const Source& source,
                             const std::string& outputPath, const ConvertOptions& options = {});
inline ConvertResult convertMessage(const render::Library& library, const std::string& msgPath,
                                    const std::string& outputPath,
                                    const ConvertOptions& options = {}) {
    return convertMessage(library, Source{msgPath, 0, std::nullopt}, outputPath, options);
}

// The whole program: fewer than two arguments print the usage line on `out`
// and return 0; a refused option prints its text and the options on `err` and
// returns 2 before anything is read or written; otherwise converts with the
// library beside the executable, under a processor-time limit, prints the
// warnings on `err` and returns 0, or writes the failure's text on `err` and
// returns 1.
int runConverter(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace tool
