#pragma once
// The failure report and the step runner every covered handler runs under.
//
// A handler creates a StepRunner with its location text and runs each of its
// numbered steps through it. A step that throws is reported once ("Application
// Error", warning icon, one OK button) and the handler goes on with the next
// step; a test that throws counts as met. A handler may install an
// interceptor that handles one kind of failure itself and ends the handler.

#include "shell/failure.h"

#include <QString>

#include <functional>

namespace shell {

class Dialogs;

// The support address named at the end of every failure report.
inline constexpr const char* kSupportAddress = "support@orvaline.org";

inline constexpr const char* kReportCaption = "Application Error";

// Location texts of the covered handlers, each with its trailing blank.
namespace location {
inline constexpr const char* kFormLoad = "in Orvapix2021/08/31.Form1.Form_Load ";
inline constexpr const char* kAddFiles = "in Orvapix2021/08/31.Form1.PushButton1_Click ";
inline constexpr const char* kStartConverting = "in Orvapix2021/08/31.Form1.PushButton2_Click ";
inline constexpr const char* kAddAll = "in Orvapix2021/08/31.Form1.PushButton4_Click ";
inline constexpr const char* kClearList = "in Orvapix2021/08/31.Form1.PushButton6_Click ";
inline constexpr const char* kLoadSamples = "in Orvapix2021/08/31.Form1.PushButton7_Click ";
inline constexpr const char* kBrowseOutput = "in Orvapix2021/08/31.Form1.PushButton9_Click ";
inline constexpr const char* kFolderScan =
    "in TamselTitle2021/08/31.AddFolder.GetSubDirectories2016 ";
}  // namespace location

// The report text: description, CR LF, location, "at line ", the number, CR
// CR, and the support sentence.
QString BuildReportText(const QString& description, const QString& location, int line);

// Shows the report in a warning box captioned "Application Error".
void ReportFailure(Dialogs& dialogs, const QString& description, const QString& location, int line);

class StepRunner {
public:
    StepRunner(Dialogs& dialogs, QString location);

    // Runs a plain step. A failure is reported and the step counts as done.
    // Returns false when the step failed (or the handler was ended).
    bool step(int line, const std::function<void()>& body);

    // Runs the condition of an if. A failure is reported and counts as met.
    bool test(int line, const std::function<bool()>& condition);

    // An interceptor sees every failure first; when it returns true the
    // failure is not reported and the handler ends: later steps do nothing.
    void setInterceptor(std::function<bool(const Failure&)> interceptor) {
        m_interceptor = std::move(interceptor);
    }

    // True once an interceptor has ended the handler.
    bool ended() const { return m_ended; }
    int failureCount() const { return m_failures; }
    const QString& location() const { return m_location; }

private:
    // Returns true when the failure was reported (the handler goes on).
    bool handle(int line, const Failure& failure);

    Dialogs& m_dialogs;
    QString m_location;
    std::function<bool(const Failure&)> m_interceptor;
    bool m_ended = false;
    int m_failures = 0;
};

}  // namespace shell
