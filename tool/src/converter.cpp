#include "tool/converter.h"

#include <common/command_line.h>
#include <common/file_bytes.h>
#include <common/page_files.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>

namespace tool {

namespace {

using Kind = RenderBody::Kind;

constexpr std::uint8_t kUtf16LeBom[] = {0xFF, 0xFE};

// Stored strings often end in a terminating zero, which is not text.
void dropTrailingZeros(std::vector<std::uint8_t>& bytes, std::size_t unit) {
    while (bytes.size() >= unit &&
           std::all_of(bytes.end() - static_cast<std::ptrdiff_t>(unit), bytes.end(),
                       [](std::uint8_t b) { return b == 0; })) {
        bytes.resize(bytes.size() - unit);
    }
}

// A stored text property, made self-describing for the renderer: UTF-16
// gets its byte-order mark, 8-bit text the name of its code page.
void takeText(const OutlookStorage::RawProperty& raw, std::uint32_t codePage, RenderBody& body) {
    if (raw.type == OutlookStorage::NativeMethods::PT_UNICODE) {
        body.bytes.assign(std::begin(kUtf16LeBom), std::end(kUtf16LeBom));
        body.bytes.insert(body.bytes.end(), raw.bytes.begin(), raw.bytes.end());
        dropTrailingZeros(body.bytes, 2);
    } else {
        body.bytes = raw.bytes;
        dropTrailingZeros(body.bytes, 1);
        body.codePage = codePage;
    }
}

std::vector<render::InlineImage> inlineImages(const Message& message) {
    std::vector<render::InlineImage> images;
    for (const auto& attachment : message.Attachments()) {
        const auto contentId = attachment->ContentId();
        if (!contentId || contentId->empty()) {
            continue;
        }
        auto data = attachment->Data();
        if (!data || data->empty()) {
            continue;
        }
        images.push_back({*contentId, attachment->Filename().value_or(""), std::move(*data)});
    }
    return images;
}

extern "C" void onCpuLimit(int) {
    static const char kText[] =
        "the conversion was stopped: it used more processor time than the converter allows\n";
    // Only async-signal-safe calls here.
    const ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    _exit(common::kExitFailure);
}

// A soft limit ends a runaway conversion with SIGXCPU, which prints a text and
// exits 1; a limit already lower is kept.
void limitProcessorTime() {
    struct sigaction action {};
    action.sa_handler = onCpuLimit;
    sigemptyset(&action.sa_mask);
    sigaction(SIGXCPU, &action, nullptr);
    rlimit limit{};
    if (getrlimit(RLIMIT_CPU, &limit) != 0) {
        return;
    }
    const rlim_t wanted = kCpuSecondsLimit;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > wanted) {
        limit.rlim_cur =
            (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted) ? wanted : limit.rlim_max;
        setrlimit(RLIMIT_CPU, &limit);
    }
}

}  // namespace

RenderBody selectBody(const Message& message, std::string* warning) {
    RenderBody body;
    std::optional<std::vector<std::uint8_t>> rtf;
    try {
        rtf = message.BodyRTFBytes();
    } catch (const std::exception& e) {
        // A message whose RTF body is damaged usually still carries its text
        // in another body: the user gets that rather than nothing.
        const bool hasHtml = message.BodyHTML().has_value();
        if (!hasHtml && !message.BodyTextRaw().has_value()) {
            throw;
        }
        if (warning != nullptr) {
            *warning = std::string("the RTF body cannot be read (") + e.what() + "); the " +
                       (hasHtml ? "HTML" : "plain-text") + " body is shown instead";
        }
    }
    if (rtf) {
        body.kind = Kind::Rtf;
        body.bytes = std::move(*rtf);
    } else if (auto html = message.BodyHTML()) {
        body.kind = Kind::Html;
        // Binary HTML is in the internet code page, 8-bit text properties in
        // the message code page.
        const bool binary = html->type == OutlookStorage::NativeMethods::PT_BINARY;
        const auto first = binary ? message.InternetCodepage() : message.MessageCodepage();
        const auto second = binary ? message.MessageCodepage() : message.InternetCodepage();
        takeText(*html, first.value_or(second.value_or(0)), body);
    } else if (auto text = message.BodyTextRaw()) {
        body.kind = Kind::Text;
        const auto codePage = message.MessageCodepage();
        takeText(*text, codePage.value_or(message.InternetCodepage().value_or(0)), body);
    }
    // HTML bodies, and HTML wrapped in RTF (\fromhtml1), link to these.
    body.images = inlineImages(message);
    return body;
}

