#include "batch/run.h"

#include "batch/report.h"
#include "batch/worker.h"

#include <common/page_files.h>
#include <digest/digest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace batch {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// ---- signals ---------------------------------------------------------------

int g_wakeFd = -1;
volatile std::sig_atomic_t g_stopSignals = 0;

extern "C" void onStopSignal(int) {
    g_stopSignals = g_stopSignals + 1;
    const char byte = 1;
    const ssize_t ignored = ::write(g_wakeFd, &byte, 1);
    (void)ignored;
}

class SignalGuard {
public:
    SignalGuard() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_read = fds[0];
            g_wakeFd = fds[1];
        }
        g_stopSignals = 0;
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &m_oldPipe);
    }
    ~SignalGuard() {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        sigaction(SIGPIPE, &m_oldPipe, nullptr);
        ::close(m_read);
        ::close(g_wakeFd);
        g_wakeFd = -1;
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;
    int readFd() const { return m_read; }
    void drain() const {
        char bytes[64];
        while (::read(m_read, bytes, sizeof bytes) > 0) {
        }
    }

private:
    int m_read = -1;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    struct sigaction m_oldPipe {};
};

std::string signalText(int signal) {
    const char* abbreviation = sigabbrev_np(signal);
    const char* description = strsignal(signal);
    std::string text = abbreviation != nullptr ? std::string("SIG") + abbreviation
                                               : "signal " + std::to_string(signal);
    if (description != nullptr) {
        text += std::string(" (") + description + ")";
    }
    return text;
}

// ---- files -----------------------------------------------------------------

class ReportFile {
public:
    bool open(const std::string& path, bool append) {
        m_fd =
            ::open(path.c_str(),
                   O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_EXCL | O_APPEND), 0644);
        return m_fd >= 0;
    }
    ~ReportFile() {
        if (m_fd >= 0) {
            ::fsync(m_fd);
            ::close(m_fd);
        }
    }
    ReportFile() = default;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    // A line is in the file, whole, once this returns.
    bool write(const std::string& line) { return wire::writeAll(m_fd, line); }

private:
    int m_fd = -1;
};

std::string joinOut(const std::string& outDir, const std::string& name) {
    return outDir.empty() || outDir.back() == '/' ? outDir + name : outDir + "/" + name;
}

std::vector<std::string> imageNames(const std::string& result, std::size_t pages) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < pages; ++i) {
        names.push_back(pages == 1 ? result
                                   : common::pageFileName(result, static_cast<int>(i + 1)));
    }
    return names;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// An earlier converted record that still stands for `item`.
bool stillConverted(const Record& old, const Item& item, const std::string& outDir) {
    if (old.status != Record::Status::Converted || !old.size || old.images.empty()) {
        return false;
    }
    const auto names = imageNames(item.result, old.images.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (old.images[i].path != names[i] || !exists(joinOut(outDir, names[i]))) {
            return false;
        }
    }
    struct stat info {};
    if (::stat(item.source.c_str(), &info) != 0 ||
        static_cast<std::uint64_t>(info.st_size) != *old.size) {
        return false;
    }
    const auto now = digest::ofFile(item.source);
    return now && now->sha256 == old.sha256;
}

