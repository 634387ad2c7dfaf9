#pragma once
// What a batch run converts and where each image goes, decided before any
// work starts, the same way on every machine given the same inputs.
//
// Inputs are message files, mbox files and folders. A folder is walked by the
// rules of "Add All MSG File(s) In Folder" (common/folder_entries.h): every
// file whose name ends in ".msg" or ".eml" (letter case ignored), not
// beginning with "~" (with `mailboxes`, also every other file that holds an
// mbox by its content); hidden
// entries (names beginning with ".") skipped; symbolic links to folders not
// followed, so link loops end; a folder that cannot be listed is left out
// with a notice. A .msg file that the user may not read is planned as
// skipped, so the report names it. A file given by name is converted
// whatever its name; one that holds an mbox by its content (and is not named
// .msg or .eml) is its messages.
//
// Each message of an mbox file is an item of its own: its key and source are
// the file's with "#N" (N from 1, in the file's order), its result the
// file's stem with "_N" ("box#2" -> "box_2.jpg"); the worker reads its
// bytes only.
//
// Results end in the format's extension (".jpg", ".pdf", ".tif"). Names are
// claimed as JPEG names whatever the format, then given its extension, so a
// message has the same name in every format, and TIFF pages ("x_1.tif")
// stay apart from other results as JPEG pages do.
//
// Each message has a key: its path relative to the input given (a folder's
// own name, then the path below it; a file given on the command line: its
// name; a path read from standard input: that path, without leading "/",
// "." and ".." parts). Messages are ordered by input, then key (bytes), and
// named in that order by common::ResultNameClaims with page names reserved;
// only then is the shard taken (key hashed, FNV-1a 64, modulo the count), so
// every shard names every message as an unsharded run would.

#include <common/page_files.h>
#include <tool/converter.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace batch {

struct Shard {
    unsigned index = 0;
    unsigned count = 1;
};

// How a message's results are written, as the page options say.
struct OutputFormat {
    // Of the result and of its page files: ".jpg", ".pdf" or ".tif".
    std::string extension = std::string(common::kImageExtension);
    // One file holds every page of a message (a PDF, a multi-page TIFF).
    bool oneFile = false;
    // The words of the pages go to common::textFileName(result) too.
    bool text = false;
};

OutputFormat outputFormatOf(const tool::ConvertOptions& options);

struct PlanOptions {
    // Recreate each message's folder (its key's folder) under the output.
    bool mirror = false;
    // Folders are searched for mbox files too.
    bool mailboxes = false;
    Shard shard;
    OutputFormat format;
    // What a production's numbers and stamps depend on, part of the digest
    // (empty: no production).
    std::string productionMark;
};

struct Input {
    std::string path;
    // Read from standard input (its key is the path itself).
    bool fromList = false;
    // Position among the inputs; list entries share the position of "-".
    std::uint32_t position = 0;
};

// One message of an mbox file.
struct MailboxPart {
    std::string file;          // the mbox file's path
    std::uint64_t number = 0;  // from 1
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

struct Item {
    std::string source;
    std::string key;
    std::uint32_t position = 0;
    // The first image's name, relative to the output folder; the images of
    // several pages are common::pageFileName of it (with the format's
    // extension); the text file is common::textFileName of it.
    std::string result;
    // Not converted, with this reason (a file the user may not read).
    std::string skipReason;
    // The input cannot be read at all (missing, ...): reported failed.
    std::string failReason;
    // Set for a message of an mbox file.
    std::optional<MailboxPart> mailbox;
    // Its place among the messages of all shards, from 0 (a production
    // numbers pages in this order).
    std::size_t ordinal = 0;
};

struct Plan {
    std::vector<Item> items;  // this shard's, in naming order
    std::size_t total = 0;    // messages over all shards
    // SHA-256 over every message's key and result name, all shards (and,
    // with the text file, a mark of it): shards given the same inputs and
    // output options have the same digest.
    std::string digest;
    // Folders that could not be listed, one text each.
    std::vector<std::string> notices;
};

// The message files under `inputs`, named and sharded as above.
Plan makePlan(const std::vector<Input>& inputs, const PlanOptions& options);

// The shard a key belongs to among `count`.
unsigned shardOf(const std::string& key, unsigned count);

// The size and SHA-256 of an item's bytes (a file, or its part of an mbox
// file); no value when they cannot be read (errno says why).
struct ItemDigest {
    std::uint64_t size = 0;
    std::string sha256;
};
std::optional<ItemDigest> digestOf(const Item& item);

// "name.msg" -> "name.jpg" as the window names results (the name without its
// last extension, unless the name is only an extension), relative to the
// output folder; with `mirror` the key's folder goes first.
std::string resultNameOf(const std::string& key, bool mirror);

}  // namespace batch
