#pragma once
// The rendering library as the converter tool sees it: a header-only C++
// wrapper that loads "liborvaline-render.so" with dlopen and calls its C interface
// (render/render_api.h). Standard library and POSIX only; no Qt, no link-time
// dependency on the library.
//
//   render::Library library(render::Library::besideExecutable());
//   render::Document doc(library, rtfBytes);
//   render::ImageOptions options;
//   options.JpegQuality = 80;
//   for (int i = 0; i < doc.PageCount(); ++i) doc.SaveToImage(i, 1, name(i), options);
//
// Every failure throws render::RenderError with the library's text. A Library
// must outlive its Documents; one Library per process (its destructor shuts
// the library's Qt application down).

#include "render/render_api.h"

#include <common/inline_image.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace render {

inline constexpr const char* kLibraryFileName = "liborvaline-render.so";

class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Options for SaveToImage. JpegQuality: 0..100; Resolution: dots per inch,
// 72..600.
struct ImageOptions {
    int JpegQuality = 80;
    int Resolution = 96;
};

// What the caller knows about a document beyond its bytes (see
// render_api.h): the code page of 8-bit text or HTML that does not declare
// its encoding (0: guess), what the bytes are, the paper, the header block
// above the body on the first page, the caption band above everything, and
// whether text is shown in a monospace face.
struct LoadOptions {
    enum class Format {
        Detect = ORV_FORMAT_DETECT,
        Rtf = ORV_FORMAT_RTF,
        Html = ORV_FORMAT_HTML,
        Text = ORV_FORMAT_TEXT,
        Picture = ORV_FORMAT_PICTURE,
        Pdf = ORV_FORMAT_PDF,
        Placeholder = ORV_FORMAT_PLACEHOLDER
    };
    enum class Paper {
        Document = ORV_PAPER_DOCUMENT,
        Letter = ORV_PAPER_LETTER,
        A4 = ORV_PAPER_A4
    };
    std::uint32_t codePage = 0;
    Format format = Format::Detect;
    Paper paper = Paper::Document;
    std::string header;   // orv_document_set_header's text; empty: none
    std::string caption;  // orv_document_set_caption's text; empty: none
    bool monospace = false;
    bool ligatures = true;  // false for pages drawn into a PDF file
};

// A picture the message carries, for HTML bodies that link to it by
// "cid:" + contentId or by file name.
using common::InlineImage;