bool writeFileReplacing(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".writing";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool wrote = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!wrote || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string clockText(double seconds) {
    const long long total = std::llround(seconds);
    char buffer[32];
    if (total >= 3600) {
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", total / 60, total % 60);
    }
    return buffer;
}

// ---- the run ---------------------------------------------------------------

// A job handed to a worker: the to-do index and where its images go.
struct InFlight {
    std::size_t job = 0;
    std::string staging;
};

// Each worker holds up to kJobsInFlight jobs, so that it never waits for
// the run to hand it the next: it converts the first (`started` is when it
// began on it), the others wait in its input pipe.
constexpr std::size_t kJobsInFlight = 2;

struct Worker {
    pid_t pid = -1;
    int toFd = -1;
    int fromFd = -1;
    std::string buffer;
    std::deque<InFlight> jobs;
    Clock::time_point started;
    unsigned handed = 0;  // jobs handed to this worker in all
};

struct Todo {
    const Item* item;
    // Image names an earlier record of this source holds: they may be
    // replaced, and those not used again are removed.
    std::vector<Record::Image> earlier;
};

class Batch {
public:
    Batch(const RunOptions& options, std::ostream& err) : m_options(options), m_err(err) {}

    int run(const Plan& plan);

private:
    bool prepare(const Plan& plan);
    bool spawn();
    void dispatch(Worker& worker, std::size_t job);
    std::optional<std::size_t> nextJob();
    bool workLeft() const { return !m_again.empty() || m_next < m_todo.size(); }
    void readFrom(Worker& worker);
    void handleResult(Worker& worker, const std::vector<std::string>& fields);
    void workerEnded(Worker& worker, const std::string& reason, bool waited);
    void reap(Worker& worker, bool kill);
    void finish(const Todo& todo, Record record);
    Record place(const Todo& todo, Record record,
                 const std::vector<std::pair<std::string, std::string>>& staged);
    void progress(bool force);
    void summary(double seconds) const;

    const RunOptions& m_options;
    std::ostream& m_err;
    ReportFile m_report;
    std::vector<Todo> m_todo;
    std::size_t m_next = 0;
    // Jobs a dead worker held but had not begun: handed out again first.
    std::deque<std::size_t> m_again;
    std::vector<Worker> m_workers;
    std::string m_stagingRoot;
    unsigned long long m_stagedCount = 0;
    std::size_t m_converted = 0;
    std::size_t m_failed = 0;
    std::size_t m_skipped = 0;
    std::size_t m_kept = 0;
    std::size_t m_finished = 0;  // of m_todo
    std::size_t m_discarded = 0;
    std::vector<std::pair<std::string, std::string>> m_failures;
    long m_peakKiB = 0;
    bool m_reportBroken = false;
    bool m_terminal = false;
    Clock::time_point m_start;
    Clock::time_point m_lastProgress;
};

bool Batch::prepare(const Plan& plan) {
    std::error_code error;
    fs::create_directories(m_options.outDir, error);
    if (error || !fs::is_directory(m_options.outDir, error)) {
        m_err << "orvaline-convert: cannot make the output folder \"" << m_options.outDir
              << "\": " << (error ? error.message() : "not a folder") << "\n";
        return false;
    }
    const std::string& reportPath = m_options.reportPath;
    const bool hadReport = exists(reportPath);
    if (hadReport && !m_options.resume) {
        m_err << "orvaline-convert: \"" << reportPath
              << "\" exists already: add --resume to go on with that run, or choose another "
                 "output folder (or --report file)\n";
        return false;
    }
    std::unordered_map<std::string, ReportLine> earlier;
    if (hadReport) {
        for (ReportLine& line : readReport(reportPath)) {
            std::string source = line.record.source;
            earlier.insert_or_assign(std::move(source), std::move(line));
        }
    }
    // Records written before any work: kept ones, skipped and unreadable
    // inputs. A resumed report is rewritten with them, then continued.
    std::string opening;
    for (const Item& item : plan.items) {
        Record record;
        record.source = item.source;
        if (!item.skipReason.empty() || !item.failReason.empty()) {
            const bool skipped = !item.skipReason.empty();
            record.status = skipped ? Record::Status::Skipped : Record::Status::Failed;
            record.error = skipped ? item.skipReason : item.failReason;
            opening += toLine(record);
            if (skipped) {
                ++m_skipped;
            } else {
                ++m_failed;
                m_failures.emplace_back(item.source, record.error);
            }
            continue;
        }
        Todo todo{&item, {}};
        if (const auto found = earlier.find(item.source); found != earlier.end()) {
            if (stillConverted(found->second.record, item, m_options.outDir)) {
                opening += found->second.text;
                ++m_kept;
                ++m_converted;
                continue;
            }
            todo.earlier = found->second.record.images;
        }
        m_todo.push_back(std::move(todo));
    }
    if (hadReport) {
        if (!writeFileReplacing(reportPath, opening) || !m_report.open(reportPath, true)) {
            m_err << "orvaline-convert: cannot rewrite the report \"" << reportPath
                  << "\": " << std::strerror(errno) << "\n";
            return false;
        }
    } else if (!m_report.open(reportPath, false) || !m_report.write(opening)) {
        m_err << "orvaline-convert: cannot write the report \"" << reportPath
              << "\": " << std::strerror(errno) << "\n";
        return false;
    }
    if (m_options.shard.count > 1) {
        PlanSummary summary{plan.total, plan.items.size(), m_options.shard, plan.digest};
        if (!writeFileReplacing(reportPath + ".plan.json", toPlanJson(summary))) {
            m_err << "orvaline-convert: cannot write \"" << reportPath << ".plan.json\"\n";
            return false;
        }
    }
    char host[256] = "host";
    ::gethostname(host, sizeof host - 1);
    m_stagingRoot = joinOut(m_options.outDir, std::string(".orvaline-staging.") + host + "." +
                                                  std::to_string(::getpid()));
    if (!m_todo.empty() && ::mkdir(m_stagingRoot.c_str(), 0700) != 0) {
        m_err << "orvaline-convert: cannot make the staging folder \"" << m_stagingRoot
              << "\": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

bool Batch::spawn() {
    int jobs[2];
    int results[2];
    if (::pipe2(jobs, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(results, O_CLOEXEC) != 0) {
        ::close(jobs[0]);
        ::close(jobs[1]);
        return false;
    }
    std::vector<std::string> words{m_options.workerProgram, "--worker"};
    words.insert(words.end(), m_options.pageWords.begin(), m_options.pageWords.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The worker: jobs on 0, results on 3, nothing else open.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int jobIn = ::fcntl(jobs[0], F_DUPFD, 10);
        const int resultOut = ::fcntl(results[1], F_DUPFD, 10);
        ::dup2(jobIn, 0);
        ::dup2(resultOut, kResultFd);
        ::close(jobIn);
        ::close(resultOut);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2) {
            ::close(null);
        }
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGTERM, SIG_IGN);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(jobs[0]);
    ::close(results[1]);
    if (pid < 0) {
        ::close(jobs[1]);
        ::close(results[0]);
        return false;
    }
    Worker worker;
    worker.pid = pid;
    worker.toFd = jobs[1];
    worker.fromFd = results[0];
    m_workers.push_back(std::move(worker));
    return true;
}

std::optional<std::size_t> Batch::nextJob() {
    if (!m_again.empty()) {
        const std::size_t job = m_again.front();
        m_again.pop_front();
        return job;
    }
    if (m_next < m_todo.size()) {
        return m_next++;
    }
    return std::nullopt;
}

void Batch::dispatch(Worker& worker, std::size_t job) {
    if (worker.jobs.empty()) {
        worker.started = Clock::now();
    }
    InFlight handed{job, m_stagingRoot + "/" + std::to_string(++m_stagedCount) + ".jpg"};
    ++worker.handed;
    std::string frame;
    wire::put(frame, {m_todo[job].item->source, handed.staging});
    worker.jobs.push_back(std::move(handed));
    // A worker that is gone shows its end on the result pipe.
    wire::writeAll(worker.toFd, frame);
}

void Batch::finish(const Todo& todo, Record record) {
    record.source = todo.item->source;
    switch (record.status) {
        case Record::Status::Converted:
            ++m_converted;
            break;
        case Record::Status::Failed:
            ++m_failed;
            m_failures.emplace_back(record.source, record.error);
            break;
        case Record::Status::Skipped:
            ++m_skipped;
            break;
    }
    ++m_finished;
    if (!m_report.write(toLine(record))) {
        if (!m_reportBroken) {
            m_err << "\norvaline-convert: cannot write the report \"" << m_options.reportPath
                  << "\": " << std::strerror(errno) << "; stopping\n";
        }
        m_reportBroken = true;
    }
}

Record Batch::place(const Todo& todo, Record record,
                    const std::vector<std::pair<std::string, std::string>>& staged) {
    const auto names = imageNames(todo.item->result, staged.size());
    std::set<std::string> mayReplace;
    for (const Record::Image& image : todo.earlier) {
        mayReplace.insert(image.path);
    }
    std::vector<std::string> placed;
    std::string conflict;
    for (std::size_t i = 0; i < staged.size() && conflict.empty(); ++i) {
        const std::string target = joinOut(m_options.outDir, names[i]);
        if (const auto slash = names[i].rfind('/'); slash != std::string::npos) {
            std::error_code ignored;
            fs::create_directories(joinOut(m_options.outDir, names[i].substr(0, slash)), ignored);
        }
        const std::string& from = staged[i].first;
        if (::link(from.c_str(), target.c_str()) == 0) {
            ::unlink(from.c_str());
            placed.push_back(target);
            continue;
        }
        const int why = errno;
        const bool taken = why == EEXIST || (why != ENOENT && exists(target));
        if (taken && !mayReplace.contains(names[i])) {
            conflict = "the image \"" + target +
                       "\" exists already and is not this run's; nothing of this message was "
                       "written (move that file away, or choose another output folder)";
            break;
        }
        if (::rename(from.c_str(), target.c_str()) != 0) {
            conflict = "cannot place the image \"" + target + "\": " + std::strerror(errno);
            break;
        }
        placed.push_back(target);
    }
    if (!conflict.empty()) {
        // Only what this message placed a moment ago is taken back.
        for (const std::string& path : placed) {
            ::unlink(path.c_str());
        }
        for (const auto& image : staged) {
            ::unlink(image.first.c_str());
        }
        record.status = Record::Status::Failed;
        record.images.clear();
        record.warnings.clear();
        record.error = conflict;
        return record;
    }
    record.images.clear();
    for (std::size_t i = 0; i < staged.size(); ++i) {
        record.images.push_back({names[i], staged[i].second});
    }
    // Earlier images of this source not used again go, when they are still
    // exactly what the earlier record says.
    const std::set<std::string> now(names.begin(), names.end());
    for (const Record::Image& image : todo.earlier) {
        if (now.contains(image.path)) {
            continue;
        }
        const std::string path = joinOut(m_options.outDir, image.path);
        const auto found = digest::ofFile(path);
        if (found && found->sha256 == image.sha256) {
            ::unlink(path.c_str());
        }
    }
    return record;
}

void Batch::handleResult(Worker& worker, const std::vector<std::string>& fields) {
    if (worker.jobs.empty()) {
        return;
    }
    const Todo& todo = m_todo[worker.jobs.front().job];
    worker.jobs.pop_front();
    const auto now = Clock::now();
    Record record;
    record.ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - worker.started).count();
    worker.started = now;  // the next job, already in its pipe, begins
    if (fields.size() >= 3 && !fields[1].empty()) {
        record.size = std::stoull(fields[1]);
        record.sha256 = fields[2];
    }
    if (!fields.empty() && fields[0] == "converted" && fields.size() >= 4) {
        record.status = Record::Status::Converted;
        const std::size_t warnings = std::stoul(fields[3]);
        std::size_t at = 4;
        for (std::size_t i = 0; i < warnings && at < fields.size(); ++i) {
            record.warnings.push_back(fields[at++]);
        }
        std::vector<std::pair<std::string, std::string>> staged;
        for (; at + 1 < fields.size(); at += 2) {
            staged.emplace_back(fields[at], fields[at + 1]);
        }
        record = place(todo, std::move(record), staged);
    } else {
        record.status = Record::Status::Failed;
        record.error = fields.size() >= 4 ? fields[3] : "the worker sent no result";
    }
    finish(todo, std::move(record));
}

void Batch::reap(Worker& worker, bool kill) {
    if (worker.pid <= 0) {
        return;
    }
    if (kill) {
        ::kill(worker.pid, SIGKILL);
    }
    // The end of its input tells a worker to exit.
    if (worker.toFd >= 0) {
        ::close(worker.toFd);
        worker.toFd = -1;
    }
    int status = 0;
    struct rusage usage {};
    // A worker whose input has ended exits at once; one that does not within
    // two seconds is killed.
    for (int tries = 0;; ++tries) {
        const pid_t got = ::wait4(worker.pid, &status, tries < 200 ? WNOHANG : 0, &usage);
        if (got == worker.pid || (got < 0 && errno != EINTR)) {
            break;
        }
        if (tries == 200) {
            ::kill(worker.pid, SIGKILL);
        }
        ::usleep(10000);
    }
    m_peakKiB = std::max(m_peakKiB, usage.ru_maxrss);
    worker.pid = -1;
    if (worker.fromFd >= 0) {
        ::close(worker.fromFd);
    }
    worker.toFd = worker.fromFd = -1;
}

// The worker's result pipe ended (it died) or it was killed for taking too
// long: its message fails with `reason`, or with how it ended.
void Batch::workerEnded(Worker& worker, const std::string& reason, bool waited) {
    int status = 0;
    struct rusage usage {};
    std::string text = reason;
    if (!waited) {
        ::close(worker.toFd);
        worker.toFd = -1;
        while (::wait4(worker.pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        m_peakKiB = std::max(m_peakKiB, usage.ru_maxrss);
        if (WIFSIGNALED(status)) {
            text =
                "the conversion crashed its worker process (" + signalText(WTERMSIG(status)) + ")";
        } else if (WIFEXITED(status)) {
            text = "the worker process ended with exit status " +
                   std::to_string(WEXITSTATUS(status)) + " while converting it";
        }
        ::close(worker.fromFd);
        worker.fromFd = -1;
        worker.pid = -1;
    }
    if (!worker.jobs.empty()) {
        // The first job was in hand; the others had not begun.
        for (std::size_t i = 1; i < worker.jobs.size(); ++i) {
            m_again.push_back(worker.jobs[i].job);
        }
        const std::size_t job = worker.jobs.front().job;
        worker.jobs.clear();
        Record record;
        record.status = Record::Status::Failed;
        record.error = text;
        record.ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - worker.started)
                .count();
        // The size and digest of what was given to it.
        if (const auto given = digest::ofFile(m_todo[job].item->source)) {
            record.size = given->size;
            record.sha256 = given->sha256;
        }
        finish(m_todo[job], std::move(record));
    }
}

void Batch::readFrom(Worker& worker) {
    char chunk[65536];
    const ssize_t got = ::read(worker.fromFd, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (got <= 0) {
        workerEnded(worker, "the worker process ended while converting it", false);
        return;
    }
    worker.buffer.append(chunk, static_cast<std::size_t>(got));
    try {
        while (auto fields = wire::take(worker.buffer)) {
            handleResult(worker, *fields);
        }
    } catch (const std::exception& e) {
        reap(worker, true);
        workerEnded(worker, std::string("the worker process sent no result: ") + e.what(), true);
    }
}

void Batch::progress(bool force) {
    if (m_options.quiet) {
        return;
    }
    const auto now = Clock::now();
    const auto interval = m_terminal ? std::chrono::milliseconds(250) : std::chrono::seconds(10);
    if (!force && now - m_lastProgress < interval) {
        return;
    }
    m_lastProgress = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? static_cast<double>(m_finished) / seconds : 0;
    const std::size_t left = m_todo.size() - m_finished;
    char line[256];
    std::snprintf(line, sizeof line, "%zu/%zu done, %.1f messages/s, %s left, %zu failed",
                  m_finished, m_todo.size(), rate,
                  rate > 0 ? clockText(static_cast<double>(left) / rate).c_str() : "?:??",
                  m_failed);
    if (m_terminal) {
        m_err << "\r\033[K" << line << std::flush;
    } else {
        m_err << "orvaline-convert: " << line << "\n" << std::flush;
    }
}

void Batch::summary(double seconds) const {
    if (m_options.quiet) {
        return;
    }
    if (m_terminal) {
        m_err << "\r\033[K";
    }
    const std::size_t total = m_converted + m_failed + m_skipped;
    char line[320];
    std::snprintf(line, sizeof line,
                  "orvaline-convert: %zu converted (%zu kept from the report), %zu failed, %zu "
                  "skipped, of %zu messages in %s (%.1f messages/s); largest worker %.1f MiB\n",
                  m_converted, m_kept, m_failed, m_skipped, total, clockText(seconds).c_str(),
                  seconds > 0 ? static_cast<double>(m_finished) / seconds : 0.0,
                  static_cast<double>(m_peakKiB) / 1024.0);
    m_err << line;
    constexpr std::size_t kNamed = 20;
    for (std::size_t i = 0; i < m_failures.size() && i < kNamed; ++i) {
        m_err << "  failed: " << m_failures[i].first << ": " << m_failures[i].second << "\n";
    }
    if (m_failures.size() > kNamed) {
        m_err << "  ... and " << m_failures.size() - kNamed << " more\n";
    }
    if (m_discarded > 0) {
        m_err << "orvaline-convert: stopped; " << m_discarded
              << " messages in hand were given up and " << m_todo.size() - m_finished
              << " not converted: run again with --resume to finish\n";
    }
    m_err << "orvaline-convert: report: " << m_options.reportPath << "\n";
}

int Batch::run(const Plan& plan) {
    if (!prepare(plan)) {
        return 2;
    }
    m_terminal = ::isatty(2) != 0;
    m_start = Clock::now();
    m_lastProgress = m_start;
    const SignalGuard signals;
    const unsigned wanted =
        static_cast<unsigned>(std::min<std::size_t>(m_options.jobs, m_todo.size()));
    bool stopping = false;
    Clock::time_point stopBy;
    std::string startFailure;
    while (true) {
        if (g_stopSignals > 0 && !stopping) {
            stopping = true;
            stopBy = Clock::now() + std::chrono::seconds(kStopGraceSeconds);
        }
        if (g_stopSignals > 1 || m_reportBroken) {
            stopBy = Clock::now();
            stopping = true;
        }
        const auto now = Clock::now();
        // Workers: replace the gone ones, hand out work, let idle ones go.
        if (!stopping) {
            std::size_t held = 0;
            for (const Worker& worker : m_workers) {
                held += worker.jobs.size();
            }
            const std::size_t remaining = m_again.size() + (m_todo.size() - m_next);
            while (m_workers.size() < wanted && m_workers.size() < held + remaining) {
                if (!spawn()) {
                    startFailure = std::strerror(errno);
                    break;
                }
            }
        }
        for (Worker& worker : m_workers) {
            if (worker.pid <= 0) {
                continue;
            }
            // A worker is replaced after kMessagesPerWorker messages.
            while (!stopping && worker.jobs.size() < kJobsInFlight &&
                   worker.handed < kMessagesPerWorker && workLeft()) {
                dispatch(worker, *nextJob());
            }
            if (worker.jobs.empty()) {
                reap(worker, false);
            }
        }
        if (stopping && now >= stopBy) {
            for (Worker& worker : m_workers) {
                if (worker.pid > 0 && !worker.jobs.empty()) {
                    ++m_discarded;
                    worker.jobs.clear();
                    reap(worker, true);
                }
            }
        }
        std::erase_if(m_workers, [](const Worker& w) { return w.pid <= 0; });
        if (m_workers.empty()) {
            if (stopping || !workLeft() || !startFailure.empty()) {
                break;
            }
            continue;
        }
        // Wait for a result, a signal, a time-out or the next progress line.
        std::vector<pollfd> fds{{signals.readFd(), POLLIN, 0}};
        auto wake = now + std::chrono::milliseconds(m_terminal ? 250 : 1000);
        for (const Worker& worker : m_workers) {
            fds.push_back({worker.fromFd, POLLIN, 0});
            if (!worker.jobs.empty()) {
                wake =
                    std::min(wake, worker.started + std::chrono::seconds(m_options.timeoutSeconds));
            }
        }
        if (stopping) {
            wake = std::min(wake, stopBy);
        }
        const auto waitMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        const int ready =
            ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, waitMs) + 1));
        if (ready < 0 && errno != EINTR) {
            m_err << "orvaline-convert: poll: " << std::strerror(errno) << "\n";
            break;
        }
        if (fds[0].revents != 0) {
            signals.drain();
        }
        for (std::size_t i = 0; i < m_workers.size(); ++i) {
            if ((fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                readFrom(m_workers[i]);
            }
        }
        const auto after = Clock::now();
        for (Worker& worker : m_workers) {
            if (worker.pid > 0 && !worker.jobs.empty() &&
                after >= worker.started + std::chrono::seconds(m_options.timeoutSeconds)) {
                reap(worker, true);
                workerEnded(worker,
                            "the conversion took longer than " +
                                std::to_string(m_options.timeoutSeconds) +
                                " s and was stopped (--timeout)",
                            true);
            }
        }
        progress(false);
    }
    for (Worker& worker : m_workers) {
        reap(worker, !worker.jobs.empty());
    }
    m_workers.clear();
    if (!m_stagingRoot.empty()) {
        std::error_code ignored;
        fs::remove_all(m_stagingRoot, ignored);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    if (!startFailure.empty()) {
        m_err << "orvaline-convert: cannot start a worker process: " << startFailure << "\n";
    }
    summary(seconds);
    if (g_stopSignals > 0) {
        return 130;
    }
    if (m_reportBroken || !startFailure.empty()) {
        return 1;
    }
    return m_failed > 0 ? 1 : 0;
}

}  // namespace

int runBatch(const RunOptions& options, const Plan& plan, std::ostream& err) {
    Batch batch(options, err);
    return batch.run(plan);
}

}  // namespace batch
