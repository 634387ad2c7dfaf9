#include "batch/worker.h"

#include <common/command_line.h>
#include <digest/digest.h>
#include <tool/converter.h>

#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace batch {

namespace wire {

namespace {

void putNumber(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

std::uint32_t numberAt(const std::string& buffer, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(
                     static_cast<unsigned char>(buffer[at + static_cast<std::size_t>(i)]))
                 << (8 * i);
    }
    return value;
}

}  // namespace

void put(std::string& out, const std::vector<std::string>& fields) {
    putNumber(out, static_cast<std::uint32_t>(fields.size()));
    for (const std::string& field : fields) {
        putNumber(out, static_cast<std::uint32_t>(field.size()));
        out += field;
    }
}

std::optional<std::vector<std::string>> take(std::string& buffer) {
    if (buffer.size() < 4) {
        return std::nullopt;
    }
    const std::uint32_t count = numberAt(buffer, 0);
    if (count > kMaxFields) {
        throw std::runtime_error("a frame of " + std::to_string(count) + " fields");
    }
    std::size_t at = 4;
    std::vector<std::string> fields;
    fields.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (buffer.size() < at + 4) {
            return std::nullopt;
        }
        const std::uint32_t length = numberAt(buffer, at);
        if (length > kMaxField) {
            throw std::runtime_error("a field of " + std::to_string(length) + " bytes");
        }
        at += 4;
        if (buffer.size() < at + length) {
            return std::nullopt;
        }
        fields.push_back(buffer.substr(at, length));
        at += length;
    }
    buffer.erase(0, at);
    return fields;
}

bool writeAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace wire

namespace {

bool readExactly(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<std::uint32_t> readNumber() {
    std::array<char, 4> bytes{};
    if (!readExactly(0, bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    }
    return value;
}

// The next job's fields, or no value at the end of the input (or when what
// comes is no job).
std::optional<std::vector<std::string>> readJob() {
    const auto count = readNumber();
    if (!count || *count > wire::kMaxJobFields) {
        return std::nullopt;
    }
    std::vector<std::string> fields;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto length = readNumber();
        if (!length || *length > wire::kMaxJobField) {
            return std::nullopt;
        }
        std::string field(*length, '\0');
        if (!readExactly(0, field.data(), field.size())) {
            return std::nullopt;
        }
        fields.push_back(std::move(field));
    }
    return fields;
}

std::vector<std::string> convertOne(const render::Library& library, const tool::Source& source,
                                    const std::string& staging, const tool::ConvertOptions& options,
                                    const ConvertFunction& convert) {
    const auto sourceDigest = source.length
                                  ? digest::ofFileRange(source.path, source.offset, *source.length)
                                  : digest::ofFile(source.path);
    if (!sourceDigest) {
        return {"failed", "", "",
                "cannot open \"" + source.path + "\": " + std::strerror(errno != 0 ? errno : EIO)};
    }
    const std::string size = std::to_string(sourceDigest->size);
    try {
        const tool::ConvertResult result = convert(library, source, staging, options);
        std::vector<std::string> fields{"converted", size, sourceDigest->sha256,
                                        std::to_string(result.warnings.size())};
        fields.insert(fields.end(), result.warnings.begin(), result.warnings.end());
        fields.push_back(std::to_string(result.attachments.size()));
        for (const tool::AttachmentRecord& a : result.attachments) {
            std::string pages;
            for (const int page : a.pages) {
                pages += (pages.empty() ? "" : ",") + std::to_string(page);
            }
            fields.insert(fields.end(), {a.number, a.name, a.type, std::to_string(a.size), a.sha256,
                                         a.shown, a.reason, pages});
        }
        fields.push_back(std::to_string(result.documents.size()));
        for (const tool::DocumentRecord& d : result.documents) {
            std::string textSha;
            std::string nativeSha;
            for (const auto& [file, sha] :
                 {std::pair{&d.textFile, &textSha}, std::pair{&d.nativeFile, &nativeSha}}) {
                if (file->empty()) {
                    continue;
                }
                const auto fileDigest = digest::ofFile(*file);
                if (!fileDigest) {
                    return {"failed", size, sourceDigest->sha256,
                            "the file \"" + *file + "\" cannot be read back"};
                }
                *sha = fileDigest->sha256;
            }
            fields.insert(fields.end(), {d.number,
                                         std::to_string(d.firstPage),
                                         std::to_string(d.pages),
                                         d.slipSheet ? "1" : "0",
                                         d.fileName,
                                         d.type,
                                         std::to_string(d.size),
                                         d.md5,
                                         d.sha256,
                                         d.mail ? "1" : "0",
                                         d.from,
                                         d.to,
                                         d.cc,
                                         d.bcc,
                                         d.subject,
                                         d.messageId,
                                         d.sentDate,
                                         d.sentTime,
                                         d.timeZone,
                                         d.textFile,
                                         textSha,
                                         d.nativeFile,
                                         nativeSha});
        }
        fields.push_back(std::to_string(result.pages));
        if (result.textFile.empty()) {
            fields.insert(fields.end(), {"", ""});
        } else {
            const auto textDigest = digest::ofFile(result.textFile);
            if (!textDigest) {
                return {"failed", size, sourceDigest->sha256,
                        "the text file \"" + result.textFile + "\" cannot be read back"};
            }
            fields.insert(fields.end(), {result.textFile, textDigest->sha256});
        }
        for (const std::string& image : result.images) {
            const auto imageDigest = digest::ofFile(image);
            if (!imageDigest) {
                return {"failed", size, sourceDigest->sha256,
                        "the image \"" + image + "\" cannot be read back"};
            }
            fields.push_back(image);
            fields.push_back(imageDigest->sha256);
        }
        return fields;
    } catch (const std::exception& e) {
        return {"failed", size, sourceDigest->sha256, e.what()};
    } catch (...) {
        return {"failed", size, sourceDigest->sha256,
                "the conversion failed for an unknown reason"};
    }
}

std::optional<std::uint64_t> numberOf(const std::string& text) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(text);
}

// A job's message: a path, or a path with an offset and a length (both ""
// for a whole file), then what a production asks.
std::optional<tool::Source> sourceOf(const std::vector<std::string>& job) {
    if (job.size() == 2 || (job.size() == 5 && job[2].empty() && job[3].empty())) {
        return tool::Source{job[0], 0, std::nullopt};
    }
    if (job.size() != 4 && job.size() != 5) {
        return std::nullopt;
    }
    const auto offset = numberOf(job[2]);
    const auto length = numberOf(job[3]);
    if (!offset || !length) {
        return std::nullopt;
    }
    return tool::Source{job[0], *offset, *length};
}

}  // namespace

