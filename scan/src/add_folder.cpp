#include "scan/add_folder.h"

#include <common/folder_entries.h>
#include <common/text.h>
#include <shell/dialogs.h>
#include <shell/failure_report.h>
#include <shell/paths.h>

#include <QElapsedTimer>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <deque>
#include <utility>

namespace scan {

namespace {

constexpr std::size_t kInitialCapacity = 100;
constexpr std::size_t kCapacityStep = 50;

// Attribute values of folders that are hidden system folders (with or
// without a reparse point): never descended into unless they are a root.
constexpr int kHiddenSystemFolder = kAttrDirectory | kAttrHidden | kAttrSystem;
constexpr int kHiddenSystemReparseFolder = kHiddenSystemFolder | kAttrReparsePoint;

// Pumping events costs a few microseconds even when nothing is pending; the
// walk pumps at every point where a long scan must keep the window alive, but
// no more often than this.
constexpr qint64 kPumpIntervalMs = 10;

class Pump {
public:
    Pump() { m_timer.start(); }
    void operator()() {
        if (m_first || m_timer.elapsed() >= kPumpIntervalMs) {
            m_first = false;
            shell::PumpEvents();
            m_timer.restart();
        }
    }

private:
    QElapsedTimer m_timer;
    bool m_first = true;
};

// Closes a directory stream on every way out.
class DirStream {
public:
    explicit DirStream(const QByteArray& path) : m_dir(::opendir(path.constData())) {
        m_error = m_dir == nullptr ? errno : 0;
    }
    ~DirStream() {
        if (m_dir != nullptr) {
            ::closedir(m_dir);
        }
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;

    bool isOpen() const { return m_dir != nullptr; }
    int openError() const { return m_error; }
    int fd() const { return ::dirfd(m_dir); }
    // The next entry, or null at the end or on a read error (readError()).
    const dirent* next() {
        errno = 0;
        const dirent* entry = ::readdir(m_dir);
        m_error = entry == nullptr ? errno : 0;
        return entry;
    }
    int readError() const { return m_error; }

private:
    DIR* m_dir;
    int m_error = 0;
};

// The root folder: a path made of separators only.
bool isRootFolder(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    for (QChar c : path) {
        if (c != QLatin1Char('/')) {
            return false;
        }
    }
    return true;
}

// Attributes from an lstat() result, the followed stat() result (when the
// entry is a link) and the entry's name.
int attributesOf(const struct stat& own, const struct stat* target, bool hiddenName) {
    int attributes = 0;
    const struct stat& effective = target != nullptr ? *target : own;
    if (S_ISLNK(own.st_mode)) {
        attributes |= kAttrReparsePoint;
    }
    attributes |= S_ISDIR(effective.st_mode) ? kAttrDirectory : kAttrArchive;
    if (hiddenName) {
        attributes |= kAttrHidden;
    }
    if ((effective.st_mode & S_IWUSR) == 0) {
        attributes |= kAttrReadOnly;
    }
    return attributes;
}

bool hasHiddenName(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/'))) {
        trimmed.chop(1);
    }
    return shell::FileNameOf(trimmed).startsWith(QLatin1Char('.'));
}

using common::canOpenAt;
using common::isDotOrDotDot;
using common::kindOf;

bool qualifiesAsFolder(const QString& path);

// The outcome of listing one folder's direct sub-folders.
enum class Listing { Done, Unreadable, Ended };

Listing listSubFolders(const QString& parent, QStringList& levelList, Pump& pump) {
    DirStream dir(QFile::encodeName(parent));
    if (!dir.isOpen()) {
        const int error = dir.openError();
        // Permission denied, or the path (or a folder on it) is not there.
        if (error == EACCES || error == EPERM || error == ENOENT || error == ENOTDIR) {
            return Listing::Unreadable;
        }
        return Listing::Ended;
    }
    while (const dirent* entry = dir.next()) {
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        const common::EntryKind kind = kindOf(dir.fd(), entry);
        // Symbolic links to folders are not descended into: they may loop.
        if (!kind.known || !kind.folder || kind.link) {
            continue;
        }
        pump();
        const std::string_view native(entry->d_name);
        if (HasUnsafeNameChars(native)) {
            continue;
        }
        const QString name =
            QString::fromUtf8(native.data(), static_cast<qsizetype>(native.size()));
        if (name.size() >= kMaxPathLength || name.contains(QLatin1Char('?'))) {
            continue;
        }
        levelList.append(parent + name + QLatin1Char('/'));
    }
    return dir.readError() == 0 ? Listing::Done : Listing::Ended;
}

// Step 2 of the walk for one level: examines every entry of `level`, lists
// the sub-folders of those that qualify into `next`, and removes the entries
// that could not be listed.
void scanLevel(QStringList& level, QStringList& next, shell::StepRunner& runner, Pump& pump) {
    qsizetype i = 0;
    while (i < level.size()) {
        const QString entry = level.at(i);
        bool descend = false;
        // [108]..[116]
        runner.step(108, [&] {
            if (!shell::IsFolder(entry).value_or(false)) {
                return;
            }
            if (entry.size() >= kMaxPathLength) {
                return;
            }
            pump();
            descend = qualifiesAsFolder(entry);
        });
        if (!descend) {
            ++i;
            continue;
        }
        Listing outcome = Listing::Done;
        // [118]..[136]
        runner.step(118, [&] { outcome = listSubFolders(entry, next, pump); });
        if (outcome == Listing::Unreadable) {
            // [138]..[148] The first entry equal to this one goes. It is at or
            // before the current position, so the walk goes on at the same
            // index with the entry that followed.
            runner.step(138, [&] {
                const qsizetype first = level.indexOf(entry);
                if (first >= 0) {
                    level.removeAt(first);
                    return;
                }
                ++i;
            });
            continue;
        }
        ++i;
    }
}

}  // namespace

std::optional<int> FileAttributes(const QString& path) {
    if (path.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray native = QFile::encodeName(path);
    struct stat own {};
    if (::lstat(native.constData(), &own) != 0) {
        return std::nullopt;
    }
    struct stat target {};
    const struct stat* followed = nullptr;
    if (S_ISLNK(own.st_mode) && ::stat(native.constData(), &target) == 0) {
        followed = &target;
    }
    return attributesOf(own, followed, hasHiddenName(path));
}

bool HasUnsafeNameChars(std::string_view nativeName) {
    for (std::size_t i = 0; i < nativeName.size();) {
        const common::Utf8Step step = common::utf8StepAt(nativeName, i);
        const char32_t cp = step.codePoint;
        if (step.length == 0 || cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == U'?') {
            return true;
        }
        i += step.length;
    }
    return false;
}

bool CanOpenFile(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    return canOpenAt(AT_FDCWD, QFile::encodeName(path).constData());
}

bool MatchesWildcard(const QString& name, const QString& pattern) {
    auto sameLetter = [](QChar a, QChar b) {
        if (a == b) {
            return true;
        }
        const char16_t x = a.unicode();
        const char16_t y = b.unicode();
        if (x < 0x80 && y < 0x80) {
            auto lower = [](char16_t c) {
                return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
            };
            return lower(x) == lower(y);
        }
        return a.toCaseFolded() == b.toCaseFolded();
    };
    // Iterative matching with one back-tracking point per "*": linear in
    // practice, at worst name length times pattern length.
    auto match = [&](qsizetype patternEnd) {
        qsizetype n = 0;
        qsizetype p = 0;
        qsizetype starP = -1;
        qsizetype starN = 0;
        while (n < name.size()) {
            if (p < patternEnd && pattern.at(p) == QLatin1Char('*')) {
                starP = p++;
                starN = n;
            } else if (p < patternEnd && (pattern.at(p) == QLatin1Char('?') ||
                                          sameLetter(pattern.at(p), name.at(n)))) {
                ++p;
                ++n;
            } else if (starP >= 0) {
                p = starP + 1;
                n = ++starN;
            } else {
                return false;
            }
        }
        while (p < patternEnd && pattern.at(p) == QLatin1Char('*')) {
            ++p;
        }
        return p == patternEnd;
    };
    if (match(pattern.size())) {
        return true;
    }
    return pattern.endsWith(QLatin1String(".*")) && match(pattern.size() - 2);
}

QString FileNameArray::at(int index) const {
    if (index < 1 || index > upperBound()) {
        return {};
    }
    return m_names[static_cast<std::size_t>(index - 1)];
}

void FileNameArray::add(QString name) {
    // The capacity follows the documented rule, but the storage grows
    // geometrically: growing it by 50 entries at a time would copy a folder
    // of n files n / 50 times.
    if (m_capacity == 0) {
        m_capacity = kInitialCapacity;
        m_names.reserve(m_capacity);
    }
    if (m_names.size() == m_capacity) {
        m_capacity += kCapacityStep;
    }
    m_names.push_back(std::move(name));
}

void FileNameArray::cut() {
    m_names.shrink_to_fit();
    m_capacity = m_names.empty() ? 1 : m_names.size();
}

FileNameArray GetFilesInFolder(QString folder, const QString& pattern) {
    FileNameArray result;
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    DirStream dir(QFile::encodeName(folder));
    if (dir.isOpen()) {
        while (const dirent* entry = dir.next()) {
            if (isDotOrDotDot(entry->d_name)) {
                continue;
            }
            const std::string_view native(entry->d_name);
            if (!common::isValidUtf8(native)) {
                continue;
            }
            const QString name =
                QString::fromUtf8(native.data(), static_cast<qsizetype>(native.size()));
            if (!MatchesWildcard(name, pattern)) {
                continue;
            }
#ifdef _DIRENT_HAVE_D_TYPE
            const bool regular = entry->d_type == DT_REG;
#else
            const bool regular = false;
#endif
            if (canOpenAt(dir.fd(), entry->d_name, regular)) {
                result.add(name);
            }
        }
    }
    result.cut();
    return result;
}

namespace {

// The attribute and root rule for a path already known to be a folder.
bool qualifiesAsFolder(const QString& path) {
    if (isRootFolder(path)) {
        return true;
    }
    const std::optional<int> attributes = FileAttributes(path);
    if (!attributes) {
        return false;
    }
    return *attributes != kHiddenSystemFolder && *attributes != kHiddenSystemReparseFolder;
}

}  // namespace

bool IsQualifyingFolder(const QString& path) {
    return shell::IsFolder(path).value_or(false) && qualifiesAsFolder(path);
}

void GetSubDirectories2016(QStringList& folderList, bool recurse, shell::Dialogs& dialogs) {
    shell::StepRunner runner(dialogs, QString::fromLatin1(shell::location::kFolderScan));
    Pump pump;
    // [100]..[104] Levels below the caller's list, one per depth. The walk
    // goes level by level without recursion, so its depth costs no stack.
    std::deque<QStringList> levels;
    QStringList* current = &folderList;
    while (true) {
        QStringList next;
        scanLevel(*current, next, runner, pump);
        if (next.isEmpty()) {
            break;
        }
        levels.push_back(std::move(next));
        // [150] Only the direct level unless recursing.
        if (!recurse) {
            break;
        }
        current = &levels.back();
    }
    // [152]..[160] Each level's qualifying folders join the caller's list in
    // level order: breadth-first by depth.
    for (const QStringList& level : levels) {
        for (const QString& folder : level) {
            runner.step(152, [&] {
                if (!shell::IsFolder(folder).value_or(false)) {
                    return;
                }
                pump();
                if (qualifiesAsFolder(folder)) {
                    folderList.append(folder);
                }
            });
        }
    }
}

QString BrowseFolder(shell::Dialogs& dialogs, const QString& prompt, const QString& startFolder) {
    QString chosen = dialogs.pickFolder(prompt, startFolder);
    while (chosen.size() > 1 && chosen.endsWith(QLatin1Char('/'))) {
        chosen.chop(1);
    }
    return chosen;
}

bool IsListableFile(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    // One lstat gives both the type and the attributes; the target is read
    // only for links.
    const QByteArray native = QFile::encodeName(path);
    struct stat own {};
    if (::lstat(native.constData(), &own) != 0) {
        return false;
    }
    struct stat target {};
    const struct stat* followed = nullptr;
    if (S_ISLNK(own.st_mode)) {
        if (::stat(native.constData(), &target) != 0) {
            return false;
        }
        followed = &target;
    }
    const struct stat& effective = followed != nullptr ? *followed : own;
    if (!S_ISREG(effective.st_mode) || !canOpenAt(AT_FDCWD, native.constData(), true)) {
        return false;
    }
    return attributesOf(own, followed, hasHiddenName(path)) != kSkippedFileAttributes;
}

}  // namespace scan
