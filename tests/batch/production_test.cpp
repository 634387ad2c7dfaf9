// orvaline-convert --bates: a production of the corpus read back by the
// tests' own reader (production_reader.h), which checks every rule of its
// images and load files; each document's fields against what the message
// itself holds (as msgdump reads it); shards that count first and then give
// the files of one plain run byte for byte; resume; the encodings; and the
// options refused before anything is written.
#include "batch_support.h"
#include "production_reader.h"

#include <common/bates.h>

#include <QCryptographicHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <set>

namespace {

using namespace batch_test;
using production_check::Encoding;

// Every file of a production (the report and page counts aside), relative
// to the output folder, with its bytes.
std::map<std::string, std::string> producedFiles(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).string();
        if (entry.is_regular_file() && name.front() != '.' && !name.starts_with("orvaline-")) {
            files[name] = readFile(entry.path());
        }
    }
    return files;
}

std::vector<std::string> with(std::vector<std::string> words,
                              std::initializer_list<std::string> more) {
    words.insert(words.end(), more);
    return words;
}

QJsonObject msgdump(const fs::path& message) {
    QProcess process;
    process.start(QString::fromStdString(kBin + "/msgdump"),
                  {QString::fromStdString(message.string())});
    EXPECT_TRUE(process.waitForFinished(60000));
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

std::string hashOf(const std::string& bytes, QCryptographicHash::Algorithm algorithm) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), algorithm)
        .toHex()
        .toStdString();
}

TEST(BatesNumbers, ArePaddedToTheirWidthAndFiledAThousandToAFolder) {
    const common::Bates bates{"ABC-", 1, 8};
    EXPECT_EQ(bates.number(123), "ABC-00000123");
    EXPECT_EQ(bates.path("IMAGES", 1, ".tif"), "IMAGES/0001/ABC-00000001.tif");
    EXPECT_EQ(bates.folder(1000), "0001");
    EXPECT_EQ(bates.folder(1001), "0002");
    const common::Bates late{"X", 5000, 3};
    EXPECT_EQ(late.number(5000), "X5000");  // wider than its digits: every digit kept
    EXPECT_EQ(late.folder(5999), "0001");
    EXPECT_EQ(late.folder(6000), "0002");
    EXPECT_EQ(common::largestBates(3), 999u);
}

// The corpus as one production: every rule of the load files holds, and each
// message's document says what the message holds.
TEST_F(BatchRun, ProductionOfTheCorpusKeepsEveryRuleAndEachMessagesOwnFields) {
    const fs::path out = m_root / "VOL001";
    const Outcome made = run({"-q", "--bates", "ABC", "--legend", "CONFIDENTIAL", "--natives",
                              "--custodian", "Records Office", kCorpus, "-o", out.string()});
    // Three corpus messages cannot be read at all; the rest are produced.
    EXPECT_EQ(made.status, 1) << made.err;
    const production_check::Production production =
        production_check::readProduction(out, Encoding::Utf8Bom);
    const std::vector<std::string> problems =
        production_check::checkProduction(out, production, "ABC", 8);
    for (const std::string& problem : problems) {
        ADD_FAILURE() << problem;
    }
    EXPECT_EQ(production.fields.size(), 25u);
    ASSERT_GT(production.documents.size(), 100u);

    std::size_t parents = 0;
    std::size_t slipSheets = 0;
    std::size_t images = 0;
    for (const auto& document : production.documents) {
        const auto& f = document.fields;
        images += document.imagePaths.size();
        EXPECT_EQ(f.at("CUSTODIAN"), "Records Office");
        std::string textName = f.at("TEXTPATH");
        std::replace(textName.begin(), textName.end(), '\\', '/');
        const std::string words = readFile(out / textName);
        if (words.find(tool::kSlipSheetText) != std::string::npos) {
            ++slipSheets;
            EXPECT_EQ(f.at("PGCOUNT"), "1") << f.at("BEGBATES");
            EXPECT_FALSE(f.at("NATIVEPATH").empty()) << f.at("BEGBATES");
        }
        if (!f.at("PARENT_BATES").empty()) {
            continue;
        }
        // A parent: the message file itself, as msgdump reads it.
        ++parents;
        const fs::path source = fs::path(kCorpus) / f.at("FILENAME");
        ASSERT_TRUE(fs::exists(source)) << f.at("FILENAME");
        const std::string bytes = readFile(source);
        EXPECT_EQ(f.at("FILEEXT"), "msg");
        EXPECT_EQ(f.at("FILESIZE"), std::to_string(bytes.size())) << source;
        EXPECT_EQ(f.at("SHA256"), hashOf(bytes, QCryptographicHash::Sha256)) << source;
        EXPECT_EQ(f.at("MD5HASH"), hashOf(bytes, QCryptographicHash::Md5)) << source;
        std::string native = f.at("NATIVEPATH");
        std::replace(native.begin(), native.end(), '\\', '/');
        EXPECT_EQ(readFile(out / native), bytes) << source;
        const QJsonObject dump = msgdump(source);
        // msgdump shows 8-bit text undecoded: subjects of ASCII only.
        QString subject = dump.value("subject").toString();
        subject.remove(QChar(0));
        const bool ascii = std::all_of(subject.begin(), subject.end(), [](QChar c) {
            return c.unicode() >= 0x20 && c.unicode() < 0x7F;
        });
        if (!subject.isEmpty() && ascii) {
            EXPECT_EQ(f.at("SUBJECT"), subject.trimmed().toStdString()) << source;
        }
        // A message without attachments is a family of one.
        if (dump.value("attachments").toArray().isEmpty() &&
            dump.value("messages").toArray().isEmpty()) {
            EXPECT_EQ(f.at("ATTACH_COUNT"), "0") << source;
            EXPECT_EQ(f.at("BEGATTACH"), f.at("BEGBATES")) << source;
            EXPECT_EQ(f.at("ENDATTACH"), f.at("ENDBATES")) << source;
        }
        if (!f.at("DATESENT").empty()) {
            EXPECT_EQ(f.at("TIMEZONE"), "UTC") << source;
        }
    }
    EXPECT_EQ(parents, 86u);
    EXPECT_GE(slipSheets, 1u);
    // Every page is stamped in a band of half an inch added below it.
    const QImage first(QString::fromStdString((out / "IMAGES/0001/ABC00000001.jpg").string()));
    const fs::path unstamped = m_root / "plain";
    ASSERT_EQ(run({"-q", kCorpus + production.documents[0].fields.at("FILENAME"), "-o",
                   unstamped.string()})
                  .status,
              0);
    QImage plain;
    for (const auto& entry : fs::directory_iterator(unstamped)) {
        if (entry.path().extension() == ".jpg") {
            plain.load(QString::fromStdString(entry.path().string()));
        }
    }
    ASSERT_FALSE(first.isNull());
    ASSERT_FALSE(plain.isNull());
    EXPECT_EQ(first.width(), plain.width());
    EXPECT_EQ(first.height(), plain.height() + 48);
    EXPECT_EQ(images, static_cast<std::size_t>(std::distance(
                          fs::directory_iterator(out / "IMAGES/0001"), fs::directory_iterator())));
}

