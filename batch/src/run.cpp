// A batch run: prepare (the report read back, kept records written first,
// the staging folder made), then the loop that keeps `jobs` workers busy,
// places each message's images as its result comes, and stops on a signal;
// then the summary. The pieces it drives: worker processes
// (worker_process.h), image placement and resume (placement.h), the report
// and staging files (output_files.h), stop signals (stop_signals.h) and the
// progress line and summary (progress.h).
#include "batch/run.h"

#include "batch/report.h"
#include "output_files.h"
#include "placement.h"
#include "production.h"
#include "progress.h"
#include "stop_signals.h"
#include "worker_process.h"

#include <common/command_line.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unordered_map>

namespace batch {

namespace {

namespace fs = std::filesystem;

// Each worker holds up to kJobsInFlight jobs, so that it never waits for
// the run to hand it the next: it converts the first (`started` is when it
// began on it), the others wait in its input pipe.
constexpr std::size_t kJobsInFlight = 2;

struct Todo {
    const Item* item;
    // Files an earlier record of this source names (images, text): they may
    // be replaced, and those not used again are removed.
    std::vector<Record::Image> earlier;
};

class Batch {
public:
    Batch(const RunOptions& options, std::ostream& err) : m_options(options), m_err(err) {}

    int run(const Plan& plan);

private:
    bool prepare(const Plan& plan);
    bool openReport(bool hadReport, const std::string& opening);
    void startWorkers(unsigned wanted, std::string& startFailure);
    void dispatch(Worker& worker, std::size_t job);
    std::optional<std::size_t> nextJob();
    bool workLeft() const { return !m_again.empty() || m_next < m_todo.size(); }
    bool waitForWork(const StopSignals& signals, std::optional<Clock::time_point> stopBy);
    void readFrom(Worker& worker);
    void handleResult(Worker& worker, const std::vector<std::string>& fields);
    void workerEnded(Worker& worker, const std::string& reason);
    void ended(Worker& worker, bool kill);
    void finish(const Todo& todo, Record record);
    void count(const Record& record);
    int pool(const StopSignals& signals);
    int countPages(const Plan& plan, const StopSignals& signals);
    bool openPagesFile(const Plan& plan, const std::string& path);
    Record produced(const Todo& todo, Record record, const std::vector<StagedDocument>& documents,
                    const std::vector<StagedImage>& staged);

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
    Tally m_tally;
    std::optional<Progress> m_progress;
    bool m_reportBroken = false;
    // A production: pages are being counted (into m_pagesFile), and every
    // message's count and first number, by ordinal.
    bool m_counting = false;
    ReportFile m_pagesFile;
    std::vector<int> m_counts;
    std::vector<std::uint64_t> m_first;
};

void Batch::count(const Record& record) {
    switch (record.status) {
        case Record::Status::Converted:
            ++m_tally.converted;
            break;
        case Record::Status::Failed:
            ++m_tally.failed;
            m_tally.failures.emplace_back(record.source, record.error);
            break;
        case Record::Status::Skipped:
            ++m_tally.skipped;
            break;
    }
}

bool Batch::prepare(const Plan& plan) {
    std::error_code error;
    fs::create_directories(m_options.outDir, error);
    if (error || !fs::is_directory(m_options.outDir, error)) {
        m_err << "orvaline-convert: cannot make the output folder \"" << m_options.outDir
              << "\": " << (error ? error.message() : "not a folder") << "\n";
        return false;
    }
    const std::string& reportPath = m_options.reportPath;
    const bool hadReport = pathExists(reportPath);
    if (hadReport && !m_options.resume) {
        m_err << "orvaline-convert: \"" << reportPath
              << "\" exists already: add --resume to go on with that run, or choose another "
                 "output folder (or --report file)\n";
        return false;
    }
    for (const std::string& name : removeAbandonedStaging(m_options.outDir)) {
        m_err << "orvaline-convert: removed \"" << joinOut(m_options.outDir, name)
              << "\", the staging folder of a run on this machine that no longer runs\n";
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
        if (!item.skipReason.empty() || !item.failReason.empty()) {
            Record record;
            record.source = item.source;
            const bool skipped = !item.skipReason.empty();
            record.status = skipped ? Record::Status::Skipped : Record::Status::Failed;
            record.error = skipped ? item.skipReason : item.failReason;
            opening += toLine(record);
            count(record);
            continue;
        }
        Todo todo{&item, {}};
        if (const auto found = earlier.find(item.source); found != earlier.end()) {
            const Record& old = found->second.record;
            const bool stands = m_options.production
                                    ? stillProduced(old, item, m_options.outDir,
                                                    m_first[item.ordinal], m_counts[item.ordinal])
                                    : stillConverted(old, item, m_options.outDir, m_options.format);
            if (stands) {
                opening += found->second.text;
                ++m_tally.kept;
                ++m_tally.converted;
                continue;
            }
            todo.earlier = old.images;
            if (old.text) {
                todo.earlier.push_back(*old.text);
            }
            for (const Record::Document& document : old.documents) {
                for (const auto* file : {&document.text, &document.native}) {
                    if (*file) {
                        todo.earlier.push_back(**file);
                    }
                }
            }
        }
        m_todo.push_back(std::move(todo));
    }
    m_tally.todo = m_todo.size();
    if (!openReport(hadReport, opening)) {
        return false;
    }
    if (m_options.shard.count > 1) {
        PlanSummary summary{plan.total, plan.items.size(), m_options.shard, plan.digest};
        if (!writeFileReplacing(reportPath + ".plan.json", toPlanJson(summary))) {
            m_err << "orvaline-convert: cannot write \"" << reportPath
                  << ".plan.json\": " << std::strerror(errno) << "\n";
            return false;
        }
    }
    m_stagingRoot = joinOut(m_options.outDir, stagingFolderName(thisHost(), ::getpid()));
    if (!m_todo.empty() && ::mkdir(m_stagingRoot.c_str(), 0700) != 0) {
        m_err << "orvaline-convert: cannot make the staging folder \"" << m_stagingRoot
              << "\": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

bool Batch::openReport(bool hadReport, const std::string& opening) {
    const std::string& reportPath = m_options.reportPath;
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
    const Item& item = *m_todo[job].item;
    std::string production;
    if (m_options.production) {
        production = m_counting ? "count" : std::to_string(m_first[item.ordinal]);
    }
    handJob(
        worker,
        {job, m_stagingRoot + "/" + std::to_string(++m_stagedCount) + m_options.format.extension,
         production},
        item);
}

void Batch::finish(const Todo& todo, Record record) {
    record.source = todo.item->source;
    count(record);
    ++m_tally.finished;
    if (m_counting) {
        // A message that cannot be counted has no pages to number: drawn
        // later, it fails for its count.
        const int pages = record.status == Record::Status::Converted ? record.pageCount() : 0;
        m_counts[todo.item->ordinal] = pages;
        if (!m_pagesFile.write(pagesLine(*todo.item, pages, record.error))) {
            if (!m_reportBroken) {
                m_err << "\norvaline-convert: cannot write the page counts: "
                      << std::strerror(errno) << "; stopping\n";
            }
            m_reportBroken = true;
        }
        return;
    }
    if (!m_report.write(toLine(record))) {
        if (!m_reportBroken) {
            m_err << "\norvaline-convert: cannot write the report \"" << m_options.reportPath
                  << "\": " << std::strerror(errno) << "; stopping\n";
        }
        m_reportBroken = true;
    }
}

// The attachments of a worker's result at fields[at], `at` moved past them.
std::vector<tool::AttachmentRecord> attachmentsFrom(const std::vector<std::string>& fields,
                                                    std::size_t& at) {
    constexpr std::size_t kFields = 8;
    std::vector<tool::AttachmentRecord> attachments;
    if (at >= fields.size()) {
        return attachments;
    }
    const std::size_t count = std::stoul(fields[at++]);
    for (std::size_t i = 0; i < count && at + kFields <= fields.size(); ++i, at += kFields) {
        tool::AttachmentRecord a;
        a.number = fields[at];
        a.name = fields[at + 1];
        a.type = fields[at + 2];
        a.size = std::stoull(fields[at + 3]);
        a.sha256 = fields[at + 4];
        a.shown = fields[at + 5];
        a.reason = fields[at + 6];
        const std::string& pages = fields[at + 7];
        for (std::size_t start = 0; start < pages.size();) {
            std::size_t end = pages.find(',', start);
            end = end == std::string::npos ? pages.size() : end;
            a.pages.push_back(std::stoi(pages.substr(start, end - start)));
            start = end + 1;
        }
        attachments.push_back(std::move(a));
    }
    return attachments;
}

// The documents of a worker's result at fields[at], `at` moved past them.
std::vector<StagedDocument> documentsFrom(const std::vector<std::string>& fields, std::size_t& at) {
    constexpr std::size_t kFields = 23;
    std::vector<StagedDocument> documents;
    if (at >= fields.size()) {
        return documents;
    }
    const std::size_t count = std::stoul(fields[at++]);
    for (std::size_t i = 0; i < count && at + kFields <= fields.size(); ++i, at += kFields) {
        StagedDocument staged;
        tool::DocumentRecord& d = staged.record;
        const auto* f = &fields[at];
        d.number = f[0];
        d.firstPage = std::stoi(f[1]);
        d.pages = std::stoi(f[2]);
        d.slipSheet = f[3] == "1";
        d.fileName = f[4];
        d.type = f[5];
        d.size = std::stoull(f[6]);
        d.md5 = f[7];
        d.sha256 = f[8];
        d.mail = f[9] == "1";
        d.from = f[10];
        d.to = f[11];
        d.cc = f[12];
        d.bcc = f[13];
        d.subject = f[14];
        d.messageId = f[15];
        d.sentDate = f[16];
        d.sentTime = f[17];
        d.timeZone = f[18];
        d.textFile = f[19];
        staged.textSha256 = f[20];
        d.nativeFile = f[21];
        staged.nativeSha256 = f[22];
        documents.push_back(std::move(staged));
    }
    return documents;
}

// A production's message: its pages checked against the count its numbers
// were given by, then its files placed under their Bates names.
Record Batch::produced(const Todo& todo, Record record,
                       const std::vector<StagedDocument>& documents,
                       const std::vector<StagedImage>& staged) {
    const Item& item = *todo.item;
    const int counted = m_counts[item.ordinal];
    std::vector<PlacedFile> files;
    std::vector<Record::Document> produced =
        produceDocuments(*m_options.production, item, m_first[item.ordinal],
                         m_options.format.extension, documents, staged, files);
    std::string refusal;
    if (static_cast<int>(staged.size()) != counted) {
        refusal = "the message made " + std::to_string(staged.size()) + " pages where " +
                  std::to_string(counted) +
                  " were counted, so its numbers would meet the next message's; count again "
                  "(remove orvaline-pages*.jsonl and run every shard with --count-pages, or "
                  "run without --resume into a new folder)";
    }
    record = placeFiles(m_options.outDir, todo.earlier, std::move(record), files, refusal);
    if (record.status != Record::Status::Converted) {
        return record;
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        record.images.push_back({files[i].name, staged[i].sha256});
    }
    record.firstBates = m_first[item.ordinal];
    record.documents = std::move(produced);
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
        record.attachments = attachmentsFrom(fields, at);
        const std::vector<StagedDocument> documents = documentsFrom(fields, at);
        if (at + 3 > fields.size()) {
            record.status = Record::Status::Failed;
            record.warnings.clear();
            record.attachments.clear();
            record.error = "the worker sent a result without its page count";
            finish(todo, std::move(record));
            return;
        }
        const int pages = std::stoi(fields[at]);
        std::optional<StagedImage> text;
        if (!fields[at + 1].empty()) {
            text = StagedImage{fields[at + 1], fields[at + 2]};
        }
        at += 3;
        std::vector<StagedImage> staged;
        for (; at + 1 < fields.size(); at += 2) {
            staged.push_back({fields[at], fields[at + 1]});
        }
        if (m_options.format.oneFile && staged.size() == 1) {
            staged.front().pages = pages;
        }
        if (m_counting) {
            record.images.assign(static_cast<std::size_t>(std::max(pages, 0)), Record::Image{});
        } else if (m_options.production) {
            record = produced(todo, std::move(record), documents, staged);
        } else {
            record = placeImages(m_options.outDir, *todo.item, m_options.format, todo.earlier,
                                 std::move(record), staged, text);
        }
    } else {
        record.status = Record::Status::Failed;
        record.error = fields.size() >= 4 ? fields[3] : "the worker sent no result";
    }
    finish(todo, std::move(record));
}

void Batch::ended(Worker& worker, bool kill) {
    m_tally.peakKiB = std::max(m_tally.peakKiB, endWorker(worker, kill));
}

// The worker is gone (killed for taking too long, or it sent garbage): the
// message in its hand fails with `reason`; the jobs it had not begun are
// handed out again.
void Batch::workerEnded(Worker& worker, const std::string& reason) {
    if (worker.jobs.empty()) {
        return;
    }
    for (std::size_t i = 1; i < worker.jobs.size(); ++i) {
        m_again.push_back(worker.jobs[i].job);
    }
    const std::size_t job = worker.jobs.front().job;
    worker.jobs.clear();
    Record record;
    record.status = Record::Status::Failed;
    record.error = reason;
    record.ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - worker.started)
                    .count();
    // The size and digest of what was given to it.
    if (const auto given = digestOf(*m_todo[job].item)) {
        record.size = given->size;
        record.sha256 = given->sha256;
    }
    finish(m_todo[job], std::move(record));
}

void Batch::readFrom(Worker& worker) {
    Received received = receive(worker);
    try {
        for (const auto& fields : received.results) {
            handleResult(worker, fields);
        }
    } catch (const std::exception& e) {
        received.broken = std::string("a result it cannot be read from (") + e.what() + ")";
    }
    if (!received.broken.empty()) {
        ended(worker, true);
        workerEnded(worker, "the worker process sent no result: " + received.broken);
    } else if (received.ended) {
        long peakKiB = 0;
        const std::string how = waitForDeadWorker(worker, peakKiB);
        m_tally.peakKiB = std::max(m_tally.peakKiB, peakKiB);
        workerEnded(worker, how);
    }
}

// Replaces the gone workers while there is work for them.
void Batch::startWorkers(unsigned wanted, std::string& startFailure) {
    std::size_t held = 0;
    for (const Worker& worker : m_workers) {
        held += worker.jobs.size();
    }
    const std::size_t remaining = m_again.size() + (m_todo.size() - m_next);
    while (m_workers.size() < wanted && m_workers.size() < held + remaining) {
        auto worker = startWorker(m_options.workerProgram, m_options.pageWords);
        if (!worker) {
            startFailure = std::strerror(errno);
            return;
        }
        m_workers.push_back(std::move(*worker));
    }
}

// Waits for a result, a signal, a time-out or the next progress line, and
// takes in what came. False when the run cannot wait.
bool Batch::waitForWork(const StopSignals& signals, std::optional<Clock::time_point> stopBy) {
    const auto now = Clock::now();
    const auto timeout = std::chrono::seconds(m_options.timeoutSeconds);
    std::vector<pollfd> fds{{signals.readFd(), POLLIN, 0}};
    auto wake = now + m_progress->interval();
    for (const Worker& worker : m_workers) {
        fds.push_back({worker.fromFd, POLLIN, 0});
        if (!worker.jobs.empty()) {
            wake = std::min(wake, worker.started + timeout);
        }
    }
    if (stopBy) {
        wake = std::min(wake, *stopBy);
    }
    const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
    const int ready =
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, waitMs) + 1));
    if (ready < 0 && errno != EINTR) {
        m_err << "orvaline-convert: poll: " << std::strerror(errno) << "\n";
        return false;
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
        if (worker.pid > 0 && !worker.jobs.empty() && after >= worker.started + timeout) {
            ended(worker, true);
            workerEnded(worker, "the conversion took longer than " +
                                    std::to_string(m_options.timeoutSeconds) +
                                    " s and was stopped (--timeout)");
        }
    }
    return true;
}

