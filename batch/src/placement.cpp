#include "placement.h"

#include "output_files.h"

#include <common/page_files.h>
#include <digest/digest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

namespace batch {

namespace fs = std::filesystem;

std::vector<std::string> imageNames(const std::string& result, std::size_t files,
                                    const OutputFormat& format) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < files; ++i) {
        names.push_back(
            files == 1 ? result
                       : common::pageFileName(result, static_cast<int>(i + 1), format.extension));
    }
    return names;
}

bool stillConverted(const Record& old, const Item& item, const std::string& outDir,
                    const OutputFormat& format) {
    if (old.status != Record::Status::Converted || !old.size || old.images.empty()) {
        return false;
    }
    // A multi-page TIFF and TIFF pages share the name of a message of one
    // page: what the record says the file holds tells them apart.
    for (const Record::Image& image : old.images) {
        if (image.pages.has_value() != format.oneFile) {
            return false;
        }
    }
    if (format.oneFile && old.images.size() != 1) {
        return false;
    }
    const auto names = imageNames(item.result, old.images.size(), format);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (old.images[i].path != names[i] || !pathExists(joinOut(outDir, names[i]))) {
            return false;
        }
    }
    if (old.text) {
        const std::string name = common::textFileName(item.result);
        if (old.text->path != name || !pathExists(joinOut(outDir, name))) {
            return false;
        }
    } else if (format.text) {
        return false;
    }
    if (!item.mailbox) {
        struct stat info {};
        if (::stat(item.source.c_str(), &info) != 0 ||
            static_cast<std::uint64_t>(info.st_size) != *old.size) {
            return false;
        }
    }
    const auto now = digestOf(item);
    return now && now->size == *old.size && now->sha256 == old.sha256;
}

namespace {

// Links one staged file (`what`: "image", "text file") to `target`; "" or
// why it cannot be placed.
std::string placeOne(const std::string& from, const std::string& target, const std::string& name,
                     const char* what, const std::set<std::string>& mayReplace) {
    if (::link(from.c_str(), target.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    const int why = errno;
    const bool taken = why == EEXIST || (why != ENOENT && pathExists(target));
    if (taken && !mayReplace.contains(name)) {
        return std::string("the ") + what + " \"" + target +
               "\" exists already and is not this run's; nothing of this message was "
               "written (move that file away, or choose another output folder)";
    }
    if (::rename(from.c_str(), target.c_str()) != 0) {
        return std::string("cannot place the ") + what + " \"" + target +
               "\": " + std::strerror(errno);
    }
    return {};
}

}  // namespace

Record placeFiles(const std::string& outDir, const std::vector<Record::Image>& earlier,
                  Record record, const std::vector<PlacedFile>& files, const std::string& refusal) {
    std::set<std::string> mayReplace;
    for (const Record::Image& file : earlier) {
        mayReplace.insert(file.path);
    }
    std::vector<std::string> placed;
    std::string conflict = refusal;
    for (std::size_t i = 0; i < files.size() && conflict.empty(); ++i) {
        const std::string& name = files[i].name;
        const std::string target = joinOut(outDir, name);
        if (const auto slash = name.rfind('/'); slash != std::string::npos) {
            std::error_code ignored;
            fs::create_directories(joinOut(outDir, name.substr(0, slash)), ignored);
        }
        conflict = placeOne(files[i].staged, target, name, files[i].what, mayReplace);
        if (conflict.empty()) {
            placed.push_back(target);
        }
    }
    if (!conflict.empty()) {
        // Only what this message placed a moment ago is taken back.
        for (const std::string& path : placed) {
            ::unlink(path.c_str());
        }
        for (const PlacedFile& file : files) {
            ::unlink(file.staged.c_str());
        }
        record.status = Record::Status::Failed;
        record.images.clear();
        record.text.reset();
        record.attachments.clear();
        record.warnings.clear();
        record.error = conflict;
        return record;
    }
    record.images.clear();
    record.text.reset();
    // Earlier files of this source not used again go, when they are still
    // exactly what the earlier record says.
    std::set<std::string> now;
    for (const PlacedFile& file : files) {
        now.insert(file.name);
    }
    for (const Record::Image& file : earlier) {
        if (now.contains(file.path)) {
            continue;
        }
        const std::string path = joinOut(outDir, file.path);
        const auto found = digest::ofFile(path);
        if (found && found->sha256 == file.sha256) {
            ::unlink(path.c_str());
        }
    }
    return record;
}

Record placeImages(const std::string& outDir, const Item& item, const OutputFormat& format,
                   const std::vector<Record::Image>& earlier, Record record,
                   const std::vector<StagedImage>& staged, const std::optional<StagedImage>& text) {
    // Every file of the message with its name: the images, then the text.
    std::vector<PlacedFile> files;
    const auto names = imageNames(item.result, staged.size(), format);
    for (std::size_t i = 0; i < staged.size(); ++i) {
        files.push_back({staged[i].path, names[i], "image"});
    }
    if (text) {
        files.push_back({text->path, common::textFileName(item.result), "text file"});
    }
    record = placeFiles(outDir, earlier, std::move(record), files, {});
    if (record.status != Record::Status::Converted) {
        return record;
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        record.images.push_back({names[i], staged[i].sha256, staged[i].pages});
    }
    if (text) {
        record.text = Record::Image{files.back().name, text->sha256};
    }
    return record;
}

}  // namespace batch
