#pragma once
// A batch run: the plan's messages converted by a pool of worker processes
// (batch/worker.h), each result placed and recorded as it comes.
//
// - Workers: `jobs` processes, each converting one message after another; a
//   worker is replaced after kMessagesPerWorker messages, and whenever it
//   dies. A message that crashes its worker, or takes longer than
//   `timeoutSeconds` (the worker is killed), is reported failed with the
//   reason; the run goes on.
// - Images: a worker writes a message's pages (JPEG or TIFF pages, or one
//   PDF or TIFF file) and its text file into a staging folder inside the
//   output folder; the run then links each into its place, never over an
//   existing file. A name that is taken by a file this run's report does not
//   list makes the message fail with a text ("exists already ... not this
//   run's"), and nothing of it is placed: no file of the user's is ever
//   replaced. A message's files are all placed, or none.
// - The report (batch/report.h) gets a line per message as it finishes. An
//   existing report is only continued with `resume`, which keeps every
//   converted record whose source has the same size and SHA-256 and whose
//   files are all there under the names planned now, in the format asked for
//   now (its text file too, when one is asked for), and converts the rest
//   (their earlier files may be replaced).
// - SIGINT, SIGTERM: no new message is started; messages in hand get
//   kStopGraceSeconds to finish (a second signal cuts that short), the rest
//   are discarded (nothing placed, not reported); the report is flushed and
//   the run returns 130.
//
// Returns 0 when every message converted (or was skipped), 1 when any
// failed, 2 when the run could not start, 130 when stopped by a signal.

#include "batch/plan.h"

#include <common/bates.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace batch {

inline constexpr unsigned kMessagesPerWorker = 1000;
inline constexpr unsigned kStopGraceSeconds = 5;
inline constexpr unsigned kDefaultTimeoutSeconds = 120;

// A production (--bates): every page named and stamped by its Bates number
// (common/bates.h), numbered over all messages in plan order, each message
// then its attachments; load files (DATA/<output folder's name>.opt and
// .dat), the words of each document in TEXT/, with `natives` each
// document's own bytes in NATIVES/. The numbers need every message's pages
// first: a run counts them (laid out, not painted) into
// orvaline-pages.jsonl, then draws; shards count with `countOnly` each
// (orvaline-pages.K-of-N.jsonl) before any of them draws.
struct Production {
    common::Bates bates;
    std::string legend;
    std::string custodian;
    bool natives = false;
    bool cp1252 = false;     // the .dat file in Windows-1252, not UTF-8
    bool countOnly = false;  // --count-pages: count this shard's pages, draw nothing
};

struct RunOptions {
    std::string outDir;
    std::string reportPath;
    // Page options as given ("--dpi", "300", "--no-header", ...), for the
    // workers.
    std::vector<std::string> pageWords;
    // What those options make of a message: the names staged and placed.
    OutputFormat format;
    unsigned jobs = 1;
    unsigned timeoutSeconds = kDefaultTimeoutSeconds;
    bool resume = false;
    bool quiet = false;
    Shard shard;
    // The program the workers run ("--worker" is added).
    std::string workerProgram;
    std::optional<Production> production;
};

int runBatch(const RunOptions& options, const Plan& plan, std::ostream& err);

}  // namespace batch