int runWorker(const std::vector<std::string>& pageWords, const ConvertFunction& given) {
    const ConvertFunction convert =
        given
            ? given
            : ConvertFunction([](const render::Library& library, const tool::Source& source,
                                 const std::string& staging, const tool::ConvertOptions& options) {
                  return tool::convertMessage(library, source, staging, options);
              });
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    // Here the header and the attachments are on unless switched off.
    tool::ConvertOptions options;
    options.header = true;
    options.attachments = true;
    std::vector<std::string> words;
    std::optional<tool::ConvertOptions::Production> production;
    for (std::size_t i = 0; i < pageWords.size(); ++i) {
        const std::string& word = pageWords[i];
        const bool valued = i + 1 < pageWords.size();
        if (word == "--no-header") {
            options.header = false;
        } else if (word == "--no-attachments") {
            options.attachments = false;
        } else if (word == kWorkerBates && valued) {
            production = tool::ConvertOptions::Production{};
            production->bates.prefix = pageWords[++i];
        } else if (word == kWorkerBatesDigits && valued && production) {
            production->bates.digits = std::stoi(pageWords[++i]);
        } else if (word == kWorkerLegend && valued && production) {
            production->legend = pageWords[++i];
        } else if (word == kWorkerNatives && production) {
            production->natives = true;
        } else {
            words.push_back(word);
        }
    }
    try {
        options = tool::parseOptions(words, options);
    } catch (const common::UsageError& e) {
        const std::string text = std::string("orvaline-convert --worker: ") + e.what() + "\n";
        wire::writeAll(2, text);
        return common::kExitUsage;
    }
    // The renderer runs without a display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::optional<render::Library> library;
    std::string loadFailure;
    try {
        library.emplace(render::Library::besideExecutable());
    } catch (const std::exception& e) {
        loadFailure = e.what();
    }
    while (const auto job = readJob()) {
        const auto source = sourceOf(*job);
        if (!source) {
            return common::kExitUsage;
        }
        std::vector<std::string> fields;
        if (!library) {
            fields = {"failed", "", "", loadFailure};
        } else {
            tool::ConvertOptions jobOptions = options;
            if (production && job->size() == 5) {
                jobOptions.production = production;
                const auto first = numberOf((*job)[4]);
                jobOptions.production->countOnly = !first;
                jobOptions.production->first = first.value_or(1);
            }
            fields = convertOne(*library, *source, (*job)[1], jobOptions, convert);
        }
        std::string frame;
        wire::put(frame, fields);
        if (!wire::writeAll(kResultFd, frame)) {
            return common::kExitFailure;
        }
    }
    return common::kExitSuccess;
}

}  // namespace batch