// Keeps the workers busy until every job of m_todo is done, or a signal
// stops the run; 0, or why the run cannot go on (startFailure).
int Batch::pool(const StopSignals& signals) {
    const unsigned wanted =
        static_cast<unsigned>(std::min<std::size_t>(m_options.jobs, m_todo.size()));
    std::optional<Clock::time_point> stopBy;
    std::string startFailure;
    while (true) {
        if (signals.count() > 0 && !stopBy) {
            stopBy = Clock::now() + std::chrono::seconds(kStopGraceSeconds);
        }
        if (signals.count() > 1 || m_reportBroken) {
            stopBy = Clock::now();
        }
        // Workers: replace the gone ones, hand out work, let idle ones go.
        if (!stopBy) {
            startWorkers(wanted, startFailure);
        }
        for (Worker& worker : m_workers) {
            if (worker.pid <= 0) {
                continue;
            }
            // A worker is replaced after kMessagesPerWorker messages.
            while (!stopBy && worker.jobs.size() < kJobsInFlight &&
                   worker.handed < kMessagesPerWorker && workLeft()) {
                dispatch(worker, *nextJob());
            }
            if (worker.jobs.empty()) {
                ended(worker, false);
            }
        }
        if (stopBy && Clock::now() >= *stopBy) {
            for (Worker& worker : m_workers) {
                if (worker.pid > 0 && !worker.jobs.empty()) {
                    ++m_tally.discarded;
                    worker.jobs.clear();
                    ended(worker, true);
                }
            }
        }
        std::erase_if(m_workers, [](const Worker& w) { return w.pid <= 0; });
        if (m_workers.empty()) {
            if (stopBy || !workLeft() || !startFailure.empty()) {
                break;
            }
            continue;
        }
        if (!waitForWork(signals, stopBy)) {
            break;
        }
        m_progress->update(m_tally, false);
    }
    for (Worker& worker : m_workers) {
        ended(worker, !worker.jobs.empty());
    }
    m_workers.clear();
    if (!startFailure.empty()) {
        m_err << "orvaline-convert: cannot start a worker process: " << startFailure << "\n";
        return common::kExitFailure;
    }
    return common::kExitSuccess;
}

