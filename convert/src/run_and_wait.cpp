#include "convert/run_and_wait.h"

#include <shell/paths.h>
#include <shell/progress_bar.h>

#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cmath>

namespace convert {

QString CommandLine::text() const {
    const QChar quote = QLatin1Char('"');
    QString line = quote + program + quote;
    for (const QString& argument : arguments) {
        line += QLatin1Char(' ') + quote + argument + quote;
    }
    return line;
}

int EffectiveWindowMode(int windowMode) {
    return windowMode < 0 || windowMode > 6 ? RunAndWaitConstants::kDefaultWindowMode : windowMode;
}

std::int32_t StartFailureCode(int errorNumber) {
    const std::uint32_t code =
        static_cast<std::uint32_t>(errorNumber) + RunAndWaitConstants::kStartFailureOffset;
    return static_cast<std::int32_t>(code);
}

int RoundHalfEven(double value) {
    // The default floating-point rounding mode rounds halves to even.
    return static_cast<int>(std::nearbyint(value));
}

int CreepValue(int n, int baseValue, int count) {
    const double share = 100.0 / count;
    const int step = RoundHalfEven(share / RunAndWaitConstants::kShareDivisor);
    const int ceiling = RoundHalfEven(share + baseValue - step);
    const int v =
        (n - RunAndWaitConstants::kCounterFromPoll) / RunAndWaitConstants::kPollsPerStep * step +
        baseValue;
    return v >= ceiling ? ceiling : v;
}

namespace {

// Why a program could not be started, as an errno value.
int startErrorNumber(const QString& program) {
    const QFileInfo info(program);
    if (!info.exists()) {
        return ENOENT;
    }
    if (info.isDir() || !info.isExecutable()) {
        return EACCES;
    }
    return ENOEXEC;
}

}  // namespace

std::int32_t RunAndWait(const CommandLine& command, int windowMode, shell::ProgressBar* display,
                        const QString& baseText, int baseValue, int count,
                        const RunAndWaitOptions& options) {
    // The window mode has no meaning for a console program here: the
    // converter never shows a window.
    (void)EffectiveWindowMode(windowMode);

    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    // A start normally takes milliseconds; one that does not complete in
    // this time is given up rather than freezing the window.
    constexpr int kStartTimeoutMs = 30000;
    if (!process.waitForStarted(kStartTimeoutMs)) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(1000);
        }
        return StartFailureCode(startErrorNumber(command.program));
    }

    std::int32_t status = 0;
    int n = 0;
    for (;;) {
        if (process.state() == QProcess::NotRunning) {
            status = process.exitStatus() == QProcess::CrashExit ? -1 : process.exitCode();
        } else {
            status = RunAndWaitConstants::kStillRunning;
        }
        shell::PumpEvents();
        if (status == RunAndWaitConstants::kStillRunning) {
            // The poll interval's sleep, cut short when the program ends.
            process.waitForFinished(options.pollIntervalMs);
        }
        if (display != nullptr) {
            shell::PumpEvents();
            ++n;
            if (n >= RunAndWaitConstants::kCounterFromPoll) {
                shell::PumpEvents();
                const int counter = n - RunAndWaitConstants::kCounterFromPoll;
                display->setText(
                    (baseText.isEmpty() ? QString() : baseText + QStringLiteral(", ")) +
                    QStringLiteral("Please wait.. ") + QString::number(counter));
                if (counter % RunAndWaitConstants::kPollsPerStep == 0) {
                    display->setValue(CreepValue(n, baseValue, count));
                }
                shell::PumpEvents();
            }
            shell::PumpEvents();
        }
        shell::PumpEvents();
        if (status != RunAndWaitConstants::kStillRunning) {
            break;
        }
    }
    if (options.standardError != nullptr) {
        *options.standardError = process.readAllStandardError();
    }
    if (display != nullptr) {
        display->setText(baseText.isEmpty() ? QStringLiteral("Progress Bar") : baseText);
    }
    return status;
}

}  // namespace convert
