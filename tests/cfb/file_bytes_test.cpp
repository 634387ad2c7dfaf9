// Reading a file whole (common/file_bytes.h), as the compound-file reader and
// the message model do: the cap at its edge, files that cannot be opened or
// read with the system's reason, and an endless device stopped at the cap.

#include <cfb/compound_file.h>
#include <common/file_bytes.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const common::FileReadError& e) {
        return e.what();
    }
    return "(no error)";
}

class FileBytes : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("orvaline-file-bytes-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string write(const std::string& name, const Bytes& bytes) {
        const fs::path p = m_dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }

    fs::path m_dir;
};

TEST_F(FileBytes, ReadsAFileOfExactlyTheCapAndRefusesOneByteMore) {
    Bytes content(70000);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 7);
    const std::string path = write("f", content);
    EXPECT_EQ(common::readFileBytes(path, content.size()), content);
    EXPECT_EQ(common::readFileBytes(path, SIZE_MAX), content);
    EXPECT_EQ(errorOf([&] { common::readFileBytes(path, content.size() - 1); }),
              "\"" + path + "\" is larger than the 69999 bytes that are read");
    const std::string empty = write("empty", {});
    EXPECT_EQ(common::readFileBytes(empty, 0), Bytes());
}

TEST_F(FileBytes, FailuresNameTheFileAndTheSystemsReason) {
    const std::string missing = (m_dir / "missing.msg").string();
    EXPECT_EQ(errorOf([&] { common::readFileBytes(missing, 100); }),
              "cannot open \"" + missing + "\": No such file or directory");
    EXPECT_EQ(errorOf([&] { common::readFileBytes(m_dir.string(), 100); }),
              "cannot read \"" + m_dir.string() + "\": Is a directory");
    const std::string locked = write("locked", {1, 2, 3});
    fs::permissions(locked, fs::perms::none);
    if (::geteuid() != 0) {
        EXPECT_EQ(errorOf([&] { common::readFileBytes(locked, 100); }),
                  "cannot open \"" + locked + "\": Permission denied");
    }
}

TEST_F(FileBytes, AnEndlessDeviceIsRefusedAtTheCap) {
    EXPECT_EQ(errorOf([] { common::readFileBytes("/dev/zero", 1000000); }),
              "\"/dev/zero\" is larger than the 1000000 bytes that are read");
}

TEST_F(FileBytes, TheReadersPassTheTextOn) {
    const std::string missing = (m_dir / "missing.msg").string();
    EXPECT_EQ(errorOf([&] { cfb::CompoundFile::openFile(missing); }),
              "cannot open \"" + missing + "\": No such file or directory");
    cfb::MemoryCompoundFile f;
    f.root().writeStream("s", {1, 2, 3});
    const std::string path = write("f.cfb", f.save());
    EXPECT_EQ(cfb::CompoundFile::openFile(path).root()->readStream("s"), (Bytes{1, 2, 3}));
}

}  // namespace
