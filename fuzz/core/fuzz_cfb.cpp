// Fuzz target: the compound-file reader. Opens the input, walks every
// storage, reads every stream, and copies the whole tree into memory and
// back through the writer.

#include "../finding.h"

#include <cfb/compound_file.h>

#include <cstddef>
#include <cstdint>
#include <functional>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
        cfb::MemoryCompoundFile copy;
        copy.root().copyFrom(*file.root());
        (void)cfb::CompoundFile::open(copy.save());
    } catch (const cfb::FormatError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
