#include "production_reader.h"

#include <digest/digest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

namespace production_check {
namespace {

namespace fs = std::filesystem;

// A load file larger than this is refused before it is read.
constexpr std::uintmax_t kMaxLoadFileBytes = std::uintmax_t{1} << 30;
constexpr std::size_t kOpticonFields = 7;
// A PageCount longer than this is not a number of pages.
constexpr std::size_t kMaxPageCountDigits = 9;
// Bates numbers are compared as numbers up to this many digits.
constexpr int kMaxDigits = 18;
constexpr std::uint64_t kImagesPerFolder = 1000;
// checkProduction() lists this many problems, then counts the rest.
constexpr std::size_t kMaxProblems = 200;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kThorn = "\xC3\xBE";       // þ, the quote
constexpr std::string_view kRegistered = "\xC2\xAE";  // ®, a line break
constexpr char kSeparator = '\x14';

// The .dat's fields, in their order.
const std::array<const char*, 25> kDatFields = {"BEGBATES",
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

// cp1252's characters for the bytes 0x80 to 0x9F; 0 where it has none.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The pieces joined: a message built in one allocation.
std::string cat(std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (const std::string_view part : pieces) {
        size += part.size();
    }
    std::string text;
    text.reserve(size);
    for (const std::string_view part : pieces) {
        text += part;
    }
    return text;
}

[[noreturn]] void fail(const fs::path& path, const std::string& what) {
    throw std::runtime_error(path.string() + ": " + what);
}

std::string hexByte(unsigned value) {
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    return std::string("0x") + kDigits[(value >> 4U) & 0xFU] + kDigits[value & 0xFU];
}

std::string codePoint(unsigned value) {
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string text = "U+";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += kDigits[(value >> static_cast<unsigned>(shift)) & 0xFU];
    }
    return text;
}

std::string readBytes(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        fail(path, "cannot be read: " + error.message());
    }
    if (size > kMaxLoadFileBytes) {
        fail(path, std::to_string(size) + " bytes, more than the " +
                       std::to_string(kMaxLoadFileBytes) + " a load file may have here");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail(path, std::string("cannot be opened: ") + std::strerror(errno));
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) {
        fail(path, "ended after " + std::to_string(in.gcount()) + " of its " +
                       std::to_string(size) + " bytes");
    }
    return bytes;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// The lines of `text`, each ended by CRLF; `unit` names them in errors
// ("line", "row").
std::vector<std::string_view> crlfLines(std::string_view text, const fs::path& path,
                                        const std::string& unit) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::string where = unit + " " + std::to_string(lines.size() + 1);
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            fail(path, where + ": does not end with CRLF");
        }
        if (text[end] == '\n') {
            fail(path, where + ": a line feed without a carriage return before it");
        }
        if (end + 1 >= text.size() || text[end + 1] != '\n') {
            fail(path, where + ": a carriage return without a line feed after it");
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The row (header = 1) that byte `offset` of the text is on.
std::size_t rowAt(std::string_view text, std::size_t offset) {
    std::size_t row = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++row;
        }
    }
    return row;
}

// The offset of the first byte that does not begin a well-formed UTF-8
// sequence (no overlong forms, surrogates or values past U+10FFFF), or npos.
std::size_t invalidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t value = 0;
        char32_t least = 0;
        if ((lead & 0xE0U) == 0xC0U) {
            length = 2;
            value = lead & 0x1FU;
            least = 0x80;
        } else if ((lead & 0xF0U) == 0xE0U) {
            length = 3;
            value = lead & 0x0FU;
            least = 0x800;
        } else if ((lead & 0xF8U) == 0xF0U) {
            length = 4;
            value = lead & 0x07U;
            least = 0x10000;
        } else {
            return i;
        }
        if (length > text.size() - i) {
            return i;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0U) != 0x80U) {
                return i;
            }
            value = (value << 6U) | (next & 0x3FU);
        }
        if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

