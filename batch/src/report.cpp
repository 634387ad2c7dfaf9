#include "batch/report.h"

#include "json.h"

#include <common/command_line.h>
#include <common/page_files.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace batch {

std::string reportNameFor(const Shard& shard) {
    if (shard.count <= 1) {
        return kReportName;
    }
    return "orvaline-report." + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) +
           ".jsonl";
}

const char* statusName(Record::Status status) {
    switch (status) {
        case Record::Status::Converted:
            return "converted";
        case Record::Status::Skipped:
            return "skipped";
        case Record::Status::Failed:
            break;
    }
    return "failed";
}

namespace {

std::string attachmentJson(const tool::AttachmentRecord& a) {
    std::string text = "{\"number\":" + json::quote(a.number) + ",\"name\":" + json::quote(a.name) +
                       ",\"type\":" + json::quote(a.type) + ",\"size\":" + std::to_string(a.size);
    if (!a.sha256.empty()) {
        text += ",\"sha256\":" + json::quote(a.sha256);
    }
    text += ",\"shown\":" + json::quote(a.shown);
    if (!a.reason.empty()) {
        text += ",\"reason\":" + json::quote(a.reason);
    }
    text += ",\"pages\":[";
    for (std::size_t i = 0; i < a.pages.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(a.pages[i]);
    }
    return text + "]}";
}

std::optional<tool::AttachmentRecord> attachmentFromJson(const json::Value& value) {
    tool::AttachmentRecord a;
    const auto number = json::stringMember(value, "number");
    const auto shown = json::stringMember(value, "shown");
    if (!number || !shown) {
        return std::nullopt;
    }
    a.number = *number;
    a.shown = *shown;
    a.name = json::stringMember(value, "name").value_or("");
    a.type = json::stringMember(value, "type").value_or("");
    a.size = json::unsignedMember(value, "size").value_or(0);
    a.sha256 = json::stringMember(value, "sha256").value_or("");
    a.reason = json::stringMember(value, "reason").value_or("");
    if (const auto pages = value.find("pages"); pages != value.end() && pages->is_array()) {
        for (const json::Value& page : *pages) {
            if (page.is_number_integer()) {
                a.pages.push_back(page.get<int>());
            }
        }
    }
    return a;
}

}  // namespace

int Record::pageCount() const {
    int count = 0;
    for (const Image& image : images) {
        count += image.pages.value_or(1);
    }
    return count;
}

namespace {

std::string fileJson(const Record::Image& file) {
    std::string text =
        "{\"path\":" + json::quote(file.path) + ",\"sha256\":" + json::quote(file.sha256);
    if (file.pages) {
        text += ",\"pages\":" + std::to_string(*file.pages);
    }
    return text + "}";
}

std::optional<Record::Image> fileFromJson(const json::Value& value) {
    const auto path = json::stringMember(value, "path");
    const auto sha = json::stringMember(value, "sha256");
    if (!path || !sha) {
        return std::nullopt;
    }
    Record::Image file{*path, *sha};
    if (const auto pages = value.find("pages"); pages != value.end()) {
        if (!pages->is_number_integer() || pages->get<std::int64_t>() < 1 ||
            pages->get<std::int64_t>() > common::kMaxPages) {
            return std::nullopt;
        }
        file.pages = pages->get<int>();
    }
    return file;
}

}  // namespace

std::string toLine(const Record& record) {
    std::string line = "{\"source\":" + json::quote(record.source);
    if (record.size) {
        line += ",\"size\":" + std::to_string(*record.size) +
                ",\"sha256\":" + json::quote(record.sha256);
    }
    line += ",\"status\":";
    line += json::quote(statusName(record.status));
    line += ",\"pages\":" + std::to_string(record.pageCount()) + ",\"images\":[";
    for (std::size_t i = 0; i < record.images.size(); ++i) {
        line += i == 0 ? "" : ",";
        line += fileJson(record.images[i]);
    }
    line += "]";
    if (record.text) {
        line += ",\"text\":" + fileJson(*record.text);
    }
    if (record.firstBates) {
        line += ",\"bates\":" + std::to_string(*record.firstBates) + ",\"documents\":[";
        for (std::size_t i = 0; i < record.documents.size(); ++i) {
            const Record::Document& document = record.documents[i];
            line += i == 0 ? "{" : ",{";
            line += "\"pages\":" + std::to_string(document.pages) + ",\"fields\":[";
            for (std::size_t f = 0; f < document.fields.size(); ++f) {
                line += (f == 0 ? "" : ",") + json::quote(document.fields[f]);
            }
            line += "]";
            if (document.text) {
                line += ",\"text\":" + fileJson(*document.text);
            }
            if (document.native) {
                line += ",\"native\":" + fileJson(*document.native);
            }
            line += "}";
        }
        line += "]";
    }
    if (!record.attachments.empty()) {
        line += ",\"attachments\":[";
        for (std::size_t i = 0; i < record.attachments.size(); ++i) {
            line += i == 0 ? "" : ",";
            line += attachmentJson(record.attachments[i]);
        }
        line += "]";
    }
    if (record.status == Record::Status::Converted) {
        line += ",\"warnings\":[";
        for (std::size_t i = 0; i < record.warnings.size(); ++i) {
            line += (i == 0 ? "" : ",") + json::quote(record.warnings[i]);
        }
        line += "]";
    } else {
        line += record.status == Record::Status::Failed ? ",\"error\":" : ",\"reason\":";
        line += json::quote(record.error);
    }
    line += ",\"ms\":" + std::to_string(record.ms) + "}\n";
    return line;
}

