#include "stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace batch {

namespace {

int g_wakeFd = -1;
volatile std::sig_atomic_t g_stopSignals = 0;

extern "C" void onStopSignal(int) {
    g_stopSignals = g_stopSignals + 1;
    const char byte = 1;
    const ssize_t ignored = ::write(g_wakeFd, &byte, 1);
    (void)ignored;
}

}  // namespace

StopSignals::StopSignals() {
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

StopSignals::~StopSignals() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    sigaction(SIGPIPE, &m_oldPipe, nullptr);
    ::close(m_read);
    ::close(g_wakeFd);
    g_wakeFd = -1;
}

int StopSignals::count() const {
    return g_stopSignals;
}

void StopSignals::drain() const {
    char bytes[64];
    while (::read(m_read, bytes, sizeof bytes) > 0) {
    }
}

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

}  // namespace batch