class Library {
public:
    // Loads the library file. Throws RenderError naming the path when it is
    // missing, is not a loadable library, or lacks an entry point or the ABI
    // version this header was written for.
    explicit Library(const std::string& path) {
        // RTLD_NODELETE: Qt, once started, is never unloaded under its feet.
        m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (m_handle == nullptr) {
            const char* why = dlerror();
            throw RenderError("rendering library \"" + path +
                              "\" cannot be loaded: " + (why != nullptr ? why : "unknown reason"));
        }
        bind(abiVersion, "orv_render_abi_version", path);
        bind(lastError, "orv_render_last_error", path);
        bind(create, "orv_document_create", path);
        bind(destroy, "orv_document_destroy", path);
        bind(addImage, "orv_document_add_image", path);
        bind(setCodePage, "orv_document_set_code_page", path);
        bind(setFormat, "orv_document_set_format", path);
        bind(setPaper, "orv_document_set_paper", path);
        bind(setHeader, "orv_document_set_header", path);
        bind(setCaption, "orv_document_set_caption", path);
        bind(setMonospace, "orv_document_set_monospace", path);
        bind(setLigatures, "orv_document_set_ligatures", path);
        bind(setResolution, "orv_document_set_resolution", path);
        bind(setStamp, "orv_document_set_stamp", path);
        bind(loadFile, "orv_document_load_file", path);
        bind(loadMemory, "orv_document_load_memory", path);
        bind(placeholderReason, "orv_document_placeholder_reason", path);
        bind(pageCount, "orv_document_page_count", path);
        bind(warningCount, "orv_document_warning_count", path);
        bind(warning, "orv_document_warning", path);
        bind(saveJpeg, "orv_document_save_jpeg", path);
        bind(documentText, "orv_document_text", path);
        bind(pageFileCreate, "orv_page_file_create", path);
        bind(pageFileSetInfo, "orv_page_file_set_info", path);
        bind(pageFileSetTiff, "orv_page_file_set_tiff", path);
        bind(pageFileAdd, "orv_page_file_add", path);
        bind(pageFileFinish, "orv_page_file_finish", path);
        bind(pageFileDestroy, "orv_page_file_destroy", path);
        bind(shutdown, "orv_render_shutdown", path);
        bind(textFromCodePage, "orv_text_from_code_page", path);
        if (abiVersion() != ORV_RENDER_ABI_VERSION) {
            throw RenderError("rendering library \"" + path + "\" has interface version " +
                              std::to_string(abiVersion()) + ", expected " +
                              std::to_string(ORV_RENDER_ABI_VERSION));
        }
    }
    ~Library() {
        if (shutdown != nullptr) {
            shutdown();
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The library file in the folder of the running executable.
    static std::string besideExecutable() {
        std::string buffer(4096, '\0');
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
            throw RenderError("cannot find the converter's own folder (/proc/self/exe)");
        }
        buffer.resize(static_cast<std::size_t>(length));
        return buffer.substr(0, buffer.rfind('/') + 1) + kLibraryFileName;
    }

    // Entry points, bound at construction.
    int (*abiVersion)() = nullptr;
    const char* (*lastError)() = nullptr;
    orv_document* (*create)() = nullptr;
    void (*destroy)(orv_document*) = nullptr;
    int (*addImage)(orv_document*, const char*, const char*, const unsigned char*,
                    std::size_t) = nullptr;
    int (*setCodePage)(orv_document*, unsigned) = nullptr;
    int (*setFormat)(orv_document*, int) = nullptr;
    int (*setPaper)(orv_document*, int) = nullptr;
    int (*setHeader)(orv_document*, const char*, std::size_t) = nullptr;
    int (*setCaption)(orv_document*, const char*, std::size_t) = nullptr;
    int (*setMonospace)(orv_document*, int) = nullptr;
    int (*setLigatures)(orv_document*, int) = nullptr;
    int (*setResolution)(orv_document*, int) = nullptr;
    int (*setStamp)(orv_document*, const char*, std::size_t, const char*, std::size_t) = nullptr;
    int (*loadFile)(orv_document*, const char*) = nullptr;
    int (*loadMemory)(orv_document*, const unsigned char*, std::size_t) = nullptr;
    const char* (*placeholderReason)(orv_document*) = nullptr;
    int (*pageCount)(orv_document*) = nullptr;
    int (*warningCount)(orv_document*) = nullptr;
    const char* (*warning)(orv_document*, int) = nullptr;
    int (*saveJpeg)(orv_document*, int, int, const char*, int) = nullptr;
    const char* (*documentText)(orv_document*, std::size_t*) = nullptr;
    orv_page_file* (*pageFileCreate)(int, const char*, int) = nullptr;
    int (*pageFileSetInfo)(orv_page_file*, const char*, const char*, int, long long) = nullptr;
    int (*pageFileSetTiff)(orv_page_file*, int, int) = nullptr;
    int (*pageFileAdd)(orv_page_file*, orv_document*, int) = nullptr;
    int (*pageFileFinish)(orv_page_file*) = nullptr;
    void (*pageFileDestroy)(orv_page_file*) = nullptr;
    void (*shutdown)() = nullptr;
    const char* (*textFromCodePage)(unsigned, const char*, std::size_t, std::size_t*) = nullptr;

    // 8-bit text in a Windows code page as UTF-8, by the library's one table;
    // nothing when the code page is unknown or the bytes are not valid in it.
    std::optional<std::string> TextFromCodePage(unsigned codePage,
                                                std::span<const std::uint8_t> bytes) const {
        std::size_t size = 0;
        const char* text = textFromCodePage(codePage, reinterpret_cast<const char*>(bytes.data()),
                                            bytes.size(), &size);
        if (text == nullptr) {
            return std::nullopt;
        }
        return std::string(text, size);
    }

    [[noreturn]] void fail(const std::string& context) const {
        throw RenderError(context + ": " + lastError());
    }

private:
    template <typename Fn>
    void bind(Fn& target, const char* name, const std::string& path) {
        void* symbol = dlsym(m_handle, name);
        if (symbol == nullptr) {
            throw RenderError("rendering library \"" + path + "\" lacks " + name);
        }
        target = reinterpret_cast<Fn>(symbol);
    }

    void* m_handle = nullptr;
};

class Document {
public:
    // Loads a document from a file, or from bytes in memory; the format (RTF,
    // HTML, text) is recognised from the content unless `options` says it
    // (also a picture, a PDF file, a placeholder page).
    // Throws RenderError.
    Document(const Library& library, const std::string& fileName,
             const std::vector<InlineImage>& images = {}, const LoadOptions& options = {})
        : Document(library, images, options) {
        if (m_library.loadFile(m_doc, fileName.c_str()) != 0) {
            fail("cannot load \"" + fileName + "\"");
        }
    }
    Document(const Library& library, std::span<const std::uint8_t> bytes,
             const std::vector<InlineImage>& images = {}, const LoadOptions& options = {})
        : Document(library, images, options) {
        if (m_library.loadMemory(m_doc, bytes.data(), bytes.size()) != 0) {
            fail("cannot load the document");
        }
    }
    ~Document() { m_library.destroy(m_doc); }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Pages of the laid-out document, at least 1.
    int PageCount() const {
        const int count = m_library.pageCount(m_doc);
        if (count < 0) {
            m_library.fail("cannot count pages");
        }
        return count;
    }

