// scale_icon SOURCE OUTDIR SIZE...: the icon SOURCE, scaled smoothly to each
// SIZE, as OUTDIR/SIZExSIZE/apps/orvaline.png (the hicolor theme's layout).
// Run at build time, so the icon has one source.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: scale_icon SOURCE OUTDIR SIZE...\n", stderr);
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "scale_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0) {
            std::fprintf(stderr, "scale_icon: bad size %s\n", argv[i]);
            return 2;
        }
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        const QImage scaled =
            source.size() == QSize(size, size)
                ? source
                : source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!QDir().mkpath(folder) ||
            !scaled.save(folder + QStringLiteral("/orvaline.png"), "PNG")) {
            std::fprintf(stderr, "scale_icon: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
