#pragma once
// What a run tells while it goes and when it ends, on standard error: a
// progress line (rewritten in place four times a second on a terminal, a
// line every ten seconds otherwise) and the summary with the failures named.

#include "worker_process.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace batch {

// The counts of a run.
struct Tally {
    std::size_t todo = 0;       // messages this run converts
    std::size_t finished = 0;   // of them
    std::size_t converted = 0;  // kept ones included
    std::size_t kept = 0;       // converted before, kept from the report
    std::size_t failed = 0;
    std::size_t skipped = 0;
    std::size_t discarded = 0;                                  // in hand when the run was stopped
    std::vector<std::pair<std::string, std::string>> failures;  // source, reason
    long peakKiB = 0;  // the largest worker's resident memory
};

class Progress {
public:
    // Nothing is written when `quiet`.
    Progress(std::ostream& err, bool quiet);

    // What the line is about, before its counts ("counting pages: ").
    void stage(std::string text) { m_stage = std::move(text); }

    // How often the run should wake up to keep the line current.
    std::chrono::milliseconds interval() const;
    // The progress line, when it is due (or `force`).
    void update(const Tally& tally, bool force);
    void summary(const Tally& tally, const std::string& reportPath) const;

private:
    std::ostream& m_err;
    bool m_quiet;
    bool m_terminal;
    Clock::time_point m_start;
    Clock::time_point m_last;
    std::string m_stage;
};

}  // namespace batch