void appendUtf8(std::string& out, char32_t value) {
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0U | (value >> 6U));
        out += static_cast<char>(0x80U | (value & 0x3FU));
    } else {
        out += static_cast<char>(0xE0U | (value >> 12U));
        out += static_cast<char>(0x80U | ((value >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (value & 0x3FU));
    }
}

std::string cp1252ToUtf8(std::string_view bytes, const fs::path& path) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else if (byte < 0xA0) {
            const char32_t value = kCp1252High.at(byte - 0x80U);
            if (value == 0) {
                fail(path, "row " + std::to_string(rowAt(bytes, i)) + ": byte " + hexByte(byte) +
                               " at offset " + std::to_string(i) + " is no cp1252 character");
            }
            appendUtf8(text, value);
        } else {
            appendUtf8(text, byte);
        }
    }
    return text;
}

// One þ-quoted field of a .dat row, unquoted and with its line breaks back.
std::string unquote(std::string_view field, const fs::path& path, std::size_t row,
                    std::size_t column) {
    const std::string where = "row " + std::to_string(row) + ", field " + std::to_string(column);
    if (!field.starts_with(kThorn)) {
        fail(path, where + ": does not begin with the quote \xC3\xBE");
    }
    if (field.size() < 2 * kThorn.size() || !field.ends_with(kThorn)) {
        fail(path, where + ": does not end with the quote \xC3\xBE");
    }
    const std::string_view inner = field.substr(kThorn.size(), field.size() - 2 * kThorn.size());
    std::string value;
    std::size_t i = 0;
    while (i < inner.size()) {
        const std::string_view rest = inner.substr(i);
        if (rest.starts_with(kThorn)) {
            if (!rest.substr(kThorn.size()).starts_with(kThorn)) {
                fail(path, where + ": a \xC3\xBE inside the value that is not doubled (offset " +
                               std::to_string(kThorn.size() + i) + " in the field)");
            }
            value += kThorn;
            i += 2 * kThorn.size();
            continue;
        }
        if (rest.starts_with(kRegistered)) {
            value += '\n';
            i += kRegistered.size();
            continue;
        }
        const auto byte = static_cast<unsigned char>(rest[0]);
        // A tab is text (subjects carry them); every other C0 or C1 control
        // and DEL is out of place in a load file's value.
        const bool c0 = (byte < 0x20 && byte != '\t') || byte == 0x7F;
        const bool c1 = byte == 0xC2 && rest.size() > 1 &&
                        static_cast<unsigned char>(rest[1]) >= 0x80 &&
                        static_cast<unsigned char>(rest[1]) <= 0x9F;
        if (c0 || c1) {
            const unsigned value32 = c0 ? byte : static_cast<unsigned char>(rest[1]);
            fail(path, where + ": the control character " + codePoint(value32));
        }
        value += rest[0];
        ++i;
    }
    return value;
}

std::vector<std::string> datRow(std::string_view line, const fs::path& path, std::size_t row,
                                std::optional<std::size_t> expected) {
    const std::vector<std::string_view> raw = split(line, kSeparator);
    if (expected && raw.size() != *expected) {
        fail(path, "row " + std::to_string(row) + ": " + std::to_string(raw.size()) +
                       " fields, the header has " + std::to_string(*expected));
    }
    std::vector<std::string> values;
    values.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        values.push_back(unquote(raw[i], path, row, i + 1));
    }
    return values;
}

