#pragma once
// What the batch converter's tests share: running the program as a real
// process, reading its report back, and a fresh folder per test.
#include <batch/report.h>

#include <QCryptographicHash>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace batch_test {

namespace fs = std::filesystem;
using batch::Record;

const std::string kBin = ORVALINE_BIN_DIR;
// orvaline-convert with workers that crash or hang on the messages named.
const std::string kFaulty = kBin + "/orvaline-convert-faulty";
const std::string kCorpus = std::string(ORVALINE_CORPUS_DIR) + "/msg/";

// Corpus messages: one page each, and one of two pages.
const char* const kOnePage[] = {"eom__rtf_unsent.msg",  "eom__plain_unsent.msg",
                                "eom__html_unsent.msg", "poi__quick.msg",
                                "omp__simple_sent.msg", "poi__simple_test_msg.msg"};
const char* const kTwoPages = "poi__53784_fails.msg";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

struct Options {
    std::map<std::string, std::string> env;
    std::string input;
    std::string program = kBin + "/orvaline-convert";
    std::vector<std::string> prefix;  // e.g. setpriv ... before the program
};

inline QStringList qargs(const std::vector<std::string>& words) {
    QStringList list;
    for (const std::string& word : words) {
        list << QString::fromLocal8Bit(word.data(), static_cast<qsizetype>(word.size()));
    }
    return list;
}

inline void setUp(QProcess& process, const std::vector<std::string>& args, const Options& options) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : options.env) {
        env.insert(QString::fromStdString(name), QString::fromStdString(value));
    }
    process.setProcessEnvironment(env);
    std::vector<std::string> words = options.prefix;
    words.push_back(options.program);
    words.insert(words.end(), args.begin(), args.end());
    process.setProgram(QString::fromStdString(words.front()));
    process.setArguments(qargs({words.begin() + 1, words.end()}));
}

inline Outcome run(const std::vector<std::string>& args, const Options& options = {}) {
    QProcess process;
    setUp(process, args, options);
    process.start();
    EXPECT_TRUE(process.waitForStarted());
    process.write(options.input.data(), static_cast<qint64>(options.input.size()));
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(120000));
    Outcome outcome;
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput().toStdString();
    outcome.err = process.readAllStandardError().toStdString();
    return outcome;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Qt's digest of a file's bytes (read by path bytes: names need not be UTF-8).
inline std::string qtSha256(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "unreadable";
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    const std::string data = bytes.str();
    return QCryptographicHash::hash(
               QByteArrayView(data.data(), static_cast<qsizetype>(data.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

inline void copyCorpus(const char* name, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(kCorpus + name, to);
}

// The inputs the shard tests split: two sources of one name in different
// folders, four more, and a message of two pages.
inline void copyShardInputs(const fs::path& in) {
    copyCorpus(kOnePage[0], in / "even" / "same.msg");
    copyCorpus(kOnePage[1], in / "odd" / "same.msg");
    for (int i = 2; i < 6; ++i) {
        copyCorpus(kOnePage[i], in / "more" / ("m" + std::to_string(i) + ".msg"));
    }
    copyCorpus(kTwoPages, in / "two.msg");
}

inline std::map<std::string, Record> reportBySource(const fs::path& report) {
    std::map<std::string, Record> records;
    std::ifstream file(report, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        const auto record = batch::fromLine(line);
        EXPECT_TRUE(record.has_value()) << line;
        if (record) {
            EXPECT_TRUE(records.emplace(record->source, *record).second)
                << "reported twice: " << record->source;
        }
    }
    return records;
}

inline std::size_t lineCount(const fs::path& path) {
    const std::string text = readFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Every image file under `dir` (report and hidden entries aside), by its
// path relative to `dir`, with its bytes.
inline std::map<std::string, std::string> imagesUnder(const fs::path& dir) {
    std::map<std::string, std::string> images;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file() && entry.path().extension() == ".jpg") {
            images[fs::relative(entry.path(), dir).string()] = readFile(entry.path());
        }
    }
    return images;
}

// Each converted record's source and images hash as they say, and each image
// decodes as a JPEG picture.
inline void expectRecordsTrue(const std::map<std::string, Record>& records,
                              const fs::path& outDir) {
    for (const auto& [source, record] : records) {
        if (record.status != Record::Status::Converted) {
            continue;
        }
        EXPECT_EQ(record.sha256, qtSha256(source)) << source;
        ASSERT_TRUE(record.size.has_value());
        EXPECT_EQ(*record.size, fs::file_size(source));
        ASSERT_FALSE(record.images.empty()) << source;
        for (const auto& image : record.images) {
            const fs::path path = outDir / image.path;
            EXPECT_EQ(image.sha256, qtSha256(path)) << path;
            const std::string bytes = readFile(path);
            const QImage decoded = QImage::fromData(
                QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), "JPEG");
            EXPECT_FALSE(decoded.isNull()) << path;
            EXPECT_GT(decoded.width(), 100) << path;
        }
    }
}

class Folder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvaline-batch-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        ::chmod(m_root.c_str(), 0755);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(
                 m_root, fs::directory_options::skip_permission_denied, ignored)) {
            ::chmod(entry.path().c_str(), 0755);
        }
        fs::remove_all(m_root, ignored);
    }
    fs::path m_root;
};

using BatchRun = Folder;

}  // namespace batch_test
