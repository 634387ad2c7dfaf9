// orvaline-convert as its users run it: real processes on real folders, the
// report read back, the images decoded, hashes checked by Qt's own SHA-256.
#include "batch_support.h"

#include <batch/report.h>
#include <common/result_name_claims.h>
#include <digest/digest.h>

#include <QCryptographicHash>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace {

using namespace batch_test;

// ---- pieces -------------------------------------------------------------

TEST(BatchPieces, ReportKeepsEveryByteOfAFileName) {
    const std::string hostile = std::string("new\nline\t\"quoted\" back\\slash \x01\x1f\x7f ") +
                                "\x01"
                                "41 \x01\x01"
                                "dc \\udcff " +                    // like the reader's own marks
                                "caf\xc3\xa9 \xf0\x9f\x93\xa7 " +  // valid UTF-8
                                "\xff \xe2\x82 \xc0\xaf \xed\xa0\x80 end\xc3";  // not
    Record record;
    record.source = hostile;
    record.size = 7;
    record.sha256 = digest::sha256Hex("x");
    record.status = Record::Status::Converted;
    record.images = {{hostile + ".jpg", digest::sha256Hex("y")}};
    record.warnings = {"warned \x02"};
    record.ms = 12;
    const std::string line = batch::toLine(record);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    for (const char c : line.substr(0, line.size() - 1)) {
        EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "raw control byte in " << line;
    }
    EXPECT_NE(line.find("\\udcff"), std::string::npos);
    EXPECT_NE(line.find("caf\xc3\xa9"), std::string::npos);
    const auto back = batch::fromLine(line.substr(0, line.size() - 1));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->source, hostile);
    EXPECT_EQ(back->images.at(0).path, hostile + ".jpg");
    EXPECT_EQ(back->warnings.at(0), "warned \x02");
    EXPECT_EQ(back->size, 7u);
    // Lines cut short (a lost power) are no records.
    EXPECT_FALSE(batch::fromLine(line.substr(0, line.size() / 2)).has_value());
    // Surrogates that are no escaped byte, written by another program, read
    // as U+FFFD; a pair stands for its character.
    const auto other = batch::fromLine(
        R"({"source":"a\ud800b\udc41c\udbff\udfff","status":"skipped","pages":0,"images":[]})");
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->source,
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD"
              "c\xF4\x8F\xBF\xBF");
}

TEST(BatchPieces, ResultNamesStayApartFromEachOthersPages) {
    common::ResultNameClaims batchClaims(true);
    EXPECT_EQ(batchClaims.claim("a/x.msg", "x.jpg"), "x.jpg");
    EXPECT_EQ(batchClaims.claim("b/x.msg", "x.jpg"), "x (2).jpg");
    // "x_1.jpg" would be page 1 of x.jpg.
    EXPECT_EQ(batchClaims.claim("c/x_1.msg", "x_1.jpg"), "x_1 (2).jpg");
    EXPECT_EQ(batchClaims.claim("d/x_01.msg", "x_01.jpg"), "x_01.jpg");
    // And the other way round: y.jpg's pages would meet y_2.jpg.
    EXPECT_EQ(batchClaims.claim("e/y_2.msg", "y_2.jpg"), "y_2.jpg");
    EXPECT_EQ(batchClaims.claim("f/y.msg", "y.jpg"), "y (2).jpg");
    EXPECT_EQ(batchClaims.claim("b/x.msg", "x.jpg"), "x (2).jpg");
    // The window's claims keep its rule: only equal names move on.
    common::ResultNameClaims windowClaims;
    EXPECT_EQ(windowClaims.claim("/a/x.msg", "/o/x.jpg"), "/o/x.jpg");
    EXPECT_EQ(windowClaims.claim("/c/x_1.msg", "/o/x_1.jpg"), "/o/x_1.jpg");
}

// ---- the program --------------------------------------------------------

