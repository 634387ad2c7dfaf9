#pragma once
// The converter's pipeline: one message file in, one JPEG image per rendered
// page out ("Kestrune.exe <msg_file> <output_file>"). Standard library only;
// the rendering library ("Aspose.Words.dll" beside the executable) is loaded
// at run time through render/document.h.
//
// Failures are exceptions carrying their text: the message reader's
// ("The provided stream is not a valid IStorage", "compressed-RTF CRC32
// failed", ...), the rendering library's, or our own naming the file. The
// converter writes no file besides its images: the body goes to the renderer
// in memory.

#include "msg/outlook_storage.h"

#include "render/document.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace tool {

inline constexpr int kJpegQuality = 80;
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

// The body to render: the RTF body byte for byte; else the HTML body ("1013");
// else the plain body ("1000"); else an empty text (one blank page). A damaged
// RTF body gives way to the HTML or plain body when the message has one (the
// reason goes to *warning when given); without one, what the message reader
// threw for the RTF body is thrown.
RenderBody selectBody(const Message& message, std::string* warning = nullptr);

// Converts the message at msgPath: one page goes to outputPath itself, more
// pages to common::pageFileName(outputPath, 1...). Images written before a failure
// stay. Throws on failure.
void convertMessage(const std::string& msgPath, const std::string& outputPath,
                    const std::string& libraryPath);

// The whole program: fewer than two arguments print the usage line on `out`
// and return 0; otherwise converts with the library beside the executable,
// under a processor-time limit, and returns 0, or writes the failure's text
// on `err` and returns 1.
int runConverter(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace tool
