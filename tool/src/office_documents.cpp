#include "office_documents.h"

#include <common/file_bytes.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tool::detail {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

// The bridge: starts LibreOffice (soffice.bin, which dies with the bridge),
// connects to it, says "ready", then converts "source TAB target" lines, one
// answer line each: "ok", or "error TAB why". "unavailable TAB why" or
// "failed TAB why" instead of "ready" when it cannot start.
constexpr const char* kBridge = R"PY(
import ctypes, signal, subprocess, sys, time
def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)
try:
    import threading
    import uno
    import unohelper
    from com.sun.star.awt import XCallback
    from com.sun.star.beans import PropertyValue
    from com.sun.star.connection import NoConnectException
except Exception as e:
    print("unavailable\tthe LibreOffice Python bridge (python3-uno) is not installed (" +
          " ".join(str(e).split()) + ")", flush=True)
    sys.exit(0)
profile, pipe, program = sys.argv[1], sys.argv[2], sys.argv[3]
def start():
    return subprocess.Popen([program, "--headless", "--invisible", "--nologo", "--norestore",
        "--nodefault", "--nolockcheck", "--nofirststartwizard",
        "-env:UserInstallation=" + uno.systemPathToFileUrl(profile),
        "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % pipe],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        preexec_fn=die_with_parent)
office = start()
restarts = 0
local = uno.getComponentContext()
resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
context = None
while context is None:
    try:
        context = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
    except NoConnectException:
        if office.poll() is not None:
            # 81: a new profile was made, and LibreOffice asks to be started again.
            if office.returncode == 81 and restarts < 2:
                restarts += 1
                office = start()
                continue
            print("failed\tLibreOffice ended as it started (status %d)" % office.returncode, flush=True)
            sys.exit(0)
        time.sleep(0.05)
desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p
exports = [("com.sun.star.text.TextDocument", "writer_pdf_Export"),
           ("com.sun.star.sheet.SpreadsheetDocument", "calc_pdf_Export"),
           ("com.sun.star.presentation.PresentationDocument", "impress_pdf_Export"),
           ("com.sun.star.drawing.DrawingDocument", "draw_pdf_Export")]
# Each document is converted on LibreOffice's main thread (an AsyncCallback
# calls back into the bridge from there): loaded from a thread of the remote
# connection instead, some documents (comments in a hidden document) abort
# LibreOffice.
class OnMainThread(unohelper.Base, XCallback):
    def __init__(self, work):
        self.work = work
        self.done = threading.Event()
        self.error = None
    def notify(self, data):
        try:
            self.work()
        except Exception as e:
            self.error = e
        finally:
            self.done.set()
main_thread = context.ServiceManager.createInstanceWithContext("com.sun.star.awt.AsyncCallback",
                                                               context)
def convert(source, target):
    # Hidden, read-only, macros never run, links never updated.
    document = desktop.loadComponentFromURL(uno.systemPathToFileUrl(source), "_blank", 0,
        (prop("Hidden", True), prop("ReadOnly", True), prop("MacroExecutionMode", 0),
         prop("UpdateDocMode", 0)))
    if document is None:
        raise RuntimeError("LibreOffice cannot open it")
    try:
        export = next((f for s, f in exports if document.supportsService(s)), None)
        if export is None:
            raise RuntimeError("LibreOffice opened it as nothing it can print")
        document.storeToURL(uno.systemPathToFileUrl(target), (prop("FilterName", export),))
    finally:
        document.close(True)
print("ready", flush=True)
for line in sys.stdin:
    source, target = line.rstrip("\n").split("\t")
    try:
        job = OnMainThread(lambda: convert(source, target))
        main_thread.addCallback(job, None)
        job.done.wait()
        if job.error is not None:
            raise job.error
        print("ok", flush=True)
    except Exception as e:
        why = " ".join(str(e).split())
        # LibreOffice died, or the connection to it did: this document fails,
        # and the bridge ends, so the next document starts LibreOffice anew.
        if office.poll() is not None or "Disposed" in type(e).__name__:
            print("error\tLibreOffice ended while it converted the document (" + why + ")",
                  flush=True)
            sys.exit(0)
        print("error\t" + why, flush=True)
try:
    desktop.terminate()
except Exception:
    pass
office.wait(timeout=10)
)PY";

// LibreOffice's program, soffice.bin beside the "soffice" found on the PATH.
std::string officeProgram() {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        end = end == std::string::npos ? list.size() : end;
        const fs::path candidate = fs::path(list.substr(start, end - start)) / "soffice";
        std::error_code error;
        if (end > start && fs::exists(candidate, error)) {
            const fs::path real = fs::canonical(candidate, error);
            if (!error) {
                const fs::path program = real.parent_path() / "soffice.bin";
                if (::access(program.c_str(), X_OK) == 0) {
                    return program.string();
                }
            }
        }
        start = end + 1;
    }
    return {};
}

