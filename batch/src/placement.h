#pragma once
// Where a message's images end up, and whether earlier ones still stand.
//
// A worker writes a message's pages into the staging folder; they are then
// linked into their places, never over a file this run's report does not
// list, all of them or none. Resume keeps an earlier record only when its
// source is unchanged and its images are all there under today's names.

#include "batch/plan.h"
#include "batch/report.h"

#include <string>
#include <vector>

namespace batch {

// The image names of a message of `pages` pages whose first image is
// `result`: "x.jpg" alone, or "x_1.jpg", "x_2.jpg", ...
std::vector<std::string> imageNames(const std::string& result, std::size_t pages);

// Whether an earlier converted record still stands for `item`: its images
// all exist under the names planned now, and the source has its size and
// SHA-256.
bool stillConverted(const Record& old, const Item& item, const std::string& outDir);

// A page a worker wrote: its path in the staging folder and its SHA-256.
struct StagedImage {
    std::string path;
    std::string sha256;
};

// Places `staged` under the item's image names in `outDir` and returns
// `record` with those images, or failed with the reason (nothing of the
// message stays placed then). `earlier` are the images an earlier record of
// this source listed: they may be replaced, and those not used again are
// removed when they still hold what that record says.
Record placeImages(const std::string& outDir, const Item& item,
                   const std::vector<Record::Image>& earlier, Record record,
                   const std::vector<StagedImage>& staged);

}  // namespace batch
