#include "output_files.h"

#include "batch/worker.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace batch {

namespace {

constexpr std::string_view kStagingPrefix = ".orvaline-staging.";

bool isAlive(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The process id of a staging folder's name on `host`, or 0.
long stagingPid(std::string_view name, const std::string& host) {
    if (!name.starts_with(kStagingPrefix)) {
        return 0;
    }
    name.remove_prefix(kStagingPrefix.size());
    if (!name.starts_with(host) || name.size() <= host.size() + 1 || name[host.size()] != '.') {
        return 0;
    }
    const std::string_view digits = name.substr(host.size() + 1);
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return 0;
    }
    return std::stol(std::string(digits));
}

}  // namespace

std::string joinOut(const std::string& outDir, const std::string& name) {
    return outDir.empty() || outDir.back() == '/' ? outDir + name : outDir + "/" + name;
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

ReportFile::~ReportFile() {
    if (m_fd >= 0) {
        ::fsync(m_fd);
        ::close(m_fd);
    }
}

bool ReportFile::open(const std::string& path, bool append) {
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_APPEND | (append ? 0 : O_EXCL),
                  0644);
    return m_fd >= 0;
}

bool ReportFile::write(std::string_view line) {
    return wire::writeAll(m_fd, line);
}

bool writeFileReplacing(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".writing";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool wrote = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!wrote || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int why = !wrote ? writeError : errno;
        std::remove(temporary.c_str());
        errno = why;
        return false;
    }
    return true;
}

std::string thisHost() {
    char host[256] = "host";
    ::gethostname(host, sizeof host - 1);
    host[sizeof host - 1] = '\0';
    return host;
}

std::string stagingFolderName(const std::string& host, long pid) {
    return std::string(kStagingPrefix) + host + "." + std::to_string(pid);
}

std::vector<std::string> removeAbandonedStaging(const std::string& outDir) {
    const std::string host = thisHost();
    std::vector<std::string> removed;
    DIR* dir = ::opendir(outDir.c_str());
    if (dir == nullptr) {
        return removed;
    }
    std::vector<std::string> abandoned;
    while (const dirent* entry = ::readdir(dir)) {
        const long pid = stagingPid(entry->d_name, host);
        // A folder under this process's own id is a dead run's: this run
        // has not made its own yet.
        if (pid > 0 && (pid == ::getpid() || !isAlive(pid))) {
            abandoned.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : abandoned) {
        const std::string path = joinOut(outDir, name);
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            continue;  // never follow a link out of the output folder
        }
        std::error_code error;
        std::filesystem::remove_all(path, error);
        if (!error) {
            removed.push_back(name);
        }
    }
    return removed;
}

}  // namespace batch
