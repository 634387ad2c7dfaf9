#include "shell/failure_report.h"

#include "shell/dialogs.h"

#include <exception>

namespace shell {

QString BuildReportText(const QString& description, const QString& location, int line) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QString::fromLatin1(kSupportAddress);
}

void ReportFailure(Dialogs& dialogs, const QString& description, const QString& location,
                   int line) {
    dialogs.warning(QString::fromLatin1(kReportCaption),
                    BuildReportText(description, location, line));
}

StepRunner::StepRunner(Dialogs& dialogs, QString location)
    : m_dialogs(dialogs), m_location(std::move(location)) {}

bool StepRunner::handle(int line, const Failure& failure) {
    if (m_interceptor && m_interceptor(failure)) {
        m_ended = true;
        return false;
    }
    ++m_failures;
    ReportFailure(m_dialogs, failure.description(), m_location, line);
    return true;
}

namespace {

// Runs `body`, turning any exception into a Failure for `onFailure`.
template <typename Body, typename OnFailure>
void guarded(Body&& body, OnFailure&& onFailure) {
    try {
        body();
    } catch (const Failure& failure) {
        onFailure(failure);
    } catch (const std::exception& e) {
        onFailure(Failure(QString::fromLocal8Bit(e.what())));
    }
}

}  // namespace

bool StepRunner::step(int line, const std::function<void()>& body) {
    if (m_ended) {
        return false;
    }
    bool ok = true;
    guarded(body, [&](const Failure& f) {
        ok = false;
        handle(line, f);
    });
    return ok;
}

bool StepRunner::test(int line, const std::function<bool()>& condition) {
    if (m_ended) {
        return false;
    }
    bool result = false;
    guarded([&] { result = condition(); },
            [&](const Failure& f) {
                // A failed test counts as met, unless the handler was ended.
                result = handle(line, f);
            });
    return result;
}

}  // namespace shell