TEST_F(BatchRun, WalksATreeByTheFolderRulesAndNamesClashesTheSameEveryRun) {
    const fs::path in = m_root / "in";
    copyCorpus(kTwoPages, in / "a" / "x.msg");
    copyCorpus(kOnePage[0], in / "b" / "x.msg");
    copyCorpus(kOnePage[1], in / "c" / "x_1.msg");
    copyCorpus(kOnePage[2], in / "c" / "UPPER.MSG");
    copyCorpus(kOnePage[3], in / "c" / "new\nline.msg");
    copyCorpus(kOnePage[4], in / "c" / "bytes-\xff\xfe.msg");
    copyCorpus(kOnePage[5], in / "c" / "locked.msg");
    copyCorpus(kOnePage[0], in / ".hidden.msg");
    copyCorpus(kOnePage[0], in / ".hidden-folder" / "y.msg");
    copyCorpus(kOnePage[0], in / "~lock.msg");
    copyCorpus(kOnePage[0], in / "notes.txt");
    fs::create_directory_symlink("..", in / "c" / "loop");
    fs::create_symlink(in / "nowhere.msg", in / "dangling.msg");
    fs::create_directories(in / "closed");
    copyCorpus(kOnePage[0], in / "closed" / "z.msg");
    ::chmod((in / "c" / "locked.msg").c_str(), 0);
    ::chmod((in / "closed").c_str(), 0);
    const fs::path out = m_root / "out";
    fs::create_directories(out);
    Options options;
    // Root reads every file: the run goes as a user who cannot.
    if (::geteuid() == 0) {
        ASSERT_EQ(std::system("command -v setpriv >/dev/null"), 0);
        options.prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        ::chmod(out.c_str(), 0777);
    }
    const Outcome first = run({"-j", "2", in.string(), "-o", out.string()}, options);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("closed\" cannot be listed"), std::string::npos) << first.err;

    const auto records = reportBySource(out / "orvaline-report.jsonl");
    std::map<std::string, std::pair<Record::Status, std::vector<std::string>>> seen;
    for (const auto& [source, record] : records) {
        std::vector<std::string> names;
        for (const auto& image : record.images) {
            names.push_back(image.path);
        }
        seen[fs::relative(source, in).string()] = {record.status, names};
    }
    using S = Record::Status;
    using Names = std::vector<std::string>;
    const std::map<std::string, std::pair<S, Names>> expected = {
        {"a/x.msg", {S::Converted, Names{"x_1.jpg", "x_2.jpg"}}},
        {"b/x.msg", {S::Converted, Names{"x (2).jpg"}}},
        {"c/x_1.msg", {S::Converted, Names{"x_1 (2).jpg"}}},
        {"c/UPPER.MSG", {S::Converted, Names{"UPPER.jpg"}}},
        {"c/new\nline.msg", {S::Converted, Names{"new\nline.jpg"}}},
        {"c/bytes-\xff\xfe.msg", {S::Converted, Names{"bytes-\xff\xfe.jpg"}}},
        {"c/locked.msg", {S::Skipped, Names{}}},
    };
    EXPECT_EQ(seen, expected);
    expectRecordsTrue(records, out);
    // Nothing but the images and the report: no staging, no temporary file.
    std::set<std::string> entries;
    for (const auto& entry : fs::directory_iterator(out)) {
        entries.insert(entry.path().filename().string());
    }
    EXPECT_EQ(entries, (std::set<std::string>{"orvaline-report.jsonl", "x_1.jpg", "x_2.jpg",
                                              "x (2).jpg", "x_1 (2).jpg", "UPPER.jpg",
                                              "new\nline.jpg", "bytes-\xff\xfe.jpg"}));

    // Another run, one worker, mirrored: the same names below each folder.
    const fs::path mirrored = m_root / "mirrored";
    fs::create_directories(mirrored);
    ::chmod(mirrored.c_str(), 0777);
    const Outcome second = run({"-j1", "--mirror", in.string(), "-o", mirrored.string()}, options);
    EXPECT_EQ(second.status, 0) << second.err;
    const auto again = reportBySource(mirrored / "orvaline-report.jsonl");
    ASSERT_EQ(again.size(), records.size());
    EXPECT_EQ(again.at((in / "b" / "x.msg").string()).images.at(0).path, "in/b/x.jpg");
    EXPECT_EQ(again.at((in / "a" / "x.msg").string()).images.at(1).path, "in/a/x_2.jpg");
    EXPECT_TRUE(fs::exists(mirrored / "in" / "c" / "x_1.jpg"));
}

