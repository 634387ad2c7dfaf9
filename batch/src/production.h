#pragma once
// A production's own files, beside the report (batch/run.h says what a
// production is):
//
// - The page counts: orvaline-pages.jsonl (orvaline-pages.K-of-N.jsonl for a
//   shard's --count-pages), JSON Lines: a first line naming the plan's
//   digest, then one line per message, {"n":3,"key":"in/a.msg","pages":2},
//   "n" its place among all messages (Item::ordinal). The numbers of a run
//   are the sums of these counts, so every shard numbers as one run would.
// - The documents of each message with their load-file fields
//   (kLoadFields), made from the worker's records (tool::DocumentRecord).
// - The load files, DATA/<volume>.opt (Opticon: a line per page) and
//   DATA/<volume>.dat (Concordance: a row per document), written from the
//   report(s) in Bates order once a run or a merge is done. <volume> is the
//   output folder's own name.

#include "batch/plan.h"
#include "batch/report.h"
#include "batch/run.h"
#include "placement.h"

#include <tool/converter.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace batch {

// The fields of the .dat file, in order.
inline constexpr std::array<std::string_view, 25> kLoadFields = {"BEGBATES",
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

// What the production's numbers and stamps depend on, for the plan's digest.
std::string productionMark(const Production& production);

// --- page counts ---------------------------------------------------------

std::string pagesFileName(const Shard& shard);
std::string pagesHeader(const std::string& digest, std::size_t total);
std::string pagesLine(const Item& item, int pages, const std::string& error);

// Every message's page count found in the output folder's pages files of
// this plan (-1: not counted); files of another plan are passed over.
std::vector<int> readPageCounts(const std::string& outDir, const std::string& digest,
                                std::size_t total);

// --- one message's documents ---------------------------------------------

// A document as the worker sent it: its record, and the SHA-256 of its
// staged text and native files.
struct StagedDocument {
    tool::DocumentRecord record;
    std::string textSha256;
    std::string nativeSha256;
};

// The record's documents from the worker's, numbered from `first`, and the
// files to place: the staged page images under their Bates names, then each
// document's text and native file.
std::vector<Record::Document> produceDocuments(const Production& production, const Item& item,
                                               std::uint64_t first, const std::string& extension,
                                               const std::vector<StagedDocument>& documents,
                                               const std::vector<StagedImage>& images,
                                               std::vector<PlacedFile>& files);

// Whether an earlier record of a production still stands: numbered from
// `first` with `pages` pages, every file there, the source unchanged.
bool stillProduced(const Record& old, const Item& item, const std::string& outDir,
                   std::uint64_t first, int pages);

// --- load files ----------------------------------------------------------

// Writes DATA/<volume>.opt and .dat from the records of `reportPath` that
// are numbered, in Bates order; false (nothing written) when none is.
// Throws std::runtime_error with the reason.
bool writeLoadFiles(const std::string& outDir, const std::string& reportPath, bool cp1252);

// A value as a .dat field: þ-quoted, a line break as ®, þ doubled, any
// other control character but the tab a space; in UTF-8 (the caller
// encodes the row).
std::string datField(std::string_view value);

// UTF-8 as Windows-1252 ("?" for what it lacks).
std::string toCp1252(std::string_view utf8);

}  // namespace batch
