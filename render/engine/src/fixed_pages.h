#pragma once
// Pages whose content is drawn rather than laid out: the frames of a picture
// file and the pages of a PDF file, one to a page, each fitted to the text
// area (below the caption and header block on the first page), never
// enlarged past its own size, centred horizontally, at the top.

#include <rtf/rtf_reader.h>

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QTextDocument>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace render::engine {

// One page of the content, as the reader of its file found it.
struct ContentPage {
    QSizeF shown;     // as drawn, in pixels of 96 dpi; empty when it cannot be shown
    QString failure;  // why it cannot, which its page then says
};

// The reader of a picture or PDF file behind the pages.
class PageContent {
public:
    PageContent() = default;
    PageContent(const PageContent&) = delete;
    PageContent& operator=(const PageContent&) = delete;
    virtual ~PageContent() = default;
    // Content page `index` for `device` pixels at `dpi`: an image of that
    // size, or of fewer pixels (a picture has no more than its own), which
    // the page scales up. A null image and `why` when it cannot be drawn; a
    // valid image and `why` when it is incomplete.
    virtual QImage render(int index, QSize device, int dpi, QString& why) const = 0;
    // The words of content page `index` in reading order, where the file
    // holds them as text (a PDF page); empty for a picture.
    virtual QString text(int) const { return {}; }
};

// What the reader of a picture or PDF file gives.
struct ContentPages {
    std::unique_ptr<PageContent> content;
    std::vector<ContentPage> pages;  // at most kMaxPages
    int total = 0;                   // pages the file has: above pages.size() when cut
    QString refusal;                 // not empty: nothing of the file can be shown, and why
};

// The room content page `index` has, in pixels of 96 dpi.
using RoomFor = std::function<QSizeF(int index)>;

// `own` (pixels of 96 dpi) scaled down to fit `room`, aspect kept; never up.
QSizeF fitWithin(QSizeF own, QSizeF room);

// A size in pixels of 96 dpi in pixels at `dpi`, rounded, at least 1 x 1.
QSize deviceSize(QSizeF shown, int dpi);

class FixedPages {
public:
    // Pages of `page` (already within the engine's limits), the caption and
    // header block (either may be empty) at the top of the first page's
    // text area. A top matter taller than two thirds of the text area has
    // the first page to itself, cut at its foot (with a warning).
    FixedPages(const rtf::PageSetup& page, const QString& header, const QString& caption,
               std::vector<std::string>& warnings);
    FixedPages(const FixedPages&) = delete;
    FixedPages& operator=(const FixedPages&) = delete;

    // The room of content page `index`.
    QSizeF room(int index) const;
    void setContent(ContentPages pages);

    // Pages of the whole content (at least 1), above kMaxPages when cut.
    int laidOutPages() const;
    // Page `pageIndex` at `dpi`, of `pageCount` rendered (the last of a cut
    // document says so). Throws RenderError when the image cannot be made.
    QImage paint(int pageIndex, int dpi, int pageCount) const;
    // The same page drawn with `painter`, set up by beginPage for a device
    // of `dpi`.
    void paint(QPainter& painter, int pageIndex, int dpi, int pageCount) const;

    const rtf::PageSetup& geometry() const { return m_page; }
    QSizeF area() const { return m_area; }
    const QTextDocument& topMatter() const { return *m_topMatter; }
    // The words of the first `pageCount` pages' content (PageContent::text),
    // a page's after the one before.
    QString contentText(int pageCount) const;

private:
    void drawNote(class QPainter& painter, QPointF at, const QString& title,
                  const QString& why) const;

    rtf::PageSetup m_page;
    QSizeF m_area;  // the text area, pixels of 96 dpi
    std::unique_ptr<QTextDocument> m_topMatter;
    double m_topHeight = 0;  // what the top matter takes of the first page
    int m_firstContent = 0;  // the page of content page 0
    ContentPages m_content;
};

// A small document of the bands above a body (header_block.h) laid out at
// `width`: `header` as a header block (its rows) and `caption` above it,
// either may be empty. Its height up to the end of the bands in `height`.
std::unique_ptr<QTextDocument> bandDocument(const QString& header, const QString& caption,
                                            double width, double& height);

}  // namespace render::engine