std::optional<int> pageCount(std::string_view text, const fs::path& path,
                             const std::string& where) {
    if (text.empty()) {
        return std::nullopt;
    }
    if (text.size() > kMaxPageCountDigits) {
        fail(path, where + ": PageCount (field 7) \"" + std::string(text) + "\" is too long");
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            fail(path,
                 where + ": PageCount (field 7) \"" + std::string(text) + "\" is not a number");
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// The output folder as an absolute path without a separator at its end.
fs::path plainFolder(const fs::path& outDir) {
    fs::path folder = fs::absolute(outDir).lexically_normal();
    if (!folder.has_filename()) {
        folder = folder.parent_path();
    }
    return folder;
}

std::string volumeName(const fs::path& outDir) {
    return plainFolder(outDir).filename().string();
}

std::string slashed(std::string text) {
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

bool allDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

unsigned number(std::string_view text) {
    unsigned value = 0;
    for (const char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// MM/DD/YYYY, a real day.
bool isDate(std::string_view text) {
    if (text.size() != 10 || text[2] != '/' || text[5] != '/' || !allDigits(text.substr(0, 2)) ||
        !allDigits(text.substr(3, 2)) || !allDigits(text.substr(6, 4))) {
        return false;
    }
    const std::chrono::year_month_day day{
        std::chrono::year{static_cast<int>(number(text.substr(6)))},
        std::chrono::month{number(text.substr(0, 2))}, std::chrono::day{number(text.substr(3, 2))}};
    return day.ok();
}

// HH:MM:SS, 24 hours.
bool isTime(std::string_view text) {
    return text.size() == 8 && text[2] == ':' && text[5] == ':' && allDigits(text.substr(0, 2)) &&
           allDigits(text.substr(3, 2)) && allDigits(text.substr(6, 2)) &&
           number(text.substr(0, 2)) < 24 && number(text.substr(3, 2)) < 60 &&
           number(text.substr(6, 2)) < 60;
}

bool isLowerHex(std::string_view text, std::size_t length) {
    if (text.size() != length) {
        return false;
    }
    for (const char c : text) {
        if ((c < '0' || c > '9') && (c < 'a' || c > 'f')) {
            return false;
        }
    }
    return true;
}

// The pages of one Opticon document: lines [first, first + pages).
struct OpticonDocument {
    std::size_t first = 0;
    std::size_t pages = 0;
};

struct Family {
    std::size_t parent = 0;
    std::vector<std::size_t> members;  // document indices in row order, the parent first
};

class Checker {
public:
    Checker(const fs::path& outDir, const Production& production, std::string prefix, int digits)
        : m_out(plainFolder(outDir)),
          m_volume(volumeName(outDir)),
          m_production(production),
          m_prefix(std::move(prefix)),
          m_digits(digits) {}

    std::vector<std::string> run() {
        if (m_digits < 1 || m_digits > kMaxDigits) {
            problem("Bates numbers of " + std::to_string(m_digits) +
                    " digits cannot be checked (1 to " + std::to_string(kMaxDigits) + ")");
        }
        const fs::path opt = m_out / "DATA" / (m_volume + ".opt");
        try {
            m_lines = readOpticon(opt);
        } catch (const std::runtime_error& error) {
            problem(error.what());
        }
        checkFieldNames();
        checkKeys();
        checkImages();
        checkDocumentBreaks();
        checkRowsAgainstOpticon();
        checkFamilies();
        checkDocumentFiles();
        checkDates();
        if (m_more > 0) {
            m_problems.push_back("and " + std::to_string(m_more) + " problems more");
        }
        return std::move(m_problems);
    }

private:
    void problem(std::string text) {
        if (m_problems.size() < kMaxProblems) {
            m_problems.push_back(std::move(text));
        } else {
            ++m_more;
        }
    }

    const std::string& field(std::size_t document, const std::string& name) const {
        static const std::string kEmpty;
        const auto& fields = m_production.documents[document].fields;
        const auto found = fields.find(name);
        return found == fields.end() ? kEmpty : found->second;
    }

    std::string row(std::size_t document) const {
        return ".dat row " + std::to_string(document + 2) + " (" + field(document, "BEGBATES") +
               ")";
    }

    static std::string line(std::size_t index) {
        return "Opticon line " + std::to_string(index + 1);
    }

    // The number of a Bates key of the production's form.
    std::optional<std::uint64_t> numberOf(const std::string& key) const {
        if (m_digits < 1 || m_digits > kMaxDigits ||
            key.size() != m_prefix.size() + static_cast<std::size_t>(m_digits) ||
            !key.starts_with(m_prefix) ||
            !allDigits(std::string_view(key).substr(m_prefix.size()))) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (const char c : std::string_view(key).substr(m_prefix.size())) {
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return value;
    }

    // The IMAGES, TEXT and NATIVES folder of the key's number ("0001"), or
    // nothing when it is not a number of the production at or after its first.
    std::optional<std::string> folderOf(const std::string& key) const {
        const std::optional<std::uint64_t> value = numberOf(key);
        if (!value || !m_start || *value < *m_start) {
            return std::nullopt;
        }
        std::string name = std::to_string((*value - *m_start) / kImagesPerFolder + 1);
        if (name.size() < 4) {
            name.insert(0, 4 - name.size(), '0');
        }
        return name;
    }

    // A path a load file names (backslashes), as a path under the output
    // folder; nothing, with the problem, when it would leave it.
    std::optional<fs::path> local(const std::string& what, const std::string& written) {
        std::string plain = slashed(written);
        for (const std::string_view part : split(plain, '/')) {
            if (part.empty() || part == "." || part == ".." || part.find(':') != part.npos) {
                problem(cat({what, " ", written, " is not a path inside the output folder"}));
                return std::nullopt;
            }
        }
        return m_out / plain;
    }

    void checkFieldNames() {
        const std::vector<std::string>& fields = m_production.fields;
        for (std::size_t i = 0; i < kDatFields.size(); ++i) {
            if (i >= fields.size()) {
                problem("the .dat's header ends after " + std::to_string(fields.size()) +
                        " fields, before " + kDatFields.at(i));
                return;
            }
            if (fields[i] != kDatFields.at(i)) {
                problem("the .dat's field " + std::to_string(i + 1) + " is " + fields[i] +
                        ", not " + kDatFields.at(i));
                return;
            }
        }
        if (fields.size() > kDatFields.size()) {
            problem("the .dat has " + std::to_string(fields.size()) + " fields, not " +
                    std::to_string(kDatFields.size()));
        }
    }

    void checkKeys() {
        std::map<std::string, std::size_t> seen;
        std::optional<std::uint64_t> previous;
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            const OpticonLine& page = m_lines[i];
            if (page.volume != m_volume) {
                problem(line(i) + ": volume " + page.volume + ", not " + m_volume);
            }
            const auto [earlier, fresh] = seen.try_emplace(page.key, i);
            if (!fresh) {
                problem(line(i) + ": image key " + page.key + " repeats line " +
                        std::to_string(earlier->second + 1));
            }
            const std::optional<std::uint64_t> value = numberOf(page.key);
            if (!value) {
                problem(line(i) + ": image key " + page.key + " is not " + m_prefix + " and " +
                        std::to_string(m_digits) + " digits");
            } else if (i == 0) {
                m_start = value;
            } else if (previous && fresh && *value != *previous + 1) {
                problem(line(i) + ": image key " + page.key + " follows " + m_lines[i - 1].key +
                        (*value > *previous ? " (a gap)" : " (numbers go back)"));
            }
            previous = value;
        }
    }

    void checkImages() {
        std::map<std::string, std::vector<std::size_t>> listed;
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            const OpticonLine& page = m_lines[i];
            if (const std::optional<std::string> folder = folderOf(page.key)) {
                const std::string stem = "IMAGES\\" + *folder + "\\" + page.key + ".";
                if (page.path != stem + "tif" && page.path != stem + "jpg") {
                    problem(cat({line(i), ": image path ", page.path, ", not ", stem, "tif or ",
                                 stem, "jpg"}));
                }
            }
            const std::optional<fs::path> file = local(line(i) + ": image path", page.path);
            if (!file) {
                continue;
            }
            listed[file->lexically_relative(m_out).generic_string()].push_back(i);
            std::error_code error;
            if (!fs::is_regular_file(*file, error)) {
                problem(line(i) + ": image " + page.path +
                        (fs::exists(*file, error) ? " is not a file" : " does not exist"));
            }
        }
        for (const auto& [name, lines] : listed) {
            if (lines.size() > 1) {
                std::string where;
                for (const std::size_t i : lines) {
                    where += (where.empty() ? "" : ", ") + std::to_string(i + 1);
                }
                problem(cat({"image ", name, " is listed ", std::to_string(lines.size()),
                             " times (Opticon lines ", where, ")"}));
            }
        }
        const fs::path images = m_out / "IMAGES";
        std::error_code error;
        if (!fs::is_directory(images, error)) {
            if (!m_lines.empty()) {
                problem("the output folder has no IMAGES folder");
            }
            return;
        }
        std::map<std::string, std::size_t> perFolder;
        for (const auto& entry : fs::recursive_directory_iterator(images, error)) {
            if (entry.is_directory()) {
                continue;
            }
            const fs::path relative = entry.path().lexically_relative(m_out);
            ++perFolder[relative.parent_path().generic_string()];
            if (!listed.contains(relative.generic_string())) {
                problem(relative.generic_string() + " is not in the Opticon file");
            }
        }
        if (error) {
            problem("IMAGES cannot be listed: " + error.message());
        }
        for (const auto& [folder, count] : perFolder) {
            if (count > kImagesPerFolder) {
                problem(folder + " holds " + std::to_string(count) + " images, more than " +
                        std::to_string(kImagesPerFolder));
            }
        }
    }

    void checkDocumentBreaks() {
        std::uint64_t declared = 0;
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            const OpticonLine& page = m_lines[i];
            if (i == 0 && !page.docBreak) {
                problem(line(i) + ": the first page has no DocBreak");
            }
            if (page.docBreak) {
                m_documents.push_back({i, 0});
                if (!page.pageCount) {
                    problem(line(i) + ": a DocBreak without a PageCount");
                }
            } else if (page.pageCount) {
                problem(line(i) + ": a PageCount on a page that begins no document");
            }
            if (page.pageCount) {
                declared += static_cast<std::uint64_t>(*page.pageCount);
            }
            if (!m_documents.empty()) {
                ++m_documents.back().pages;
            }
        }
        for (const OpticonDocument& document : m_documents) {
            const OpticonLine& first = m_lines[document.first];
            if (first.pageCount && static_cast<std::size_t>(*first.pageCount) != document.pages) {
                problem(line(document.first) + ": the document at " + first.key +
                        " has PageCount " + std::to_string(*first.pageCount) + " but " +
                        std::to_string(document.pages) + " pages");
            }
        }
        if (declared != m_lines.size()) {
            problem("the Opticon PageCounts add up to " + std::to_string(declared) +
                    ", but it lists " + std::to_string(m_lines.size()) + " images");
        }
    }

    void checkRowsAgainstOpticon() {
        std::map<std::string, std::size_t> byFirstKey;
        for (std::size_t i = 0; i < m_documents.size(); ++i) {
            byFirstKey.try_emplace(m_lines[m_documents[i].first].key, i);
        }
        std::map<std::size_t, std::size_t> rowOf;  // Opticon document -> document
        std::optional<std::size_t> lastMatched;
        bool orderReported = false;
        for (std::size_t d = 0; d < m_production.documents.size(); ++d) {
            const std::string& begin = field(d, "BEGBATES");
            const auto found = byFirstKey.find(begin);
            if (found == byFirstKey.end()) {
                problem(row(d) + ": no Opticon document begins at BEGBATES " + begin);
                continue;
            }
            const std::size_t index = found->second;
            const auto [other, fresh] = rowOf.try_emplace(index, d);
            if (!fresh) {
                problem(row(d) + ": its BEGBATES is on " + row(other->second) + " too");
                continue;
            }
            if (lastMatched && index < *lastMatched && !orderReported) {
                problem(row(d) + " comes after the row of the later Opticon document at " +
                        m_lines[m_documents[*lastMatched].first].key +
                        ": the rows are not in the Opticon file's order");
                orderReported = true;
            }
            lastMatched = index;
            const OpticonDocument& document = m_documents[index];
            const std::string& last = m_lines[document.first + document.pages - 1].key;
            if (field(d, "ENDBATES") != last) {
                problem(row(d) + ": ENDBATES " + field(d, "ENDBATES") +
                        ", but its last Opticon page is " + last);
            }
            if (field(d, "PGCOUNT") != std::to_string(document.pages)) {
                problem(row(d) + ": PGCOUNT " + field(d, "PGCOUNT") + ", but it has " +
                        std::to_string(document.pages) + " Opticon pages");
            }
        }
        for (std::size_t i = 0; i < m_documents.size(); ++i) {
            if (!rowOf.contains(i)) {
                problem("the Opticon document at " + m_lines[m_documents[i].first].key +
                        " has no .dat row");
            }
        }
    }

    void checkFamilies() {
        std::vector<Family> families;
        std::map<std::string, std::size_t> familyOf;  // parent's BEGBATES -> family
        for (std::size_t d = 0; d < m_production.documents.size(); ++d) {
            const std::string& parent = field(d, "PARENT_BATES");
            const std::string& begin = field(d, "BEGBATES");
            if (parent.empty() || parent == begin) {
                if (!parent.empty()) {
                    problem(row(d) + ": PARENT_BATES names the document itself");
                }
                families.push_back({d, {d}});
                familyOf.try_emplace(begin, families.size() - 1);
                continue;
            }
            if (families.empty()) {
                problem(row(d) + ": an attachment (PARENT_BATES " + parent +
                        ") before any parent document");
                continue;
            }
            const auto named = familyOf.find(parent);
            if (named == familyOf.end()) {
                problem(row(d) + ": PARENT_BATES " + parent + ", not its family's first BEGBATES " +
                        field(families.back().parent, "BEGBATES"));
                families.back().members.push_back(d);
            } else {
                families[named->second].members.push_back(d);
            }
        }
        for (const Family& family : families) {
            const std::vector<std::size_t>& members = family.members;
            const std::string& head = field(family.parent, "BEGBATES");
            if (members.back() - members.front() + 1 != members.size()) {
                std::string rows;
                for (const std::size_t d : members) {
                    rows += (rows.empty() ? "" : ", ") + std::to_string(d + 2);
                }
                problem(cat({"the family of ", head,
                             " is split by other documents: its .dat rows are ", rows}));
            }
            const std::string& end = field(members.back(), "ENDBATES");
            for (const std::size_t d : members) {
                if (field(d, "BEGATTACH") != head) {
                    problem(row(d) + ": BEGATTACH " + field(d, "BEGATTACH") +
                            ", not its family's first page " + head);
                }
                if (field(d, "ENDATTACH") != end) {
                    problem(row(d) + ": ENDATTACH " + field(d, "ENDATTACH") +
                            ", not its family's last page " + end);
                }
                const std::string count =
                    d == family.parent ? std::to_string(members.size() - 1) : std::string("0");
                if (field(d, "ATTACH_COUNT") != count) {
                    problem(row(d) + ": ATTACH_COUNT " + field(d, "ATTACH_COUNT") + ", not " +
                            count);
                }
            }
        }
    }

    void checkDocumentFiles() {
        std::set<std::string> named;
        for (std::size_t d = 0; d < m_production.documents.size(); ++d) {
            const std::string& begin = field(d, "BEGBATES");
            const std::optional<std::string> folder = folderOf(begin);
            const std::string& text = field(d, "TEXTPATH");
            if (text.empty()) {
                problem(row(d) + ": no TEXTPATH");
            } else {
                if (folder) {
                    const std::string expected = "TEXT\\" + *folder + "\\" + begin + ".txt";
                    if (text != expected) {
                        problem(cat({row(d), ": TEXTPATH ", text, ", not ", expected}));
                    }
                }
                if (const std::optional<fs::path> file = local(row(d) + ": TEXTPATH", text)) {
                    named.insert(file->lexically_relative(m_out).generic_string());
                    std::error_code error;
                    if (!fs::is_regular_file(*file, error)) {
                        problem(row(d) + ": TEXTPATH " + text + " is no file");
                    }
                }
            }
            checkNative(d, folder, named);
        }
        for (const char* const top : {"TEXT", "NATIVES"}) {
            std::error_code error;
            if (!fs::is_directory(m_out / top, error)) {
                continue;
            }
            for (const auto& entry : fs::recursive_directory_iterator(m_out / top, error)) {
                const std::string name = entry.path().lexically_relative(m_out).generic_string();
                if (!entry.is_directory() && !named.contains(name)) {
                    problem(name + " is named by no .dat row");
                }
            }
        }
    }

    void checkNative(std::size_t d, const std::optional<std::string>& folder,
                     std::set<std::string>& named) {
        const std::string& native = field(d, "NATIVEPATH");
        const std::string& md5 = field(d, "MD5HASH");
        const std::string& sha256 = field(d, "SHA256");
        if (!md5.empty() && !isLowerHex(md5, 32)) {
            problem(row(d) + ": MD5HASH " + md5 + " is not 32 lower-case hex digits");
        }
        if (!sha256.empty() && !isLowerHex(sha256, 64)) {
            problem(row(d) + ": SHA256 " + sha256 + " is not 64 lower-case hex digits");
        }
        if (native.empty()) {
            return;
        }
        const std::string begin = field(d, "BEGBATES");
        if (folder) {
            const std::string stem = "NATIVES\\" + *folder + "\\" + begin + ".";
            if (!native.starts_with(stem) || native.size() == stem.size() ||
                native.find('\\', stem.size()) != std::string::npos) {
                problem(row(d) + ": NATIVEPATH " + native + ", not " + stem + "<extension>");
            }
        }
        const std::optional<fs::path> file = local(row(d) + ": NATIVEPATH", native);
        if (!file) {
            return;
        }
        named.insert(file->lexically_relative(m_out).generic_string());
        std::error_code error;
        if (!fs::is_regular_file(*file, error)) {
            problem(row(d) + ": NATIVEPATH " + native + " is no file");
            return;
        }
        const std::optional<digest::FileDigest> digests =
            digest::ofFile(file->string(), {digest::Algorithm::Md5});
        if (!digests) {
            problem(row(d) + ": NATIVEPATH " + native + " cannot be read: " + std::strerror(errno));
            return;
        }
        if (digests->md5 != md5) {
            problem(row(d) + ": MD5HASH " + md5 + ", but the native's MD5 is " + digests->md5);
        }
        if (digests->sha256 != sha256) {
            problem(row(d) + ": SHA256 " + sha256 + ", but the native's SHA-256 is " +
                    digests->sha256);
        }
        if (field(d, "FILESIZE") != std::to_string(digests->size)) {
            problem(row(d) + ": FILESIZE " + field(d, "FILESIZE") + ", but the native has " +
                    std::to_string(digests->size) + " bytes");
        }
    }

    void checkDates() {
        for (std::size_t d = 0; d < m_production.documents.size(); ++d) {
            const std::string& date = field(d, "DATESENT");
            const std::string& time = field(d, "TIMESENT");
            const std::string& zone = field(d, "TIMEZONE");
            if (!date.empty() && !isDate(date)) {
                problem(row(d) + ": DATESENT " + date + " is not a day as MM/DD/YYYY");
            }
            if (!time.empty() && !isTime(time)) {
                problem(row(d) + ": TIMESENT " + time + " is not a time as HH:MM:SS");
            }
            if (date.empty() != time.empty() || date.empty() != zone.empty()) {
                problem(cat({row(d), ": DATESENT \"", date, "\", TIMESENT \"", time,
                             "\" and TIMEZONE \"", zone, "\" are not all given or all empty"}));
            }
        }
    }

    fs::path m_out;
    std::string m_volume;
    const Production& m_production;
    std::string m_prefix;
    int m_digits;
    std::vector<OpticonLine> m_lines;
    std::vector<OpticonDocument> m_documents;
    std::optional<std::uint64_t> m_start;  // the first page's number
    std::vector<std::string> m_problems;
    std::size_t m_more = 0;
};

}  // namespace

std::vector<OpticonLine> readOpticon(const fs::path& path) {
    const std::string bytes = readBytes(path);
    std::vector<OpticonLine> lines;
    for (const std::string_view text : crlfLines(bytes, path, "line")) {
        const std::string where = "line " + std::to_string(lines.size() + 1);
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                fail(path, where + ": the control character " + hexByte(byte));
            }
        }
        const std::vector<std::string_view> fields = split(text, ',');
        if (fields.size() != kOpticonFields) {
            fail(path, where + ": " + std::to_string(fields.size()) + " fields, not " +
                           std::to_string(kOpticonFields));
        }
        OpticonLine line;
        line.key = fields[0];
        line.volume = fields[1];
        line.path = fields[2];
        if (line.key.empty()) {
            fail(path, where + ": no image key (field 1)");
        }
        if (line.volume.empty()) {
            fail(path, where + ": no volume (field 2)");
        }
        if (line.path.empty()) {
            fail(path, where + ": no image path (field 3)");
        }
        if (fields[3] == "Y") {
            line.docBreak = true;
        } else if (!fields[3].empty()) {
            fail(path,
                 where + ": DocBreak (field 4) \"" + std::string(fields[3]) + "\", not Y or empty");
        }
        line.folderBreak = fields[4];
        line.boxBreak = fields[5];
        line.pageCount = pageCount(fields[6], path, where);
        lines.push_back(std::move(line));
    }
    return lines;
}