bool Batch::openPagesFile(const Plan& plan, const std::string& path) {
    // A file of this plan is continued; another plan's is replaced.
    std::ifstream existing(path, std::ios::binary);
    std::string first;
    const bool continued =
        std::getline(existing, first) && first + "\n" == pagesHeader(plan.digest, plan.total);
    existing.close();
    if (continued) {
        return m_pagesFile.open(path, true);
    }
    return writeFileReplacing(path, pagesHeader(plan.digest, plan.total)) &&
           m_pagesFile.open(path, true);
}

// A production's first step: every message's pages, counted here (this
// shard's messages not counted before) or read from the counts in the
// output folder, and the number of each message's first page from them.
int Batch::countPages(const Plan& plan, const StopSignals& signals) {
    const Production& production = *m_options.production;
    std::error_code error;
    fs::create_directories(m_options.outDir, error);
    m_counts = readPageCounts(m_options.outDir, plan.digest, plan.total);
    const std::string pagesPath = joinOut(m_options.outDir, pagesFileName(m_options.shard));
    bool pagesWritten = false;
    const auto openPages = [&] {
        if (!pagesWritten && !openPagesFile(plan, pagesPath)) {
            m_err << "orvaline-convert: cannot write the page counts \"" << pagesPath
                  << "\": " << std::strerror(errno) << "\n";
            return false;
        }
        pagesWritten = true;
        return true;
    };
    for (const Item& item : plan.items) {
        if (m_counts[item.ordinal] >= 0) {
            continue;
        }
        if (item.skipReason.empty() && item.failReason.empty()) {
            m_todo.push_back({&item, {}});
            continue;
        }
        // Skipped and unreadable messages have no pages.
        if (!openPages() || !m_pagesFile.write(pagesLine(item, 0, {}))) {
            return common::kExitUsage;
        }
        m_counts[item.ordinal] = 0;
    }
    if (!m_todo.empty()) {
        if (!openPages()) {
            return common::kExitUsage;
        }
        m_stagingRoot = joinOut(m_options.outDir, stagingFolderName(thisHost(), ::getpid()));
        if (::mkdir(m_stagingRoot.c_str(), 0700) != 0) {
            m_err << "orvaline-convert: cannot make the staging folder \"" << m_stagingRoot
                  << "\": " << std::strerror(errno) << "\n";
            return common::kExitUsage;
        }
        m_counting = true;
        m_tally.todo = m_todo.size();
        m_progress.emplace(m_err, m_options.quiet);
        m_progress->stage("counting pages: ");
        const int pooled = pool(signals);
        fs::remove_all(m_stagingRoot, error);
        m_stagingRoot.clear();
        m_counting = false;
        if (signals.count() > 0) {
            m_progress->summary(m_tally, pagesPath);
            return common::kExitStopped;
        }
        if (pooled != common::kExitSuccess || m_reportBroken) {
            return common::kExitFailure;
        }
    } else if (production.countOnly && !openPages()) {
        return common::kExitUsage;
    }
    const std::size_t uncounted =
        static_cast<std::size_t>(std::count(m_counts.begin(), m_counts.end(), -1));
    long long pages = 0;
    for (const int count : m_counts) {
        pages += std::max(count, 0);
    }
    if (production.countOnly) {
        if (!m_options.quiet) {
            m_err << "orvaline-convert: counted " << plan.items.size() << " messages ("
                  << m_tally.failed << " could not be counted) into " << pagesPath << "; "
                  << plan.total - uncounted << " of " << plan.total
                  << " messages of all shards are counted, " << pages << " pages\n";
        }
        return m_tally.failed > 0 ? common::kExitFailure : common::kExitSuccess;
    }
    if (uncounted > 0) {
        m_err << "orvaline-convert: the pages of " << uncounted << " of " << plan.total
              << " messages are not counted yet, so no page can be numbered: run every shard "
                 "with --count-pages first, into this output folder\n";
        return common::kExitUsage;
    }
    m_first.assign(plan.total, 0);
    std::uint64_t next = production.bates.start;
    for (std::size_t i = 0; i < plan.total; ++i) {
        m_first[i] = next;
        next += static_cast<std::uint64_t>(std::max(m_counts[i], 0));
    }
    if (next > production.bates.start && next - 1 > common::largestBates(production.bates.digits)) {
        m_err << "orvaline-convert: the production's " << pages << " pages from "
              << production.bates.number(production.bates.start) << " do not fit "
              << production.bates.digits << " digits: give a larger --bates-digits\n";
        return common::kExitUsage;
    }
    m_todo.clear();
    m_next = 0;
    m_again.clear();
    m_tally = Tally{};
    return common::kExitSuccess;
}

