#include "document_repairs.h"

#include "engine/render_limits.h"
#include "table_nesting.h"
#include "text_formats.h"

#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextOption>
#include <QUrl>

#include <algorithm>

namespace render::engine {

QString cutText(QString text, std::vector<std::string>& warnings) {
    if (text.size() <= kMaxTextCharacters) {
        return text;
    }
    const auto total = text.size();
    text.truncate(kMaxTextCharacters);
    const QString note = QStringLiteral(
                             "[The text is cut here: it holds %1 characters, of which "
                             "the first %2 are shown.]")
                             .arg(total)
                             .arg(kMaxTextCharacters);
    warnings.push_back(note.toStdString());
    return text + QStringLiteral("\n\n") + note;
}

namespace {

rtf::PageSetup withPaper(rtf::PageSetup page, LoadOptions::Paper paper) {
    switch (paper) {
        case LoadOptions::Paper::Letter:
            page.paperWidth = 12240;
            page.paperHeight = 15840;
            break;
        case LoadOptions::Paper::A4:
            page.paperWidth = 11906;
            page.paperHeight = 16838;
            break;
        case LoadOptions::Paper::Document:
            break;
    }
    return page;
}

rtf::PageSetup sanitize(rtf::PageSetup g, std::vector<std::string>& warnings) {
    const rtf::PageSetup letter;
    auto paperOk = [](int v) { return v >= kMinPaperTwips && v <= kMaxPaperTwips; };
    if (!paperOk(g.paperWidth) || !paperOk(g.paperHeight)) {
        warnings.push_back("paper size " + std::to_string(g.paperWidth) + " x " +
                           std::to_string(g.paperHeight) +
                           " twips is out of range; Letter is used");
        g.paperWidth = letter.paperWidth;
        g.paperHeight = letter.paperHeight;
    }
    auto fitMargins = [&](int& a, int& b, int paper, const char* what) {
        a = std::clamp(a, 0, paper);
        b = std::clamp(b, 0, paper);
        const int room = paper - kMinBodyTwips;
        if (a + b > room) {
            warnings.push_back(std::string(what) + " margins leave no room for text; reduced");
            const double factor = room / static_cast<double>(a + b);
            a = static_cast<int>(a * factor);
            b = static_cast<int>(b * factor);
        }
    };
    fitMargins(g.marginLeft, g.marginRight, g.paperWidth, "left and right");
    fitMargins(g.marginTop, g.marginBottom, g.paperHeight, "top and bottom");
    g.headerY = std::clamp(g.headerY, 0, g.paperHeight / 2);
    g.footerY = std::clamp(g.footerY, 0, g.paperHeight / 2);
    return g;
}

// Pictures larger than the text body are shown scaled down to fit it, so no
// picture is cut at the paper edge or split across pages.
void fitImages(QTextDocument& doc, QSizeF body) {
    struct Edit {
        int position;
        int length;
        QTextImageFormat format;
    };
    std::vector<Edit> edits;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) {
                continue;
            }
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            double width = format.width();
            double height = format.height();
            if (width <= 0 || height <= 0) {
                const QImage image =
                    doc.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
                if (image.isNull() || image.width() == 0 || image.height() == 0) {
                    continue;
                }
                if (width <= 0 && height <= 0) {
                    width = image.width();
                    height = image.height();
                } else if (width <= 0) {
                    width = height * image.width() / image.height();
                } else {
                    height = width * image.height() / image.width();
                }
            }
            const double factor = std::min({1.0, body.width() / width, body.height() / height});
            if (factor >= 1.0) {
                continue;
            }
            format.setWidth(width * factor);
            format.setHeight(height * factor);
            edits.push_back({fragment.position(), fragment.length(), format});
        }
    }
    for (const Edit& edit : edits) {
        QTextCursor cursor(&doc);
        cursor.setPosition(edit.position);
        cursor.setPosition(edit.position + edit.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(edit.format);
    }
}

}  // namespace

rtf::PageSetup pageSetupFor(rtf::PageSetup requested, LoadOptions::Paper paper,
                            std::vector<std::string>& warnings) {
    return sanitize(withPaper(requested, paper), warnings);
}

void settleBody(QTextDocument& doc) {
    doc.setDocumentMargin(0);
    QTextOption option = doc.defaultTextOption();
    // A long word or link wraps instead of running off the paper.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);

    const QTextBlock first = doc.begin();
    if (first.isValid() &&
        first.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) {
        QTextBlockFormat format = first.blockFormat();
        format.setPageBreakPolicy(format.pageBreakPolicy() & ~QTextFormat::PageBreak_AlwaysBefore);
        QTextCursor(first).setBlockFormat(format);
    }
}

void repairForLayout(QTextDocument& doc, QSizeF room, std::vector<std::string>& warnings) {
    fitImages(doc, room);
    boundTableNesting(doc, warnings);
    prepareFormats(doc);
}

}  // namespace render::engine
