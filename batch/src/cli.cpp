#include "batch/cli.h"

#include "batch/plan.h"
#include "batch/report.h"
#include "batch/run.h"
#include "batch/worker.h"
#include "production.h"

#include <common/command_line.h>
#include <common/text.h>
#include <tool/converter.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#ifndef ORVALINE_VERSION
#define ORVALINE_VERSION "unknown"
#endif

namespace batch {

namespace {

constexpr const char* kProgram = "orvaline-convert";

unsigned processorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) {
            return static_cast<unsigned>(count);
        }
    }
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

std::optional<unsigned> wholeNumber(const std::string& text, unsigned low, unsigned high) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(text);
    if (value < low || value > high) {
        return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

std::optional<Shard> parseShard(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    const auto index = wholeNumber(text.substr(0, slash), 0, 1000000);
    const auto count = wholeNumber(text.substr(slash + 1), 1, 1000000);
    if (!index || !count || *index >= *count) {
        return std::nullopt;
    }
    return Shard{*index, *count};
}

std::vector<std::string> readList(int fd, char separator) {
    std::string all;
    char chunk[65536];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        all.append(chunk, static_cast<std::size_t>(got));
    }
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find(separator, start);
        if (end == std::string::npos) {
            end = all.size();
        }
        if (end > start) {
            paths.push_back(all.substr(start, end - start));
        }
        start = end + 1;
    }
    return paths;
}

std::string ownExecutable() {
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return {};
    }
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

}  // namespace

std::string helpText(unsigned processors) {
    std::string text =
        "Usage: orvaline-convert [OPTIONS] INPUT... -o OUTDIR\n"
        "       orvaline-convert --merge-reports OUTDIR\n"
        "Converts mail into page images and records every message in a report: Outlook\n"
        "message files (.msg), Internet mail (.eml) and mbox files, each known by its content.\n"
        "Pages are JPEG images (name.jpg, or name_1.jpg, name_2.jpg, ... for several pages),\n"
        "one PDF per message (name.pdf, --format pdf) or TIFF (name.tif, or name_1.tif, ...;\n"
        "one name.tif per message with --tiff-pages multi); --text adds name.txt.\n"
        "\n"
        "Inputs:\n"
        "  INPUT             a message file (.msg or .eml), an mbox file, or a folder searched\n"
        "                    for *.msg and *.eml (any letter case)\n"
        "  --mbox            also search the folders for mbox files, by their content; each\n"
        "                    message of an mbox file is a record FILE#N with images NAME_N.jpg\n"
        "  -                 read paths from standard input, one per line\n"
        "  -0, --null        paths on standard input end with NUL, as find -print0 writes\n"
        "Outputs:\n"
        "  -o, --output DIR  the folder for the images and the report (made when missing)\n"
        "  --mirror          recreate each message's folder below its input under DIR\n"
        "  --report FILE     the report (default DIR/orvaline-report.jsonl, or\n"
        "                    DIR/orvaline-report.K-of-N.jsonl with --shard)\n"
        "Pages:\n"
        "  --no-header       leave out the header block (here it is on by default)\n"
        "  --no-attachments  leave out the attachments' pages (here they are on by default)\n";
    text += tool::kOptionsHelp;
    text +=
        "Production (docs/production.md):\n"
        "  --bates PREFIX    number every page PREFIX00000001, ... in input order, each message\n"
        "                    then its attachments; the number is stamped in a band added below\n"
        "                    the page; pages go to DIR/IMAGES/0001/PREFIX00000001.jpg (.tif),\n"
        "                    1000 to a folder; each document's words to DIR/TEXT/; the load\n"
        "                    files DIR/DATA/<DIR's name>.opt (Opticon) and .dat (Concordance)\n"
        "  --bates-start N   the first number (default 1)\n"
        "  --bates-digits D  digits of the number, zero-padded (default 8)\n"
        "  --legend TEXT     stamped at the bottom left of every page (CONFIDENTIAL, ...)\n"
        "  --custodian NAME  the .dat file's CUSTODIAN field\n"
        "  --natives         also each document's own file in DIR/NATIVES/\n"
        "  --dat-encoding E  utf-8 (default, with a byte-order mark) or cp1252; also with\n"
        "                    --merge-reports\n"
        "  --count-pages     with --shard: only count this shard's pages (the first step;\n"
        "                    every shard must have counted before any draws)\n";
    text +=
        "Running:\n"
        "  -j, --jobs N      worker processes (default: the processors, here " +
        std::to_string(processors) +
        ")\n"
        "  --timeout SECONDS give up a message after this long (default 120)\n"
        "  --resume          keep the report's converted messages whose source and files\n"
        "                    are unchanged, in the format asked for now, and convert the rest\n"
        "  --shard K/N       convert only the messages whose key hashes to K modulo N\n"
        "  --merge-reports DIR  join DIR's shard reports into DIR/orvaline-report.jsonl and\n"
        "                    check that every message was done exactly once\n"
        "  -q, --quiet       no progress and no summary\n"
        "  -h, --help        this text\n"
        "  --version         the version\n"
        "\n"
        "Exit status: 0 all converted, 1 some failed, 2 usage error, 130 interrupted.\n"
        "Examples:\n"
        "  orvaline-convert --mirror ~/mail-export -o ~/mail-images\n"
        "  find /archive -name '*.msg' -print0 | orvaline-convert -0 - -o /srv/images\n"
        "  orvaline-convert --shard $SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT /archive -o "
        "/srv/out\n";
    return text;
}