namespace {

bool parseNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int number = std::stoi(text);
    if (number < low || number > high) {
        return false;
    }
    value = number;
    return true;
}

// A time zone name as the system's zone database spells it: letters, digits
// and "/_+-", never "..", and a file of that name in the database.
bool knownTimeZone(const std::string& name) {
    if (name.empty() || name.size() > 64 || name.find("..") != std::string::npos ||
        name.front() == '/' || !std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '/' || c == '_' ||
                   c == '+' || c == '-';
        })) {
        return false;
    }
    std::error_code error;
    return std::filesystem::is_regular_file("/usr/share/zoneinfo/" + name, error);
}

// --format, --colour and --tiff-pages: one of the words each names.
void parseChoice(const std::string& name, const std::string& value, ConvertOptions& options) {
    using Format = ConvertOptions::Format;
    using Colour = render::PageFile::Colour;
    if (name == "--format" && (value == "jpeg" || value == "pdf" || value == "tiff")) {
        options.format = value == "jpeg"  ? Format::Jpeg
                         : value == "pdf" ? Format::Pdf
                                          : Format::Tiff;
    } else if (name == "--colour" && (value == "auto" || value == "never" || value == "always")) {
        options.colour = value == "auto"    ? Colour::Auto
                         : value == "never" ? Colour::Never
                                            : Colour::Always;
    } else if (name == "--tiff-pages" && (value == "single" || value == "multi")) {
        options.tiffMulti = value == "multi";
    } else {
        const char* choices = name == "--format"   ? "jpeg, pdf or tiff"
                              : name == "--colour" ? "auto, never or always"
                                                   : "single or multi";
        throw common::UsageError(name + " takes " + choices + ", not \"" + value + "\"");
    }
}

}  // namespace

ConvertOptions parseOptions(const std::vector<std::string>& words, ConvertOptions options) {
    bool dpiGiven = false;
    const ConvertOptions::Format formatBefore = options.format;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.empty() || word.front() != '-') {
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (const auto equals = word.find('='); equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        if (name == "--header" || name == "--attachments" || name == "--text") {
            if (value) {
                throw common::UsageError(name + " takes no value");
            }
            (name == "--header" ? options.header
             : name == "--text" ? options.text
                                : options.attachments) = true;
            continue;
        }
        const bool takesValue = name == "--dpi" || name == "--paper" || name == "--quality" ||
                                name == "--timezone" || name == "--office-timeout" ||
                                name == "--format" || name == "--colour" || name == "--tiff-pages";
        if (!takesValue) {
            throw common::UsageError("unknown option " + name);
        }
        if (!value) {
            if (i + 1 >= words.size()) {
                throw common::UsageError(name + " needs a value");
            }
            value = words[++i];
        }
        if (name == "--dpi") {
            if (!parseNumber(*value, 72, 600, options.dpi)) {
                throw common::UsageError("--dpi takes a whole number from 72 to 600, not \"" +
                                         *value + "\"");
            }
            dpiGiven = true;
        } else if (name == "--format" || name == "--colour" || name == "--tiff-pages") {
            parseChoice(name, *value, options);
        } else if (name == "--office-timeout") {
            int seconds = 0;
            if (!parseNumber(*value, 1, 3600, seconds)) {
                throw common::UsageError(
                    "--office-timeout takes whole seconds from 1 to 3600, not \"" + *value + "\"");
            }
            options.officeSeconds = static_cast<unsigned>(seconds);
        } else if (name == "--quality") {
            if (!parseNumber(*value, 1, 100, options.quality)) {
                throw common::UsageError("--quality takes a whole number from 1 to 100, not \"" +
                                         *value + "\"");
            }
        } else if (name == "--paper") {
            if (*value == "letter") {
                options.paper = render::LoadOptions::Paper::Letter;
            } else if (*value == "a4") {
                options.paper = render::LoadOptions::Paper::A4;
            } else {
                throw common::UsageError("--paper takes letter or a4, not \"" + *value + "\"");
            }
        } else if (!knownTimeZone(*value)) {
            throw common::UsageError(
                "--timezone takes a time zone name such as Europe/Berlin, not \"" + *value + "\"");
        } else {
            options.timeZone = *value;
        }
    }
    if (options.format == ConvertOptions::Format::Tiff &&
        formatBefore != ConvertOptions::Format::Tiff && !dpiGiven) {
        options.dpi = kTiffDpi;
    }
    return options;
}

