#include <shell/dialogs.h>
#include <shell/failure.h>
#include <shell/failure_report.h>

#include <gtest/gtest.h>
#include <qt_print.h>

#include <stdexcept>
#include <vector>

namespace {

using namespace shell;

TEST(FailureReport, TextIsBuiltByteForByte) {
    const QString text = BuildReportText(QStringLiteral("No such file or directory"),
                                         QString::fromLatin1(location::kStartConverting), 142);
    EXPECT_EQ(text, QStringLiteral("No such file or directory\r\n"
                                   "in Orvapix2021/08/31.Form1.PushButton2_Click at line 142\r\r"
                                   "Please email screenshot of this message to ") +
                        QString::fromLatin1(kSupportAddress));
}

TEST(FailureReport, ShownAsApplicationErrorWarning) {
    ScriptedDialogs dialogs;
    ReportFailure(dialogs, QStringLiteral("D"), QString::fromLatin1(location::kClearList), 100);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warning"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Application Error"));
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        QStringLiteral("D\r\nin Orvapix2021/08/31.Form1.PushButton6_Click at line 100\r\r")));
}

TEST(FailureReport, PlatformDescriptionForMissingFile) {
    EXPECT_EQ(Failure::fromErrno(ENOENT).description(),
              QStringLiteral("No such file or directory"));
}

class StepRunnerTest : public ::testing::Test {
protected:
    ScriptedDialogs m_dialogs;
    StepRunner m_runner{m_dialogs, QString::fromLatin1(location::kFormLoad)};
    std::vector<int> m_ran;

    [[noreturn]] void fail() { throw Failure(QStringLiteral("boom")); }
    QString lastReport() const { return m_dialogs.shown.back().text; }
};

TEST_F(StepRunnerTest, FailedPlainStepIsReportedOnceAndTheHandlerGoesOn) {
    m_runner.step(100, [&] { m_ran.push_back(100); });
    const bool ok = m_runner.step(102, [&] {
        m_ran.push_back(102);
        fail();
        m_ran.push_back(-1);  // the rest of a failed step is skipped
    });
    m_runner.step(104, [&] { m_ran.push_back(104); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(m_ran, (std::vector<int>{100, 102, 104}));
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_TRUE(lastReport().contains(QStringLiteral("Form1.Form_Load at line 102")));
}

TEST_F(StepRunnerTest, FailedTestCountsAsMet) {
    bool guardedRan = false;
    if (m_runner.test(138, [&]() -> bool { fail(); })) {
        m_runner.step(140, [&] { guardedRan = true; });
    }
    EXPECT_TRUE(guardedRan);
    EXPECT_TRUE(lastReport().contains(QStringLiteral("at line 138")));
}

TEST_F(StepRunnerTest, FailureInLoopBodyGoesOnWithNextStepOfSamePass) {
    std::vector<int> seen;
    for (int i = 1; i <= 3; ++i) {
        m_runner.step(120, [&] {
            if (i == 2) {
                fail();
            }
        });
        m_runner.step(122, [&] { seen.push_back(i); });
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(m_runner.failureCount(), 1);
}

TEST_F(StepRunnerTest, EachFailureReportedInTurn) {
    m_runner.step(100, [&] { fail(); });
    m_runner.step(102, [&] { throw std::runtime_error("plain exception"); });
    ASSERT_EQ(m_dialogs.shown.size(), 2u);
    EXPECT_TRUE(m_dialogs.shown[0].text.contains(QStringLiteral("at line 100")));
    EXPECT_TRUE(m_dialogs.shown[1].text.startsWith(QStringLiteral("plain exception\r\n")));
}

TEST_F(StepRunnerTest, InterceptorEndsTheHandlerWithoutReport) {
    m_runner.setInterceptor([](const Failure& f) { return f.number() == kErrorSelectionTooLarge; });
    m_runner.step(100, [&] { throw Failure(QStringLiteral("too big"), kErrorSelectionTooLarge); });
    bool later = false;
    m_runner.step(102, [&] { later = true; });
    EXPECT_FALSE(later);
    EXPECT_TRUE(m_runner.ended());
    EXPECT_TRUE(m_dialogs.shown.empty());
}

TEST_F(StepRunnerTest, InterceptorPassesOtherFailuresToTheReport) {
    m_runner.setInterceptor([](const Failure& f) { return f.number() == kErrorSelectionTooLarge; });
    m_runner.step(100, [&] { fail(); });
    bool later = false;
    m_runner.step(102, [&] { later = true; });
    EXPECT_TRUE(later);
    EXPECT_EQ(m_dialogs.shown.size(), 1u);
}

}  // namespace
