// orvaline-convert in the page formats: one PDF per message, TIFF pages one
// per file or one file per message, the text file beside them; each named,
// placed, reported, resumed and sharded as JPEG pages are. What is inside a
// PDF or TIFF is the converter's tests' matter; here the files are checked
// with the tools people check them with (qpdf, pdfinfo, Qt's TIFF reader).
#include "batch_support.h"

#include <QImage>
#include <QImageReader>
#include <QProcess>

#include <set>

namespace {

using namespace batch_test;

// The output folder's files (hidden entries aside), relative to it.
std::set<std::string> filesUnder(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).string();
        if (entry.is_regular_file() && name.front() != '.') {
            names.insert(name);
        }
    }
    return names;
}

struct Tool {
    int status = -1;
    std::string out;
};

Tool runTool(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    Tool tool;
    if (!process.waitForStarted() || !process.waitForFinished(120000)) {
        return tool;
    }
    tool.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    tool.out = process.readAllStandardOutput().toStdString();
    return tool;
}

// pdfinfo's page count, or -1.
int pdfPages(const fs::path& path) {
    const Tool info = runTool("pdfinfo", {QString::fromStdString(path.string())});
    const auto at = info.out.find("Pages:");
    if (info.status != 0 || at == std::string::npos) {
        return -1;
    }
    return std::stoi(info.out.substr(at + 6));
}

// A PDF file as readers take it: its header, its end mark, qpdf's check, and
// the pages `expected`.
void expectPdf(const fs::path& path, int expected) {
    const std::string bytes = readFile(path);
    ASSERT_GT(bytes.size(), 64u) << path;
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-") << path;
    EXPECT_NE(bytes.find("%%EOF", bytes.size() - 32), std::string::npos) << path;
    const Tool check = runTool("qpdf", {"--check", QString::fromStdString(path.string())});
    EXPECT_EQ(check.status, 0) << path << ": " << check.out;
    EXPECT_EQ(pdfPages(path), expected) << path;
}

bool isTiff(const fs::path& path) {
    const std::string head = readFile(path).substr(0, 4);
    return head == std::string("II*\0", 4) || head == std::string("MM\0*", 4);
}

// The record's line as the report holds it.
std::string lineOf(const fs::path& report, const std::string& source) {
    std::istringstream lines(readFile(report));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("{\"source\":\"" + source + "\"")) {
            return line;
        }
    }
    return {};
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

const char* const kKnownMail =
    "From: Ann Example <ann@example.com>\nTo: bob@example.com\nSubject: Orchard survey\n"
    "Date: Tue, 3 Mar 2020 10:00:00 +0100\nMIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=utf-8\n\nThe pear trees bloom in April.\n";

