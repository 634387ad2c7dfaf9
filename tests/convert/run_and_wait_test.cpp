#include <convert/run_and_wait.h>
#include <shell/progress_bar.h>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <qt_print.h>

#include <vector>

namespace {

using namespace convert;

TEST(RunAndWaitRules, RoundingIsHalfToEven) {
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(100.0 / 3.0), 33);
    EXPECT_EQ(RoundHalfEven(200.0 / 3.0), 67);
    EXPECT_EQ(RoundHalfEven(12.5), 12);
}

TEST(RunAndWaitRules, ValueCreepsByStepUpToTheCeiling) {
    // Count 4, base value 25: step round(2.5) = 2, ceiling round(48) = 48.
    std::vector<int> values;
    for (int n = 50; n <= 50 + 150 * 14; n += 150) {
        values.push_back(CreepValue(n, 25, 4));
    }
    EXPECT_EQ(values,
              (std::vector<int>{25, 27, 29, 31, 33, 35, 37, 39, 41, 43, 45, 47, 48, 48, 48}));
    // Count 1, base 100: step 10, ceiling 190.
    EXPECT_EQ(CreepValue(50, 100, 1), 100);
    EXPECT_EQ(CreepValue(200, 100, 1), 110);
    EXPECT_EQ(CreepValue(350, 100, 1), 120);
}

TEST(RunAndWaitRules, WindowModeAndStartFailureCode) {
    EXPECT_EQ(EffectiveWindowMode(7), 6);
    EXPECT_EQ(EffectiveWindowMode(-1), 6);
    EXPECT_EQ(EffectiveWindowMode(0), 0);
    EXPECT_EQ(StartFailureCode(2), static_cast<std::int32_t>(0x80040002u));
    EXPECT_EQ(StartFailureCode(2), -2147221502);
}

TEST(CommandLineText, ThreeQuotedParts) {
    const CommandLine line{QStringLiteral("/tmp/Kestrune.exe"),
                           {QStringLiteral("/in/a.msg"), QStringLiteral("/out/a.jpg")}};
    EXPECT_EQ(line.text(), QStringLiteral("\"/tmp/Kestrune.exe\" \"/in/a.msg\" \"/out/a.jpg\""));
}

class RunAndWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        connect();
        m_bar.setText(QStringLiteral("Processing: mail.msg"));
        m_bar.setValue(25);
        m_texts.clear();
        m_values.clear();
    }
    void connect() {
        QObject::connect(&m_bar, &shell::ProgressBar::textSet,
                         [this](const QString& t) { m_texts.push_back(t); });
        QObject::connect(&m_bar, &QProgressBar::valueChanged,
                         [this](int v) { m_values.push_back(v); });
    }
    CommandLine sh(const QString& script, const QStringList& args = {}) {
        return {QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + args};
    }

    shell::ProgressBar m_bar;
    std::vector<QString> m_texts;
    std::vector<int> m_values;
};

TEST_F(RunAndWaitTest, QuickProgramLeavesTheDisplayAsItWas) {
    m_texts.clear();
    const auto status =
        RunAndWait(sh(QStringLiteral("exit 3")), 0, &m_bar, m_bar.text(), m_bar.value(), 4);
    EXPECT_EQ(status, 3);
    for (const auto& text : m_texts) {
        EXPECT_FALSE(text.contains(QStringLiteral("Please wait"))) << text.toStdString();
    }
    EXPECT_EQ(m_bar.text(), QStringLiteral("Processing: mail.msg"));
    EXPECT_TRUE(m_values.empty());
}

TEST_F(RunAndWaitTest, LongProgramShowsCounterAndCreepingValue) {
    RunAndWaitOptions fast;
    fast.pollIntervalMs = 1;
    // Long enough for more than 350 polls of 1 ms.
    const auto status = RunAndWait(sh(QStringLiteral("sleep 1.5")), 0, &m_bar,
                                   QStringLiteral("Processing: mail.msg"), 25, 4, fast);
    EXPECT_EQ(status, 0);
    ASSERT_GE(m_texts.size(), 2u);
    EXPECT_EQ(m_texts.front(), QStringLiteral("Processing: mail.msg, Please wait.. 0"));
    EXPECT_NE(std::find(m_texts.begin(), m_texts.end(),
                        QStringLiteral("Processing: mail.msg, Please wait.. 23")),
              m_texts.end());
    EXPECT_EQ(m_texts.back(), QStringLiteral("Processing: mail.msg"));
    ASSERT_GE(m_values.size(), 2u);
    // The first step sets the base value itself (no change signal), then +2 each.
    EXPECT_EQ(m_values[0], 27);
    EXPECT_EQ(m_values[1], 29);
}

TEST_F(RunAndWaitTest, EmptyBaseTextEndsAsProgressBar) {
    RunAndWaitOptions fast;
    fast.pollIntervalMs = 1;
    RunAndWait(sh(QStringLiteral("sleep 0.3")), 0, &m_bar, QString(), 0, 1, fast);
    ASSERT_FALSE(m_texts.empty());
    EXPECT_TRUE(m_texts.front().startsWith(QStringLiteral("Please wait.. ")));
    EXPECT_EQ(m_bar.text(), QStringLiteral("Progress Bar"));
}

TEST_F(RunAndWaitTest, MissingProgramGivesStartFailureAndTouchesNothing) {
    m_texts.clear();
    const auto status = RunAndWait({QStringLiteral("/no/such/program"), {}}, 0, &m_bar,
                                   m_bar.text(), m_bar.value(), 1);
    EXPECT_EQ(status, StartFailureCode(2));
    EXPECT_TRUE(m_texts.empty());
    EXPECT_TRUE(m_values.empty());
}

TEST_F(RunAndWaitTest, ArgumentsArriveIntactAndErrorsAreCaptured) {
    QTemporaryDir dir;
    const QString odd = dir.filePath(QStringLiteral("a \"quoted\" $name 'x'.txt"));
    QByteArray errors;
    RunAndWaitOptions options;
    options.standardError = &errors;
    const auto status = RunAndWait(
        sh(QStringLiteral("printf ok > \"$1\"; echo 'first line' >&2; echo second >&2; exit 1"),
           {odd}),
        0, nullptr, QString(), 0, 1, options);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(QFile::exists(odd));
    EXPECT_EQ(errors, QByteArray("first line\nsecond\n"));
}

}  // namespace
