// The exported C functions: each one turns exceptions into a -1 and a text.
#include "render/render_api.h"

#include "engine/fonts.h"
#include "engine/page_file.h"
#include "engine/paged_document.h"
#include "engine/render_limits.h"

#include <common/file_bytes.h>
#include <common/text.h>
#include <rtf/code_pages.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHashFunctions>
#include <QImageReader>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

static_assert(ORV_STAMP_MAX_BYTES == render::engine::kMaxStampBytes);

struct orv_document {
    std::vector<common::InlineImage> images;
    render::engine::LoadOptions options;
    int dpi = render::engine::kDefaultDpi;
    render::engine::PageStamp stamp;  // given to the document when it loads
    std::optional<render::engine::PagedDocument> paged;
    std::string text;  // the last orv_document_text
};

struct orv_page_file {
    int kind = ORV_PAGE_FILE_PDF;
    QString fileName;
    int dpi = render::engine::kDefaultDpi;
    render::engine::PdfInfo info;
    render::engine::TiffColour colour = render::engine::TiffColour::Auto;
    int quality = 80;
    std::unique_ptr<render::engine::PdfFile> pdf;
    std::unique_ptr<render::engine::TiffFile> tiff;
    bool finished = false;
};

namespace {

// Not thread_local: the library is single-threaded, and dynamic TLS in a
// library loaded with dlopen trips up leak checkers.
std::string g_lastError;
// The last text orv_text_from_code_page gave out.
std::string g_text;
QGuiApplication* g_application = nullptr;

// Qt's own diagnostics (font fallbacks and the like) are not the tool's
// output: the converter prints nothing on success.
void quietMessageHandler(QtMsgType, const QMessageLogContext&, const QString&) {}

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr) {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
            throw render::engine::RenderError(
                "the process has a QCoreApplication; the renderer needs a QGuiApplication");
        }
        return;
    }
    // argv must outlive the application object.
    static char arg0[] = "orvaline-render";
    static char arg1[] = "-platform";
    static char arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    static int argc = 3;
    // Qt's hashes in a fixed order: the PDF writer embeds fonts in the
    // order of one, and the same pages must make the same file on every run.
    QHashSeed::setDeterministicGlobalSeed();
    if (qEnvironmentVariableIsEmpty("ORVALINE_RENDER_DEBUG")) {
        qInstallMessageHandler(quietMessageHandler);
    }
    // Before Qt's font database exists: it lists the fonts of whatever
    // configuration is current when it first initialises.
    if (!render::engine::useRendererFonts()) {
        throw render::engine::RenderError(
            "the renderer's font configuration could not be loaded (fontconfig)");
    }
    g_application = new QGuiApplication(argc, argv);
    // No picture may make the image reader allocate more than this.
    QImageReader::setAllocationLimit(render::engine::kMaxPictureAllocationMiB);
}

template <typename F>
int guarded(F&& body) {
    try {
        g_lastError.clear();
        return body();
    } catch (const std::bad_alloc&) {
        g_lastError = "out of memory while rendering";
    } catch (const std::exception& e) {
        g_lastError = e.what();
    } catch (...) {
        g_lastError = "unknown failure in the renderer";
    }
    return -1;
}

void requireDocument(const orv_document* doc) {
    if (doc == nullptr) {
        throw render::engine::RenderError("no document given");
    }
}

// A setting that shapes the layout is made before the document is loaded.
void requireUnloaded(const orv_document* doc, const char* what) {
    requireDocument(doc);
    if (doc->paged) {
        throw render::engine::RenderError(std::string(what) +
                                          " must be set before the document is loaded");
    }
}

// A text setting (header, caption) from its UTF-8 bytes; NULL or size 0: none.
QString utf8Setting(const char* text, size_t size, const char* what) {
    if (text == nullptr && size != 0) {
        throw render::engine::RenderError(std::string(what) + " data missing");
    }
    if (size > render::engine::kMaxInputBytes) {
        throw render::engine::RenderError(std::string("the ") + what +
                                          " is larger than the renderer accepts");
    }
    return size == 0 ? QString() : QString::fromUtf8(text, static_cast<qsizetype>(size));
}

// One text of a stamp from its UTF-8 bytes, checked strictly (a stamp is
// evidence: no byte of it is silently replaced); NULL or size 0: none.
QString stampText(const char* text, size_t size, const char* which) {
    if (text == nullptr && size != 0) {
        throw render::engine::RenderError(std::string("the stamp's ") + which +
                                          " text data missing");
    }
    if (size > render::engine::kMaxStampBytes) {
        throw render::engine::RenderError(
            std::string("the stamp's ") + which + " text is " + std::to_string(size) +
            " bytes; at most " + std::to_string(render::engine::kMaxStampBytes) + " are accepted");
    }
    if (size == 0) {
        return {};
    }
    if (!common::isValidUtf8(std::string_view(text, size))) {
        throw render::engine::RenderError(std::string("the stamp's ") + which +
                                          " text is not valid UTF-8");
    }
    return QString::fromUtf8(text, static_cast<qsizetype>(size));
}

