#!/usr/bin/env python3
"""Checks, from strace logs of the packaged programs at work, that the Debian
package holds every file they look for, and that what the renderer uses of
the system comes from packages the package depends on.

  check-package-files.py --deb DEB --root ROOT [--folder usr/lib/orvaline]
                         [--ignore DIR]... [--depends-log LOG]... LOG...

DEB is the package, ROOT the folder it was unpacked into (dpkg-deb -x), each
LOG the output of `strace -f -y -o LOG -e trace=%file,mmap` over a program
run from ROOT. Two rules:

1. Nothing the programs look for in their own folder (FOLDER below ROOT) is
   missing (every LOG): a file the window or the batch converter does not
   find there (a pointer, the skin, the samples, the rendering library)
   would be missing on every user's machine, and the window goes on without
   some of them silently. Qt's own optional look-ups in the application's
   folder (qt.conf, a folder per plugin type) are no files of ours.
2. Every file below /usr that a --depends-log's programs use outside ROOT
   (a shared library or plugin mapped for execution, a font, a fontconfig
   or data file opened) belongs to a package that the package's Depends
   bring in, directly or through the installed packages' own dependencies,
   or to an Essential package: the pages come out the same on a machine
   with nothing else installed. Files no package owns (caches) and the
   folders given with --ignore do not count. Meant for the converter: the
   window's toolkit also tries optional cursor themes and libraries.

Prints each offence and exits 1 when there is one.
"""
import argparse
import glob
import os
import re
import subprocess
import sys

LINE = re.compile(r"^(\d+)\s+(.*)$")
CALL = re.compile(r"^(\w+)\((.*)$")
RESUMED = re.compile(r"^<\.\.\. (\w+) resumed>(.*)$")
RESULT = re.compile(r"\)\s+=\s+(-?\d+)(?:<([^>]*)>)?(?:\s+(E[A-Z0-9]+))?")
FD_PATH = re.compile(r"^(AT_FDCWD|\d+)<([^>]*)>")
EXEC_MAP = re.compile(r"PROT_[A-Z|]*EXEC[^,]*,\s*[A-Z_|]+,\s*\d+<([^>]+)>")
# Plugin types a Qt 6 widget application looks for in its own folder, beside
# those installed on this machine.
QT_PLUGIN_TYPES = {
    "accessible", "accessiblebridge", "egldeviceintegrations", "generic", "iconengines",
    "imageformats", "platforminputcontexts", "platforms", "platformthemes", "styles",
    "xcbglintegrations", "wayland-decoration-client", "wayland-graphics-integration-client",
    "wayland-shell-integration"}


def unescape(text):
    """strace's quoting of a path argument back to the path."""
    return text.encode("latin-1").decode("unicode_escape").encode("latin-1").decode(
        "utf-8", "surrogateescape")


def lookups(log):
    """(syscall, path, result, fd_path, errno) per finished call, resumed calls
    joined to their start."""
    pending = {}
    with open(log, encoding="utf-8", errors="surrogateescape") as f:
        for raw in f:
            m = LINE.match(raw.rstrip("\n"))
            if not m:
                continue
            pid, rest = m.groups()
            if rest.endswith("<unfinished ...>"):
                pending[pid] = rest[: -len("<unfinished ...>")]
                continue
            r = RESUMED.match(rest)
            if r:
                rest = pending.pop(pid, r.group(1) + "(") + r.group(2)
            c = CALL.match(rest)
            if not c:
                continue
            name, args = c.groups()
            res = RESULT.search(args)
            if not res:
                continue
            result, fd_path, errno = int(res.group(1)), res.group(2), res.group(3)
            yield name, args, result, fd_path, errno


def path_argument(args):
    """The absolute path a call's arguments name, if any: its first quoted
    string, joined to the folder of a directory descriptor before it."""
    quote = args.find('"')
    if quote < 0:
        return None
    end = quote + 1
    while end < len(args) and args[end] != '"':
        end += 2 if args[end] == "\\" else 1
    path = unescape(args[quote + 1:end])
    if path.startswith("/"):
        return os.path.normpath(path)
    d = FD_PATH.match(args[:quote].strip().rstrip(","))
    if d and path:
        return os.path.normpath(os.path.join(unescape(d.group(2)), path))
    return None


def qt_plugin_types():
    types = set(QT_PLUGIN_TYPES)
    for folder in glob.glob("/usr/lib/*/qt6/plugins/*/"):
        types.add(os.path.basename(folder.rstrip("/")))
    return types


