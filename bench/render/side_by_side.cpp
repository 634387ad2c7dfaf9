// side_by_side [--peer NAME] <out.jpg> <left pages...> -- <right pages...>:
// one comparison sheet, our pages in the left column and the peer's
// ("LibreOffice" unless --peer names another) in the right, each scaled to
// half size, page by page. For compare_libreoffice.py, compare_messages.py
// and browser_compare.py.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString peer = QStringLiteral("LibreOffice");
    if (args.size() > 1 && args.front() == QStringLiteral("--peer")) {
        peer = args.at(1);
        args = args.mid(2);
    }
    const qsizetype split = args.indexOf(QStringLiteral("--"));
    if (args.size() < 2 || split < 1) {
        std::fputs(
            "usage: side_by_side [--peer NAME] <out.jpg> <left pages...> -- <right pages...>\n",
            stderr);
        return 2;
    }
    const QString out = args.takeFirst();
    const QStringList left = args.mid(0, split - 1);
    const QStringList right = args.mid(split);
    constexpr int kColumn = 420;
    constexpr int kGap = 12;
    constexpr int kMaxRows = 6;  // the sheet shows the first pages only
    const auto rows =
        static_cast<int>(std::min<qsizetype>(std::max(left.size(), right.size()), kMaxRows));
    QImage sheet(2 * kColumn + 3 * kGap, std::max(1, rows) * (545 + kGap) + kGap + 24,
                 QImage::Format_RGB32);
    sheet.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&sheet);
    painter.setPen(Qt::white);
    painter.drawText(kGap, 18, QStringLiteral("ours: %1 pages").arg(left.size()));
    painter.drawText(2 * kGap + kColumn, 18,
                     QStringLiteral("%1: %2 pages").arg(peer).arg(right.size()));
    for (int row = 0; row < rows; ++row) {
        const int y = 24 + kGap + row * (545 + kGap);
        for (int side = 0; side < 2; ++side) {
            const QStringList& pages = side == 0 ? left : right;
            if (row >= pages.size()) {
                continue;
            }
            const QImage page = QImage(pages[row]).scaledToWidth(kColumn, Qt::SmoothTransformation);
            painter.drawImage(kGap + side * (kColumn + kGap), y, page);
        }
    }
    painter.end();
    return sheet.save(out, "JPEG", 85) ? 0 : 1;
}
