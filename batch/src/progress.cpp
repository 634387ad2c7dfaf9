#include "progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace batch {

namespace {

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

}  // namespace

Progress::Progress(std::ostream& err, bool quiet)
    : m_err(err),
      m_quiet(quiet),
      m_terminal(::isatty(2) != 0),
      m_start(Clock::now()),
      m_last(m_start) {}

std::chrono::milliseconds Progress::interval() const {
    return std::chrono::milliseconds(m_terminal ? 250 : 1000);
}

void Progress::update(const Tally& tally, bool force) {
    if (m_quiet) {
        return;
    }
    const auto now = Clock::now();
    const auto every = m_terminal ? std::chrono::milliseconds(250) : std::chrono::seconds(10);
    if (!force && now - m_last < every) {
        return;
    }
    m_last = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? static_cast<double>(tally.finished) / seconds : 0;
    const std::size_t left = tally.todo - tally.finished;
    char line[256];
    std::snprintf(line, sizeof line, "%zu/%zu done, %.1f messages/s, %s left, %zu failed",
                  tally.finished, tally.todo, rate,
                  rate > 0 ? clockText(static_cast<double>(left) / rate).c_str() : "?:??",
                  tally.failed);
    if (m_terminal) {
        m_err << "\r\033[K" << m_stage << line << std::flush;
    } else {
        m_err << "orvaline-convert: " << m_stage << line << "\n" << std::flush;
    }
}

void Progress::summary(const Tally& tally, const std::string& reportPath) const {
    if (m_quiet) {
        return;
    }
    if (m_terminal) {
        m_err << "\r\033[K";
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    const std::size_t total = tally.converted + tally.failed + tally.skipped;
    char line[320];
    std::snprintf(line, sizeof line,
                  "orvaline-convert: %zu converted (%zu kept from the report), %zu failed, %zu "
                  "skipped, of %zu messages in %s (%.1f messages/s); largest worker %.1f MiB\n",
                  tally.converted, tally.kept, tally.failed, tally.skipped, total,
                  clockText(seconds).c_str(),
                  seconds > 0 ? static_cast<double>(tally.finished) / seconds : 0.0,
                  static_cast<double>(tally.peakKiB) / 1024.0);
    m_err << line;
    constexpr std::size_t kNamed = 20;
    for (std::size_t i = 0; i < tally.failures.size() && i < kNamed; ++i) {
        m_err << "  failed: " << tally.failures[i].first << ": " << tally.failures[i].second
              << "\n";
    }
    if (tally.failures.size() > kNamed) {
        m_err << "  ... and " << tally.failures.size() - kNamed << " more\n";
    }
    if (tally.discarded > 0) {
        m_err << "orvaline-convert: stopped; " << tally.discarded
              << " messages in hand were given up and " << tally.todo - tally.finished
              << " not converted: run again with --resume to finish\n";
    }
    m_err << "orvaline-convert: report: " << reportPath << "\n";
}

}  // namespace batch