TEST_F(BatchRun, AMessageThatCrashesOrHangsItsWorkerCostsOnlyItself) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[0], in / "crash.msg");
    copyCorpus(kOnePage[1], in / "hang.msg");
    for (int i = 0; i < 4; ++i) {
        copyCorpus(kOnePage[2 + i], in / ("fine" + std::to_string(i) + ".msg"));
    }
    Options options;
    options.program = kFaulty;
    options.env = {{"ORVALINE_FAULTY_CRASH_ON", "crash.msg"},
                   {"ORVALINE_FAULTY_HANG_ON", "hang.msg"}};
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome =
        run({"-j", "2", "--timeout", "2", in.string(), "-o", (m_root / "out").string()}, options);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    ASSERT_EQ(records.size(), 6u);
    const Record& crashed = records.at((in / "crash.msg").string());
    EXPECT_EQ(crashed.status, Record::Status::Failed);
    EXPECT_NE(crashed.error.find("SIGABRT"), std::string::npos) << crashed.error;
    EXPECT_EQ(crashed.sha256, qtSha256(in / "crash.msg"));
    const Record& hung = records.at((in / "hang.msg").string());
    EXPECT_EQ(hung.status, Record::Status::Failed);
    EXPECT_NE(hung.error.find("longer than 2 s"), std::string::npos) << hung.error;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(records.at((in / ("fine" + std::to_string(i) + ".msg")).string()).status,
                  Record::Status::Converted);
    }
    expectRecordsTrue(records, m_root / "out");
    // The summary names both, with their reasons.
    EXPECT_NE(outcome.err.find("crash.msg: the conversion crashed"), std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("hang.msg: the conversion took longer"), std::string::npos);
}

TEST_F(BatchRun, InterruptedRunResumesToTheImagesAndReportOfOnePlainRun) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[0], in / "m1.msg");
    copyCorpus(kTwoPages, in / "m2.msg");
    copyCorpus(kOnePage[1], in / "m3.msg");  // the run is stopped on this one
    copyCorpus(kOnePage[2], in / "m4.msg");
    copyCorpus(kOnePage[3], in / "m5.msg");
    const fs::path out = m_root / "out";
    const fs::path report = out / "orvaline-report.jsonl";
    QProcess process;
    Options hang;
    hang.program = kFaulty;
    hang.env = {{"ORVALINE_FAULTY_HANG_ON", "m3.msg"}};
    setUp(process, {"-j1", in.string(), "-o", out.string()}, hang);
    process.start();
    ASSERT_TRUE(process.waitForStarted());
    for (int i = 0; i < 300 && lineCount(report) < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(lineCount(report), 2u);
    const auto stopped = std::chrono::steady_clock::now();
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(10));
    EXPECT_EQ(process.exitCode(), 130);
    const std::string afterStop = readFile(report);
    EXPECT_EQ(lineCount(report), 2u);  // the message in hand was given up
    for (const auto& entry : fs::directory_iterator(out)) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
    // Without --resume the report is not touched.
    const Outcome refused = run({in.string(), "-o", out.string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--resume"), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(report), afterStop);

    const Outcome resumed = run({"--resume", in.string(), "-o", out.string()});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.err.find("(2 kept from the report)"), std::string::npos) << resumed.err;
    const std::string final = readFile(report);
    EXPECT_EQ(final.substr(0, afterStop.size()), afterStop);
    const auto records = reportBySource(report);
    EXPECT_EQ(records.size(), 5u);
    expectRecordsTrue(records, out);

    const fs::path plain = m_root / "plain";
    ASSERT_EQ(run({in.string(), "-o", plain.string()}).status, 0);
    EXPECT_EQ(imagesUnder(out), imagesUnder(plain));

    // A source changed since: converted again, its image replaced.
    fs::remove(in / "m4.msg");
    copyCorpus(kOnePage[4], in / "m4.msg");
    const Outcome changed = run({"--resume", in.string(), "-o", out.string()});
    EXPECT_EQ(changed.status, 0) << changed.err;
    EXPECT_NE(changed.err.find("(4 kept from the report)"), std::string::npos) << changed.err;
    const auto redone = reportBySource(report);
    EXPECT_EQ(redone.size(), 5u);
    expectRecordsTrue(redone, out);
}

