#ifndef ORVALINE_RENDER_API_H
#define ORVALINE_RENDER_API_H
/* The rendering library's C interface. The library is deployed as
 * "liborvaline-render.so" beside the converter tool, which loads it with dlopen and
 * calls only these functions (see render/document.h for the C++ wrapper).
 *
 * A document is created empty, may be given the message's inline pictures and
 * the code page of its text, is loaded once (from a file or from memory; RTF,
 * HTML or plain text, recognised from the content; or a picture file, a PDF
 * file or a placeholder page, as the caller says), and then reports its page
 * count and the warnings of its layout, and writes pages as JPEG images (at
 * 96 dpi unless told otherwise), or into a PDF or TIFF file that holds the
 * pages of several documents (orv_page_file_*), and gives its words as text.
 *
 * Every function that can fail returns a negative value (or NULL) and leaves a
 * text in orv_render_last_error(); no exception crosses this interface.
 * The library creates a QGuiApplication on the "offscreen" platform on first
 * use when the process has none; it never needs a display. Single-threaded:
 * call from the thread that made the first call.
 *
 * Limits: input over 64 MiB is refused; at most 500 pages are rendered
 * (common::kMaxPages; the last one then says the document was cut); plain
 * text and HTML over 2 million characters are cut with a visible note; a
 * picture frame over 64 megapixels is not decoded (its page says so); a PDF
 * page renders for at most 4 s; a stamp's texts are at most
 * ORV_STAMP_MAX_BYTES each (docs/formats/rendering.md lists them all). */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORV_RENDER_ABI_VERSION 5 /* 5: orv_document_set_stamp */

/* What a document's bytes are (orv_document_set_format). */
#define ORV_FORMAT_DETECT 0 /* recognised from the content: RTF, HTML or text */
#define ORV_FORMAT_RTF 1
#define ORV_FORMAT_HTML 2
#define ORV_FORMAT_TEXT 3
/* A picture file (JPEG, PNG, GIF, BMP, TIFF, WebP): every frame is a page. */
#define ORV_FORMAT_PICTURE 4
/* A PDF file: every page is a page. */
#define ORV_FORMAT_PDF 5
/* A page that stands for something not shown: the bytes are UTF-8 rows in
 * the header block's form (a title line, then label TAB value lines), drawn
 * as the header block draws them. */
#define ORV_FORMAT_PLACEHOLDER 6

/* The paper pages are laid out on (orv_document_set_paper). */
#define ORV_PAPER_DOCUMENT 0 /* the document's own; Letter for HTML and text */
#define ORV_PAPER_LETTER 1
#define ORV_PAPER_A4 2

#if defined(__GNUC__)
#define ORV_RENDER_EXPORT __attribute__((visibility("default")))
#else
#define ORV_RENDER_EXPORT
#endif

typedef struct orv_document orv_document;

/* ORV_RENDER_ABI_VERSION of the library; a caller built for another version
 * must not use it. */
ORV_RENDER_EXPORT int orv_render_abi_version(void);

/* The text of the last failure ("" if none). Valid until the
 * next call into the library. */
ORV_RENDER_EXPORT const char* orv_render_last_error(void);

/* An empty document, or NULL on failure. Owned by the caller: release it with
 * orv_document_destroy. */
ORV_RENDER_EXPORT orv_document* orv_document_create(void);
ORV_RENDER_EXPORT void orv_document_destroy(orv_document* doc);

/* Hands the document a picture the message carries, before loading. HTML
 * finds it by "cid:" + content_id or by file_name; either may be NULL or
 * empty. The bytes are copied. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_document_add_image(orv_document* doc, const char* content_id,
                                             const char* file_name, const unsigned char* data,
                                             size_t size);

/* The Windows code page (1252, 1251, 932, 65001, ...) of text or HTML content
 * that does not declare its encoding (no byte-order mark, no <meta> charset),
 * before loading. The library's own code-page table decodes it, the same one
 * that decodes RTF; a code page it does not know, or 0, means guess (UTF-8 if
 * valid, else Windows-1252). Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_document_set_code_page(orv_document* doc, unsigned code_page);

/* Says what the bytes are, before loading: a caller that knows (a message's
 * HTML body is HTML, even a bare fragment of it) says so, and no sniffing of
 * the content can take it for text. ORV_FORMAT_DETECT (the default) sniffs.
 * Returns 0, or -1 for another value. */