int Batch::run(const Plan& plan) {
    const StopSignals signals;
    if (m_options.production) {
        const int counted = countPages(plan, signals);
        if (counted != common::kExitSuccess || m_options.production->countOnly) {
            return counted;
        }
    }
    if (!prepare(plan)) {
        return common::kExitUsage;
    }
    m_progress.emplace(m_err, m_options.quiet);
    const int pooled = pool(signals);
    if (!m_stagingRoot.empty()) {
        std::error_code ignored;
        fs::remove_all(m_stagingRoot, ignored);
    }
    int status = common::kExitSuccess;
    // A production's load files, once every message is done; shards have
    // theirs written by --merge-reports.
    if (m_options.production && m_options.shard.count <= 1 && signals.count() == 0 &&
        !m_reportBroken) {
        try {
            writeLoadFiles(m_options.outDir, m_options.reportPath, m_options.production->cp1252);
        } catch (const std::exception& e) {
            m_err << "orvaline-convert: " << e.what() << "\n";
            status = common::kExitFailure;
        }
    }
    m_progress->summary(m_tally, m_options.reportPath);
    if (signals.count() > 0) {
        return common::kExitStopped;
    }
    if (m_reportBroken || pooled != common::kExitSuccess) {
        return common::kExitFailure;
    }
    return m_tally.failed > 0 ? common::kExitFailure : status;
}

}  // namespace

int runBatch(const RunOptions& options, const Plan& plan, std::ostream& err) {
    Batch batch(options, err);
    return batch.run(plan);
}

}  // namespace batch
