// The tests' production reader and checker against productions written here
// by hand, file by file: a good one of two families passes, each kind of
// fault a writer could make is named, and the load files' form is held to
// strictly in both encodings.
#include "production_reader.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using production_check::checkProduction;
using production_check::Encoding;
using production_check::readConcordance;
using production_check::readOpticon;
using production_check::readProduction;

const std::vector<std::string> kFields = {"BEGBATES",
                                          "ENDBATES",
                                          "BEGATTACH",
                                          "ENDATTACH",
                                          "PARENT_BATES",
                                          "ATTACH_COUNT",
                                          "CUSTODIAN",
                                          "FROM",
                                          "TO",
                                          "CC",
                                          "BCC",
                                          "SUBJECT",
                                          "DATESENT",
                                          "TIMESENT",
                                          "TIMEZONE",
                                          "FILENAME",
                                          "FILEEXT",
                                          "FILESIZE",
                                          "PGCOUNT",
                                          "MD5HASH",
                                          "SHA256",
                                          "MESSAGEID",
                                          "ATTACHMENT_NAMES",
                                          "NATIVEPATH",
                                          "TEXTPATH"};

const std::string kThorn = "\xC3\xBE";
const std::string kBom = "\xEF\xBB\xBF";

// Known digests: of "abc", of the fox sentence, of "message digest", of no
// bytes.
const std::string kAbc = "abc";
const std::string kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";
const std::string kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kFox = "The quick brown fox jumps over the lazy dog";
const std::string kFoxMd5 = "9e107d9d372bb6826bd81d3542a419d6";
const std::string kFoxSha256 = "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592";
const std::string kDigest = "message digest";
const std::string kDigestMd5 = "f96b697d7cb7938d525a2f31aaf161d0";
const std::string kDigestSha256 =
    "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650";
const std::string kNoneMd5 = "d41d8cd98f00b204e9800998ecf8427e";
const std::string kNoneSha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

using Row = std::map<std::string, std::string>;
using Problems = std::vector<std::string>;

void writeFile(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string slashed(std::string text) {
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

// A value þ-quoted for a .dat row: þ doubled, each line break a ®.
std::string quoted(const std::string& value) {
    std::string text = kThorn;
    for (const char c : value) {
        if (c == '\n') {
            text += "\xC2\xAE";
        } else {
            text += c;
        }
        if (text.ends_with(kThorn) && text.size() > kThorn.size()) {
            text += kThorn;
        }
    }
    return text + kThorn;
}

std::string datRow(const std::vector<std::string>& values) {
    std::string text;
    for (const std::string& value : values) {
        text += (text.empty() ? "" : "\x14") + quoted(value);
    }
    return text + "\r\n";
}

// The UTF-8 text of this file's values as cp1252: they use no character past
// U+00FF.
std::string cp1252(const std::string& utf8) {
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte == 0xC2 || byte == 0xC3) {
            const auto next = static_cast<unsigned char>(utf8.at(i + 1));
            bytes += static_cast<char>(byte == 0xC2 ? next : next + 0x40);
            ++i;
        } else {
            EXPECT_LT(byte, 0x80) << "no cp1252 form here for byte " << unsigned{byte};
            bytes += static_cast<char>(byte);
        }
    }
    return bytes;
}

std::string listed(const Problems& problems) {
    std::string text;
    for (const std::string& problem : problems) {
        text += "\n  " + problem;
    }
    return text.empty() ? " (none)" : text;
}

