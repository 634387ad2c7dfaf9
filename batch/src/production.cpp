#include "production.h"

#include "json.h"
#include "output_files.h"

#include <common/file_writing.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <stdexcept>

namespace batch {

namespace {

namespace fs = std::filesystem;

enum Field : std::size_t {
    BegBates,
    EndBates,
    BegAttach,
    EndAttach,
    ParentBates,
    AttachCount,
    Custodian,
    From,
    To,
    Cc,
    Bcc,
    Subject,
    DateSent,
    TimeSent,
    TimeZone,
    FileName,
    FileExt,
    FileSize,
    PgCount,
    Md5Hash,
    Sha256,
    MessageId,
    AttachmentNames,
    NativePath,
    TextPath,
};
static_assert(TextPath + 1 == kLoadFields.size());

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "report.PDF" -> "pdf"; "" without an extension.
std::string extensionOf(const std::string& name) {
    const auto slash = name.find_last_of("/\\");
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size() ||
        (slash != std::string::npos && dot < slash)) {
        return {};
    }
    return lower(name.substr(dot + 1));
}

std::string windowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string productionMark(const Production& production) {
    std::string mark = production.bates.prefix;
    mark += '\0';
    mark += std::to_string(production.bates.start) + '\0' +
            std::to_string(production.bates.digits) + '\0';
    mark += production.legend;
    mark += '\0';
    mark += production.natives ? "natives" : "";
    return mark;
}

// --- page counts -----------------------------------------------------------

std::string pagesFileName(const Shard& shard) {
    if (shard.count <= 1) {
        return "orvaline-pages.jsonl";
    }
    return "orvaline-pages." + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) +
           ".jsonl";
}

std::string pagesHeader(const std::string& digest, std::size_t total) {
    return "{\"plan\":" + json::quote(digest) + ",\"inputs\":" + std::to_string(total) + "}\n";
}

std::string pagesLine(const Item& item, int pages, const std::string& error) {
    std::string line = "{\"n\":" + std::to_string(item.ordinal) +
                       ",\"key\":" + json::quote(item.key) + ",\"pages\":" + std::to_string(pages);
    if (!error.empty()) {
        line += ",\"error\":" + json::quote(error);
    }
    return line + "}\n";
}

