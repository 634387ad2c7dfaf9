#pragma once
// The worker: a process that loads the rendering library once and converts
// one message after another for the batch converter, which started it as
// "orvaline-convert --worker [page options]".
//
// Jobs come on standard input, results go out on file descriptor 3, as
// frames of byte fields (wire::put, wire::take); standard output is not
// used, so nothing the renderer prints can be taken for a result.
//   job:    source path, staging name (the result path to write, in the
//           format's extension); for one
//           message of an mbox file also its offset and length in bytes;
//           in a production then "count" or the first page's number (the
//           offset and length "" for a whole file)
//   result: "converted", size, sha256, then the count of warnings and the
//           warnings, then the count of attachments and per attachment its
//           number, name, type, size, sha256, how shown, the reason and its
//           pages ("2,3"), then the count of documents and per document
//           the 23 fields of tool::DocumentRecord (its text and native
//           file each followed by its sha256; none outside a production),
//           then the count of pages, the text file's path
//           and sha256 ("" and "" without one), then per image its path and
//           sha256;
//           or "failed", size ("" when unreadable), sha256, the failure text.
// The worker ends when its input ends. It ignores SIGINT and SIGTERM: the
// batch converter decides when a message in hand is given up.

#include <tool/converter.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace batch {

namespace wire {

// What a frame may hold: a result (kMaxFields fields of kMaxField bytes at
// most; a page's path and digest are two fields), and a job (a source path
// and a staging path: kMaxJobFields of kMaxJobField bytes). More is no frame.
inline constexpr std::uint32_t kMaxFields = 1u << 16;
inline constexpr std::uint32_t kMaxField = 64u << 20;
inline constexpr std::uint32_t kMaxJobFields = 16;
inline constexpr std::uint32_t kMaxJobField = 1u << 20;

// Appends a frame of `fields` to `out`.
void put(std::string& out, const std::vector<std::string>& fields);

// Writes all of `bytes` to `fd` (again after a signal); false when the
// other end is gone or the write fails.
bool writeAll(int fd, std::string_view bytes);

// Takes the first complete frame off the front of `buffer`; no value when
// the frame is not complete yet. Throws std::runtime_error when the buffer
// does not hold a frame.
std::optional<std::vector<std::string>> take(std::string& buffer);

}  // namespace wire

inline constexpr int kResultFd = 3;

// A production's settings among the worker's words: "--worker-bates PREFIX"
// first, then "--worker-bates-digits D", "--worker-legend TEXT",
// "--worker-natives". Its jobs then say "count" or the first page's number.
inline constexpr const char* kWorkerBates = "--worker-bates";
inline constexpr const char* kWorkerBatesDigits = "--worker-bates-digits";
inline constexpr const char* kWorkerLegend = "--worker-legend";
inline constexpr const char* kWorkerNatives = "--worker-natives";

// What converts one message in a worker: tool::convertMessage when none is
// given. A program built over the worker (a test's, say) may put another in
// its place.
using ConvertFunction =
    std::function<tool::ConvertResult(const render::Library&, const tool::Source& source,
                                      const std::string& staging, const tool::ConvertOptions&)>;

// The worker's main loop; returns its exit status.
int runWorker(const std::vector<std::string>& pageWords, const ConvertFunction& convert = {});

}  // namespace batch