// Whether one of the problems contains `part`.
::testing::AssertionResult names(const Problems& problems, const std::string& part) {
    for (const std::string& problem : problems) {
        if (problem.find(part) != std::string::npos) {
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure()
           << "no problem names \"" << part << "\"; the problems:" << listed(problems);
}

// The text of what `read` throws ("" when it throws nothing).
std::string thrown(const std::function<void()>& read) {
    try {
        read();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// A production in a fresh folder, volume PROD001, numbers ABC and 8 digits:
//   ABC00000001-02 budget.msg, a mail, with its attachment
//   ABC00000003    notes.txt;
//   ABC00000004    forward.eml, a mail, with its attachments
//   ABC00000005    an attached mail (no bytes of its own) and its own
//   ABC00000006-07 scan.pdf.
// Each test changes what it needs before write(), or the files after it.
class Production : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvaline-production-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_out = m_root / "PROD001";
        m_opt = {
            R"(ABC00000001,PROD001,IMAGES\0001\ABC00000001.tif,Y,,,2)",
            R"(ABC00000002,PROD001,IMAGES\0001\ABC00000002.tif,,,,)",
            R"(ABC00000003,PROD001,IMAGES\0001\ABC00000003.tif,Y,,,1)",
            R"(ABC00000004,PROD001,IMAGES\0001\ABC00000004.tif,Y,,,1)",
            R"(ABC00000005,PROD001,IMAGES\0001\ABC00000005.tif,Y,,,1)",
            R"(ABC00000006,PROD001,IMAGES\0001\ABC00000006.tif,Y,,,2)",
            R"(ABC00000007,PROD001,IMAGES\0001\ABC00000007.tif,,,,)",
        };
        for (int page = 1; page <= 7; ++page) {
            m_images.push_back("IMAGES/0001/ABC0000000" + std::to_string(page) + ".tif");
        }
        m_rows = {
            {{"BEGBATES", "ABC00000001"},
             {"ENDBATES", "ABC00000002"},
             {"BEGATTACH", "ABC00000001"},
             {"ENDATTACH", "ABC00000003"},
             {"ATTACH_COUNT", "1"},
             {"CUSTODIAN", "Hale"},
             {"FROM", "Ren\xC3\xA9 Morel <rene@example.com>"},
             {"TO", "Ada Hale <ada@example.com>; Ben Ito <ben@example.com>"},
             {"SUBJECT", "Budget\nthe second line, and a \xC3\xBE"},
             {"DATESENT", "03/14/2023"},
             {"TIMESENT", "09:26:53"},
             {"TIMEZONE", "Europe/Berlin"},
             {"FILENAME", "budget.msg"},
             {"FILEEXT", "msg"},
             {"FILESIZE", "3"},
             {"PGCOUNT", "2"},
             {"MD5HASH", kAbcMd5},
             {"SHA256", kAbcSha256},
             {"MESSAGEID", "<1@example.com>"},
             {"ATTACHMENT_NAMES", "notes.txt"},
             {"NATIVEPATH", R"(NATIVES\0001\ABC00000001.msg)"},
             {"TEXTPATH", R"(TEXT\0001\ABC00000001.txt)"}},
            {{"BEGBATES", "ABC00000003"},
             {"ENDBATES", "ABC00000003"},
             {"BEGATTACH", "ABC00000001"},
             {"ENDATTACH", "ABC00000003"},
             {"PARENT_BATES", "ABC00000001"},
             {"ATTACH_COUNT", "0"},
             {"CUSTODIAN", "Hale"},
             {"FILENAME", "notes.txt"},
             {"FILEEXT", "txt"},
             {"FILESIZE", "43"},
             {"PGCOUNT", "1"},
             {"MD5HASH", kFoxMd5},
             {"SHA256", kFoxSha256},
             {"NATIVEPATH", R"(NATIVES\0001\ABC00000003.txt)"},
             {"TEXTPATH", R"(TEXT\0001\ABC00000003.txt)"}},
            {{"BEGBATES", "ABC00000004"},
             {"ENDBATES", "ABC00000004"},
             {"BEGATTACH", "ABC00000004"},
             {"ENDATTACH", "ABC00000007"},
             {"ATTACH_COUNT", "2"},
             {"CUSTODIAN", "Hale"},
             {"FROM", "ada@example.com"},
             {"SUBJECT", "Fwd: scan"},
             {"DATESENT", "12/31/2022"},
             {"TIMESENT", "23:59:59"},
             {"TIMEZONE", "UTC"},
             {"FILENAME", "forward.eml"},
             {"FILEEXT", "eml"},
             {"FILESIZE", "14"},
             {"PGCOUNT", "1"},
             {"MD5HASH", kDigestMd5},
             {"SHA256", kDigestSha256},
             {"ATTACHMENT_NAMES", "scan; scan.pdf"},
             {"NATIVEPATH", R"(NATIVES\0001\ABC00000004.eml)"},
             {"TEXTPATH", R"(TEXT\0001\ABC00000004.txt)"}},
            {{"BEGBATES", "ABC00000005"},
             {"ENDBATES", "ABC00000005"},
             {"BEGATTACH", "ABC00000004"},
             {"ENDATTACH", "ABC00000007"},
             {"PARENT_BATES", "ABC00000004"},
             {"ATTACH_COUNT", "0"},
             {"CUSTODIAN", "Hale"},
             {"SUBJECT", "scan"},
             {"DATESENT", "12/30/2022"},
             {"TIMESENT", "00:00:00"},
             {"TIMEZONE", "UTC"},
             {"FILENAME", "scan"},
             {"PGCOUNT", "1"},
             {"TEXTPATH", R"(TEXT\0001\ABC00000005.txt)"}},
            {{"BEGBATES", "ABC00000006"},
             {"ENDBATES", "ABC00000007"},
             {"BEGATTACH", "ABC00000004"},
             {"ENDATTACH", "ABC00000007"},
             {"PARENT_BATES", "ABC00000004"},
             {"ATTACH_COUNT", "0"},
             {"CUSTODIAN", "Hale"},
             {"FILENAME", "scan.pdf"},
             {"FILEEXT", "pdf"},
             {"FILESIZE", "0"},
             {"PGCOUNT", "2"},
             {"MD5HASH", kNoneMd5},
             {"SHA256", kNoneSha256},
             {"NATIVEPATH", R"(NATIVES\0001\ABC00000006.pdf)"},
             {"TEXTPATH", R"(TEXT\0001\ABC00000006.txt)"}},
        };
        m_natives = {{"NATIVES/0001/ABC00000001.msg", kAbc},
                     {"NATIVES/0001/ABC00000003.txt", kFox},
                     {"NATIVES/0001/ABC00000004.eml", kDigest},
                     {"NATIVES/0001/ABC00000006.pdf", ""}};
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    fs::path opt() const { return m_out / "DATA" / "PROD001.opt"; }
    fs::path dat() const { return m_out / "DATA" / "PROD001.dat"; }

    std::string datText() const {
        std::string text = datRow(kFields);
        for (const Row& row : m_rows) {
            std::vector<std::string> values;
            for (const std::string& name : kFields) {
                const auto found = row.find(name);
                values.push_back(found == row.end() ? "" : found->second);
            }
            text += datRow(values);
        }
        return m_encoding == Encoding::Utf8Bom ? kBom + text : cp1252(text);
    }

    void write() {
        std::string lines;
        for (const std::string& line : m_opt) {
            lines += line + "\r\n";
        }
        writeFile(opt(), lines);
        writeFile(dat(), datText());
        for (const std::string& image : m_images) {
            writeFile(m_out / image, "page");
        }
        for (const Row& row : m_rows) {
            writeFile(m_out / slashed(row.at("TEXTPATH")), "words");
        }
        for (const auto& [path, bytes] : m_natives) {
            writeFile(m_out / path, bytes);
        }
    }

    Problems check() const {
        return checkProduction(m_out, readProduction(m_out, m_encoding), "ABC", 8);
    }

    // The .dat rewritten with the first `from` in it replaced by `to`.
    void editDat(const std::string& from, const std::string& to) const {
        std::string text = datText();
        const std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        writeFile(dat(), text.replace(at, from.size(), to));
    }

    fs::path m_root;
    fs::path m_out;
    Encoding m_encoding = Encoding::Utf8Bom;
    std::vector<std::string> m_opt;
    std::vector<std::string> m_images;
    std::vector<Row> m_rows;
    std::map<std::string, std::string> m_natives;
};

TEST_F(Production, OfTwoFamiliesPassesAndJoinsImagesToDocuments) {
    write();
    const production_check::Production production = readProduction(m_out, m_encoding);
    EXPECT_EQ(checkProduction(m_out, production, "ABC", 8), Problems{});
    ASSERT_EQ(production.documents.size(), 5U);
    EXPECT_EQ(production.fields, kFields);
    EXPECT_EQ(
        production.documents[0].imagePaths,
        (std::vector<std::string>{"IMAGES/0001/ABC00000001.tif", "IMAGES/0001/ABC00000002.tif"}));
    EXPECT_EQ(production.documents[3].imagePaths,
              std::vector<std::string>{"IMAGES/0001/ABC00000005.tif"});
    EXPECT_EQ(production.documents[4].imagePaths.size(), 2U);
    EXPECT_EQ(production.documents[0].fields.at("SUBJECT"),
              "Budget\nthe second line, and a \xC3\xBE");
    EXPECT_EQ(production.documents[3].fields.at("NATIVEPATH"), "");

    // Another form of number than the production's is named on every page.
    const Problems other = checkProduction(m_out, production, "ABC", 9);
    EXPECT_TRUE(names(other, "Opticon line 7: image key ABC00000007 is not ABC and 9 digits"));
}

TEST_F(Production, ReadFromCp1252PassesWithTheSameValues) {
    m_encoding = Encoding::Cp1252;
    write();
    EXPECT_EQ(readFile(dat()).find(kBom), std::string::npos);
    const production_check::Production production = readProduction(m_out, m_encoding);
    EXPECT_EQ(checkProduction(m_out, production, "ABC", 8), Problems{});
    EXPECT_EQ(production.documents[0].fields.at("FROM"), "Ren\xC3\xA9 Morel <rene@example.com>");
    EXPECT_EQ(production.documents[0].fields.at("SUBJECT"),
              "Budget\nthe second line, and a \xC3\xBE");
}

TEST_F(Production, AMissingImageTextOrNativeIsNamed) {
    write();
    fs::remove(m_out / "IMAGES/0001/ABC00000003.tif");
    fs::remove(m_out / "TEXT/0001/ABC00000004.txt");
    fs::remove(m_out / "NATIVES/0001/ABC00000006.pdf");
    EXPECT_EQ(check(),
              (Problems{
                  R"(Opticon line 3: image IMAGES\0001\ABC00000003.tif does not exist)",
                  R"(.dat row 4 (ABC00000004): TEXTPATH TEXT\0001\ABC00000004.txt is no file)",
                  R"(.dat row 6 (ABC00000006): NATIVEPATH NATIVES\0001\ABC00000006.pdf is no file)",
              }));
}

TEST_F(Production, AnImageListedTwiceIsNamed) {
    m_opt[2] = R"(ABC00000003,PROD001,IMAGES\0001\ABC00000002.tif,Y,,,1)";
    m_images.erase(m_images.begin() + 2);
    write();
    const Problems problems = check();
    EXPECT_TRUE(names(problems,
                      "image IMAGES/0001/ABC00000002.tif is listed 2 times (Opticon lines 2, 3)"));
    EXPECT_TRUE(names(problems, R"(Opticon line 3: image path IMAGES\0001\ABC00000002.tif, not)"));
    EXPECT_EQ(problems.size(), 2U) << listed(problems);
}

TEST_F(Production, AnImageTheOpticonFileDoesNotListIsNamed) {
    // A page beyond the last, and a page written to a second folder too.
    m_images.push_back("IMAGES/0001/ABC00000008.tif");
    m_images.push_back("IMAGES/0002/ABC00000001.tif");
    write();
    EXPECT_EQ(check(), (Problems{"IMAGES/0001/ABC00000008.tif is not in the Opticon file",
                                 "IMAGES/0002/ABC00000001.tif is not in the Opticon file"}));
}

TEST_F(Production, AGapOrARepeatInTheNumbersIsNamed) {
    // The last document's second page numbered one past where it belongs,
    // everything else agreeing with it.
    m_opt[6] = R"(ABC00000008,PROD001,IMAGES\0001\ABC00000008.tif,,,,)";
    m_images[6] = "IMAGES/0001/ABC00000008.tif";
    for (std::size_t d = 2; d < 5; ++d) {
        m_rows[d]["ENDATTACH"] = "ABC00000008";
    }
    m_rows[4]["ENDBATES"] = "ABC00000008";
    write();
    EXPECT_EQ(check(),
              Problems{"Opticon line 7: image key ABC00000008 follows ABC00000006 (a gap)"});

    // The same number on two pages.
    m_opt[6] = R"(ABC00000006,PROD001,IMAGES\0001\ABC00000006.tif,,,,)";
    m_rows[4]["ENDBATES"] = "ABC00000006";
    write();
    EXPECT_TRUE(names(check(), "Opticon line 7: image key ABC00000006 repeats line 6"));
}

TEST_F(Production, AFamilySplitByAnotherDocumentIsNamed) {
    // The attached mail ABC00000005 given to the first family, whose rows
    // agree with it, but placed after the second family's parent.
    for (std::size_t d = 0; d < 2; ++d) {
        m_rows[d]["ENDATTACH"] = "ABC00000005";
    }
    m_rows[0]["ATTACH_COUNT"] = "2";
    m_rows[2]["ATTACH_COUNT"] = "1";
    m_rows[3]["PARENT_BATES"] = "ABC00000001";
    m_rows[3]["BEGATTACH"] = "ABC00000001";
    m_rows[3]["ENDATTACH"] = "ABC00000005";
    write();
    EXPECT_EQ(
        check(),
        (Problems{
            "the family of ABC00000001 is split by other documents: its .dat rows are 2, 3, 5",
            "the family of ABC00000004 is split by other documents: its .dat rows are 4, 6"}));
}

TEST_F(Production, AWrongParentBatesIsNamed) {
    m_rows[1]["PARENT_BATES"] = "ABC00000002";
    m_rows[2]["PARENT_BATES"] = "ABC00000004";
    write();
    EXPECT_EQ(check(), (Problems{".dat row 3 (ABC00000003): PARENT_BATES ABC00000002, not its "
                                 "family's first BEGBATES ABC00000001",
                                 ".dat row 4 (ABC00000004): PARENT_BATES names the document "
                                 "itself"}));
}

TEST_F(Production, AWrongAttachCountIsNamed) {
    m_rows[2]["ATTACH_COUNT"] = "1";  // the parent: its family has three documents
    m_rows[4]["ATTACH_COUNT"] = "";   // an attachment: "0"
    write();
    EXPECT_EQ(check(), (Problems{".dat row 4 (ABC00000004): ATTACH_COUNT 1, not 2",
                                 ".dat row 6 (ABC00000006): ATTACH_COUNT , not 0"}));
}

TEST_F(Production, APageCountThatDoesNotAddUpIsNamed) {
    m_opt[0] = R"(ABC00000001,PROD001,IMAGES\0001\ABC00000001.tif,Y,,,3)";
    m_opt[6] = R"(ABC00000007,PROD001,IMAGES\0001\ABC00000007.tif,,,,1)";
    write();
    EXPECT_EQ(check(),
              (Problems{"Opticon line 7: a PageCount on a page that begins no document",
                        "Opticon line 1: the document at ABC00000001 has PageCount 3 but 2 pages",
                        "the Opticon PageCounts add up to 9, but it lists 7 images"}));

    // A document's first page without its DocBreak joins the one before:
    // the .dat's row for it then has no Opticon document.
    m_opt[0] = R"(ABC00000001,PROD001,IMAGES\0001\ABC00000001.tif,Y,,,2)";
    m_opt[6] = R"(ABC00000007,PROD001,IMAGES\0001\ABC00000007.tif,,,,)";
    m_opt[4] = R"(ABC00000005,PROD001,IMAGES\0001\ABC00000005.tif,,,,1)";
    write();
    const Problems problems = check();
    EXPECT_TRUE(names(problems, "Opticon line 5: a PageCount on a page that begins no document"));
    EXPECT_TRUE(names(problems, "the document at ABC00000004 has PageCount 1 but 2 pages"));
    EXPECT_TRUE(names(problems, ".dat row 5 (ABC00000005): no Opticon document begins at"));
}

TEST_F(Production, RowsOutOfTheOpticonFilesOrderAreNamed) {
    std::rotate(m_rows.begin(), m_rows.begin() + 2, m_rows.end());
    write();
    EXPECT_EQ(check(), Problems{".dat row 5 (ABC00000001) comes after the row of the later "
                                "Opticon document at ABC00000006: the rows are not in the "
                                "Opticon file's order"});
}

TEST_F(Production, ANativeWhoseDigestsDifferIsNamed) {
    write();
    writeFile(m_out / "NATIVES/0001/ABC00000003.txt",
              "The quick brown fox jumps over the lazy cat");
    const Problems problems = check();
    EXPECT_TRUE(names(problems, ".dat row 3 (ABC00000003): MD5HASH " + kFoxMd5 + ", but"));
    EXPECT_TRUE(names(problems, ".dat row 3 (ABC00000003): SHA256 " + kFoxSha256 + ", but"));
    EXPECT_EQ(problems.size(), 2U) << listed(problems);

    writeFile(m_out / "NATIVES/0001/ABC00000003.txt", kFox + ".");
    EXPECT_TRUE(names(check(), ".dat row 3 (ABC00000003): FILESIZE 43, but the native has 44"));
}

TEST_F(Production, DatesAndTimesOfAnotherFormAreNamed) {
    m_rows[0]["DATESENT"] = "2023-03-14";
    m_rows[2]["TIMESENT"] = "24:00:00";
    m_rows[3]["DATESENT"] = "02/29/2023";
    m_rows[4]["TIMEZONE"] = "UTC";
    write();
    const Problems problems = check();
    EXPECT_TRUE(names(problems, ".dat row 2 (ABC00000001): DATESENT 2023-03-14 is not a day"));
    EXPECT_TRUE(names(problems, ".dat row 4 (ABC00000004): TIMESENT 24:00:00 is not a time"));
    EXPECT_TRUE(names(problems, ".dat row 5 (ABC00000005): DATESENT 02/29/2023 is not a day"));
    EXPECT_TRUE(names(problems,
                      ".dat row 6 (ABC00000006): DATESENT \"\", TIMESENT \"\" and "
                      "TIMEZONE \"UTC\" are not all given or all empty"));
    EXPECT_EQ(problems.size(), 4U) << listed(problems);
}

TEST_F(Production, PathsOutsideTheProductionsFoldersAreNamed) {
    m_rows[0]["TEXTPATH"] = R"(TEXT\0001\..\..\ABC00000001.txt)";
    m_rows[1]["NATIVEPATH"] = R"(NATIVES/0001/ABC00000003.txt)";
    write();
    writeFile(m_out / "TEXT/0001/ABC00000001.txt", "words");
    const Problems problems = check();
    EXPECT_TRUE(
        names(problems, R"(TEXTPATH TEXT\0001\..\..\ABC00000001.txt is not a path inside)"));
    EXPECT_TRUE(names(problems,
                      "NATIVEPATH NATIVES/0001/ABC00000003.txt, not "
                      R"(NATIVES\0001\ABC00000003.<extension>)"));
    // The text where it belongs, which no row names now.
    EXPECT_TRUE(names(problems, "TEXT/0001/ABC00000001.txt is named by no .dat row"));
}

// The 1,001st image from the first number begins folder 0002, and a folder
// of more than 1,000 is named.
TEST_F(Production, AFolderHoldsAThousandImages) {
    const int first = 500;
    const int pages = 1001;
    const auto key = [](int n) {
        std::string digits = std::to_string(n);
        return "ABC" + std::string(8 - digits.size(), '0') + digits;
    };
    const auto opticonLine = [&](int n, const std::string& folder) {
        return key(n) + ",PROD001,IMAGES\\" + folder + "\\" + key(n) + ".jpg," +
               (n == first ? "Y,,," + std::to_string(pages) : ",,,");
    };
    m_opt.clear();
    m_images.clear();
    for (int n = first; n < first + pages; ++n) {
        const std::string folder = n < first + 1000 ? "0001" : "0002";
        m_opt.push_back(opticonLine(n, folder));
        m_images.push_back("IMAGES/" + folder + "/" + key(n) + ".jpg");
    }
    const std::string last = key(first + pages - 1);
    m_rows = {{{"BEGBATES", key(first)},
               {"ENDBATES", last},
               {"BEGATTACH", key(first)},
               {"ENDATTACH", last},
               {"ATTACH_COUNT", "0"},
               {"FILENAME", "long.msg"},
               {"FILEEXT", "msg"},
               {"PGCOUNT", std::to_string(pages)},
               {"TEXTPATH", "TEXT\\0001\\" + key(first) + ".txt"}}};
    m_natives.clear();
    write();
    EXPECT_EQ(check(), Problems{});

    fs::remove_all(m_out);
    m_opt.back() = opticonLine(first + pages - 1, "0001");
    m_images.back() = "IMAGES/0001/" + last + ".jpg";
    write();
    EXPECT_EQ(check(), (Problems{"Opticon line 1001: image path IMAGES\\0001\\" + last +
                                     ".jpg, not IMAGES\\0002\\" + last + ".tif or IMAGES\\0002\\" +
                                     last + ".jpg",
                                 "IMAGES/0001 holds 1001 images, more than 1000"}));
}

// What a load file must look like, fault by fault: each is refused with its
// line, row and field.
TEST_F(Production, ALoadFileOutOfFormIsRefusedWhereItIsWrong) {
    write();
    const auto readAll = [this] { readProduction(m_out, m_encoding); };
    const std::string good = readFile(opt());
    const auto optWith = [&](std::size_t line, const std::string& text) {
        std::string lines;
        for (std::size_t i = 0; i < m_opt.size(); ++i) {
            lines += (i == line ? text : m_opt[i]) + "\r\n";
        }
        writeFile(opt(), lines);
        return thrown(readAll);
    };
    EXPECT_NE(optWith(1, R"(ABC00000002,PROD001,IMAGES\0001\ABC00000002.tif,,,)")
                  .find("PROD001.opt: line 2: 6 fields, not 7"),
              std::string::npos);
    EXPECT_NE(optWith(2, R"(ABC00000003,PROD001,IMAGES\0001\ABC00000003.tif,N,,,1)")
                  .find("line 3: DocBreak (field 4) \"N\", not Y or empty"),
              std::string::npos);
    EXPECT_NE(optWith(3, R"(ABC00000004,PROD001,IMAGES\0001\ABC00000004.tif,Y,,,one)")
                  .find("line 4: PageCount (field 7) \"one\" is not a number"),
              std::string::npos);
    EXPECT_NE(optWith(4, R"(ABC00000005,PROD001,,Y,,,1)").find("line 5: no image path (field 3)"),
              std::string::npos);
    writeFile(opt(), good.substr(0, good.size() - 2));
    EXPECT_NE(thrown(readAll).find("line 7: does not end with CRLF"), std::string::npos);
    std::string lf = good;
    lf.erase(lf.find("\r\n"), 1);
    writeFile(opt(), lf);
    EXPECT_NE(thrown(readAll).find("line 1: a line feed without a carriage return before it"),
              std::string::npos);
    writeFile(opt(), good);

    const std::string sep = "\x14";
    const auto datWith = [&](const std::string& from, const std::string& to) {
        editDat(from, to);
        return thrown(readAll);
    };
    // A row one field short: ABC00000005's TEXTPATH gone.
    EXPECT_NE(datWith(sep + quoted(R"(TEXT\0001\ABC00000005.txt)"), "")
                  .find("PROD001.dat: row 5: 24 fields, the header has 25"),
              std::string::npos);
    EXPECT_NE(datWith(quoted("budget.msg"), "budget.msg" + kThorn)
                  .find("row 2, field 16: does not begin with the quote \xC3\xBE"),
              std::string::npos);
    EXPECT_NE(datWith(quoted("txt"), kThorn + "txt")
                  .find("row 3, field 17: does not end with the quote \xC3\xBE"),
              std::string::npos);
    EXPECT_NE(datWith(quoted("Fwd: scan"), kThorn + "Fwd: " + kThorn + " scan" + kThorn)
                  .find("row 4, field 12: a \xC3\xBE inside the value that is not doubled"),
              std::string::npos);
    EXPECT_NE(datWith(quoted("Hale"), quoted("Ha\x01le"))
                  .find("row 2, field 7: the control character U+0001"),
              std::string::npos);
    EXPECT_NE(datWith(quoted("scan.pdf"), quoted("scan\rpdf"))
                  .find("row 6: a carriage return without a line feed after it"),
              std::string::npos);
    EXPECT_NE(datWith(quoted("TEXTPATH"), quoted("BEGBATES"))
                  .find("row 1, field 25: the field name BEGBATES is field 1 too"),
              std::string::npos);
}

TEST(Concordance, BothEncodingsReadBackAccentsLineBreaksAndThorns) {
    char pattern[] = "/tmp/orvaline-concordance-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    const fs::path utf8 = root / "utf8.dat";
    const fs::path ansi = root / "cp1252.dat";
    // "Café €", a line break, "two þ": the euro sign is one of the bytes
    // 0x80 to 0x9F, where cp1252 is not Latin-1.
    writeFile(utf8,
              "\xEF\xBB\xBF\xC3\xBE"
              "BEGBATES\xC3\xBE\x14\xC3\xBESUBJECT\xC3\xBE\r\n"
              "\xC3\xBE"
              "ABC00000001\xC3\xBE\x14\xC3\xBE"
              "Caf\xC3\xA9 \xE2\x82\xAC\xC2\xAEtwo \xC3\xBE\xC3\xBE\xC3\xBE\r\n");
    writeFile(ansi,
              "\xFE"
              "BEGBATES\xFE\x14\xFESUBJECT\xFE\r\n"
              "\xFE"
              "ABC00000001\xFE\x14\xFE"
              "Caf\xE9 \x80\xAEtwo \xFE\xFE\xFE\r\n");
    const std::string value = "Caf\xC3\xA9 \xE2\x82\xAC\ntwo \xC3\xBE";
    for (const auto& [path, encoding] :
         {std::pair{utf8, Encoding::Utf8Bom}, std::pair{ansi, Encoding::Cp1252}}) {
        const production_check::Concordance dat = readConcordance(path, encoding);
        EXPECT_EQ(dat.fields, (std::vector<std::string>{"BEGBATES", "SUBJECT"})) << path;
        ASSERT_EQ(dat.rows.size(), 1U) << path;
        EXPECT_EQ(dat.rows[0], (std::vector<std::string>{"ABC00000001", value})) << path;
    }

    // Each file read as the other encoding, bytes that are not UTF-8 after
    // the mark, and a byte cp1252 leaves undefined.
    EXPECT_NE(thrown([&] {
                  readConcordance(utf8, Encoding::Cp1252);
              }).find("begins with a UTF-8 byte-order mark, which a cp1252 file has not"),
              std::string::npos);
    EXPECT_NE(thrown([&] {
                  readConcordance(ansi, Encoding::Utf8Bom);
              }).find("does not begin with the UTF-8 byte-order mark"),
              std::string::npos);
    writeFile(utf8, "\xEF\xBB\xBF\xC3\xBEX\xC3\xBE\r\n\xC3\xBE\xE9\xC3\xBE\r\n");
    EXPECT_NE(thrown([&] {
                  readConcordance(utf8, Encoding::Utf8Bom);
              }).find("row 2: the bytes at offset 12 are not UTF-8"),
              std::string::npos);
    writeFile(utf8, "\xEF\xBB\xBF\xC3\xBEX\xC3\xBE\r\n\xC3\xBE\xC0\xAF\xC3\xBE\r\n");
    EXPECT_NE(thrown([&] {
                  readConcordance(utf8, Encoding::Utf8Bom);
              }).find("row 2: the bytes at offset 12 are not UTF-8"),
              std::string::npos);
    writeFile(ansi, "\xFEX\xFE\r\n\xFE\x81\xFE\r\n");
    EXPECT_NE(thrown([&] {
                  readConcordance(ansi, Encoding::Cp1252);
              }).find("row 2: byte 0x81 at offset 6 is no cp1252 character"),
              std::string::npos);
    writeFile(ansi, "");
    EXPECT_NE(thrown([&] { readConcordance(ansi, Encoding::Cp1252); }).find("no header row"),
              std::string::npos);
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

TEST(Opticon, ReadsEachFieldOfALine) {
    char pattern[] = "/tmp/orvaline-opticon-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    writeFile(root / "v.opt",
              "ABC00000001,VOL,IMAGES\\0001\\ABC00000001.tif,Y,F,B,12\r\n"
              "ABC00000002,VOL,IMAGES\\0001\\ABC00000002.tif,,,,\r\n");
    const std::vector<production_check::OpticonLine> lines = readOpticon(root / "v.opt");
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].key, "ABC00000001");
    EXPECT_EQ(lines[0].volume, "VOL");
    EXPECT_EQ(lines[0].path, "IMAGES\\0001\\ABC00000001.tif");
    EXPECT_TRUE(lines[0].docBreak);
    EXPECT_EQ(lines[0].folderBreak, "F");
    EXPECT_EQ(lines[0].boxBreak, "B");
    EXPECT_EQ(lines[0].pageCount, 12);
    EXPECT_FALSE(lines[1].docBreak);
    EXPECT_EQ(lines[1].pageCount, std::nullopt);
    EXPECT_NE(thrown([&] { readOpticon(root / "absent.opt"); }).find("absent.opt: cannot be read"),
              std::string::npos);
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

}  // namespace
