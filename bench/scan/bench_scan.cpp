// Benchmark: the folder walk and file search, and the whole Add All command
// with the list filled, side by side with `find DIR -iname '*.msg'` on the
// same tree in the same run.
//
//   bench_scan [--dir DIR] [--folders N] [--files N] [--repeat N] [--keep]
//
// Without --dir a tree is generated in a temporary folder: N folders (50 top
// folders, the rest spread below them) holding the files evenly, 17 of every
// 20 named *.msg or *.MSG and the rest *.txt. Every measurement is the median
// of --repeat runs after one warm-up run of each, so all three read a warm
// cache. Prints the times and the two ratios.

#include <joblist/file_list_view.h>
#include <scan/add_all.h>
#include <scan/add_folder.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/settings.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool makeTree(const QString& root, int folders, int files) {
    QDir dir(root);
    QStringList all;
    const int top = std::min(50, folders);
    for (int t = 0; t < top; ++t) {
        all.append(QStringLiteral("top%1").arg(t));
    }
    for (int k = top; k < folders; ++k) {
        all.append(QStringLiteral("top%1/sub%2").arg(k % top).arg(k));
    }
    for (const QString& f : all) {
        if (!dir.mkpath(f)) {
            return false;
        }
    }
    for (int i = 0; i < files; ++i) {
        const QString& folder = all.at(i % all.size());
        const int kind = i % 20;
        const char* ext = kind < 15 ? "msg" : (kind < 17 ? "MSG" : "txt");
        QFile file(root + QLatin1Char('/') + folder + QStringLiteral("/message %1.").arg(i) +
                   QString::fromLatin1(ext));
        if (!file.open(QIODevice::WriteOnly) || file.write("x", 1) != 1) {
            return false;
        }
    }
    return true;
}

long findCount(const QString& root) {
    const std::string command = "find '" + root.toStdString() + "' -iname '*.msg' | wc -l";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    long count = -1;
    if (std::fscanf(pipe, "%ld", &count) != 1) {
        count = -1;
    }
    ::pclose(pipe);
    return count;
}

int runFind(const QString& root) {
    const std::string command = "find '" + root.toStdString() + "' -iname '*.msg' > /dev/null";
    return std::system(command.c_str());
}

long scanOnce(const QString& root) {
    shell::ScriptedDialogs dialogs;
    QStringList folders{root + QLatin1Char('/')};
    scan::GetSubDirectories2016(folders, true, dialogs);
    long count = 0;
    for (QString folder : folders) {
        folder.chop(1);
        count += scan::GetFilesInFolder(folder, QStringLiteral("*.msg")).upperBound();
    }
    return count;
}

int addAllOnce(const QString& root) {
    shell::ScriptedDialogs dialogs;
    dialogs.inputAnswers = {QStringLiteral("msg")};
    dialogs.folderAnswers = {root};
    joblist::FileListView list;
    shell::WindowPointer pointer(nullptr);
    scan::AddAllCommand(dialogs, pointer, [&](const QString& path) {
        list.appendItem(path);
    }).run();
    return list.count();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QString dir;
    int folders = 5000;
    int files = 100000;
    int repeat = 5;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--dir") {
            dir = QString::fromLocal8Bit(value());
        } else if (arg == "--folders") {
            folders = std::max(1, std::atoi(value()));
        } else if (arg == "--files") {
            files = std::max(0, std::atoi(value()));
        } else if (arg == "--repeat") {
            repeat = std::max(1, std::atoi(value()));
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: bench_scan [--dir DIR] [--folders N] [--files N] "
                         "[--repeat N] [--keep]\n");
            return 2;
        }
    }

    QTemporaryDir settings;
    shell::UseSettingsFile(settings.filePath(QStringLiteral("bench.ini")));
    QTemporaryDir generated;
    if (dir.isEmpty()) {
        generated.setAutoRemove(!keep);
        dir = generated.path() + QStringLiteral("/tree");
        std::printf("generating %d files in %d folders under %s\n", files, folders,
                    qPrintable(dir));
        if (!makeTree(dir, folders, files)) {
            std::fprintf(stderr, "could not build the tree\n");
            return 1;
        }
    }

    const long expected = findCount(dir);
    const long scanned = scanOnce(dir);
    const int added = addAllOnce(dir);
    std::printf("find: %ld files, scan: %ld, Add All: %d\n", expected, scanned, added);
    if (expected != scanned || expected != added) {
        std::fprintf(stderr, "counts differ\n");
        return 1;
    }

    std::vector<double> findTimes;
    std::vector<double> scanTimes;
    std::vector<double> addAllTimes;
    for (int r = 0; r < repeat; ++r) {
        findTimes.push_back(secondsOf([&] { runFind(dir); }));
        scanTimes.push_back(secondsOf([&] { scanOnce(dir); }));
        addAllTimes.push_back(secondsOf([&] { addAllOnce(dir); }));
    }
    const double findSeconds = median(findTimes);
    const double scanSeconds = median(scanTimes);
    const double addAllSeconds = median(addAllTimes);
    std::printf("median of %d runs: find %.3f s, scan %.3f s, Add All %.3f s\n", repeat,
                findSeconds, scanSeconds, addAllSeconds);
    std::printf("scan / find = %.2f (goal <= 3)\n", scanSeconds / findSeconds);
    std::printf("Add All / find = %.2f (goal <= 10)\n", addAllSeconds / findSeconds);
    return 0;
}
