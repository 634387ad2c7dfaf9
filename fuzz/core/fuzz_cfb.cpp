// Fuzz target: the compound-file reader. Opens the input, walks every
// storage, reads every stream, and copies the whole tree into memory and
// back through the writer. FormatError is the reader's documented failure;
// what the writer saves must open again, with the same elements and
// contents.

#include "../finding.h"

#include <cfb/compound_file.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace {

// The same tree: names, types, sizes and stream contents, storage by storage.
void expectSameTree(const cfb::Storage& written, const cfb::Storage& read,
                    const std::string& path) {
    const auto ours = written.elements();
    const auto theirs = read.elements();
    if (ours.size() != theirs.size()) {
        fuzz::reportFinding("saved copy of \"" + path + "\" reads back with " +
                            std::to_string(theirs.size()) + " elements instead of " +
                            std::to_string(ours.size()));
    }
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const auto& a = ours[i];
        const auto& b = theirs[i];
        const std::string where = path + "/" + a.name;
        if (a.name != b.name || a.type != b.type || a.size != b.size) {
            fuzz::reportFinding("saved copy of \"" + where + "\" reads back as \"" + b.name +
                                "\" (type or size differs)");
        }
        if (a.type == cfb::ElementType::Storage) {
            expectSameTree(*written.openStorage(a.name), *read.openStorage(b.name), where);
        } else if (written.readStream(a.name) != read.readStream(b.name)) {
            fuzz::reportFinding("saved copy of stream \"" + where + "\" reads back changed");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cfb::MemoryCompoundFile copy;
    try {
        const auto file = cfb::CompoundFile::open(std::span<const std::uint8_t>(data, size));
        std::function<void(const cfb::Storage&)> walk = [&](const cfb::Storage& s) {
            for (const auto& e : s.elements()) {
                try {
                    if (e.type == cfb::ElementType::Storage) {
                        walk(*s.openStorage(e.name));
                    } else {
                        (void)s.readStream(e.name);
                    }
                } catch (const cfb::FormatError&) {
                }
            }
        };
        walk(*file.root());
        copy.root().copyFrom(*file.root());
    } catch (const cfb::FormatError&) {
        return 0;
    } catch (...) {
        fuzz::reportFinding();
    }
    // The writer's own output: no failure is documented here.
    try {
        const auto saved = copy.save();
        const auto again = cfb::CompoundFile::open(saved);
        expectSameTree(copy.root(), *again.root(), "");
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