ORV_RENDER_EXPORT int orv_document_set_format(orv_document* doc, int format);

/* The paper, before loading: ORV_PAPER_DOCUMENT (the default), or Letter or
 * A4 for any document, its margins kept. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_document_set_paper(orv_document* doc, int paper);

/* A header block above the body at the top of the first page, such as a
 * message's envelope, before loading: UTF-8 text, its first line the title
 * (drawn bold, a rule under it), then one row a line, a label and its value
 * apart by the line's first tab (labels bold, values in one column after the
 * widest label); U+2028 breaks a value's line. The bytes are copied; NULL or
 * size 0: none. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_document_set_header(orv_document* doc, const char* text, size_t size);

/* A one-line caption band at the top of the first page, above everything else (an
   attachment's name, type and size). UTF-8; empty: none. Before loading. */
ORV_RENDER_EXPORT int orv_document_set_caption(orv_document* doc, const char* text, size_t size);

/* Text documents in a monospace face (attachments such as .txt, .csv, .log); long lines wrap.
   Before loading. */
ORV_RENDER_EXPORT int orv_document_set_monospace(orv_document* doc, int monospace);

/* Whether the layout may use ligatures (1, the default), before loading: 0
 * keeps "fi", "ti" and the like as the font's single letters, for pages
 * drawn into a PDF file, whose text would otherwise lose a ligature's
 * letters. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_document_set_ligatures(orv_document* doc, int ligatures);

/* The resolution pages are written at, in dots per inch (72..600; default
 * 96). The layout does not change with it; text and pictures are drawn at
 * that resolution. Returns 0, or -1 for a value out of range. */
ORV_RENDER_EXPORT int orv_document_set_resolution(orv_document* doc, int dpi);

/* A stamp band below every page saved or added from now on
 * (orv_document_save_jpeg, orv_page_file_add), for a legal production: the
 * page is taller by half an inch (at 300 dpi 150 pixels; in a PDF file 36
 * points), its own content where it is without the stamp, and in the white
 * band below it `left` (a confidentiality legend) left-aligned and `right`
 * (a Bates number) right-aligned, each half an inch in from its edge, one
 * line, vertically centred, black, Liberation Sans 10 pt. A text too long
 * for its room is elided; `right` keeps its room first and is elided only
 * when it alone does not fit. Line breaks and tabs are spaces. A bilevel
 * TIFF page stays bilevel. Both empty (the default): no band, the pages as
 * without a stamp. UTF-8 texts of at most ORV_STAMP_MAX_BYTES bytes each;
 * NULL with size 0: empty. Before or after loading, and again between pages
 * (each page its own number). Returns 0, or -1 (text data missing, a text
 * too long or not valid UTF-8), the stamp then as it was. The page count and
 * the text (orv_document_text) do not change with it. */
#define ORV_STAMP_MAX_BYTES 4096
ORV_RENDER_EXPORT int orv_document_set_stamp(orv_document* doc, const char* left, size_t left_size,
                                             const char* right, size_t right_size);

/* Loads and lays out the document from a file (UTF-8 path) or from memory
 * (the bytes are copied). A document loads once. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_document_load_file(orv_document* doc, const char* path);
ORV_RENDER_EXPORT int orv_document_load_memory(orv_document* doc, const unsigned char* data,
                                               size_t size);

/* After loading: "" when the document's content is shown; otherwise why its pages are a placeholder
   the library made instead (a password-protected PDF, a picture too large to decode, bytes that are
   no picture or no PDF). Valid until the next call on doc. */
ORV_RENDER_EXPORT const char* orv_document_placeholder_reason(orv_document* doc);

/* Pages of the loaded document (at least 1), or -1. */
ORV_RENDER_EXPORT int orv_document_page_count(orv_document* doc);

