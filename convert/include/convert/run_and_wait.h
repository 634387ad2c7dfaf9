#pragma once
// modProcess: starting an external program and waiting for it without
// freezing the window. The window's events are pumped between polls; after
// about five seconds a "Please wait.. " counter shows in the display's text
// and its value creeps forward every fifteen seconds, never past a ceiling.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace shell {
class ProgressBar;
}

namespace convert {

// A program and its arguments. The arguments reach the program exactly as
// given (no shell, no quoting rules), so any character a path may hold on
// this platform arrives intact.
struct CommandLine {
    QString program;
    QStringList arguments;

    // The command line as one text: every part in double quotes, separated
    // by single blanks.
    QString text() const;
};

struct RunAndWaitConstants {
    static constexpr int kDefaultWindowMode = 6;
    static constexpr int kPollIntervalMs = 100;
    static constexpr int kStillRunning = 259;
    static constexpr int kCounterFromPoll = 50;
    static constexpr int kPollsPerStep = 150;
    static constexpr double kShareDivisor = 10.0;
    static constexpr std::uint32_t kStartFailureOffset = 0x80040000u;
};

// The window mode actually used: 6 when the given one is outside 0..6.
int EffectiveWindowMode(int windowMode);

// The start-failure code: the error number plus 0x80040000, as a signed
// 32-bit value.
std::int32_t StartFailureCode(int errorNumber);

// Rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(double value);

// The value the display shows at poll `n` (n >= 50, (n - 50) a multiple of
// 150) for a file whose share starts at baseValue in a run of `count`.
int CreepValue(int n, int baseValue, int count);

struct RunAndWaitOptions {
    int pollIntervalMs = RunAndWaitConstants::kPollIntervalMs;
    // When set, receives what the program wrote to its standard error.
    QByteArray* standardError = nullptr;
};

// Starts `command` and waits for it to end. Returns its exit status, or the
// start-failure code when it cannot be started (the display is then left
// untouched). A program that crashes gives status -1. `display` may be null.
std::int32_t RunAndWait(const CommandLine& command, int windowMode, shell::ProgressBar* display,
                        const QString& baseText, int baseValue, int count,
                        const RunAndWaitOptions& options = {});

}  // namespace convert
