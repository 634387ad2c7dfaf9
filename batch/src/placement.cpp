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

std::vector<std::string> imageNames(const std::string& result, std::size_t pages) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < pages; ++i) {
        names.push_back(pages == 1 ? result
                                   : common::pageFileName(result, static_cast<int>(i + 1)));
    }
    return names;
}

bool stillConverted(const Record& old, const Item& item, const std::string& outDir) {
    if (old.status != Record::Status::Converted || !old.size || old.images.empty()) {
        return false;
    }
    const auto names = imageNames(item.result, old.images.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (old.images[i].path != names[i] || !pathExists(joinOut(outDir, names[i]))) {
            return false;
        }
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

// Links one staged image to `target`; "" or why it cannot be placed.
std::string placeOne(const std::string& from, const std::string& target, const std::string& name,
                     const std::set<std::string>& mayReplace) {
    if (::link(from.c_str(), target.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    const int why = errno;
    const bool taken = why == EEXIST || (why != ENOENT && pathExists(target));
    if (taken && !mayReplace.contains(name)) {
        return "the image \"" + target +
               "\" exists already and is not this run's; nothing of this message was "
               "written (move that file away, or choose another output folder)";
    }
    if (::rename(from.c_str(), target.c_str()) != 0) {
        return "cannot place the image \"" + target + "\": " + std::strerror(errno);
    }
    return {};
}

}  // namespace

Record placeImages(const std::string& outDir, const Item& item,
                   const std::vector<Record::Image>& earlier, Record record,
                   const std::vector<StagedImage>& staged) {
    const auto names = imageNames(item.result, staged.size());
    std::set<std::string> mayReplace;
    for (const Record::Image& image : earlier) {
        mayReplace.insert(image.path);
    }
    std::vector<std::string> placed;
    std::string conflict;
    for (std::size_t i = 0; i < staged.size() && conflict.empty(); ++i) {
        const std::string target = joinOut(outDir, names[i]);
        if (const auto slash = names[i].rfind('/'); slash != std::string::npos) {
            std::error_code ignored;
            fs::create_directories(joinOut(outDir, names[i].substr(0, slash)), ignored);
        }
        conflict = placeOne(staged[i].path, target, names[i], mayReplace);
        if (conflict.empty()) {
            placed.push_back(target);
        }
    }
    if (!conflict.empty()) {
        // Only what this message placed a moment ago is taken back.
        for (const std::string& path : placed) {
            ::unlink(path.c_str());
        }
        for (const StagedImage& image : staged) {
            ::unlink(image.path.c_str());
        }
        record.status = Record::Status::Failed;
        record.images.clear();
        record.attachments.clear();
        record.warnings.clear();
        record.error = conflict;
        return record;
    }
    record.images.clear();
    for (std::size_t i = 0; i < staged.size(); ++i) {
        record.images.push_back({names[i], staged[i].sha256});
    }
    // Earlier images of this source not used again go, when they are still
    // exactly what the earlier record says.
    const std::set<std::string> now(names.begin(), names.end());
    for (const Record::Image& image : earlier) {
        if (now.contains(image.path)) {
            continue;
        }
        const std::string path = joinOut(outDir, image.path);
        const auto found = digest::ofFile(path);
        if (found && found->sha256 == image.sha256) {
            ::unlink(path.c_str());
        }
    }
    return record;
}

}  // namespace batch
