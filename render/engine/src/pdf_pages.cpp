#include "pdf_pages.h"

#include "engine/paged_document.h"
#include "engine/render_limits.h"

#include <poppler-qt6.h>

#include <QDeadlineTimer>
#include <QVariant>

#include <cmath>
#include <memory>
#include <utility>

namespace render::engine {

namespace {

// Poppler's own messages about a damaged file are not the tool's output;
// what matters of them reaches the warnings.
void quietPoppler(const QString&, const QVariant&) {}

// Poppler asks this while it draws: stop at the deadline the payload holds.
bool pastDeadline(const QVariant& deadline) {
    return QDeadlineTimer::current().deadline() >= deadline.toLongLong();
}

// A page edge Poppler gives (points) that a page can be drawn at.
bool usableEdge(double points) {
    return std::isfinite(points) && points >= 1 && points <= 1e6;
}

class PdfContent : public PageContent {
public:
    explicit PdfContent(std::unique_ptr<Poppler::Document> doc) : m_doc(std::move(doc)) {}

    QImage render(int index, QSize device, int, QString& why) const override {
        const std::unique_ptr<Poppler::Page> page(m_doc->page(index));
        if (!page) {
            why = QStringLiteral("the page cannot be read");
            return {};
        }
        const QSizeF size = points[static_cast<std::size_t>(index)];
        const double xres = 72.0 * device.width() / size.width();
        const double yres = 72.0 * device.height() / size.height();
        const QDeadlineTimer deadline(kMaxPdfPageMilliseconds);
        QImage image =
            page->renderToImage(xres, yres, -1, -1, -1, -1, Poppler::Page::Rotate0, nullptr,
                                nullptr, pastDeadline, QVariant::fromValue(deadline.deadline()));
        if (image.isNull()) {
            why = QStringLiteral("the page cannot be rendered");
        } else if (deadline.hasExpired()) {
            why =
                QStringLiteral("Rendering this page was stopped after %1 s: it may be incomplete.")
                    .arg(kMaxPdfPageMilliseconds / 1000.0);
        }
        return image;
    }

    QString text(int index) const override {
        const std::unique_ptr<Poppler::Page> page(m_doc->page(index));
        return page ? page->text(QRectF()) : QString();
    }

    std::vector<QSizeF> points;

private:
    std::unique_ptr<Poppler::Document> m_doc;
};

}  // namespace

ContentPages readPdf(const QByteArray& bytes, const RoomFor& roomFor,
                     std::vector<std::string>& warnings) {
    Poppler::setDebugErrorFunction(quietPoppler, QVariant());
    ContentPages result;
    std::unique_ptr<Poppler::Document> doc = Poppler::Document::loadFromData(bytes);
    if (!doc) {
        result.refusal = QStringLiteral("the bytes are not a PDF file the renderer can open");
        return result;
    }
    if (doc->isLocked()) {
        result.refusal = QStringLiteral("the PDF file is password-protected");
        return result;
    }
    const int pages = doc->numPages();
    if (pages <= 0) {
        result.refusal = QStringLiteral("the PDF file has no pages");
        return result;
    }
    doc->setRenderBackend(Poppler::Document::SplashBackend);
    doc->setRenderHint(Poppler::Document::Antialiasing);
    doc->setRenderHint(Poppler::Document::TextAntialiasing);
    result.total = pages;
    const int shown = std::min(pages, kMaxPages);
    std::vector<QSizeF> points(static_cast<std::size_t>(shown));
    std::vector<std::string> failures;
    bool anyShown = false;
    for (int i = 0; i < shown; ++i) {
        ContentPage page;
        const std::unique_ptr<Poppler::Page> source(doc->page(i));
        if (!source) {
            page.failure = QStringLiteral("the page cannot be read");
        } else {
            const QSizeF size = source->pageSizeF();
            if (!usableEdge(size.width()) || !usableEdge(size.height())) {
                page.failure = QStringLiteral("the page has no usable size");
            } else {
                points[static_cast<std::size_t>(i)] = size;
                page.shown = fitWithin(size * (kDefaultDpi / 72.0), roomFor(i));
                if (page.shown.isEmpty()) {
                    page.failure = QStringLiteral("there is no room for it on the page");
                }
            }
        }
        if (page.failure.isEmpty()) {
            anyShown = true;
        } else {
            failures.push_back(QStringLiteral("page %1 of the PDF file is not shown: %2")
                                   .arg(i + 1)
                                   .arg(page.failure)
                                   .toStdString());
        }
        result.pages.push_back(std::move(page));
    }
    if (!anyShown) {
        result.refusal = QStringLiteral("no page of the PDF file can be read");
        result.pages.clear();
        return result;
    }
    warnings.insert(warnings.end(), failures.begin(), failures.end());
    auto content = std::make_unique<PdfContent>(std::move(doc));
    content->points = std::move(points);
    result.content = std::move(content);
    return result;
}

}  // namespace render::engine