// Internet mail and the messages of an mbox file are families as message
// files are: attached mail, parts without a name and empty parts among them.
TEST_F(BatchRun, ProductionOfInternetMailAndMboxMessagesKeepsEveryRule) {
    const fs::path out = m_root / "MAIL";
    const Outcome made =
        run({"-q", "--bates", "M", "--natives", "--mbox",
             std::string(ORVALINE_SOURCE_DIR) + "/tests/mime/data", "-o", out.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    const auto production = production_check::readProduction(out, Encoding::Utf8Bom);
    for (const std::string& problem : production_check::checkProduction(out, production, "M", 8)) {
        ADD_FAILURE() << problem;
    }
    std::size_t fromMailbox = 0;
    std::size_t attachedMail = 0;
    for (const auto& document : production.documents) {
        const auto& f = document.fields;
        if (f.at("FILENAME").find(".mbox#") != std::string::npos) {
            ++fromMailbox;
            EXPECT_EQ(f.at("FILEEXT"), "eml");
        }
        if (!f.at("PARENT_BATES").empty() && f.at("FILEEXT") == "eml") {
            ++attachedMail;
            EXPECT_FALSE(f.at("FROM").empty()) << f.at("BEGBATES");
        }
        if (f.at("FILESIZE") == "0") {
            EXPECT_EQ(f.at("MD5HASH"), "d41d8cd98f00b204e9800998ecf8427e") << f.at("BEGBATES");
        }
    }
    EXPECT_GE(fromMailbox, 1u);
    EXPECT_GE(attachedMail, 4u);
}

TEST_F(BatchRun, ShardsThatCountFirstGiveTheFilesOfOnePlainRunByteForByte) {
    const fs::path in = m_root / "in";
    copyShardInputs(in);
    copyCorpus("omp__attachment_with_a_bracket_in_the_name.msg", in / "slip.msg");
    copyCorpus("mprs__test_email.msg", in / "family.msg");
    const std::vector<std::string> production{"-q",  "--bates",   "PX-",      "--bates-start",
                                              "7",   "--format",  "tiff",     "--dpi",
                                              "100", "--natives", "--legend", "PRIVILEGED"};
    const fs::path plain = m_root / "PLAIN";
    ASSERT_EQ(run(with(production, {in.string(), "-o", plain.string()})).status, 0);
    const fs::path shared = m_root / "PLAIN-shards" / "PLAIN";
    // Drawing before every shard has counted is refused, and draws nothing.
    const Outcome early =
        run(with(production, {"--shard", "1/2", in.string(), "-o", shared.string()}));
    EXPECT_EQ(early.status, 2);
    EXPECT_NE(early.err.find("--count-pages"), std::string::npos) << early.err;
    EXPECT_FALSE(fs::exists(shared / "IMAGES"));
    for (const char* shard : {"0/2", "1/2"}) {
        const Outcome counted = run(with(
            production, {"--count-pages", "--shard", shard, in.string(), "-o", shared.string()}));
        ASSERT_EQ(counted.status, 0) << counted.err;
    }
    EXPECT_FALSE(fs::exists(shared / "IMAGES"));
    for (const char* shard : {"1/2", "0/2"}) {
        const Outcome drawn =
            run(with(production, {"--shard", shard, in.string(), "-o", shared.string()}));
        ASSERT_EQ(drawn.status, 0) << drawn.err;
    }
    EXPECT_FALSE(fs::exists(shared / "DATA"));  // the merge writes the load files
    const Outcome merged = run({"--merge-reports", shared.string()});
    ASSERT_EQ(merged.status, 0) << merged.err;
    const auto plainFiles = producedFiles(plain);
    const auto shardFiles = producedFiles(shared);
    std::set<std::string> plainNames;
    std::set<std::string> shardNames;
    for (const auto& [name, bytes] : plainFiles) {
        plainNames.insert(name);
    }
    for (const auto& [name, bytes] : shardFiles) {
        shardNames.insert(name);
        EXPECT_EQ(bytes, plainFiles.count(name) ? plainFiles.at(name) : "") << name;
    }
    EXPECT_EQ(shardNames, plainNames);
    EXPECT_TRUE(plainNames.contains("IMAGES/0001/PX-00000007.tif"));
    EXPECT_TRUE(plainNames.contains("DATA/PLAIN.opt"));
    const auto read = production_check::readProduction(plain, Encoding::Utf8Bom);
    EXPECT_TRUE(production_check::checkProduction(plain, read, "PX-", 8).empty());
    EXPECT_GT(read.documents.size(), 9u);

    // Resumed, a production keeps every message and writes the same files.
    const Outcome resumed = run(with(production, {"--resume", in.string(), "-o", plain.string()}));
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(producedFiles(plain), plainFiles);
    // Into a folder that holds another's file of the same name, nothing of
    // that message is written, and no file of the user's is replaced.
    const fs::path taken = m_root / "TAKEN";
    fs::create_directories(taken / "IMAGES" / "0001");
    std::ofstream(taken / "IMAGES" / "0001" / "PX-00000007.tif") << "mine";
    EXPECT_EQ(run(with(production, {in.string(), "-o", taken.string()})).status, 1);
    EXPECT_EQ(readFile(taken / "IMAGES" / "0001" / "PX-00000007.tif"), "mine");
}

TEST_F(BatchRun, TheDatFileIsUtf8WithAMarkOrWindows1252AsAsked) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[3], in / "one.msg");
    const fs::path utf8 = m_root / "U";
    ASSERT_EQ(
        run({"-q", "--bates", "U", "--custodian", "Zoë Łukasz", in.string(), "-o", utf8.string()})
            .status,
        0);
    const auto readUtf8 = production_check::readProduction(utf8, Encoding::Utf8Bom);
    ASSERT_EQ(readUtf8.documents.size(), 1u);
    EXPECT_EQ(readUtf8.documents[0].fields.at("CUSTODIAN"), "Zoë Łukasz");
    const fs::path cp1252 = m_root / "W";
    ASSERT_EQ(run({"-q", "--bates", "W", "--dat-encoding", "cp1252", "--custodian", "Zoë Łukasz",
                   in.string(), "-o", cp1252.string()})
                  .status,
              0);
    const auto readCp1252 = production_check::readProduction(cp1252, Encoding::Cp1252);
    ASSERT_EQ(readCp1252.documents.size(), 1u);
    EXPECT_EQ(readCp1252.documents[0].fields.at("CUSTODIAN"), "Zoë ?ukasz");
    EXPECT_EQ(readCp1252.documents[0].fields.at("SUBJECT"), "Test the content transformer");
}