std::vector<int> readPageCounts(const std::string& outDir, const std::string& digest,
                                std::size_t total) {
    std::vector<int> counts(total, -1);
    const std::regex name(R"(orvaline-pages(\.[0-9]+-of-[0-9]+)?\.jsonl)");
    std::vector<std::string> files;
    if (DIR* dir = ::opendir(outDir.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::regex_match(entry->d_name, name)) {
                files.emplace_back(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        std::ifstream in(joinOut(outDir, file), std::ios::binary);
        std::string line;
        if (!std::getline(in, line)) {
            continue;
        }
        const auto header = json::parse(line);
        if (!header || json::stringMember(*header, "plan") != digest ||
            json::unsignedMember(*header, "inputs") != total) {
            continue;  // another plan's counts
        }
        while (std::getline(in, line)) {
            const auto value = json::parse(line);
            if (!value) {
                continue;  // a line cut short
            }
            const auto n = json::unsignedMember(*value, "n");
            const auto pages = json::unsignedMember(*value, "pages");
            if (n && pages && *n < total &&
                *pages <= static_cast<std::uint64_t>(common::kMaxPages)) {
                counts[static_cast<std::size_t>(*n)] = static_cast<int>(*pages);
            }
        }
    }
    return counts;
}

// --- one message's documents ------------------------------------------------

std::vector<Record::Document> produceDocuments(const Production& production, const Item& item,
                                               std::uint64_t first, const std::string& extension,
                                               const std::vector<StagedDocument>& documents,
                                               const std::vector<StagedImage>& images,
                                               std::vector<PlacedFile>& files) {
    const common::Bates& bates = production.bates;
    for (std::size_t i = 0; i < images.size(); ++i) {
        files.push_back({images[i].path, bates.path("IMAGES", first + i, extension), "image"});
    }
    const std::uint64_t last = first + (images.empty() ? 0 : images.size() - 1);
    std::string attachmentNames;
    for (std::size_t i = 1; i < documents.size(); ++i) {
        const std::string& name = documents[i].record.fileName;
        attachmentNames +=
            (attachmentNames.empty() ? "" : "; ") + (name.empty() ? "(unnamed attachment)" : name);
    }
    std::vector<Record::Document> out;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const tool::DocumentRecord& d = documents[i].record;
        const std::uint64_t begin = first + static_cast<std::uint64_t>(d.firstPage - 1);
        const std::uint64_t end = begin + static_cast<std::uint64_t>(std::max(d.pages, 1) - 1);
        const bool parent = i == 0;
        std::vector<std::string> f(kLoadFields.size());
        f[BegBates] = bates.number(begin);
        f[EndBates] = bates.number(end);
        f[BegAttach] = bates.number(first);
        f[EndAttach] = bates.number(last);
        f[ParentBates] = parent ? "" : bates.number(first);
        f[AttachCount] = parent ? std::to_string(documents.size() - 1) : "0";
        f[Custodian] = production.custodian;
        if (d.mail) {
            f[From] = d.from;
            f[To] = d.to;
            f[Cc] = d.cc;
            f[Bcc] = d.bcc;
            f[Subject] = d.subject;
            f[MessageId] = d.messageId;
            f[DateSent] = d.sentDate;
            f[TimeSent] = d.sentTime;
            f[TimeZone] = d.timeZone;
        }
        if (parent) {
            f[FileName] = item.mailbox ? baseName(item.mailbox->file) + "#" +
                                             std::to_string(item.mailbox->number)
                                       : baseName(item.source);
            f[FileExt] = item.mailbox ? "eml" : extensionOf(f[FileName]);
        } else {
            f[FileName] = d.fileName;
            f[FileExt] = extensionOf(d.fileName);
            if (f[FileExt].empty()) {
                // A file without an extension in its name: the one its kind has.
                f[FileExt] = d.type == "message/rfc822"               ? "eml"
                             : d.type == "application/vnd.ms-outlook" ? "msg"
                                                                      : "bin";
            }
        }
        f[FileSize] = std::to_string(d.size);
        f[PgCount] = std::to_string(d.pages);
        f[Md5Hash] = d.md5;
        f[Sha256] = d.sha256;
        f[AttachmentNames] = parent ? attachmentNames : "";
        Record::Document document;
        document.pages = d.pages;
        if (!d.textFile.empty()) {
            const std::string name = bates.path("TEXT", begin, ".txt");
            f[TextPath] = windowsPath(name);
            files.push_back({d.textFile, name, "text file"});
            document.text = Record::Image{name, documents[i].textSha256};
        }
        if (!d.nativeFile.empty()) {
            const std::string name =
                bates.path("NATIVES", begin, f[FileExt].empty() ? std::string() : "." + f[FileExt]);
            f[NativePath] = windowsPath(name);
            files.push_back({d.nativeFile, name, "native file"});
            document.native = Record::Image{name, documents[i].nativeSha256};
        }
        document.fields = std::move(f);
        out.push_back(std::move(document));
    }
    return out;
}

bool stillProduced(const Record& old, const Item& item, const std::string& outDir,
                   std::uint64_t first, int pages) {
    if (old.status != Record::Status::Converted || !old.size || old.firstBates != first ||
        old.pageCount() != pages || static_cast<int>(old.images.size()) != pages) {
        return false;
    }
    for (const Record::Image& image : old.images) {
        if (image.pages || !pathExists(joinOut(outDir, image.path))) {
            return false;
        }
    }
    for (const Record::Document& document : old.documents) {
        for (const auto* file : {&document.text, &document.native}) {
            if (*file && !pathExists(joinOut(outDir, (*file)->path))) {
                return false;
            }
        }
    }
    const auto now = digestOf(item);
    return now && now->size == *old.size && now->sha256 == old.sha256;
}

// --- load files -------------------------------------------------------------

std::string datField(std::string_view value) {
    std::string out = "\xC3\xBE";  // þ
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
                ++i;
            }
            out += "\xC2\xAE";  // ®
        } else if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7F') {
            // The separator and the other control characters have no place
            // in a value: review platforms refuse the row.
            out += ' ';
        } else if (c == '\xC2' && i + 1 < value.size() &&
                   static_cast<unsigned char>(value[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(value[i + 1]) <= 0x9F) {
            out += ' ';  // a C1 control character
            ++i;
        } else if (value.substr(i, 2) == "\xC3\xBE") {
            out += "\xC3\xBE\xC3\xBE";
            ++i;
        } else {
            out += c;
        }
    }
    return out + "\xC3\xBE";
}

