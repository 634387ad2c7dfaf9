#pragma once
// One worker process of a run, seen from the run: started, handed jobs, read
// from, and ended. What the worker does is batch/worker.h.

#include "batch/plan.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace batch {

using Clock = std::chrono::steady_clock;

// A job handed to a worker: the to-do index and where its images go.
struct InFlight {
    std::size_t job = 0;
    std::string staging;
    // In a production: "count" (lay out and count the pages only), or the
    // Bates number of the first page.
    std::string production;
};

struct Worker {
    pid_t pid = -1;
    int toFd = -1;
    int fromFd = -1;
    std::string buffer;         // result bytes not yet a whole frame
    std::deque<InFlight> jobs;  // handed, in order; the first is in hand
    Clock::time_point started;  // when it began on the first job
    unsigned handed = 0;        // jobs handed to it in all
};

// Starts "program --worker pageWords...": jobs go to its standard input,
// results come from its kResultFd; nothing else is open in it, its standard
// output and error are /dev/null, it ignores SIGINT and SIGTERM and is
// killed when the run's process dies. No value (errno set) when it cannot
// be started.
std::optional<Worker> startWorker(const std::string& program,
                                  const std::vector<std::string>& pageWords);

// Hands the worker the item's message (a file, or its part of an mbox
// file), its images to go to job.staging. A worker that is gone shows its
// end on the result pipe.
void handJob(Worker& worker, InFlight job, const Item& item);

// What one read of the worker's result pipe brought.
struct Received {
    std::vector<std::vector<std::string>> results;  // whole frames, in order
    bool ended = false;                             // the pipe ended: the worker is gone
    std::string broken;                             // what came is no frame: why
};
Received receive(Worker& worker);

// Ends the worker: killed first when `kill`; otherwise its input is closed,
// which tells it to exit, and it is killed when it has not two seconds
// later. Returns its peak resident memory in KiB.
long endWorker(Worker& worker, bool kill);

// For a worker whose result pipe ended: waits for it and says how it ended
// ("the conversion crashed its worker process (SIGABRT (Aborted))");
// `peakKiB` gets its peak resident memory.
std::string waitForDeadWorker(Worker& worker, long& peakKiB);

}  // namespace batch