    // Why the pages are a placeholder the library made instead of the
    // content (a password-protected PDF, a picture too large to decode, bytes
    // that are no picture or no PDF); no value when the content is shown.
    std::optional<std::string> PlaceholderReason() const {
        const char* reason = m_library.placeholderReason(m_doc);
        if (reason == nullptr) {
            m_library.fail("cannot read the placeholder reason");
        }
        if (*reason == '\0') {
            return std::nullopt;
        }
        return std::string(reason);
    }

    // What the library recovered from while loading, one text each.
    std::vector<std::string> Warnings() const {
        const int count = m_library.warningCount(m_doc);
        if (count < 0) {
            m_library.fail("cannot read the warnings");
        }
        std::vector<std::string> texts;
        for (int i = 0; i < count; ++i) {
            const char* text = m_library.warning(m_doc, i);
            texts.emplace_back(text != nullptr ? text : "");
        }
        return texts;
    }

    // Writes page pageIndex (from 0) as a JPEG image; pageCount must be 1.
    void SaveToImage(int pageIndex, int pageCount, const std::string& fileName,
                     const ImageOptions& options) const {
        if (m_library.setResolution(m_doc, options.Resolution) != 0) {
            m_library.fail("cannot render at " + std::to_string(options.Resolution) + " dpi");
        }
        if (m_library.saveJpeg(m_doc, pageIndex, pageCount, fileName.c_str(),
                               options.JpegQuality) != 0) {
            m_library.fail("cannot save page " + std::to_string(pageIndex + 1) + " to \"" +
                           fileName + "\"");
        }
    }

    // The stamp band below every page saved or added from now on
    // (orv_document_set_stamp): `left` (a legend) and `right` (a Bates
    // number), UTF-8, each at most ORV_STAMP_MAX_BYTES; both empty: none.
    // Call again before each page that has a number of its own.
    void SetStamp(const std::string& left, const std::string& right) const {
        if (m_library.setStamp(m_doc, left.data(), left.size(), right.data(), right.size()) != 0) {
            m_library.fail("cannot set the stamp");
        }
    }

