#include "tool/converter.h"

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
#include <fstream>
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
    _exit(1);
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

// The message file itself must never be replaced by one of its images (a
// message file named like its own output path).
void refuseToOverwrite(const std::string& msgPath, const std::string& imagePath) {
    std::error_code error;
    if (std::filesystem::equivalent(msgPath, imagePath, error)) {
        throw std::runtime_error("the image \"" + imagePath +
                                 "\" would replace the message file itself; nothing written");
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

void convertMessage(const std::string& msgPath, const std::string& outputPath,
                    const std::string& libraryPath) {
    std::ifstream file(msgPath, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot open \"" + msgPath + "\": " + std::strerror(errno));
    }
    Message message(file);
    file.close();
    std::string warning;
    const RenderBody body = selectBody(message, &warning);
    if (!warning.empty()) {
        std::fprintf(stderr, "Kestrune.exe: warning: %s\n", warning.c_str());
    }

    std::error_code ignored;
    if (!std::filesystem::exists(libraryPath, ignored)) {
        throw std::runtime_error("the rendering library \"" + libraryPath +
                                 "\" is missing; it belongs in the converter's folder");
    }
    const render::Library library(libraryPath);
    {
        const render::Document document(library, body.bytes, body.images, body.codePage);
        // The page images stand; what the renderer had to give up on is said.
        for (const std::string& text : document.Warnings()) {
            std::fprintf(stderr, "Kestrune.exe: warning: %s\n", text.c_str());
        }
        render::ImageOptions options;
        options.JpegQuality = kJpegQuality;
        if (document.PageCount() > 1) {
            for (int i = 0; i < document.PageCount(); ++i) {
                const std::string pageFile = common::pageFileName(outputPath, i + 1);
                refuseToOverwrite(msgPath, pageFile);
                document.SaveToImage(i, 1, pageFile, options);
            }
        } else {
            refuseToOverwrite(msgPath, outputPath);
            document.SaveToImage(0, 1, outputPath, options);
        }
    }
    message.Dispose();
}

int runConverter(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    if (argc < 3) {
        out << kUsageLine << "\n";
        return 0;
    }
    limitProcessorTime();
    // The renderer runs without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    try {
        convertMessage(argv[1], argv[2], render::Library::besideExecutable());
        return 0;
    } catch (const std::exception& e) {
        err << e.what() << "\n";
    } catch (...) {
        err << "the conversion failed for an unknown reason\n";
    }
    return 1;
}

}  // namespace tool
