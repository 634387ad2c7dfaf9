#pragma once
// The batch report: JSON Lines, one object per message, written as each one
// finishes.
//
//   {"source":"mail/a.msg","size":20480,"sha256":"…","status":"converted",
//    "pages":2,"images":[{"path":"a_1.jpg","sha256":"…"},…],
//    "attachments":[{"number":"1","name":"plan.pdf","type":"application/pdf",
//                    "size":81234,"sha256":"…","shown":"pages","pages":[2]},…],
//    "warnings":[…],"ms":31}
//   {"source":"mail/b.msg","size":11,"sha256":"…","status":"failed",
//    "pages":0,"images":[],"error":"The provided stream is not a valid IStorage","ms":2}
//   {"source":"mail/c.msg","status":"skipped","pages":0,"images":[],
//    "reason":"this user may not read it","ms":0}
//
// With --format pdf (or --tiff-pages multi) a message has one image, which
// says how many pages it holds, and with --text its text file follows the
// images; "pages" counts the pages, whatever holds them:
//
//   {"source":"mail/a.msg","size":20480,"sha256":"…","status":"converted",
//    "pages":3,"images":[{"path":"a.pdf","sha256":"…","pages":3}],
//    "text":{"path":"a.txt","sha256":"…"},"warnings":[],"ms":40}
//
// In a production (--bates) the images are the pages' Bates names and the
// record says what the load files say of each document:
//
//   {…,"images":[{"path":"IMAGES/0001/ABC00000001.tif","sha256":"…"},…],
//    "bates":1,"documents":[{"pages":2,"fields":["ABC00000001",…],
//      "text":{"path":"TEXT/0001/ABC00000001.txt","sha256":"…"},
//      "native":{…}},…],…}
//
// "source" is the message's path as given or found; image paths are relative
// to the output folder. "attachments" (with the attachments option, when the
// message has any) lists each attachment as its pages show it: "shown" is
// "pages", or "placeholder" with the "reason"; "pages" are its page numbers
// among "images", from 1; "number" is its place ("2.1": the first attachment
// of the message attached second). File names that are not UTF-8 keep their bytes as
// \udcXX escapes (common/json_string.h). A sharded run also writes its plan beside its
// report (`<report>.plan.json`: the inputs over all shards and their digest),
// which --merge-reports checks the shards against.

#include "batch/plan.h"

#include <tool/converter.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace batch {

inline constexpr const char* kReportName = "orvaline-report.jsonl";

// "orvaline-report.jsonl", or "orvaline-report.K-of-N.jsonl" for a shard.
std::string reportNameFor(const Shard& shard);

struct Record {
    enum class Status { Converted, Failed, Skipped };
    std::string source;
    std::optional<std::uint64_t> size;  // absent when the source cannot be read
    std::string sha256;
    Status status = Status::Failed;
    struct Image {
        std::string path;
        std::string sha256;
        // The pages a file of every page holds (a PDF, a multi-page TIFF);
        // none for a page of its own.
        std::optional<int> pages = std::nullopt;
    };
    std::vector<Image> images;
    // The words of the pages (with the text option).
    std::optional<Image> text = std::nullopt;
    std::vector<tool::AttachmentRecord> attachments;
    // In a production: the Bates number of the first page, and each
    // document (the message, its attachments) with its load-file fields
    // (kLoadFields, in order), its text file and its native.
    struct Document {
        std::vector<std::string> fields;
        int pages = 0;
        std::optional<Image> text = std::nullopt;
        std::optional<Image> native = std::nullopt;
    };
    std::optional<std::uint64_t> firstBates;
    std::vector<Document> documents;
    std::vector<std::string> warnings;
    std::string error;  // failed: why; skipped: the reason
    std::int64_t ms = 0;

    // The pages of every image.
    int pageCount() const;
};

const char* statusName(Record::Status status);

// One line of the report, "\n" included.
std::string toLine(const Record& record);

// A report line read back; no value when it is not one.
std::optional<Record> fromLine(const std::string& line);

// Every record of a report file in order, with its line's text; lines that
// are not records (a line cut short when a machine lost power) are counted
// in *unreadable.
struct ReportLine {
    Record record;
    std::string text;
};
std::vector<ReportLine> readReport(const std::string& path, std::size_t* unreadable = nullptr);

// The plan file of a shard.
struct PlanSummary {
    std::size_t total = 0;
    std::size_t shardItems = 0;
    Shard shard;
    std::string digest;
};
std::string toPlanJson(const PlanSummary& summary);
std::optional<PlanSummary> fromPlanJson(const std::string& text);

// --merge-reports: joins the shard reports of `outDir` into its
// orvaline-report.jsonl (records sorted by source) and checks that one plan
// was split, every shard is there, and every message was done exactly once.
// Returns 0 when merged and every message converted or was skipped, 1 when
// a message failed or a check did not hold (the merged report is not
// written then), 2 when there is nothing to merge.
// `merged`, when given, is called with the merged report's path once it is
// written, and its status (0, or 1 with the text on `err`) is the merge's
// when the messages all converted.
int mergeReports(const std::string& outDir, std::ostream& out, std::ostream& err,
                 const std::function<int(const std::string& merged)>& merged = {});

}  // namespace batch