def owners(paths):
    """path -> set of packages owning it, for the paths some package owns."""
    found = {}
    paths = sorted(paths)
    for start in range(0, len(paths), 200):
        chunk = paths[start:start + 200]
        out = subprocess.run(["dpkg-query", "-S", *chunk], capture_output=True, text=True,
                             errors="surrogateescape").stdout
        for line in out.splitlines():
            if line.startswith("diversion "):
                continue
            packages, _, path = line.partition(": ")
            found.setdefault(path, set()).update(
                p.strip().split(":")[0] for p in packages.split(","))
    return found


def package_closure(depends):
    """The installed packages that DEPENDS (a Depends field) brings in, with
    the Essential ones."""
    out = subprocess.run(
        ["dpkg-query", "-W", "-f",
         "${db:Status-Abbrev}\t${Package}\t${Essential}\t${Provides}\t${Pre-Depends}, ${Depends}\n"],
        capture_output=True, text=True, check=True).stdout
    installed, provides, deps, essential = set(), {}, {}, []
    for line in out.splitlines():
        status, name, ess, prov, dep = line.split("\t")
        if not status.startswith("ii"):
            continue
        installed.add(name)
        deps[name] = dep
        if ess == "yes":
            essential.append(name)
        for p in prov.split(","):
            p = p.split("(")[0].strip()
            if p:
                provides.setdefault(p, set()).add(name)

    def satisfiers(field):
        for group in field.split(","):
            for alternative in group.split("|"):
                name = alternative.split("(")[0].strip().split(":")[0]
                if not name:
                    continue
                if name in installed:
                    yield name
                yield from provides.get(name, ())

    closure, todo = set(), list(satisfiers(depends)) + essential
    while todo:
        name = todo.pop()
        if name not in closure:
            closure.add(name)
            todo.extend(satisfiers(deps.get(name, "")))
    return closure


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--deb", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--folder", default="usr/lib/orvaline")
    parser.add_argument("--ignore", action="append", default=[])
    parser.add_argument("--depends-log", action="append", default=[])
    parser.add_argument("logs", nargs="*")
    a = parser.parse_args()
    root = os.path.realpath(a.root)
    folder = os.path.join(root, a.folder)
    ignored = tuple(os.path.realpath(p) + "/" for p in a.ignore)

    missing, found, mapped, opened = set(), set(), set(), set()
    for log in a.logs + a.depends_log:
        for name, args, result, fd_path, errno in lookups(log):
            if name == "mmap":
                if log not in a.depends_log:
                    continue
                m = EXEC_MAP.search(args)
                if m:
                    mapped.add(os.path.normpath(unescape(m.group(1))))
                continue
            path = path_argument(args)
            if path is None:
                continue
            if path.startswith(root + "/"):
                if result >= 0:
                    found.add(path)
                elif errno == "ENOENT" and path.startswith(folder + "/"):
                    missing.add(path)
            elif name == "openat" and result >= 0 and fd_path and log in a.depends_log:
                opened.add(os.path.normpath(unescape(fd_path)))

    offences = []
    qt_lookups = qt_plugin_types() | {"qt.conf", "qt6.conf"}
    for path in sorted(missing - found):
        if os.path.basename(path) not in qt_lookups:
            offences.append(f"missing from the package: /{os.path.relpath(path, root)}")

    # Shared objects count when mapped for execution: Qt reads the metadata
    # of every plugin it finds without loading it.
    used = mapped | {p for p in opened if not is_elf(p)}
    files = {p for p in used if p.startswith("/usr/") and not p.startswith(ignored)
             and os.path.isfile(p)}
    names = {p: [p, merged_usr_alias(p), os.path.realpath(p)] for p in files}
    owned = owners({n for aliases in names.values() for n in aliases})
    depends = subprocess.run(["dpkg-deb", "-f", a.deb, "Depends"], capture_output=True,
                             text=True, check=True).stdout.strip()
    closure = package_closure(depends)
    unowned = 0
    for path in sorted(files):
        packages = set().union(*(owned.get(n, set()) for n in names[path]))
        if not packages:
            unowned += 1
        elif not packages & closure:
            offences.append(f"used but not depended on: {path} "
                            f"(package {', '.join(sorted(packages))})")
    print(f"check-package-files: {len(found)} look-ups in the package found, "
          f"{len(missing - found)} not found (Qt's optional ones allowed); {len(files)} files of the "
          f"system used "
          f"({unowned} owned by no package), {len(closure)} packages in the dependency closure")
    for line in offences:
        print("  " + line)
    return 1 if offences else 0


def is_elf(path):
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF"
    except OSError:
        return False


def merged_usr_alias(path):
    """The same file by its other name on a merged-/usr system."""
    for short in ("/lib", "/bin", "/sbin", "/lib64"):
        if path.startswith("/usr" + short + "/"):
            return path[len("/usr"):]
        if path.startswith(short + "/"):
            return "/usr" + path
    return path


if __name__ == "__main__":
    sys.exit(main())