TEST_F(BatchRun, ProductionOptionsAreRefusedBeforeAnythingIsWritten) {
    const fs::path out = m_root / "out";
    const std::string message = kCorpus + kOnePage[3];
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"--legend", "CONFIDENTIAL"},
             {"--natives"},
             {"--bates", "A/B"},
             {"--bates", "ABC", "--format", "pdf"},
             {"--bates", "ABC", "--format", "tiff", "--tiff-pages", "multi"},
             {"--bates", "ABC", "--bates-digits", "0"},
             {"--bates", "ABC", "--bates-digits", "3", "--bates-start", "1000"},
             {"--bates", "ABC", "--dat-encoding", "latin1"},
             {"--bates", "ABC", "--legend", "two\nlines"}}) {
        const Outcome refused = run(with(words, {message, "-o", out.string()}));
        EXPECT_EQ(refused.status, 2) << words.back();
        EXPECT_FALSE(fs::exists(out)) << words.back();
    }
    // Numbers that outgrow their width stop the run before a page is drawn.
    const fs::path in = m_root / "in";
    for (int i = 0; i < 3; ++i) {
        copyCorpus(kTwoPages, in / ("m" + std::to_string(i) + ".msg"));
    }
    const Outcome full = run({"-q", "--bates", "N", "--bates-digits", "1", "--bates-start", "5",
                              in.string(), "-o", out.string()});
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("--bates-digits"), std::string::npos) << full.err;
    EXPECT_FALSE(fs::exists(out / "IMAGES"));
}

}  // namespace