std::string toCp1252(std::string_view utf8) {
    // Windows-1252's characters at 0x80..0x9F (0: none there).
    static constexpr char32_t kHigh[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        char32_t code = 0;
        std::size_t length = 1;
        if (byte < 0x80) {
            code = byte;
        } else if ((byte & 0xE0) == 0xC0) {
            length = 2;
            code = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
            code = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
            code = byte & 0x07;
        } else {
            out += '?';
            ++i;
            continue;
        }
        bool valid = i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        i += length;
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            out += static_cast<char>(code);
            continue;
        }
        const auto* found = std::find(std::begin(kHigh), std::end(kHigh), code);
        out += found != std::end(kHigh) && code != 0
                   ? static_cast<char>(0x80 + (found - std::begin(kHigh)))
                   : '?';
    }
    return out;
}

namespace {

// The output folder's own name, for the load files and their volume.
std::string volumeName(const std::string& outDir) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::absolute(outDir, error), error);
    std::string name = path.filename().string();
    if (name.empty()) {
        name = path.parent_path().filename().string();
    }
    // A comma would end the Opticon field.
    std::replace(name.begin(), name.end(), ',', '_');
    return name.empty() ? std::string("PRODUCTION") : name;
}

std::string imageKey(const std::string& path) {
    std::string name = baseName(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

bool writeLoadFiles(const std::string& outDir, const std::string& reportPath, bool cp1252) {
    // Each numbered record's first number and place in the report; the
    // records are read again one at a time, so the load files of a million
    // messages cost no more memory than their offsets.
    std::vector<std::pair<std::uint64_t, std::streamoff>> numbered;
    {
        std::ifstream report(reportPath, std::ios::binary);
        if (!report) {
            throw std::runtime_error("cannot read the report \"" + reportPath + "\"");
        }
        std::string line;
        std::streamoff at = report.tellg();
        while (std::getline(report, line)) {
            if (const auto record = fromLine(line);
                record && record->status == Record::Status::Converted && record->firstBates) {
                numbered.emplace_back(*record->firstBates, at);
            }
            at = report.tellg();
        }
    }
    if (numbered.empty()) {
        return false;
    }
    std::sort(numbered.begin(), numbered.end());
    const std::string volume = volumeName(outDir);
    const std::string data = joinOut(outDir, "DATA");
    std::error_code error;
    fs::create_directories(data, error);
    if (error) {
        throw std::runtime_error("cannot make \"" + data + "\": " + error.message());
    }
    common::FileBeside opt(data + "/" + volume + ".opt");
    common::FileBeside dat(data + "/" + volume + ".dat");
    const auto put = [](common::FileBeside& file, const std::string& text) {
        file.write(text.data(), text.size());
    };
    std::string header = cp1252 ? "" : "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < kLoadFields.size(); ++i) {
        header += (i == 0 ? "" : "\x14") + datField(kLoadFields[i]);
    }
    put(dat, (cp1252 ? toCp1252(header) : header) + "\r\n");
    std::ifstream report(reportPath, std::ios::binary);
    std::string line;
    for (const auto& [first, at] : numbered) {
        report.clear();
        report.seekg(at);
        if (!std::getline(report, line)) {
            throw std::runtime_error("cannot read the report \"" + reportPath + "\" again");
        }
        const auto record = fromLine(line);
        if (!record) {
            throw std::runtime_error("the report \"" + reportPath + "\" changed while read");
        }
        std::size_t page = 0;
        for (const Record::Document& document : record->documents) {
            std::string row;
            for (std::size_t i = 0; i < document.fields.size(); ++i) {
                row += (i == 0 ? "" : "\x14") + datField(document.fields[i]);
            }
            put(dat, (cp1252 ? toCp1252(row) : row) + "\r\n");
            for (int k = 0; k < document.pages && page < record->images.size(); ++k, ++page) {
                const std::string& path = record->images[page].path;
                put(opt, imageKey(path) + "," + volume + "," + windowsPath(path) + "," +
                             (k == 0 ? "Y" : "") + ",,," +
                             (k == 0 ? std::to_string(document.pages) : "") + "\r\n");
            }
        }
    }
    opt.commit();
    dat.commit();
    return true;
}

}  // namespace batch