TEST_F(BatchRun, PdfWithTextIsOnePdfAndOneTextFilePerMessageBothInTheReport) {
    // Refused before anything is read or written, and listed in the help.
    const Outcome help = run({"--help"});
    for (const char* option : {"--format", "--tiff-pages", "--colour", "--text"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--format", "gif"},
                                                  {"--tiff-pages", "some"},
                                                  {"--colour=grey"},
                                                  {"--text=yes"}}) {
        std::vector<std::string> args = wrong;
        args.insert(args.end(), {kCorpus + kOnePage[0], "-o", (m_root / "refused").string()});
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 2) << wrong.front() << ": " << outcome.err;
    }
    EXPECT_FALSE(fs::exists(m_root / "refused"));

    const fs::path in = m_root / "in";
    copyCorpus(kTwoPages, in / "a" / "x.msg");
    copyCorpus(kOnePage[0], in / "b" / "x.msg");
    writeText(in / "known.eml", kKnownMail);
    const fs::path out = m_root / "out";
    const Outcome outcome =
        run({"-q", "-j2", "--format", "pdf", "--text", in.string(), "-o", out.string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(filesUnder(out),
              (std::set<std::string>{"orvaline-report.jsonl", "x.pdf", "x.txt", "x (2).pdf",
                                     "x (2).txt", "known.pdf", "known.txt"}));
    const fs::path report = out / "orvaline-report.jsonl";
    const auto records = reportBySource(report);
    ASSERT_EQ(records.size(), 3u);
    const std::map<std::string, std::pair<std::string, int>> expected = {
        {(in / "a" / "x.msg").string(), {"x", 2}},
        {(in / "b" / "x.msg").string(), {"x (2)", 1}},
        {(in / "known.eml").string(), {"known", 1}}};
    for (const auto& [source, nameAndPages] : expected) {
        const auto& [stem, pages] = nameAndPages;
        const Record& record = records.at(source);
        ASSERT_EQ(record.status, Record::Status::Converted) << source << ": " << record.error;
        EXPECT_EQ(record.sha256, qtSha256(source));
        ASSERT_EQ(record.images.size(), 1u) << source;
        EXPECT_EQ(record.images[0].path, stem + ".pdf");
        EXPECT_EQ(record.images[0].pages, pages) << source;
        EXPECT_EQ(record.pageCount(), pages) << source;
        EXPECT_EQ(record.images[0].sha256, qtSha256(out / (stem + ".pdf")));
        expectPdf(out / (stem + ".pdf"), pages);
        ASSERT_TRUE(record.text.has_value()) << source;
        EXPECT_EQ(record.text->path, stem + ".txt");
        EXPECT_EQ(record.text->sha256, qtSha256(out / (stem + ".txt")));
        EXPECT_FALSE(readFile(out / (stem + ".txt")).empty()) << source;
    }
    // The words of the header and the body, as laid out.
    const std::string known = readFile(out / "known.txt");
    EXPECT_NE(known.find("Orchard survey"), std::string::npos) << known;
    EXPECT_NE(known.find("The pear trees bloom in April."), std::string::npos) << known;
    // The line as other programs read it: the page count on the file that
    // holds the pages, the text file after the images.
    const std::string line = lineOf(report, (in / "a" / "x.msg").string());
    EXPECT_NE(line.find(R"("status":"converted","pages":2,"images":[{"path":"x.pdf","sha256":")" +
                        records.at((in / "a" / "x.msg").string()).images[0].sha256 +
                        R"(","pages":2}],"text":{"path":"x.txt","sha256":")"),
              std::string::npos)
        << line;

    // A text file of the user's where this message's would go: nothing of
    // the message is placed, the user's file stays as it was.
    const fs::path taken = m_root / "taken";
    writeText(taken / "known.txt", "the user's own notes");
    const Outcome refused =
        run({"-q", "--format=pdf", "--text", in.string(), "-o", taken.string()});
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_EQ(readFile(taken / "known.txt"), "the user's own notes");
    EXPECT_FALSE(fs::exists(taken / "known.pdf"));
    const auto takenRecords = reportBySource(taken / "orvaline-report.jsonl");
    const Record& failed = takenRecords.at((in / "known.eml").string());
    EXPECT_EQ(failed.status, Record::Status::Failed);
    EXPECT_NE(failed.error.find("text file \"" + (taken / "known.txt").string() +
                                "\" exists already and is not this run's"),
              std::string::npos)
        << failed.error;
    EXPECT_FALSE(failed.text.has_value());
    EXPECT_EQ(takenRecords.at((in / "a" / "x.msg").string()).status, Record::Status::Converted);
}

