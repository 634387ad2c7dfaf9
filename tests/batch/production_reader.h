#pragma once
// The tests' own reader of a production (what `orvaline-convert --bates`
// writes: IMAGES, TEXT, NATIVES and the DATA load files), written apart from
// the program's writer so that a fault in one cannot hide behind code both
// share. The readers are strict and throw std::runtime_error at the first
// deviation, naming the line, row or field; checkProduction() then lists
// every rule the production's folders and load files break.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace production_check {

// One line of an Opticon image cross-reference (.opt): one page.
struct OpticonLine {
    std::string key;     // the page's Bates number
    std::string volume;  // the production's volume
    std::string path;    // as written: relative to the output folder, backslashes
    bool docBreak = false;
    std::optional<int> pageCount;
    std::string folderBreak;
    std::string boxBreak;
};

// The lines of an Opticon file: CRLF after every line, exactly 7 fields,
// DocBreak "Y" or empty, PageCount empty or a number.
std::vector<OpticonLine> readOpticon(const std::filesystem::path& path);

enum class Encoding { Utf8Bom, Cp1252 };

// A Concordance load file (.dat), decoded: the header's field names and one
// row of values per document, each value as UTF-8 with its line breaks as
// "\n".
struct Concordance {
    std::vector<std::string> fields;
    std::vector<std::vector<std::string>> rows;
};

// Reads a .dat file: a byte-order mark for Utf8Bom and none for Cp1252,
// strict UTF-8 or cp1252 text, CRLF after every row, fields separated by
// U+0014 and each quoted with þ, þþ for a þ in a value, ® for a line break.
// Row numbers in errors count the header as row 1.
Concordance readConcordance(const std::filesystem::path& path, Encoding encoding);

// One document of a production: its .dat row by field name, and the images
// of the Opticon document that begins at its BEGBATES, relative to the
// output folder with "/" (none when no Opticon document begins there).
struct Document {
    std::map<std::string, std::string> fields;
    std::vector<std::string> imagePaths;
};

struct Production {
    std::vector<Document> documents;  // in the .dat's row order
    std::vector<std::string> fields;  // the .dat's header, in its order
};

// Reads DATA/<name>.opt and DATA/<name>.dat of the output folder, <name>
// being the folder's own name, and joins them by BEGBATES. Throws when
// either file cannot be read or breaks its format, or the .dat has no
// BEGBATES field.
Production readProduction(const std::filesystem::path& outDir, Encoding encoding);

// Every rule the production in `outDir` breaks, one text each (empty: it
// keeps them all). `production` is what readProduction() read from it; the
// Opticon file is read again for what a Document does not keep (keys, breaks
// and page counts). `prefix` and `digits` are the Bates numbers' form.
std::vector<std::string> checkProduction(const std::filesystem::path& outDir,
                                         const Production& production, const std::string& prefix,
                                         int digits);

}  // namespace production_check