    // The words of the rendered pages as UTF-8 plain text
    // (orv_document_text).
    std::string Text() const {
        std::size_t size = 0;
        const char* text = m_library.documentText(m_doc, &size);
        if (text == nullptr) {
            m_library.fail("cannot read the document's text");
        }
        return std::string(text, size);
    }

private:
    friend class PageFile;

    Document(const Library& library, const std::vector<InlineImage>& images,
             const LoadOptions& options)
        : m_library(library), m_doc(library.create()) {
        if (m_doc == nullptr) {
            m_library.fail("cannot create a document");
        }
        if (m_library.setCodePage(m_doc, options.codePage) != 0 ||
            m_library.setFormat(m_doc, static_cast<int>(options.format)) != 0 ||
            m_library.setPaper(m_doc, static_cast<int>(options.paper)) != 0 ||
            m_library.setHeader(m_doc, options.header.data(), options.header.size()) != 0 ||
            m_library.setCaption(m_doc, options.caption.data(), options.caption.size()) != 0 ||
            m_library.setMonospace(m_doc, options.monospace ? 1 : 0) != 0 ||
            m_library.setLigatures(m_doc, options.ligatures ? 1 : 0) != 0) {
            m_library.destroy(m_doc);
            m_library.fail("cannot set up the document");
        }
        for (const InlineImage& image : images) {
            if (m_library.addImage(m_doc, image.contentId.c_str(), image.fileName.c_str(),
                                   image.data.data(), image.data.size()) != 0) {
                const std::string context = "cannot add picture \"" + image.fileName + "\"";
                m_library.destroy(m_doc);
                m_library.fail(context);
            }
        }
    }

    void fail(const std::string& context) {
        const std::string text = context + ": " + m_library.lastError();
        m_library.destroy(m_doc);
        m_doc = nullptr;
        throw RenderError(text);
    }

    const Library& m_library;
    orv_document* m_doc = nullptr;
};

// A PDF or TIFF file holding pages of one or more documents (see
// orv_page_file_create): set it up, add pages, then Finish() puts it in
// place; one destroyed unfinished is never written.
class PageFile {
public:
    enum class Kind { Pdf = ORV_PAGE_FILE_PDF, Tiff = ORV_PAGE_FILE_TIFF };
    enum class Colour {
        Auto = ORV_TIFF_COLOUR_AUTO,
        Never = ORV_TIFF_COLOUR_NEVER,
        Always = ORV_TIFF_COLOUR_ALWAYS
    };

    PageFile(const Library& library, Kind kind, const std::string& fileName, int dpi)
        : m_library(library),
          m_file(library.pageFileCreate(static_cast<int>(kind), fileName.c_str(), dpi)),
          m_name(fileName) {
        if (m_file == nullptr) {
            m_library.fail("cannot start \"" + fileName + "\"");
        }
    }
    ~PageFile() { m_library.pageFileDestroy(m_file); }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // A PDF file's title, author and creation time (seconds since 1970 UTC).
    void SetInfo(const std::string& title, const std::string& author,
                 std::optional<std::int64_t> created) {
        if (m_library.pageFileSetInfo(m_file, title.c_str(), author.c_str(), created ? 1 : 0,
                                      created ? static_cast<long long>(*created) : 0) != 0) {
            m_library.fail("cannot describe \"" + m_name + "\"");
        }
    }
    void SetTiff(Colour colour, int jpegQuality) {
        if (m_library.pageFileSetTiff(m_file, static_cast<int>(colour), jpegQuality) != 0) {
            m_library.fail("cannot set up \"" + m_name + "\"");
        }
    }
    void Add(const Document& document, int pageIndex) {
        if (m_library.pageFileAdd(m_file, document.m_doc, pageIndex) != 0) {
            m_library.fail("cannot add page " + std::to_string(pageIndex + 1) + " to \"" + m_name +
                           "\"");
        }
    }
    void Finish() {
        if (m_library.pageFileFinish(m_file) != 0) {
            m_library.fail("cannot finish \"" + m_name + "\"");
        }
    }

private:
    const Library& m_library;
    orv_page_file* m_file = nullptr;
    std::string m_name;
};

}  // namespace render