TEST_F(BatchRun, TiffPagesAreOneFilePerPageOrOneFilePerMessage) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[1], in / "one.msg");
    copyCorpus(kTwoPages, in / "two.msg");

    // One file per page, named as JPEG pages are, at 300 dpi unless --dpi
    // says otherwise; --colour never makes every page bilevel.
    const fs::path single = m_root / "single";
    Outcome outcome =
        run({"-q", "--format", "tiff", "--colour", "never", in.string(), "-o", single.string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(filesUnder(single), (std::set<std::string>{"orvaline-report.jsonl", "one.tif",
                                                         "two_1.tif", "two_2.tif"}));
    auto records = reportBySource(single / "orvaline-report.jsonl");
    ASSERT_EQ(records.size(), 2u);
    const Record& two = records.at((in / "two.msg").string());
    ASSERT_EQ(two.images.size(), 2u);
    EXPECT_EQ(two.pageCount(), 2);
    for (std::size_t i = 0; i < two.images.size(); ++i) {
        const auto& image = two.images[i];
        EXPECT_EQ(image.path, "two_" + std::to_string(i + 1) + ".tif");
        EXPECT_FALSE(image.pages.has_value()) << "a page of its own says no page count";
        EXPECT_EQ(image.sha256, qtSha256(single / image.path));
    }
    EXPECT_EQ(records.at((in / "one.msg").string()).images.at(0).path, "one.tif");
    for (const std::string name : {"one.tif", "two_1.tif", "two_2.tif"}) {
        EXPECT_TRUE(isTiff(single / name)) << name;
        const QImage page(QString::fromStdString((single / name).string()), "TIFF");
        ASSERT_FALSE(page.isNull()) << name;
        EXPECT_EQ(page.depth(), 1) << name;
        EXPECT_NEAR(page.dotsPerMeterX(), 300 / 0.0254, 2) << name;
    }
    EXPECT_EQ(lineOf(single / "orvaline-report.jsonl", (in / "two.msg").string()).find("\"text\""),
              std::string::npos);

    // One file per message holding every page, the count in the report;
    // --dpi and --colour always reach the pages too.
    const fs::path multi = m_root / "multi";
    outcome = run({"-q", "--format", "tiff", "--tiff-pages", "multi", "--colour", "always", "--dpi",
                   "100", in.string(), "-o", multi.string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(filesUnder(multi),
              (std::set<std::string>{"orvaline-report.jsonl", "one.tif", "two.tif"}));
    records = reportBySource(multi / "orvaline-report.jsonl");
    for (const auto& [name, pages] : std::map<std::string, int>{{"one", 1}, {"two", 2}}) {
        const Record& record = records.at((in / (name + ".msg")).string());
        ASSERT_EQ(record.images.size(), 1u) << name;
        EXPECT_EQ(record.images[0].path, name + ".tif");
        EXPECT_EQ(record.images[0].pages, pages) << name;
        EXPECT_EQ(record.pageCount(), pages) << name;
        const fs::path path = multi / (name + ".tif");
        EXPECT_EQ(record.images[0].sha256, qtSha256(path));
        EXPECT_TRUE(isTiff(path));
        QImageReader reader(QString::fromStdString(path.string()), "TIFF");
        EXPECT_EQ(reader.imageCount(), pages) << name;
        const QImage first = reader.read();
        ASSERT_FALSE(first.isNull()) << name;
        EXPECT_GT(first.depth(), 1) << name;
        EXPECT_NEAR(first.dotsPerMeterX(), 100 / 0.0254, 2) << name;
    }
    EXPECT_NE(lineOf(multi / "orvaline-report.jsonl", (in / "two.msg").string())
                  .find(R"("pages":2,"images":[{"path":"two.tif")"),
              std::string::npos);
}

TEST_F(BatchRun, ResumeKeepsOnlyWhatWasMadeInTheFormatAskedForNow) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[2], in / "one.msg");
    copyCorpus(kTwoPages, in / "two.msg");
    const fs::path out = m_root / "out";
    const fs::path report = out / "orvaline-report.jsonl";
    const auto resume = [&](std::vector<std::string> options) {
        options.insert(options.begin(), "--resume");
        options.insert(options.end(), {in.string(), "-o", out.string()});
        const Outcome outcome = run(options);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return outcome.err;
    };
    const auto kept = [](std::size_t count) {
        return "(" + std::to_string(count) + " kept from the report)";
    };
    ASSERT_EQ(run({"-q", in.string(), "-o", out.string()}).status, 0);
    EXPECT_EQ(lineOf(report, (in / "two.msg").string()).find("\"text\""), std::string::npos);

    // Earlier JPEGs are no PDFs: converted again, and this run's JPEGs,
    // unchanged since, make way.
    std::string err = resume({"--format", "pdf"});
    EXPECT_NE(err.find(kept(0)), std::string::npos) << err;
    EXPECT_EQ(filesUnder(out),
              (std::set<std::string>{"orvaline-report.jsonl", "one.pdf", "two.pdf"}));
    // A record without its text file does not stand when one is asked for.
    err = resume({"--format", "pdf", "--text"});
    EXPECT_NE(err.find(kept(0)), std::string::npos) << err;
    const std::set<std::string> withText{"orvaline-report.jsonl", "one.pdf", "one.txt", "two.pdf",
                                         "two.txt"};
    EXPECT_EQ(filesUnder(out), withText);
    const std::string whole = readFile(report);
    err = resume({"--format", "pdf", "--text"});
    EXPECT_NE(err.find(kept(2)), std::string::npos) << err;
    EXPECT_EQ(readFile(report), whole);
    // A text file gone: that message again, its PDF replaced, its text back.
    fs::remove(out / "one.txt");
    err = resume({"--format", "pdf", "--text"});
    EXPECT_NE(err.find(kept(1)), std::string::npos) << err;
    EXPECT_EQ(filesUnder(out), withText);
    auto records = reportBySource(report);
    const Record& one = records.at((in / "one.msg").string());
    ASSERT_TRUE(one.text.has_value());
    EXPECT_EQ(one.text->sha256, qtSha256(out / "one.txt"));
    EXPECT_EQ(one.images.at(0).sha256, qtSha256(out / "one.pdf"));
    // Without --text a record with its text file there still stands.
    err = resume({"--format", "pdf"});
    EXPECT_NE(err.find(kept(2)), std::string::npos) << err;

    // TIFF pages and a multi-page TIFF share "one.tif": each is converted
    // again for the other.
    fs::remove_all(out);
    ASSERT_EQ(run({"-q", "--format", "tiff", in.string(), "-o", out.string()}).status, 0);
    err = resume({"--format", "tiff", "--tiff-pages", "multi"});
    EXPECT_NE(err.find(kept(0)), std::string::npos) << err;
    EXPECT_EQ(filesUnder(out),
              (std::set<std::string>{"orvaline-report.jsonl", "one.tif", "two.tif"}));
    err = resume({"--format", "tiff", "--tiff-pages", "multi"});
    EXPECT_NE(err.find(kept(2)), std::string::npos) << err;
    err = resume({"--format", "tiff"});
    EXPECT_NE(err.find(kept(0)), std::string::npos) << err;
    EXPECT_EQ(filesUnder(out), (std::set<std::string>{"orvaline-report.jsonl", "one.tif",
                                                      "two_1.tif", "two_2.tif"}));
    records = reportBySource(report);
    for (const auto& [source, record] : records) {
        for (const auto& image : record.images) {
            EXPECT_EQ(image.sha256, qtSha256(out / image.path)) << image.path;
            EXPECT_FALSE(image.pages.has_value()) << image.path;
        }
    }
}

TEST_F(BatchRun, PdfShardsMergeToTheFilesAndReportOfOnePlainRun) {
    const fs::path in = m_root / "in";
    copyShardInputs(in);
    const std::vector<std::string> pdf{"--format", "pdf", "--text"};
    const auto convert = [&](const fs::path& out, std::vector<std::string> options) {
        options.insert(options.begin(), "-q");
        options.insert(options.end(), {in.string(), "-o", out.string()});
        return run(options).status;
    };
    const fs::path plain = m_root / "plain";
    ASSERT_EQ(convert(plain, pdf), 0);
    const fs::path shared = m_root / "shared";
    for (const char* shard : {"0/2", "1/2"}) {
        std::vector<std::string> options = pdf;
        options.insert(options.end(), {"-j1", "--shard", shard});
        ASSERT_EQ(convert(shared, options), 0) << shard;
    }
    EXPECT_GT(lineCount(shared / "orvaline-report.0-of-2.jsonl"), 0u);
    EXPECT_GT(lineCount(shared / "orvaline-report.1-of-2.jsonl"), 0u);
    const Outcome merged = run({"--merge-reports", shared.string()});
    EXPECT_EQ(merged.status, 0) << merged.err;

    // The same names; the same words; PDFs of the same pages (a PDF holds
    // the time it was written, so its bytes differ from run to run).
    std::set<std::string> names;
    for (const std::string& name : filesUnder(shared)) {
        if (!name.starts_with("orvaline-report.")) {
            names.insert(name);
        }
    }
    std::set<std::string> plainNames = filesUnder(plain);
    plainNames.erase("orvaline-report.jsonl");
    EXPECT_EQ(names, plainNames);
    EXPECT_EQ(names.size(), 14u);
    for (const std::string& name : names) {
        if (name.ends_with(".txt")) {
            EXPECT_EQ(readFile(shared / name), readFile(plain / name)) << name;
        } else {
            EXPECT_EQ(pdfPages(shared / name), pdfPages(plain / name)) << name;
        }
    }
    // The merged report keeps every record's text file and page counts.
    auto timeless = [](const fs::path& dir) {
        std::map<std::string, std::string> lines;
        for (auto [source, record] : reportBySource(dir / "orvaline-report.jsonl")) {
            EXPECT_EQ(record.images.at(0).sha256, qtSha256(dir / record.images.at(0).path));
            EXPECT_TRUE(record.text.has_value()) << source;
            record.ms = 0;
            record.images.at(0).sha256.clear();
            lines[source] = batch::toLine(record);
        }
        return lines;
    };
    EXPECT_EQ(timeless(shared), timeless(plain));

    // A shard given another format, or without the text file, was given
    // other work: the merge refuses.
    for (const std::vector<std::string>& other :
         {std::vector<std::string>{"--format", "tiff"}, {"--format", "pdf"}}) {
        const fs::path half = m_root / ("half-" + other.back());
        std::vector<std::string> first = pdf;
        first.insert(first.end(), {"--shard", "0/2"});
        ASSERT_EQ(convert(half, first), 0);
        std::vector<std::string> second = other;
        second.insert(second.end(), {"--shard", "1/2"});
        ASSERT_EQ(convert(half, second), 0);
        const Outcome refused = run({"--merge-reports", half.string()});
        EXPECT_EQ(refused.status, 1) << other.back();
        EXPECT_NE(refused.err.find("other inputs"), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(half / "orvaline-report.jsonl"));
    }
}

}  // namespace
