// bench_window_run: what the window adds to a conversion run.
//
// Converts N messages (default 200, taken in turn from a folder of messages)
// twice in the same run: once from the window (Form1, "Start Converting", on
// the offscreen platform), once by starting the converter directly on the same
// files, one process after the other. Prints both times per file and the
// window's overhead.
//
//   bench_window_run MSG_FOLDER [COUNT]
#include <app/form1.h>
#include <joblist/file_list_view.h>
#include <shell/dialogs.h>
#include <shell/paths.h>
#include <shell/settings.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_window_run MSG_FOLDER [COUNT]\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    const QString bin = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    const QString tool = bin + QStringLiteral("/Kestrune.exe");

    // Messages the converter handles, so both sides do the same work.
    QStringList sources;
    for (const QString& name : folder.entryList({QStringLiteral("*.msg")}, QDir::Files)) {
        sources << folder.filePath(name);
    }
    if (sources.isEmpty()) {
        std::fprintf(stderr, "no .msg files in %s\n", argv[1]);
        return 2;
    }
    QTemporaryDir work;
    QStringList usable;
    for (const QString& s : sources) {
        if (QProcess::execute(tool, {s, work.filePath(QStringLiteral("probe.jpg"))}) == 0) {
            usable << s;
        }
    }
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << usable.at(i % usable.size());
    }

    // Directly: one converter process per file, one after the other.
    QTemporaryDir direct;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < files.size(); ++i) {
        QProcess::execute(tool, {files.at(i), direct.filePath(QStringLiteral("%1.jpg").arg(i))});
    }
    const double directMs = static_cast<double>(timer.elapsed());

    // From the window.
    QTemporaryDir settings, out, temp;
    shell::UseSettingsFile(settings.filePath(QStringLiteral("Orvaline.conf")));
    shell::WriteSetting(shell::Setting::Text1, out.path() + QStringLiteral("/"));
    qputenv("TEMP", QFile::encodeName(temp.path()));
    shell::ScriptedDialogs dialogs;
    app::Form1 form(&dialogs);
    form.setCloseAction([] {});
    form.Form_Load();
    form.show();
    for (const QString& f : files) {
        form.ListView1->appendItem(f);
    }
    timer.restart();
    form.PushButton2->click();
    const double windowMs = static_cast<double>(timer.elapsed());

    const auto n = static_cast<double>(files.size());
    const double perDirect = directMs / n;
    const double perWindow = windowMs / n;
    const double overhead = perWindow - perDirect;
    const double allowed = std::max(0.10 * perDirect, 20.0);
    std::printf("files: %lld (from %lld usable messages)\n", static_cast<long long>(files.size()),
                static_cast<long long>(usable.size()));
    std::printf("converter directly: %.1f ms per file\n", perDirect);
    std::printf("from the window:    %.1f ms per file\n", perWindow);
    std::printf("window overhead:    %.1f ms per file (%.1f%%); allowed %.1f ms: %s\n", overhead,
                100.0 * overhead / perDirect, allowed, overhead <= allowed ? "ok" : "TOO SLOW");
    const auto messages = dialogs.of(QStringLiteral("message"));
    std::printf("window said: %s\n\n",
                messages.empty() ? "(nothing)" : qPrintable(messages.back().text.left(80)));
    return overhead <= allowed ? 0 : 1;
}
