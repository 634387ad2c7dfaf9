#include "batch/plan.h"

#include <common/folder_entries.h>
#include <common/result_name_claims.h>
#include <digest/digest.h>

#include <mime/mime.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <set>
#include <unordered_set>
#include <utility>

namespace batch {

namespace {

bool endsWithCaseless(std::string_view name, std::string_view extension) {
    if (name.size() < extension.size()) {
        return false;
    }
    const std::string_view tail = name.substr(name.size() - extension.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != extension[i]) {
            return false;
        }
    }
    return true;
}

// A message file or Internet mail by its name.
bool isMessageName(std::string_view name) {
    return !name.empty() && name.front() != '~' &&
           (endsWithCaseless(name, ".msg") || endsWithCaseless(name, ".eml"));
}

// An mbox file by its first bytes.
bool holdsMailbox(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    std::array<std::uint8_t, 4096> head{};
    std::size_t used = 0;
    while (used < head.size()) {
        const ssize_t got = ::read(fd, head.data() + used, head.size() - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return mime::looksLikeMailbox(std::span(head).first(used));
}

// The messages of the mbox file at `path` as items; one failed item when it
// cannot be read.
void addMailbox(const std::string& path, const std::string& key, std::uint32_t position,
                std::vector<Item>& items, std::vector<std::string>& notices) {
    std::vector<mime::MailboxEntry> entries;
    std::vector<std::string> warnings;
    try {
        entries = mime::splitMailboxFile(path, &warnings);
    } catch (const std::exception& e) {
        Item item;
        item.source = path;
        item.key = key;
        item.position = position;
        item.failReason = e.what();
        items.push_back(std::move(item));
        return;
    }
    for (const std::string& text : warnings) {
        std::string notice = "\"" + path + "\": ";
        notice += text;
        notices.push_back(std::move(notice));
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string number = "#" + std::to_string(i + 1);
        Item item;
        item.source = path + number;
        item.key = key + number;
        item.position = position;
        item.mailbox = MailboxPart{path, i + 1, entries[i].offset, entries[i].length};
        items.push_back(std::move(item));
    }
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
    bool mailboxes;
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
                const bool message = isMessageName(name);
                if (!message && (!mailboxes || name[0] == '~')) {
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
                if (!message) {
                    const std::string path = joinPath(folder, name);
                    if (holdsMailbox(path)) {
                        addMailbox(path, joinKey(key, name), position, items, notices);
                    }
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

std::optional<ItemDigest> digestOf(const Item& item) {
    const auto found = item.mailbox ? digest::ofFileRange(item.mailbox->file, item.mailbox->offset,
                                                          item.mailbox->length)
                                    : digest::ofFile(item.source);
    if (!found) {
        return std::nullopt;
    }
    return ItemDigest{found->size, found->sha256};
}

unsigned shardOf(const std::string& key, unsigned count) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return count == 0 ? 0 : static_cast<unsigned>(hash % count);
}

OutputFormat outputFormatOf(const tool::ConvertOptions& options) {
    using Format = tool::ConvertOptions::Format;
    OutputFormat format;
    if (options.format == Format::Pdf) {
        format.extension = common::kPdfExtension;
        format.oneFile = true;
    } else if (options.format == Format::Tiff) {
        format.extension = common::kTiffExtension;
        format.oneFile = options.tiffMulti;
    }
    format.text = options.text;
    return format;
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
            Walker walker{all, plan.notices, input.position, options.mailboxes, {}};
            walker.walk(input.path, key);
            continue;
        }
        if (S_ISREG(info.st_mode) && !isMessageName(lastPart(input.path)) &&
            holdsMailbox(input.path)) {
            addMailbox(input.path, key.empty() ? input.path : key, input.position, all,
                       plan.notices);
            continue;
        }
        Item item;
        item.source = input.path;
        item.key = key.empty() ? input.path : key;
        item.position = input.position;
        all.push_back(std::move(item));
    }
    // The messages of an mbox file in the file's order.
    const auto fileKey = [](const Item& item) {
        return item.mailbox ? std::string_view(item.key).substr(0, item.key.rfind('#'))
                            : std::string_view(item.key);
    };
    const auto numberOf = [](const Item& item) { return item.mailbox ? item.mailbox->number : 0; };
    std::sort(all.begin(), all.end(), [&](const Item& a, const Item& b) {
        if (a.position != b.position) {
            return a.position < b.position;
        }
        if (fileKey(a) != fileKey(b)) {
            return fileKey(a) < fileKey(b);
        }
        return numberOf(a) != numberOf(b) ? numberOf(a) < numberOf(b) : a.source < b.source;
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
        std::string name = resultNameOf(std::string(fileKey(item)), options.mirror);
        if (item.mailbox) {
            name.insert(name.size() - std::string_view(common::kImageExtension).size(),
                        "_" + std::to_string(item.mailbox->number));
        }
        item.result = claims.claim(item.source, name);
        if (options.format.extension != common::kImageExtension) {
            item.result.replace(item.result.size() - common::kImageExtension.size(),
                                std::string::npos, options.format.extension);
        }
        planDigest.update(item.key.data(), item.key.size() + 1);  // with its terminating zero
        planDigest.update(item.result.data(), item.result.size() + 1);
        unique.push_back(std::move(item));
    }
    // Not ending in a zero, the mark cannot be taken for a key or a name.
    if (options.format.text) {
        planDigest.update(std::string_view("with text"));
    }
    if (!options.productionMark.empty()) {
        planDigest.update(std::string_view("production "));
        planDigest.update(options.productionMark);
    }
    plan.total = unique.size();
    plan.digest = planDigest.hex();
    for (std::size_t i = 0; i < unique.size(); ++i) {
        unique[i].ordinal = i;
    }
    for (Item& item : unique) {
        if (options.shard.count <= 1 ||
            shardOf(item.key, options.shard.count) == options.shard.index) {
            plan.items.push_back(std::move(item));
        }
    }
    return plan;
}

}  // namespace batch
