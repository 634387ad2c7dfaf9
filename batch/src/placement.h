#pragma once
// Where a message's files end up, and whether earlier ones still stand.
//
// A worker writes a message's pages (and its text file) into the staging
// folder; they are then linked into their places, never over a file this
// run's report does not list, all of them or none. Resume keeps an earlier
// record only when its source is unchanged and its files are all there under
// today's names, in today's format.

#include "batch/plan.h"
#include "batch/report.h"

#include <optional>
#include <string>
#include <vector>

namespace batch {

// The names of a message's `files` image files whose first is `result`:
// "x.jpg" alone, or "x_1.jpg", "x_2.jpg", ... (".tif" pages alike; a PDF or
// multi-page TIFF is one file, `result` itself).
std::vector<std::string> imageNames(const std::string& result, std::size_t files,
                                    const OutputFormat& format);

// Whether an earlier converted record still stands for `item`: its images
// are of `format` (pages of their own, or one file of every page) and all
// exist under the names planned now, as does its text file (which `format`
// may ask for), and the source has its size and SHA-256.
bool stillConverted(const Record& old, const Item& item, const std::string& outDir,
                    const OutputFormat& format);

// A file a worker wrote: its path in the staging folder, its SHA-256, and
// for a file of every page how many it holds.
struct StagedImage {
    std::string path;
    std::string sha256;
    std::optional<int> pages = std::nullopt;
};

// A staged file and its name in the output folder; `what` names it in a
// failure ("image", "text file").
struct PlacedFile {
    std::string staged;
    std::string name;
    const char* what;
};

// Links every file into its place, or none: a name taken by a file that
// `earlier` does not list, or a `refusal` given, makes `record` failed with
// the reason and removes the staged files. On success the record's images
// and text are left for the caller to list, and earlier files not used
// again are removed when they still hold what that record says.
Record placeFiles(const std::string& outDir, const std::vector<Record::Image>& earlier,
                  Record record, const std::vector<PlacedFile>& files, const std::string& refusal);

// Places `staged` under the item's image names in `outDir`, and `text`
// under its text name, and returns `record` with those files, or failed with
// the reason (nothing of the message stays placed then). `earlier` are the
// files an earlier record of this source listed: they may be replaced, and
// those not used again are removed when they still hold what that record
// says.
Record placeImages(const std::string& outDir, const Item& item, const OutputFormat& format,
                   const std::vector<Record::Image>& earlier, Record record,
                   const std::vector<StagedImage>& staged, const std::optional<StagedImage>& text);

}  // namespace batch