Concordance readConcordance(const fs::path& path, Encoding encoding) {
    const std::string bytes = readBytes(path);
    std::string_view body = bytes;
    const bool bom = body.starts_with(kBom);
    std::string text;
    if (encoding == Encoding::Utf8Bom) {
        if (!bom) {
            fail(path, "does not begin with the UTF-8 byte-order mark");
        }
        body.remove_prefix(kBom.size());
        const std::size_t bad = invalidUtf8(body);
        if (bad != std::string_view::npos) {
            fail(path, "row " + std::to_string(rowAt(body, bad)) + ": the bytes at offset " +
                           std::to_string(bad + kBom.size()) + " are not UTF-8");
        }
        text = body;
    } else {
        if (bom) {
            fail(path, "begins with a UTF-8 byte-order mark, which a cp1252 file has not");
        }
        text = cp1252ToUtf8(body, path);
    }
    const std::vector<std::string_view> lines = crlfLines(text, path, "row");
    if (lines.empty()) {
        fail(path, "no header row");
    }
    Concordance result;
    result.fields = datRow(lines[0], path, 1, std::nullopt);
    std::map<std::string, std::size_t> names;
    for (std::size_t i = 0; i < result.fields.size(); ++i) {
        const std::string& name = result.fields[i];
        const std::string where = "row 1, field " + std::to_string(i + 1);
        if (name.empty()) {
            fail(path, where + ": an empty field name");
        }
        const auto [earlier, fresh] = names.try_emplace(name, i);
        if (!fresh) {
            fail(path, cat({where, ": the field name ", name, " is field ",
                            std::to_string(earlier->second + 1), " too"}));
        }
    }
    result.rows.reserve(lines.size() - 1);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        result.rows.push_back(datRow(lines[i], path, i + 1, result.fields.size()));
    }
    return result;
}