namespace {

// What the command line asks for, before anything is read or written.
struct CommandLine {
    RunOptions run;
    // A production's options, checked once the line is read.
    std::optional<std::string> bates;
    std::optional<std::string> batesStart;
    std::optional<std::string> batesDigits;
    std::optional<std::string> legend;
    std::optional<std::string> custodian;
    std::optional<std::string> datEncoding;
    bool natives = false;
    bool countPages = false;
    PlanOptions plan;
    std::vector<std::string> inputPaths;
    std::optional<std::string> outDir;
    std::optional<std::string> report;
    std::optional<std::string> merge;
    bool nullSeparated = false;
    bool help = false;
    bool version = false;
};

// An option that takes a value; throws common::UsageError when the value is
// refused.
void applyValue(const std::string& name, const std::string& value, CommandLine& line) {
    if (name == "-o" || name == "--output") {
        line.outDir = value;
    } else if (name == "--report") {
        line.report = value;
    } else if (name == "--merge-reports") {
        line.merge = value;
    } else if (name == "-j" || name == "--jobs") {
        const auto jobs = wholeNumber(value, 1, 1024);
        if (!jobs) {
            throw common::UsageError(name + " takes a whole number from 1 to 1024, not \"" + value +
                                     "\"");
        }
        line.run.jobs = *jobs;
    } else if (name == "--bates") {
        line.bates = value;
    } else if (name == "--bates-start") {
        line.batesStart = value;
    } else if (name == "--bates-digits") {
        line.batesDigits = value;
    } else if (name == "--legend") {
        line.legend = value;
    } else if (name == "--custodian") {
        line.custodian = value;
    } else if (name == "--dat-encoding") {
        line.datEncoding = value;
    } else if (name == "--timeout") {
        const auto seconds = wholeNumber(value, 1, 86400);
        if (!seconds) {
            throw common::UsageError("--timeout takes whole seconds from 1 to 86400, not \"" +
                                     value + "\"");
        }
        line.run.timeoutSeconds = *seconds;
    } else {
        const auto shard = parseShard(value);
        if (!shard) {
            throw common::UsageError("--shard takes K/N with 0 <= K < N, not \"" + value + "\"");
        }
        line.plan.shard = *shard;
    }
}

bool takesValue(const std::string& name) {
    static const char* const kNames[] = {
        "-o",           "--output",      "--report",         "--merge-reports", "-j",
        "--jobs",       "--timeout",     "--shard",          "--dpi",           "--paper",
        "--quality",    "--timezone",    "--office-timeout", "--format",        "--colour",
        "--tiff-pages", "--bates",       "--bates-start",    "--bates-digits",  "--legend",
        "--custodian",  "--dat-encoding"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// Text a production stamps or records: UTF-8 of one line, not too long.
std::string checkedText(const char* option, const std::string& value, std::size_t longest) {
    if (value.size() > longest) {
        throw common::UsageError(std::string(option) + " takes at most " + std::to_string(longest) +
                                 " bytes");
    }
    if (!common::isValidUtf8(value) || std::any_of(value.begin(), value.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20;
        })) {
        throw common::UsageError(std::string(option) +
                                 " takes one line of UTF-8 text without control characters");
    }
    return value;
}

// The production's options into RunOptions; throws common::UsageError.
void applyProduction(CommandLine& line) {
    const bool any = line.batesStart || line.batesDigits || line.legend || line.custodian ||
                     line.natives || line.countPages || (line.datEncoding && !line.merge);
    if (!line.bates) {
        if (any) {
            throw common::UsageError(
                "--bates-start, --bates-digits, --legend, --custodian, --natives, "
                "--dat-encoding and --count-pages make a production: add --bates PREFIX");
        }
        return;
    }
    const std::string& prefix = *line.bates;
    if (prefix.size() > 40 ||
        prefix.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                 "0123456789-_.") != std::string::npos ||
        prefix.front() == '.') {
        throw common::UsageError(
            "--bates takes a prefix of at most 40 letters, digits, \"-\", "
            "\"_\" and \".\" (not first), not \"" +
            prefix + "\"");
    }
    if (line.run.format.oneFile || line.run.format.extension == common::kPdfExtension) {
        throw common::UsageError(
            "--bates names and stamps each page image: use --format jpeg or tiff with single "
            "pages (not pdf, not --tiff-pages multi)");
    }
    Production production;
    production.bates.prefix = prefix;
    if (line.batesDigits) {
        const auto digits = wholeNumber(*line.batesDigits, 1, common::kMaxBatesDigits);
        if (!digits) {
            throw common::UsageError("--bates-digits takes a whole number from 1 to " +
                                     std::to_string(common::kMaxBatesDigits) + ", not \"" +
                                     *line.batesDigits + "\"");
        }
        production.bates.digits = static_cast<int>(*digits);
    }
    if (line.batesStart) {
        const std::string& start = *line.batesStart;
        if (start.empty() || start.size() > static_cast<std::size_t>(production.bates.digits) ||
            start.find_first_not_of("0123456789") != std::string::npos) {
            throw common::UsageError("--bates-start takes a whole number of at most " +
                                     std::to_string(production.bates.digits) +
                                     " digits (--bates-digits), not \"" + start + "\"");
        }
        production.bates.start = std::stoull(start);
    }
    if (line.legend) {
        production.legend = checkedText("--legend", *line.legend, 200);
    }
    if (line.custodian) {
        production.custodian = checkedText("--custodian", *line.custodian, 1000);
    }
    if (line.datEncoding) {
        if (*line.datEncoding != "utf-8" && *line.datEncoding != "cp1252") {
            throw common::UsageError("--dat-encoding takes utf-8 or cp1252, not \"" +
                                     *line.datEncoding + "\"");
        }
        production.cp1252 = *line.datEncoding == "cp1252";
    }
    production.natives = line.natives;
    production.countOnly = line.countPages;
    line.plan.productionMark = productionMark(production);
    std::vector<std::string>& words = line.run.pageWords;
    words.insert(words.end(),
                 {kWorkerBates, production.bates.prefix, kWorkerBatesDigits,
                  std::to_string(production.bates.digits), kWorkerLegend, production.legend});
    if (production.natives) {
        words.emplace_back(kWorkerNatives);
    }
    line.run.production = std::move(production);
}

// Reads the words after the program's name; throws common::UsageError.
// Page options go to the workers as given ("--dpi 300").
void parseCommandLine(const std::vector<std::string>& args, CommandLine& line) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (optionsEnded || word == "-" || word.empty() || word.front() != '-') {
            line.inputPaths.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (word.starts_with("--")) {
            if (const auto equals = word.find('='); equals != std::string::npos) {
                name = word.substr(0, equals);
                value = word.substr(equals + 1);
            }
        } else if (word.size() > 2) {
            // "-j4", "-oDIR"
            name = word.substr(0, 2);
            value = word.substr(2);
        }
        if (takesValue(name)) {
            if (!value && i + 1 < args.size()) {
                value = args[++i];
            }
            if (!value || value->empty()) {
                throw common::UsageError(name + " needs a value");
            }
            if (name == "--dpi" || name == "--paper" || name == "--quality" ||
                name == "--timezone" || name == "--office-timeout" || name == "--format" ||
                name == "--colour" || name == "--tiff-pages") {
                line.run.pageWords.push_back(name);
                line.run.pageWords.push_back(*value);
            } else {
                applyValue(name, *value, line);
            }
            continue;
        }
        if (value) {
            throw common::UsageError(name + " takes no value");
        }
        if (name == "-h" || name == "--help") {
            line.help = true;
            return;
        }
        if (name == "--version") {
            line.version = true;
            return;
        }
        if (name == "-0" || name == "--null") {
            line.nullSeparated = true;
        } else if (name == "--mirror") {
            line.plan.mirror = true;
        } else if (name == "--mbox") {
            line.plan.mailboxes = true;
        } else if (name == "--natives") {
            line.natives = true;
        } else if (name == "--count-pages") {
            line.countPages = true;
        } else if (name == "--resume") {
            line.run.resume = true;
        } else if (name == "-q" || name == "--quiet") {
            line.run.quiet = true;
        } else if (name == "--header" || name == "--no-header" || name == "--attachments" ||
                   name == "--no-attachments" || name == "--text") {
            line.run.pageWords.push_back(name);
        } else {
            throw common::UsageError("unknown option " + name);
        }
    }
    // The page options are the converter's, checked by its own rules.
    std::vector<std::string> words;
    for (const std::string& word : line.run.pageWords) {
        if (word != "--no-header" && word != "--no-attachments") {
            words.push_back(word);
        }
    }
    const OutputFormat format = outputFormatOf(tool::parseOptions(words));
    line.plan.format = format;
    line.run.format = format;
    applyProduction(line);
}