std::optional<Record> fromLine(const std::string& line) {
    const auto value = json::parse(line);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    Record record;
    const auto source = json::stringMember(*value, "source");
    const auto status = json::stringMember(*value, "status");
    if (!source || !status) {
        return std::nullopt;
    }
    record.source = *source;
    if (*status == "converted") {
        record.status = Record::Status::Converted;
    } else if (*status == "failed") {
        record.status = Record::Status::Failed;
    } else if (*status == "skipped") {
        record.status = Record::Status::Skipped;
    } else {
        return std::nullopt;
    }
    record.size = json::unsignedMember(*value, "size");
    record.sha256 = json::stringMember(*value, "sha256").value_or("");
    if (const auto images = value->find("images"); images != value->end() && images->is_array()) {
        for (const json::Value& image : *images) {
            auto file = fileFromJson(image);
            if (!file) {
                return std::nullopt;
            }
            record.images.push_back(std::move(*file));
        }
    }
    if (const auto text = value->find("text"); text != value->end()) {
        record.text = fileFromJson(*text);
        if (!record.text || record.text->pages) {
            return std::nullopt;
        }
    }
    if (const auto first = json::unsignedMember(*value, "bates")) {
        record.firstBates = *first;
        const auto documents = value->find("documents");
        if (documents == value->end() || !documents->is_array()) {
            return std::nullopt;
        }
        for (const json::Value& entry : *documents) {
            Record::Document document;
            const auto pages = json::unsignedMember(entry, "pages");
            const auto fields = entry.find("fields");
            if (!pages || *pages > static_cast<std::uint64_t>(common::kMaxPages) ||
                fields == entry.end() || !fields->is_array()) {
                return std::nullopt;
            }
            document.pages = static_cast<int>(*pages);
            for (const json::Value& field : *fields) {
                auto bytes = json::bytesOf(field);
                if (!bytes) {
                    return std::nullopt;
                }
                document.fields.push_back(std::move(*bytes));
            }
            for (const auto& [name, file] :
                 {std::pair{"text", &document.text}, std::pair{"native", &document.native}}) {
                if (const auto found = entry.find(name); found != entry.end()) {
                    *file = fileFromJson(*found);
                    if (!*file) {
                        return std::nullopt;
                    }
                }
            }
            record.documents.push_back(std::move(document));
        }
    }
    if (const auto attachments = value->find("attachments");
        attachments != value->end() && attachments->is_array()) {
        for (const json::Value& entry : *attachments) {
            auto attachment = attachmentFromJson(entry);
            if (!attachment) {
                return std::nullopt;
            }
            record.attachments.push_back(std::move(*attachment));
        }
    }
    if (const auto warnings = value->find("warnings");
        warnings != value->end() && warnings->is_array()) {
        for (const json::Value& warning : *warnings) {
            record.warnings.push_back(json::bytesOf(warning).value_or(""));
        }
    }
    if (const auto error = json::stringMember(*value, "error")) {
        record.error = *error;
    } else if (const auto reason = json::stringMember(*value, "reason")) {
        record.error = *reason;
    }
    record.ms = json::integerMember(*value, "ms").value_or(0);
    return record;
}

std::vector<ReportLine> readReport(const std::string& path, std::size_t* unreadable) {
    std::vector<ReportLine> lines;
    std::ifstream file(path, std::ios::binary);
    std::string text;
    while (std::getline(file, text)) {
        if (text.empty()) {
            continue;
        }
        if (auto record = fromLine(text)) {
            lines.push_back({std::move(*record), text + "\n"});
        } else if (unreadable != nullptr) {
            ++*unreadable;
        }
    }
    return lines;
}

std::string toPlanJson(const PlanSummary& summary) {
    return "{\"inputs\":" + std::to_string(summary.total) +
           ",\"shard\":" + std::to_string(summary.shard.index) +
           ",\"shards\":" + std::to_string(summary.shard.count) +
           ",\"shard_inputs\":" + std::to_string(summary.shardItems) +
           ",\"digest\":" + json::quote(summary.digest) + "}\n";
}

std::optional<PlanSummary> fromPlanJson(const std::string& text) {
    const auto value = json::parse(text);
    if (!value) {
        return std::nullopt;
    }
    const auto total = json::unsignedMember(*value, "inputs");
    const auto shard = json::unsignedMember(*value, "shard");
    const auto shards = json::unsignedMember(*value, "shards");
    const auto items = json::unsignedMember(*value, "shard_inputs");
    const auto digest = json::stringMember(*value, "digest");
    if (!total || !shard || !shards || !items || !digest) {
        return std::nullopt;
    }
    PlanSummary summary;
    summary.total = static_cast<std::size_t>(*total);
    summary.shard = {static_cast<unsigned>(*shard), static_cast<unsigned>(*shards)};
    summary.shardItems = static_cast<std::size_t>(*items);
    summary.digest = *digest;
    return summary;
}

