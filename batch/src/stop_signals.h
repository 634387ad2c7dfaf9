#pragma once
// SIGINT and SIGTERM during a run: counted, never acted on in the handler.
// Each one also writes a byte to a pipe, so the run's poll() wakes up at
// once. SIGPIPE is ignored meanwhile: a worker that died closes its end of a
// pipe, and the write that meets it fails instead of ending the run.

#include <csignal>
#include <string>

namespace batch {

class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Signals received since construction.
    int count() const;
    // The pipe to poll for reading; drain() empties it.
    int readFd() const { return m_read; }
    void drain() const;

private:
    int m_read = -1;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    struct sigaction m_oldPipe {};
};

// "SIGSEGV (Segmentation fault)", or "signal N".
std::string signalText(int signal);

}  // namespace batch