// The out-of-memory killer ends a run with SIGKILL: no handler runs, and the
// staging folder stays in the user's output folder. The next run there
// removes it (and says so), leaves other machines' and live runs' alone, and
// the resumed output equals one plain run's.
TEST_F(BatchRun, AKilledRunsStagingFolderGoesWithTheNextRun) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[0], in / "m1.msg");
    copyCorpus(kOnePage[1], in / "m2.msg");  // the run is killed on this one
    copyCorpus(kTwoPages, in / "m3.msg");
    const fs::path out = m_root / "out";
    const fs::path report = out / "orvaline-report.jsonl";
    QProcess process;
    Options hang;
    hang.program = kFaulty;
    hang.env = {{"ORVALINE_FAULTY_HANG_ON", "m2.msg"}};
    setUp(process, {"-j1", in.string(), "-o", out.string()}, hang);
    process.start();
    ASSERT_TRUE(process.waitForStarted());
    for (int i = 0; i < 300 && lineCount(report) < 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(lineCount(report), 1u);
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    ASSERT_TRUE(process.waitForFinished(10000));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(out)) {
        if (entry.path().filename().string().starts_with(".orvaline-staging.")) {
            left.push_back(entry.path().filename().string());
        }
    }
    ASSERT_EQ(left.size(), 1u);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string live = ".orvaline-staging." + std::string(host) + "." +
                             std::to_string(::getpid());  // this test is alive
    const std::string otherHost = ".orvaline-staging.another-machine.1";
    fs::create_directories(out / live);
    fs::create_directories(out / otherHost);

    const Outcome resumed = run({"--resume", in.string(), "-o", out.string()});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.err.find("removed \"" + (out / left[0]).string() + "\""), std::string::npos)
        << resumed.err;
    EXPECT_FALSE(fs::exists(out / left[0]));
    EXPECT_TRUE(fs::exists(out / live));
    EXPECT_TRUE(fs::exists(out / otherHost));
    fs::remove(out / live);
    fs::remove(out / otherHost);
    for (const auto& entry : fs::directory_iterator(out)) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
    const auto records = reportBySource(report);
    EXPECT_EQ(records.size(), 3u);
    expectRecordsTrue(records, out);
    const fs::path plain = m_root / "plain";
    ASSERT_EQ(run({in.string(), "-o", plain.string()}).status, 0);
    EXPECT_EQ(imagesUnder(out), imagesUnder(plain));
}

