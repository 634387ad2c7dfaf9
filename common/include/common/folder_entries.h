#pragma once
// What a folder walk asks of each entry it lists, the same way wherever a
// tree of messages is walked ("Add All MSG File(s) In Folder", the batch
// converter): whether an entry is a folder or a symbolic link (never
// followed, so link loops end), and whether a file is one that open() would
// accept for reading. Header-only, POSIX; never throws.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

inline bool isDotOrDotDot(const char* name) {
    return (name[0] == '.' && name[1] == '\0') ||
           (name[0] == '.' && name[1] == '.' && name[2] == '\0');
}

// Whether `name` inside the folder `dirFd` (or a path when dirFd is AT_FDCWD)
// is a regular file that open() would accept for reading. The permission
// check stands in for opening: it asks the kernel the same question (with
// the effective user, as open() does) without creating an open file, which
// keeps a search of a hundred thousand files cheap. `knownRegular` skips the
// type check when the directory listing already gave the type.
inline bool canOpenAt(int dirFd, const char* name, bool knownRegular = false) {
    if (!knownRegular) {
        struct stat info {};
        if (::fstatat(dirFd, name, &info, 0) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
    }
    return ::faccessat(dirFd, name, R_OK, AT_EACCESS) == 0;
}

// Whether a listed entry is a folder, and whether it is a symbolic link (not
// followed).
struct EntryKind {
    bool folder = false;
    bool link = false;
    bool known = false;
    bool regular = false;
};

inline EntryKind kindOf(int dirFd, const dirent* entry) {
#ifdef _DIRENT_HAVE_D_TYPE
    switch (entry->d_type) {
        case DT_DIR:
            return {true, false, true, false};
        case DT_LNK:
            return {false, true, true, false};
        case DT_REG:
            return {false, false, true, true};
        case DT_UNKNOWN:
            break;
        default:
            return {false, false, true, false};
    }
#endif
    struct stat info {};
    if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return {};
    }
    return {S_ISDIR(info.st_mode), S_ISLNK(info.st_mode), true, S_ISREG(info.st_mode)};
}

}  // namespace common
