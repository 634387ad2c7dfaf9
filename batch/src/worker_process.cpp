#include "worker_process.h"

#include "batch/worker.h"
#include "stop_signals.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace batch {

std::optional<Worker> startWorker(const std::string& program,
                                  const std::vector<std::string>& pageWords) {
    int jobs[2];
    int results[2];
    if (::pipe2(jobs, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    if (::pipe2(results, O_CLOEXEC) != 0) {
        const int why = errno;
        ::close(jobs[0]);
        ::close(jobs[1]);
        errno = why;
        return std::nullopt;
    }
    std::vector<std::string> words{program, "--worker"};
    words.insert(words.end(), pageWords.begin(), pageWords.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The worker: jobs on 0, results on kResultFd, nothing else open.
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
    const int why = errno;
    ::close(jobs[0]);
    ::close(results[1]);
    if (pid < 0) {
        ::close(jobs[1]);
        ::close(results[0]);
        errno = why;
        return std::nullopt;
    }
    Worker worker;
    worker.pid = pid;
    worker.toFd = jobs[1];
    worker.fromFd = results[0];
    return worker;
}

void handJob(Worker& worker, InFlight job, const Item& item) {
    if (worker.jobs.empty()) {
        worker.started = Clock::now();
    }
    ++worker.handed;
    std::string frame;
    if (item.mailbox) {
        wire::put(frame, {item.mailbox->file, job.staging, std::to_string(item.mailbox->offset),
                          std::to_string(item.mailbox->length), job.production});
    } else if (!job.production.empty()) {
        wire::put(frame, {item.source, job.staging, "", "", job.production});
    } else {
        wire::put(frame, {item.source, job.staging});
    }
    worker.jobs.push_back(std::move(job));
    wire::writeAll(worker.toFd, frame);
}

Received receive(Worker& worker) {
    Received received;
    char chunk[65536];
    const ssize_t got = ::read(worker.fromFd, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return received;
    }
    if (got <= 0) {
        received.ended = true;
        return received;
    }
    worker.buffer.append(chunk, static_cast<std::size_t>(got));
    try {
        while (auto fields = wire::take(worker.buffer)) {
            received.results.push_back(std::move(*fields));
        }
    } catch (const std::exception& e) {
        received.broken = e.what();
    }
    return received;
}

long endWorker(Worker& worker, bool kill) {
    if (worker.pid <= 0) {
        return 0;
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
    worker.pid = -1;
    if (worker.fromFd >= 0) {
        ::close(worker.fromFd);
    }
    worker.toFd = worker.fromFd = -1;
    return usage.ru_maxrss;
}

std::string waitForDeadWorker(Worker& worker, long& peakKiB) {
    ::close(worker.toFd);
    worker.toFd = -1;
    int status = 0;
    struct rusage usage {};
    while (::wait4(worker.pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    peakKiB = usage.ru_maxrss;
    ::close(worker.fromFd);
    worker.fromFd = -1;
    worker.pid = -1;
    if (WIFSIGNALED(status)) {
        return "the conversion crashed its worker process (" + signalText(WTERMSIG(status)) + ")";
    }
    if (WIFEXITED(status)) {
        return "the worker process ended with exit status " + std::to_string(WEXITSTATUS(status)) +
               " while converting it";
    }
    return "the worker process ended while converting it";
}

}  // namespace batch