constexpr std::string_view kFolderPrefix = "orvaline-office-";

// Folders of processes that ended without removing theirs (killed by the
// batch converter's time limit, say): "orvaline-office-<pid>-XXXXXX" of this
// user whose process is gone.
void removeAbandonedFolders(const fs::path& temp) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(temp, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kFolderPrefix)) {
            continue;
        }
        const std::string rest = name.substr(kFolderPrefix.size());
        const auto dash = rest.find('-');
        if (dash == std::string::npos || dash == 0 || dash > 9 ||
            rest.find_first_not_of("0123456789") != dash) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(rest.substr(0, dash)));
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::getuid() || pid == ::getpid() || ::kill(pid, 0) == 0 ||
            errno != ESRCH) {
            continue;
        }
        fs::remove_all(entry.path(), error);
    }
}

std::string privateFolder() {
    const char* temp = std::getenv("TMPDIR");
    const std::string root = temp != nullptr && *temp != '\0' ? temp : "/tmp";
    removeAbandonedFolders(root);
    std::string pattern =
        root + "/" + std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw OfficeError(std::string("cannot make a folder for LibreOffice: ") +
                          std::strerror(errno));
    }
    return pattern;
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            throw OfficeError("LibreOffice's bridge is gone");
        }
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

OfficeConverter& OfficeConverter::forThisProcess() {
    static OfficeConverter converter;
    return converter;
}

OfficeConverter::~OfficeConverter() {
    stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
}

