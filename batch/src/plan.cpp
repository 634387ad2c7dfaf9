#include "batch/plan.h"

#include <common/folder_entries.h>
#include <common/result_name_claims.h>
#include <digest/digest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <unordered_set>
#include <utility>

namespace batch {

namespace {

constexpr std::string_view kMessageExtension = ".msg";

bool isMessageName(std::string_view name) {
    if (name.size() < kMessageExtension.size() || name.front() == '~') {
        return false;
    }
    const std::string_view tail = name.substr(name.size() - kMessageExtension.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != kMessageExtension[i]) {
            return false;
        }
    }
    return true;
}

// The path's parts without empty, "." and ".." ones, joined by "/".
std::string cleanKey(std::string_view path) {
    std::string key;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            if (!key.empty()) {
                key += '/';
            }
            key += part;
        }
        start = end + 1;
    }
    return key;
}

std::string lastPart(const std::string& path) {
    const std::string key = cleanKey(path);
    const auto slash = key.rfind('/');
    return slash == std::string::npos ? key : key.substr(slash + 1);
}

std::string joinPath(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

std::string joinKey(const std::string& prefix, std::string_view name) {
    return prefix.empty() ? std::string(name) : prefix + "/" + std::string(name);
}

struct Walker {
    std::vector<Item>& items;
    std::vector<std::string>& notices;
    std::uint32_t position;
    std::set<std::pair<dev_t, ino_t>> seen;

    void walk(const std::string& root, const std::string& rootKey) {
        std::vector<std::pair<std::string, std::string>> pending{{root, rootKey}};
        while (!pending.empty()) {
            auto [folder, key] = std::move(pending.back());
            pending.pop_back();
            DIR* dir = ::opendir(folder.c_str());
            if (dir == nullptr) {
                notices.push_back("the folder \"" + folder +
                                  "\" cannot be listed: " + std::strerror(errno));
                continue;
            }
            struct stat own {};
            if (::fstat(::dirfd(dir), &own) == 0 && !seen.emplace(own.st_dev, own.st_ino).second) {
                ::closedir(dir);  // reached twice (a bind mount): listed once
                continue;
            }
            while (const dirent* entry = ::readdir(dir)) {
                const char* name = entry->d_name;
                if (common::isDotOrDotDot(name) || name[0] == '.') {
                    continue;
                }
                const common::EntryKind kind = common::kindOf(::dirfd(dir), entry);
                if (!kind.known) {
                    continue;
                }
                if (kind.folder) {
                    pending.emplace_back(joinPath(folder, name), joinKey(key, name));
                    continue;
                }
                if (!isMessageName(name)) {
                    continue;
                }
                bool regular = kind.regular;
                if (kind.link) {
                    // A link to a message file counts; one to a folder is
                    // not followed.
                    struct stat target {};
                    if (::fstatat(::dirfd(dir), name, &target, 0) != 0) {
                        continue;
                    }
                    if (!S_ISREG(target.st_mode)) {
                        continue;
                    }
                    regular = true;
                }
                if (!regular) {
                    continue;
                }
                Item item;
                item.source = joinPath(folder, name);
                item.key = joinKey(key, name);
                item.position = position;
                if (!common::canOpenAt(::dirfd(dir), name, true)) {
                    item.skipReason = "this user may not read it";
                }
                items.push_back(std::move(item));
            }
            ::closedir(dir);
        }
    }
};

}  // namespace

unsigned shardOf(const std::string& key, unsigned count) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return count == 0 ? 0 : static_cast<unsigned>(hash % count);
}

std::string resultNameOf(const std::string& key, bool mirror) {
    const auto slash = key.rfind('/');
    const std::string name = slash == std::string::npos ? key : key.substr(slash + 1);
    const auto dot = name.rfind('.');
    const std::string stem = dot != std::string::npos && dot >= 1 ? name.substr(0, dot) : name;
    std::string result = stem + ".jpg";
    if (mirror && slash != std::string::npos) {
        result = key.substr(0, slash + 1) + result;
    }
    return result;
}

Plan makePlan(const std::vector<Input>& inputs, const PlanOptions& options) {
    Plan plan;
    std::vector<Item> all;
    for (const Input& input : inputs) {
        struct stat info {};
        const std::string key = input.fromList ? cleanKey(input.path) : lastPart(input.path);
        if (::stat(input.path.c_str(), &info) != 0) {
            Item item;
            item.source = input.path;
            item.key = key.empty() ? input.path : key;
            item.position = input.position;
            item.failReason = "cannot open \"" + input.path + "\": " + std::strerror(errno);
            all.push_back(std::move(item));
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            Walker walker{all, plan.notices, input.position, {}};
            walker.walk(input.path, key);
            continue;
        }
        Item item;
        item.source = input.path;
        item.key = key.empty() ? input.path : key;
        item.position = input.position;
        all.push_back(std::move(item));
    }
    std::sort(all.begin(), all.end(), [](const Item& a, const Item& b) {
        return a.position != b.position ? a.position < b.position
                                        : (a.key != b.key ? a.key < b.key : a.source < b.source);
    });
    // The same file named twice (a folder and a file in it) is one message.
    std::unordered_set<std::string> sources;
    common::ResultNameClaims claims(true);
    digest::Hash planDigest(digest::Algorithm::Sha256);
    std::vector<Item> unique;
    unique.reserve(all.size());
    for (Item& item : all) {
        if (!sources.insert(item.source).second) {
            continue;
        }
        item.result = claims.claim(item.source, resultNameOf(item.key, options.mirror));
        planDigest.update(item.key.data(), item.key.size() + 1);  // with its terminating zero
        planDigest.update(item.result.data(), item.result.size() + 1);
        unique.push_back(std::move(item));
    }
    plan.total = unique.size();
    plan.digest = planDigest.hex();
    for (Item& item : unique) {
        if (options.shard.count <= 1 ||
            shardOf(item.key, options.shard.count) == options.shard.index) {
            plan.items.push_back(std::move(item));
        }
    }
    return plan;
}

}  // namespace batch