void requireLoaded(const orv_document* doc) {
    requireDocument(doc);
    if (!doc->paged) {
        throw render::engine::RenderError("the document is not loaded");
    }
}

void load(orv_document* doc, std::span<const std::uint8_t> bytes) {
    requireDocument(doc);
    if (doc->paged) {
        throw render::engine::RenderError("the document is already loaded");
    }
    ensureApplication();
    doc->paged.emplace(render::engine::PagedDocument::load(bytes, doc->images, doc->options));
    doc->paged->setStamp(doc->stamp);
    doc->images.clear();
}

// Reads at most kMaxInputBytes + 1 bytes, so an oversized or endless file
// (a device, a pipe) is refused without reading it all.
std::vector<std::uint8_t> readFile(const char* path) {
    if (path == nullptr) {
        throw render::engine::RenderError("no file name given");
    }
    try {
        return common::readFileBytes(path, render::engine::kMaxInputBytes);
    } catch (const common::FileReadError& e) {
        throw render::engine::RenderError(e.what());
    }
}

}  // namespace

extern "C" {

int orv_render_abi_version(void) {
    return ORV_RENDER_ABI_VERSION;
}

const char* orv_render_last_error(void) {
    return g_lastError.c_str();
}

orv_document* orv_document_create(void) {
    try {
        g_lastError.clear();
        return new orv_document;
    } catch (...) {
        g_lastError = "out of memory while creating a document";
        return nullptr;
    }
}

void orv_document_destroy(orv_document* doc) {
    delete doc;
}

int orv_document_add_image(orv_document* doc, const char* content_id, const char* file_name,
                           const unsigned char* data, size_t size) {
    return guarded([&] {
        requireDocument(doc);
        if (doc->paged) {
            throw render::engine::RenderError(
                "pictures must be given before the document is loaded");
        }
        if (data == nullptr && size != 0) {
            throw render::engine::RenderError("picture data missing");
        }
        common::InlineImage image;
        image.contentId = content_id != nullptr ? content_id : "";
        image.fileName = file_name != nullptr ? file_name : "";
        if (size != 0) {
            image.data.assign(data, data + size);
        }
        doc->images.push_back(std::move(image));
        return 0;
    });
}

int orv_document_set_code_page(orv_document* doc, unsigned code_page) {
    return guarded([&] {
        requireDocument(doc);
        if (doc->paged) {
            throw render::engine::RenderError(
                "the code page must be set before the document is loaded");
        }
        // Beyond any code page number: treated as unknown.
        doc->options.codePage = code_page <= 0xFFFFu ? static_cast<int>(code_page) : 0;
        return 0;
    });
}

int orv_document_set_format(orv_document* doc, int format) {
    using render::engine::SourceFormat;
    return guarded([&] {
        requireUnloaded(doc, "the format");
        switch (format) {
            case ORV_FORMAT_DETECT:
                doc->options.format.reset();
                break;
            case ORV_FORMAT_RTF:
                doc->options.format = SourceFormat::Rtf;
                break;
            case ORV_FORMAT_HTML:
                doc->options.format = SourceFormat::Html;
                break;
            case ORV_FORMAT_TEXT:
                doc->options.format = SourceFormat::Text;
                break;
            case ORV_FORMAT_PICTURE:
                doc->options.format = SourceFormat::Picture;
                break;
            case ORV_FORMAT_PDF:
                doc->options.format = SourceFormat::Pdf;
                break;
            case ORV_FORMAT_PLACEHOLDER:
                doc->options.format = SourceFormat::Placeholder;
                break;
            default:
                throw render::engine::RenderError("unknown document format " +
                                                  std::to_string(format));
        }
        return 0;
    });
}

int orv_document_set_paper(orv_document* doc, int paper) {
    using Paper = render::engine::LoadOptions::Paper;
    return guarded([&] {
        requireUnloaded(doc, "the paper");
        switch (paper) {
            case ORV_PAPER_DOCUMENT:
                doc->options.paper = Paper::Document;
                break;
            case ORV_PAPER_LETTER:
                doc->options.paper = Paper::Letter;
                break;
            case ORV_PAPER_A4:
                doc->options.paper = Paper::A4;
                break;
            default:
                throw render::engine::RenderError("unknown paper " + std::to_string(paper));
        }
        return 0;
    });
}

int orv_document_set_header(orv_document* doc, const char* text, size_t size) {
    return guarded([&] {
        requireUnloaded(doc, "the header");
        doc->options.header = utf8Setting(text, size, "header");
        return 0;
    });
}

int orv_document_set_caption(orv_document* doc, const char* text, size_t size) {
    return guarded([&] {
        requireUnloaded(doc, "the caption");
        doc->options.caption = utf8Setting(text, size, "caption");
        return 0;
    });
}

int orv_document_set_ligatures(orv_document* doc, int ligatures) {
    return guarded([&] {
        requireUnloaded(doc, "ligatures");
        doc->options.ligatures = ligatures != 0;
        return 0;
    });
}

int orv_document_set_monospace(orv_document* doc, int monospace) {
    return guarded([&] {
        requireUnloaded(doc, "the face of text");
        doc->options.monospace = monospace != 0;
        return 0;
    });
}

const char* orv_document_placeholder_reason(orv_document* doc) {
    const int status = guarded([&] {
        requireLoaded(doc);
        return 0;
    });
    if (status != 0) {
        return nullptr;
    }
    const auto& reason = doc->paged->placeholderReason();
    return reason ? reason->c_str() : "";
}

int orv_document_set_resolution(orv_document* doc, int dpi) {
    return guarded([&] {
        requireDocument(doc);
        if (dpi < render::engine::kMinDpi || dpi > render::engine::kMaxDpi) {
            throw render::engine::RenderError("resolution " + std::to_string(dpi) +
                                              " dpi is outside " +
                                              std::to_string(render::engine::kMinDpi) + ".." +
                                              std::to_string(render::engine::kMaxDpi));
        }
        doc->dpi = dpi;
        return 0;
    });
}

int orv_document_set_stamp(orv_document* doc, const char* left, size_t left_size, const char* right,
                           size_t right_size) {
    return guarded([&] {
        requireDocument(doc);
        render::engine::PageStamp stamp{stampText(left, left_size, "left"),
                                        stampText(right, right_size, "right")};
        if (doc->paged) {
            doc->paged->setStamp(stamp);
        }
        doc->stamp = std::move(stamp);
        return 0;
    });
}

int orv_document_load_file(orv_document* doc, const char* path) {
    return guarded([&] {
        requireDocument(doc);
        const std::vector<std::uint8_t> bytes = readFile(path);
        load(doc, bytes);
        return 0;
    });
}

int orv_document_load_memory(orv_document* doc, const unsigned char* data, size_t size) {
    return guarded([&] {
        if (data == nullptr && size != 0) {
            throw render::engine::RenderError("document data missing");
        }
        load(doc, std::span<const std::uint8_t>(data, size));
        return 0;
    });
}

int orv_document_page_count(orv_document* doc) {
    return guarded([&] {
        requireLoaded(doc);
        return doc->paged->pageCount();
    });
}

int orv_document_warning_count(orv_document* doc) {
    return guarded([&] {
        requireLoaded(doc);
        return static_cast<int>(doc->paged->warnings().size());
    });
}

const char* orv_document_warning(orv_document* doc, int index) {
    const int count = orv_document_warning_count(doc);
    if (count < 0) {
        return nullptr;
    }
    if (index < 0 || index >= count) {
        g_lastError = "warning index " + std::to_string(index) + " is out of range (" +
                      std::to_string(count) + " warnings)";
        return nullptr;
    }
    return doc->paged->warnings()[static_cast<std::size_t>(index)].c_str();
}

int orv_document_save_jpeg(orv_document* doc, int page_index, int page_count, const char* file_name,
                           int jpeg_quality) {
    return guarded([&] {
        requireLoaded(doc);
        if (page_count != 1) {
            throw render::engine::RenderError("a JPEG image holds one page; page count " +
                                              std::to_string(page_count) + " asked");
        }
        if (file_name == nullptr || *file_name == '\0') {
            throw render::engine::RenderError("no image file name given");
        }
        doc->paged->savePageAsJpeg(page_index, QString::fromUtf8(file_name), jpeg_quality,
                                   doc->dpi);
        return 0;
    });
}

const char* orv_document_text(orv_document* doc, size_t* size) {
    const int status = guarded([&] {
        requireLoaded(doc);
        doc->text = doc->paged->text().toStdString();
        return 0;
    });
    if (status != 0) {
        return nullptr;
    }
    if (size != nullptr) {
        *size = doc->text.size();
    }
    return doc->text.c_str();
}

namespace {

void requireFile(const orv_page_file* file) {
    if (file == nullptr) {
        throw render::engine::RenderError("no page file given");
    }
    if (file->finished) {
        throw render::engine::RenderError("the page file is already finished");
    }
}

void requireNoPages(const orv_page_file* file, const char* what) {
    requireFile(file);
    if (file->pdf || file->tiff) {
        throw render::engine::RenderError(std::string(what) + " must be set before the first page");
    }
}

}  // namespace

orv_page_file* orv_page_file_create(int kind, const char* file_name, int dpi) {
    orv_page_file* made = nullptr;
    guarded([&] {
        if (kind != ORV_PAGE_FILE_PDF && kind != ORV_PAGE_FILE_TIFF) {
            throw render::engine::RenderError("page file kind " + std::to_string(kind) +
                                              " is not known");
        }
        if (file_name == nullptr || *file_name == '\0') {
            throw render::engine::RenderError("no page file name given");
        }
        if (dpi < render::engine::kMinDpi || dpi > render::engine::kMaxDpi) {
            throw render::engine::RenderError("resolution " + std::to_string(dpi) +
                                              " dpi is outside 72..600");
        }
        auto file = std::make_unique<orv_page_file>();
        file->kind = kind;
        file->fileName = QString::fromUtf8(file_name);
        file->dpi = dpi;
        made = file.release();
        return 0;
    });
    return made;
}

int orv_page_file_set_info(orv_page_file* file, const char* title, const char* author,
                           int has_created, long long created) {
    return guarded([&] {
        requireNoPages(file, "the document information");
        file->info.title = QString::fromUtf8(title != nullptr ? title : "");
        file->info.author = QString::fromUtf8(author != nullptr ? author : "");
        file->info.created = has_created != 0 ? std::optional<std::int64_t>(created) : std::nullopt;
        return 0;
    });
}

int orv_page_file_set_tiff(orv_page_file* file, int colour, int jpeg_quality) {
    return guarded([&] {
        requireNoPages(file, "the TIFF storage");
        if (colour < ORV_TIFF_COLOUR_AUTO || colour > ORV_TIFF_COLOUR_ALWAYS) {
            throw render::engine::RenderError("TIFF colour " + std::to_string(colour) +
                                              " is not known");
        }
        if (jpeg_quality < 1 || jpeg_quality > 100) {
            throw render::engine::RenderError("JPEG quality " + std::to_string(jpeg_quality) +
                                              " is outside 1..100");
        }
        file->colour = static_cast<render::engine::TiffColour>(colour);
        file->quality = jpeg_quality;
        return 0;
    });
}

int orv_page_file_add(orv_page_file* file, orv_document* doc, int page_index) {
    return guarded([&] {
        requireFile(file);
        requireLoaded(doc);
        if (file->kind == ORV_PAGE_FILE_PDF) {
            if (!file->pdf) {
                file->pdf = std::make_unique<render::engine::PdfFile>(file->fileName, file->info,
                                                                      file->dpi);
            }
            file->pdf->add(*doc->paged, page_index);
        } else {
            if (!file->tiff) {
                file->tiff = std::make_unique<render::engine::TiffFile>(
                    file->fileName, file->colour, file->quality);
            }
            file->tiff->add(*doc->paged, page_index, file->dpi);
        }
        return 0;
    });
}

int orv_page_file_finish(orv_page_file* file) {
    return guarded([&] {
        requireFile(file);
        if (!file->pdf && !file->tiff) {
            throw render::engine::RenderError("the page file has no pages");
        }
        file->finished = true;
        if (file->pdf) {
            file->pdf->finish();
        } else {
            file->tiff->finish();
        }
        return 0;
    });
}

void orv_page_file_destroy(orv_page_file* file) {
    delete file;
}

const char* orv_text_from_code_page(unsigned code_page, const char* bytes, size_t size,
                                    size_t* utf8_size) {
    const int status = guarded([&] {
        if (bytes == nullptr && size != 0) {
            throw render::engine::RenderError("text data missing");
        }
        if (size > render::engine::kMaxInputBytes) {
            throw render::engine::RenderError("the text is larger than the renderer accepts");
        }
        const QByteArrayView input(bytes, static_cast<qsizetype>(size));
        const auto text = code_page <= 0xFFFFu
                              ? rtf::decodeCodePage(static_cast<int>(code_page), input)
                              : std::nullopt;
        if (!text) {
            throw render::engine::RenderError("code page " + std::to_string(code_page) +
                                              " is not known");
        }
        // The decoder marks bytes that are not text in the code page with
        // U+FFFD; only a replacement character the bytes spell themselves (in
        // UTF-8) is text.
        const auto marked = text->count(QChar(QChar::ReplacementCharacter));
        const auto spelled =
            code_page == 65001 ? input.count(QByteArrayView("\xEF\xBF\xBD")) : qsizetype{0};
        if (marked > spelled) {
            throw render::engine::RenderError("the text is not valid in code page " +
                                              std::to_string(code_page));
        }
        g_text = text->toStdString();
        return 0;
    });
    if (status != 0) {
        return nullptr;
    }
    if (utf8_size != nullptr) {
        *utf8_size = g_text.size();
    }
    return g_text.c_str();
}

void orv_render_shutdown(void) {
    delete g_application;
    g_application = nullptr;
}

}  // extern "C"