void OfficeConverter::stop() {
    if (m_toBridge >= 0) {
        ::close(m_toBridge);
        m_toBridge = -1;
    }
    if (m_fromBridge >= 0) {
        ::close(m_fromBridge);
        m_fromBridge = -1;
    }
    if (m_pid > 0) {
        // The bridge, LibreOffice and whatever it started: one process group.
        ::kill(-m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    m_buffer.clear();
}

std::string OfficeConverter::readLine(unsigned seconds, const char* doing) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (true) {
        if (const auto end = m_buffer.find('\n'); end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            stop();
            throw OfficeError(std::string("LibreOffice took longer than ") +
                              std::to_string(seconds) + " s " + doing +
                              " and was stopped (--office-timeout)");
        }
        pollfd wait{m_fromBridge, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            stop();
            throw OfficeError(std::string("cannot wait for LibreOffice: ") + std::strerror(errno));
        }
        if (ready <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t got = ::read(m_fromBridge, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            stop();
            throw OfficeError(std::string("LibreOffice ended ") + doing);
        }
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

void OfficeConverter::start(unsigned seconds) {
    const std::string program = officeProgram();
    if (program.empty()) {
        m_unavailable = "LibreOffice is not installed (no soffice on the PATH)";
        throw OfficeError(m_unavailable);
    }
    if (::access(kPython, X_OK) != 0) {
        m_unavailable = "LibreOffice's Python bridge cannot run (no /usr/bin/python3)";
        throw OfficeError(m_unavailable);
    }
    if (m_folder.empty()) {
        m_folder = privateFolder();
    }
    int toBridge[2];
    int fromBridge[2];
    if (::pipe2(toBridge, O_CLOEXEC) != 0) {
        throw OfficeError(std::string("cannot start LibreOffice: ") + std::strerror(errno));
    }
    if (::pipe2(fromBridge, O_CLOEXEC) != 0) {
        ::close(toBridge[0]);
        ::close(toBridge[1]);
        throw OfficeError(std::string("cannot start LibreOffice: ") + std::strerror(errno));
    }
    const std::string profile = m_folder + "/profile";
    const std::string pipe = "orvaline-office-" + std::to_string(::getpid());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(toBridge[0], 0);
        ::dup2(fromBridge[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        // Its full path as its name: Python finds its own library by it.
        ::execl(kPython, kPython, "-c", kBridge, profile.c_str(), pipe.c_str(), program.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toBridge[0]);
    ::close(fromBridge[1]);
    if (pid < 0) {
        ::close(toBridge[1]);
        ::close(fromBridge[0]);
        throw OfficeError(std::string("cannot start LibreOffice: ") + std::strerror(errno));
    }
    ::setpgid(pid, pid);
    ++m_starts;
    m_pid = pid;
    m_toBridge = toBridge[1];
    m_fromBridge = fromBridge[0];
    const std::string answer = readLine(seconds, "to start");
    if (answer == "ready") {
        return;
    }
    const auto tab = answer.find('\t');
    const std::string why = tab == std::string::npos ? answer : answer.substr(tab + 1);
    stop();
    if (answer.starts_with("unavailable")) {
        m_unavailable = why;
    }
    throw OfficeError(why.empty() ? "LibreOffice did not start" : why);
}

std::vector<std::uint8_t> OfficeConverter::convertAlone(const std::string& source,
                                                        unsigned seconds) {
    const std::string program = officeProgram();
    const std::string outdir = m_folder + "/alone";
    std::error_code ignored;
    fs::remove_all(outdir, ignored);
    fs::create_directories(outdir, ignored);
    const std::string profile = "-env:UserInstallation=file://" + m_folder + "/profile";
    // 81: LibreOffice made a new profile and asks to be started again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            // LibreOffice finds its installation from the path it is started by.
            ::execl(program.c_str(), program.c_str(), "--headless", "--norestore", "--nologo",
                    "--nolockcheck", profile.c_str(), "--convert-to", "pdf", "--outdir",
                    outdir.c_str(), source.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) {
            throw OfficeError(std::string("cannot start LibreOffice: ") + std::strerror(errno));
        }
        ::setpgid(pid, pid);
        ++m_starts;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        pid_t got = 0;
        while ((got = ::waitpid(pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            ::usleep(20000);
        }
        ::kill(-pid, SIGKILL);
        if (got == 0) {
            ::waitpid(pid, &status, 0);
            throw OfficeError("LibreOffice took longer than " + std::to_string(seconds) +
                              " s on the document and was stopped (--office-timeout)");
        }
        if (!(WIFEXITED(status) && WEXITSTATUS(status) == 81)) {
            break;
        }
    }
    const fs::path pdf = fs::path(outdir) / (fs::path(source).stem().string() + ".pdf");
    if (!fs::exists(pdf, ignored)) {
        throw OfficeError("LibreOffice cannot convert it");
    }
    std::vector<std::uint8_t> bytes = common::readFileBytes(pdf.string(), std::size_t{1} << 30);
    fs::remove_all(outdir, ignored);
    return bytes;
}

std::vector<std::uint8_t> OfficeConverter::toPdf(std::span<const std::uint8_t> bytes,
                                                 const std::string& extension, unsigned seconds) {
    if (!m_unavailable.empty()) {
        throw OfficeError(m_unavailable);
    }
    // A bridge that ended after the last document (LibreOffice died under
    // it) is started anew.
    if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
        ::kill(-m_pid, SIGKILL);  // whatever of its group is left
        m_pid = -1;
        stop();
    }
    if (m_pid <= 0) {
        start(seconds);
    }
    const std::string source = m_folder + "/document." + extension;
    const std::string target = m_folder + "/document.pdf";
    {
        std::ofstream file(source, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            throw OfficeError("cannot hand the document to LibreOffice: " + source);
        }
    }
    std::remove(target.c_str());
    struct Cleanup {
        const std::string& source;
        const std::string& target;
        ~Cleanup() {
            std::remove(source.c_str());
            std::remove(target.c_str());
        }
    } cleanup{source, target};
    writeAll(m_toBridge, source + "\t" + target + "\n");
    std::string answer;
    try {
        answer = readLine(seconds, "on the document");
    } catch (const OfficeError& e) {
        if (m_pid > 0 || std::string_view(e.what()).find("took longer") != std::string_view::npos) {
            throw;
        }
        // LibreOffice died under the bridge: once more, on its own.
        stop();
        return convertAlone(source, seconds);
    }
    if (answer == "ok") {
        return common::readFileBytes(target, std::size_t{1} << 30);
    }
    const auto tab = answer.find('\t');
    const std::string why = tab == std::string::npos ? "LibreOffice cannot convert it"
                                                     : "LibreOffice: " + answer.substr(tab + 1);
    if (answer.find("ended while it converted") == std::string::npos) {
        throw OfficeError(why);
    }
    // LibreOffice's remote interface fails on some documents (comments in
    // a hidden document, say) that its own --convert-to reads: once more,
    // on its own, while the bridge is started anew for the next document.
    stop();
    try {
        return convertAlone(source, seconds);
    } catch (const OfficeError&) {
        throw OfficeError(why);
    }
}

}  // namespace tool::detail