envelope::CodePageDecoder codePageDecoder(const render::Library& library) {
    return [&library](std::uint32_t codePage, std::span<const std::uint8_t> bytes) {
        return library.TextFromCodePage(codePage, bytes);
    };
}

namespace {

bool contains(std::span<const std::uint8_t> haystack, std::span<const std::uint8_t> needle) {
    return !needle.empty() && std::search(haystack.begin(), haystack.end(), needle.begin(),
                                          needle.end()) != haystack.end();
}

}  // namespace

std::vector<std::string> shownContentIds(const RenderBody& body) {
    std::vector<std::string> shown;
    for (const render::InlineImage& image : body.images) {
        const std::string link = "cid:" + image.contentId;
        const std::vector<std::uint8_t> narrow(link.begin(), link.end());
        std::vector<std::uint8_t> wide;
        for (const char c : link) {
            wide.push_back(static_cast<std::uint8_t>(c));
            wide.push_back(0);
        }
        if (contains(body.bytes, narrow) || contains(body.bytes, wide)) {
            shown.push_back(image.contentId);
        }
    }
    return shown;
}

envelope::Header messageHeader(const Message& message, const RenderBody& body,
                               const ConvertOptions& options,
                               const envelope::CodePageDecoder& decode) {
    envelope::Options header;
    header.timeZone = options.timeZone;
    header.shownContentIds = shownContentIds(body);
    return envelope::describe(message, decode, header);
}

int runConverter(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    if (argc < 3) {
        out << kUsageLine << "\n";
        return common::kExitSuccess;
    }
    ConvertOptions options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 3, argv + argc));
    } catch (const common::UsageError& e) {
        err << "Kestrune.exe: " << e.what() << "\n" << kUsageLine << " [options]\n" << kOptionsHelp;
        return common::kExitUsage;
    }
    limitProcessorTime();
    // The renderer runs without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    try {
        const std::string libraryPath = render::Library::besideExecutable();
        std::error_code ignored;
        if (!std::filesystem::exists(libraryPath, ignored)) {
            throw std::runtime_error("the rendering library \"" + libraryPath +
                                     "\" is missing; it belongs in the converter's folder");
        }
        const render::Library library(libraryPath);
        const ConvertResult result = convertMessage(library, argv[1], argv[2], options);
        for (const std::string& text : result.warnings) {
            err << "Kestrune.exe: warning: " << text << "\n";
        }
        return common::kExitSuccess;
    } catch (const std::exception& e) {
        err << e.what() << "\n";
    } catch (...) {
        err << "the conversion failed for an unknown reason\n";
    }
    return common::kExitFailure;
}

}  // namespace tool