TEST_F(BatchRun, NeverWritesOverAFileItDidNotMake) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[0], in / "mine.msg");
    copyCorpus(kOnePage[1], in / "other.msg");
    const fs::path out = m_root / "out";
    fs::create_directories(out);
    std::ofstream(out / "mine.jpg") << "the user's own picture";
    const Outcome outcome = run({in.string(), "-o", out.string()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(readFile(out / "mine.jpg"), "the user's own picture");
    const auto records = reportBySource(out / "orvaline-report.jsonl");
    const Record& mine = records.at((in / "mine.msg").string());
    EXPECT_EQ(mine.status, Record::Status::Failed);
    EXPECT_NE(mine.error.find("exists already and is not this run's"), std::string::npos)
        << mine.error;
    EXPECT_EQ(records.at((in / "other.msg").string()).status, Record::Status::Converted);
}

TEST_F(BatchRun, TwoShardsThroughGnuParallelEqualOnePlainRun) {
    ASSERT_EQ(std::system("command -v parallel >/dev/null"), 0)
        << "GNU parallel is not installed (Debian: parallel; scripts/setup.sh installs it)";
    const fs::path in = m_root / "in";
    copyShardInputs(in);
    const fs::path plain = m_root / "plain";
    ASSERT_EQ(run({in.string(), "-o", plain.string()}).status, 0);
    const fs::path shared = m_root / "shared";
    const std::string command = "parallel --halt now,fail=1 '" + kBin +
                                "/orvaline-convert' -q -j1 --shard {}/2 '" + in.string() +
                                "' -o '" + shared.string() + "' ::: 0 1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    // Both shards had work, and none did another's.
    EXPECT_GT(lineCount(shared / "orvaline-report.0-of-2.jsonl"), 0u);
    EXPECT_GT(lineCount(shared / "orvaline-report.1-of-2.jsonl"), 0u);
    const Outcome merged = run({"--merge-reports", shared.string()});
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(imagesUnder(shared), imagesUnder(plain));
    // The lines without their milliseconds.
    auto strip = [](const std::map<std::string, Record>& records) {
        std::map<std::string, std::string> lines;
        for (const auto& [source, record] : records) {
            Record timeless = record;
            timeless.ms = 0;
            lines[source] = batch::toLine(timeless);
        }
        return lines;
    };
    EXPECT_EQ(strip(reportBySource(shared / "orvaline-report.jsonl")),
              strip(reportBySource(plain / "orvaline-report.jsonl")));

    // A shard that never ran, or ran over other inputs, is caught.
    const fs::path half = m_root / "half";
    ASSERT_EQ(run({"-q", "--shard", "0/2", in.string(), "-o", half.string()}).status, 0);
    Outcome missing = run({"--merge-reports", half.string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("shard 1 of 2 has no report"), std::string::npos) << missing.err;
    fs::remove(in / "two.msg");
    ASSERT_EQ(run({"-q", "--shard", "1/2", in.string(), "-o", half.string()}).status, 0);
    missing = run({"--merge-reports", half.string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("other inputs"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(half / "orvaline-report.jsonl"));
}

TEST_F(BatchRun, CommandLineHelpUsageErrorsAndAListOnStandardInput) {
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"-o, --output", "--mirror", "--report", "--no-header", "--dpi", "--paper", "--quality",
          "--timezone", "-j, --jobs", "--timeout", "--resume", "--shard", "--merge-reports",
          "-0, --null", "--quiet", "--version", "Example"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(run({"--version"}).status, 0);
    const std::string out = (m_root / "out").string();
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--frobnicate", "x", "-o", out},
          {(m_root / "missing").string(), "-o", out},
          {kCorpus + kOnePage[0]},
          {"--dpi", "9000", kCorpus + kOnePage[0], "-o", out},
          {"--shard", "2/2", kCorpus + kOnePage[0], "-o", out},
          {"-j", "0", kCorpus + kOnePage[0], "-o", out}}) {
        const Outcome outcome = run(wrong);
        EXPECT_EQ(outcome.status, 2) << wrong.front() << ": " << outcome.err;
        EXPECT_NE(outcome.err.find("Try 'orvaline-convert --help'"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(out));  // refused before anything was written

    const fs::path odd = m_root / "list" / "a\nb.msg";
    copyCorpus(kOnePage[0], odd);
    copyCorpus(kOnePage[1], m_root / "list" / "c.msg");
    Options list;
    list.input = odd.string() + '\0' + (m_root / "list" / "c.msg").string() + '\0';
    const Outcome listed = run({"-q", "-0", "-", "-o", out}, list);
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(listed.err.empty()) << listed.err;
    const auto records = reportBySource(fs::path(out) / "orvaline-report.jsonl");
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ(records.at(odd.string()).status, Record::Status::Converted);
    expectRecordsTrue(records, out);
}

}  // namespace