/* What the library recovered from while loading (a picture it could not
 * decode, a cut text, a page size out of range, ...), one text each:
 * orv_document_warning_count gives their number (or -1), orv_document_warning
 * the one at index (from 0) as UTF-8, valid until the document is destroyed,
 * or NULL for an index out of range. */
ORV_RENDER_EXPORT int orv_document_warning_count(orv_document* doc);
ORV_RENDER_EXPORT const char* orv_document_warning(orv_document* doc, int index);

/* Writes page_index (from 0) as a JPEG image of the given quality (0..100) to
 * file_name (UTF-8 path), replacing a file of that name only once the image
 * is complete. page_count must be 1: a JPEG holds one page. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_document_save_jpeg(orv_document* doc, int page_index, int page_count,
                                             const char* file_name, int jpeg_quality);

/* The words of the rendered pages in reading order, as UTF-8 plain text: the
 * caption and header block, then the body, a paragraph (or table cell) a
 * line; a PDF file's text as it holds it; nothing of a picture. Returns the
 * text, valid until the next call on doc, its length in bytes in *size when
 * that is not NULL; or NULL. */
ORV_RENDER_EXPORT const char* orv_document_text(orv_document* doc, size_t* size);

/* A file of pages from one or more documents, one after another: a PDF file
 * (text as text in embedded font subsets, pictures as images, each page the
 * size of its paper) or a TIFF file (a page whose pixels are all grey is
 * bilevel in CCITT Group 4, others JPEG, as the colour setting says; the
 * resolution recorded). Written beside its name and put in place by
 * orv_page_file_finish: whole or absent. */
#define ORV_PAGE_FILE_PDF 1
#define ORV_PAGE_FILE_TIFF 2
#define ORV_TIFF_COLOUR_AUTO 0
#define ORV_TIFF_COLOUR_NEVER 1
#define ORV_TIFF_COLOUR_ALWAYS 2

typedef struct orv_page_file orv_page_file;

/* A new file of the kind (ORV_PAGE_FILE_*) to be named file_name (UTF-8),
 * its pages at dpi (72..600), or NULL. Release it with
 * orv_page_file_destroy; one never finished is never put in place. */
ORV_RENDER_EXPORT orv_page_file* orv_page_file_create(int kind, const char* file_name, int dpi);
/* A PDF file's document information, before its first page: title and
 * author as UTF-8 (NULL: empty), the creation date in seconds since 1970 UTC
 * when has_created is not 0. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_page_file_set_info(orv_page_file* file, const char* title,
                                             const char* author, int has_created,
                                             long long created);
/* A TIFF file's storage, before its first page: ORV_TIFF_COLOUR_* and the
 * quality (1..100) of JPEG pages. Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_page_file_set_tiff(orv_page_file* file, int colour, int jpeg_quality);
/* Page page_index (from 0) of a loaded document as the file's next page.
 * Returns 0, or -1. */
ORV_RENDER_EXPORT int orv_page_file_add(orv_page_file* file, orv_document* doc, int page_index);
/* Completes the file and renames it over file_name. Returns 0, or -1 (the
 * system's reason in the text when the disk refused it). */
ORV_RENDER_EXPORT int orv_page_file_finish(orv_page_file* file);
ORV_RENDER_EXPORT void orv_page_file_destroy(orv_page_file* file);

/* 8-bit text in Windows code page code_page (1252, 1251, 932, 65001, ...) as
 * UTF-8, through the same table that decodes documents; for callers that show
 * a message's 8-bit strings themselves. Returns the text, owned by the library
 * and valid until the next call into it, with its length in bytes in
 * *utf8_size when that is not NULL; or NULL when the table has no decoder for
 * the code page or the bytes are not valid in it (orv_render_last_error says
 * which), so that the caller can try another code page. Needs no document. */
ORV_RENDER_EXPORT const char* orv_text_from_code_page(unsigned code_page, const char* bytes,
                                                      size_t size, size_t* utf8_size);

/* Deletes the QGuiApplication the library created, if any. Call once, after
 * every document is destroyed, before the library is unloaded. */
ORV_RENDER_EXPORT void orv_render_shutdown(void);

#ifdef __cplusplus
}
#endif

#endif