// The inputs named on the command line and, for "-", on standard input;
// throws common::UsageError.
std::vector<Input> gatherInputs(const CommandLine& line, int standardInput) {
    std::vector<Input> inputs;
    bool listRead = false;
    for (std::size_t i = 0; i < line.inputPaths.size(); ++i) {
        const std::string& path = line.inputPaths[i];
        const auto position = static_cast<std::uint32_t>(i);
        if (path == "-") {
            if (listRead) {
                throw common::UsageError("- may be given once");
            }
            listRead = true;
            for (std::string& listed : readList(standardInput, line.nullSeparated ? '\0' : '\n')) {
                inputs.push_back({std::move(listed), true, position});
            }
            continue;
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            throw common::UsageError("cannot read the input \"" + path +
                                     "\": " + std::strerror(errno));
        }
        inputs.push_back({path, false, position});
    }
    return inputs;
}

}  // namespace

int runProgram(int argc, const char* const* argv, int standardInput, std::ostream& out,
               std::ostream& err) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "--worker") {
        return runWorker(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    const unsigned processors = processorCount();
    CommandLine line;
    line.run.jobs = processors;
    std::vector<Input> inputs;
    try {
        parseCommandLine(args, line);
        if (line.help || line.version) {
            out << (line.help ? helpText(processors)
                              : std::string(kProgram) + " (Orvaline) " + ORVALINE_VERSION + "\n");
            return common::kExitSuccess;
        }
        if (line.merge) {
            if (!line.inputPaths.empty() || line.outDir || line.bates) {
                throw common::UsageError(
                    "--merge-reports takes only the output folder (and --dat-encoding)");
            }
            if (line.datEncoding && *line.datEncoding != "utf-8" && *line.datEncoding != "cp1252") {
                throw common::UsageError("--dat-encoding takes utf-8 or cp1252, not \"" +
                                         *line.datEncoding + "\"");
            }
            const bool cp1252 = line.datEncoding == "cp1252";
            const std::string outDir = *line.merge;
            return mergeReports(outDir, out, err, [&](const std::string& merged) {
                try {
                    if (writeLoadFiles(outDir, merged, cp1252)) {
                        out << "wrote the load files of the production into " << outDir
                            << "/DATA\n";
                    }
                    return common::kExitSuccess;
                } catch (const std::exception& e) {
                    err << kProgram << ": " << e.what() << "\n";
                    return common::kExitFailure;
                }
            });
        }
        if (!line.outDir) {
            throw common::UsageError("no output folder: add -o OUTDIR");
        }
        if (line.inputPaths.empty()) {
            throw common::UsageError("no input: name message files or folders, or - for a list");
        }
        inputs = gatherInputs(line, standardInput);
    } catch (const common::UsageError& e) {
        err << kProgram << ": " << e.what() << "\nTry '" << kProgram << " --help'.\n";
        return common::kExitUsage;
    }
    RunOptions& options = line.run;
    const std::string& outDir = *line.outDir;
    options.outDir = outDir;
    options.reportPath = line.report ? *line.report
                                     : (outDir.back() == '/' ? outDir : outDir + "/") +
                                           reportNameFor(line.plan.shard);
    options.shard = line.plan.shard;
    options.workerProgram = ownExecutable();
    if (options.workerProgram.empty()) {
        err << kProgram << ": cannot find its own executable (/proc/self/exe)\n";
        return common::kExitUsage;
    }
    const Plan plan = makePlan(inputs, line.plan);
    if (!options.quiet) {
        for (const std::string& notice : plan.notices) {
            err << kProgram << ": " << notice << "\n";
        }
    }
    return runBatch(options, plan, err);
}

}  // namespace batch