namespace {

std::optional<std::string> readWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

int mergeReports(const std::string& outDir, std::ostream& out, std::ostream& err,
                 const std::function<int(const std::string& merged)>& merged) {
    const std::regex shardName(R"(orvaline-report\.([0-9]+)-of-([0-9]+)\.jsonl)");
    std::map<unsigned, std::string> shardFiles;
    std::set<unsigned> counts;
    DIR* dir = ::opendir(outDir.c_str());
    if (dir == nullptr) {
        err << "orvaline-convert: cannot list \"" << outDir << "\": " << std::strerror(errno)
            << "\n";
        return common::kExitUsage;
    }
    while (const dirent* entry = ::readdir(dir)) {
        std::cmatch match;
        if (std::regex_match(entry->d_name, match, shardName)) {
            shardFiles[static_cast<unsigned>(std::stoul(match[1]))] = entry->d_name;
            counts.insert(static_cast<unsigned>(std::stoul(match[2])));
        }
    }
    ::closedir(dir);
    if (shardFiles.empty()) {
        err << "orvaline-convert: no shard reports (orvaline-report.K-of-N.jsonl) in \"" << outDir
            << "\"\n";
        return common::kExitUsage;
    }
    std::vector<std::string> problems;
    if (counts.size() != 1) {
        problems.push_back("the reports are of different shard counts");
    }
    const unsigned count = *counts.rbegin();
    std::optional<PlanSummary> first;
    std::map<std::string, ReportLine> bySource;
    std::size_t failed = 0;
    for (unsigned k = 0; k < count; ++k) {
        const std::string name = reportNameFor({k, count});
        if (!shardFiles.contains(k)) {
            problems.push_back("shard " + std::to_string(k) + " of " + std::to_string(count) +
                               " has no report (" + name + ")");
            continue;
        }
        std::string shardReport = outDir;
        shardReport += "/";
        shardReport += name;
        const auto planText = readWhole(shardReport + ".plan.json");
        const auto plan = planText ? fromPlanJson(*planText) : std::nullopt;
        if (!plan) {
            problems.push_back("shard " + std::to_string(k) + " has no readable plan (" + name +
                               ".plan.json)");
            continue;
        }
        if (!first) {
            first = plan;
        } else if (plan->digest != first->digest || plan->total != first->total) {
            problems.push_back("shard " + std::to_string(k) +
                               " was given other inputs than shard " +
                               std::to_string(first->shard.index));
        }
        std::size_t unreadable = 0;
        const auto lines = readReport(shardReport, &unreadable);
        if (unreadable > 0) {
            problems.push_back(name + ": " + std::to_string(unreadable) + " lines are not records");
        }
        std::size_t distinct = 0;
        for (const ReportLine& line : lines) {
            const auto [at, added] = bySource.emplace(line.record.source, line);
            if (!added) {
                problems.push_back("\"" + line.record.source + "\" is reported more than once");
                continue;
            }
            ++distinct;
            failed += line.record.status == Record::Status::Failed ? 1 : 0;
        }
        if (distinct != plan->shardItems) {
            problems.push_back(name + " reports " + std::to_string(distinct) + " of its " +
                               std::to_string(plan->shardItems) +
                               " messages: run that shard again with --resume");
        }
    }
    if (first && bySource.size() != first->total && problems.empty()) {
        problems.push_back("the shards report " + std::to_string(bySource.size()) + " of " +
                           std::to_string(first->total) + " messages");
    }
    for (const std::string& problem : problems) {
        err << "orvaline-convert: " << problem << "\n";
    }
    if (!problems.empty()) {
        err << "orvaline-convert: the reports were not merged\n";
        return common::kExitFailure;
    }
    const std::string target = outDir + "/" + kReportName;
    if (::access(target.c_str(), F_OK) == 0) {
        err << "orvaline-convert: \"" << target << "\" exists already; remove it to merge again\n";
        return common::kExitFailure;
    }
    const std::string temporary = target + ".merging";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        for (const auto& [source, line] : bySource) {
            file << line.text;
        }
        file.flush();
        if (!file) {
            err << "orvaline-convert: cannot write \"" << temporary << "\"\n";
            std::remove(temporary.c_str());
            return common::kExitFailure;
        }
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        err << "orvaline-convert: cannot write \"" << target << "\": " << std::strerror(errno)
            << "\n";
        return common::kExitFailure;
    }
    out << "merged " << count << " shard reports: " << bySource.size() << " messages, " << failed
        << " failed, into " << target << "\n";
    const int after = merged ? merged(target) : common::kExitSuccess;
    return failed > 0 ? common::kExitFailure : after;
}

}  // namespace batch
