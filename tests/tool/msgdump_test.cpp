// msgdump as scripts use it: its two fixed forms and the JSON summary, run as
// the built program on files written by the fixture and on the corpus.

#include <msg/outlook_storage.h>
#include <msg_builder/msg_builder.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using msg_builder::Bytes;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

fs::path tempPath(const std::string& name) {
    return fs::temp_directory_path() /
           ("orvaline-msgdump-" + std::to_string(::getpid()) + "-" + name);
}

ToolRun msgdump(const std::string& args) {
    const char* bin = std::getenv("ORVALINE_BIN");
    const fs::path errFile = tempPath("stderr");
    const std::string cmd =
        std::string(bin ? bin : ".") + "/msgdump " + args + " 2>'" + errFile.string() + "'";
    ToolRun r;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    std::size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream e(errFile);
    r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    fs::remove(errFile);
    return r;
}

fs::path writeFile(const Bytes& bytes, const std::string& name) {
    const fs::path p = tempPath(name);
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p;
}

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(MsgdumpTree, PrintsEveryElementDepthFirstWithTypeSizeAndPath) {
    msg_builder::MessageBuilder m;
    m.unicode(0x0037, "Hi").withoutNameid();
    m.addRecipient().int32(0x0C15, 1);
    const fs::path file = writeFile(m.build(), "tree.msg");
    const ToolRun r = msgdump("--tree '" + file.string() + "'");
    fs::remove(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "stream 4 __substg1.0_0037001F\n"
              "stream 32 __properties_version1.0\n"
              "storage 0 __recip_version1.0_#00000000\n"
              "stream 24 __recip_version1.0_#00000000/__properties_version1.0\n");
}

TEST(MsgdumpRtf, WritesTheBodyByteForByte) {
    const std::string rtf = "{\\rtf1\\ansi\\ansicpg1251 \xC0\xC1\xC2}\r\n";
    msg_builder::MessageBuilder m;
    m.rtfBody(rtf);
    const fs::path file = writeFile(m.build(), "rtf.msg");
    const fs::path out = tempPath("body.rtf");
    const ToolRun r = msgdump("--rtf '" + file.string() + "' '" + out.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(out), msg_builder::toBytes(rtf));
    fs::remove(file);
    fs::remove(out);
}

TEST(MsgdumpRtf, DamagedBodyExitsOneWithTheFailureText) {
    Bytes body = msg_builder::compressRTF("{\\rtf1 x}");
    body[0] ^= 1;
    msg_builder::MessageBuilder m;
    m.binary(0x1009, body);
    const fs::path file = writeFile(m.build(), "bad.msg");
    const fs::path out = tempPath("never.rtf");
    const ToolRun r = msgdump("--rtf '" + file.string() + "' '" + out.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "compressed-RTF data size mismatch\n");
    EXPECT_FALSE(fs::exists(out));
    fs::remove(file);
}

TEST(MsgdumpJson, ReportsEncapsulationRecipientsAttachmentsAndEmbeddedMessages) {
    msg_builder::MessageBuilder m;
    m.unicode(0x0037, "Quote \" and \\ and \n").rtfBody("{\\rtf1\\ansi\\fromhtml1 \\fbidis x}");
    m.addRecipient().unicode(0x3001, "Bea").int32(0x0C15, 2);
    m.addAttachment()
        .int32(0x3705, 1)
        .unicode(0x3707, "a.png")
        .unicode(0x3712, "cid1")
        .binary(0x3701, Bytes(10));
    m.addAttachment()
        .int32(0x3705, 5)
        .embedded()
        .unicode(0x0037, "inner")
        .rtfBody("{\\rtf1\\ansi\\fromtext x}");
    const fs::path file = writeFile(m.build(), "json.msg");
    const ToolRun r = msgdump("'" + file.string() + "'");
    fs::remove(file);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"subject\": \"Quote \\\" and \\\\ and \\n\""), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"rtf\": {\"encapsulation\": \"html\", \"length\": 32}"),
              std::string::npos);
    EXPECT_NE(r.out.find("\"rtf\": {\"encapsulation\": \"text\""), std::string::npos);
    EXPECT_NE(r.out.find("{\"name\": \"Bea\", \"email\": null, \"type\": \"CC\"}"),
              std::string::npos);
    EXPECT_NE(r.out.find("{\"filename\": \"a.png\", \"content_id\": \"cid1\", \"mime_tag\": null, "
                         "\"size\": 10}"),
              std::string::npos);
    EXPECT_NE(r.out.find("\"subject\": \"inner\""), std::string::npos);
}

TEST(MsgdumpCorpus, EveryRtfBodyDecompressesWithItsChecksumAndNamedEncapsulation) {
    const char* corpus = std::getenv("ORVALINE_CORPUS");
    const fs::path dir = fs::path(corpus ? corpus : "") / "msg";
    if (corpus == nullptr || !fs::is_directory(dir))
        FAIL() << "no corpus at " << dir;
    // INVENTORY.tsv: file, ..., rtf_comptype, rtf_rawsize, rtf_crc_ok, ...,
    // rtf_fromhtml1, rtf_fromtext by column name.
    std::ifstream inv(dir / "INVENTORY.tsv");
    std::string headerLine;
    std::getline(inv, headerLine);
    std::vector<std::string> header;
    {
        std::stringstream ss(headerLine);
        for (std::string col; std::getline(ss, col, '\t');)
            header.push_back(col);
    }
    auto col = [&](const std::string& name) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) -
                                        header.begin());
    };
    int checked = 0;
    std::set<std::string> listed;
    for (std::string line; std::getline(inv, line);) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string v; std::getline(ss, v, '\t');)
            f.push_back(v);
        f.resize(header.size());
        listed.insert(f[0]);
        if (f[col("rtf_comptype")] != "LZFu" || f[col("rtf_crc_ok")] != "yes")
            continue;
        SCOPED_TRACE(f[0]);
        const std::string expected = f[col("rtf_fromhtml1")] == "yes"  ? "html"
                                     : f[col("rtf_fromtext")] == "yes" ? "text"
                                                                       : "native";
        const fs::path out = tempPath("corpus.rtf");
        const ToolRun rtf = msgdump("--rtf '" + (dir / f[0]).string() + "' '" + out.string() + "'");
        if (rtf.status != 0) {
            // Loading fails on fuzzer-made files (an attachment without an
            // attach method); the body itself must still decompress.
            EXPECT_NE(f[0].find("clusterfuzz"), std::string::npos) << rtf.err;
            const auto file = cfb::CompoundFile::openFile((dir / f[0]).string());
            const Bytes body =
                tool::CLZF::decompressRTF(file.root()->readStream("__substg1.0_10090102"));
            EXPECT_EQ(std::to_string(body.size()), f[col("rtf_rawsize")]);
            ++checked;
            continue;
        }
        const Bytes body = readFile(out);
        fs::remove(out);
        EXPECT_EQ(std::to_string(body.size()), f[col("rtf_rawsize")]);
        EXPECT_EQ(std::string(body.begin(), body.begin() + 6), "{\\rtf1");
        const ToolRun json = msgdump("'" + (dir / f[0]).string() + "'");
        EXPECT_NE(json.out.find("\"encapsulation\": \"" + expected + "\""), std::string::npos);
        ++checked;
    }
    // The inventory names every message of the folder, and some have RTF.
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == ".msg") {
            EXPECT_TRUE(listed.contains(entry.path().filename().string())) << entry.path();
        }
    }
    EXPECT_GT(checked, 0);
}

}  // namespace