Production readProduction(const fs::path& outDir, Encoding encoding) {
    const std::string volume = volumeName(outDir);
    const fs::path data = outDir / "DATA";
    const std::vector<OpticonLine> lines = readOpticon(data / (volume + ".opt"));
    const fs::path datPath = data / (volume + ".dat");
    Concordance dat = readConcordance(datPath, encoding);
    if (std::find(dat.fields.begin(), dat.fields.end(), "BEGBATES") == dat.fields.end()) {
        fail(datPath, "no BEGBATES field");
    }
    // The images of each Opticon document by its first page's key; the
    // first document that begins at a key keeps it.
    std::map<std::string, std::vector<std::string>> images;
    std::vector<std::string>* current = nullptr;
    for (const OpticonLine& line : lines) {
        if (line.docBreak) {
            const auto [entry, fresh] = images.try_emplace(line.key);
            current = fresh ? &entry->second : nullptr;
        }
        if (current != nullptr) {
            current->push_back(slashed(line.path));
        }
    }
    Production production;
    production.fields = dat.fields;
    production.documents.reserve(dat.rows.size());
    for (std::vector<std::string>& values : dat.rows) {
        Document document;
        for (std::size_t i = 0; i < values.size(); ++i) {
            document.fields.emplace(dat.fields[i], std::move(values[i]));
        }
        const auto found = images.find(document.fields.at("BEGBATES"));
        if (found != images.end()) {
            document.imagePaths = found->second;
        }
        production.documents.push_back(std::move(document));
    }
    return production;
}

std::vector<std::string> checkProduction(const fs::path& outDir, const Production& production,
                                         const std::string& prefix, int digits) {
    return Checker(outDir, production, prefix, digits).run();
}

}  // namespace production_check
