// Fuzz target: compressed-RTF decompression.

#include "../finding.h"

#include <msg/clzf.h>

#include <common/byte_reader.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto out = tool::CLZF::decompressRTF(std::span<const std::uint8_t>(data, size));
        // Never more than one input byte can yield.
        if (out.size() / 17 > size / 2 + 1)
            __builtin_trap();
    } catch (const common::FormatError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
