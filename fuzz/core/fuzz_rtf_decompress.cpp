// Fuzz target: compressed-RTF decompression. FormatError is the documented
// failure; a result must be exactly RAWSIZE bytes (header bytes 4 to 7), and
// a stored ("MELA") body is the payload's first RAWSIZE bytes unchanged.

#include "../finding.h"

#include <msg/clzf.h>

#include <common/byte_reader.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    std::vector<std::uint8_t> out;
    try {
        out = tool::CLZF::decompressRTF(input);
    } catch (const common::FormatError&) {
        return 0;
    } catch (...) {
        fuzz::reportFinding();
    }
    if (size < tool::CLZF::kHeaderSize) {
        fuzz::reportFinding("a result from " + std::to_string(size) +
                            " bytes, shorter than the header");
    }
    const std::uint32_t rawSize = tool::CLZF::getU32(input, 4);
    if (out.size() != rawSize) {
        fuzz::reportFinding(std::to_string(out.size()) + " bytes out, RAWSIZE says " +
                            std::to_string(rawSize));
    }
    if (tool::CLZF::getU32(input, 8) == tool::CLZF::MAGIC_UNCOMPRESSED &&
        (rawSize > size - tool::CLZF::kHeaderSize ||
         (rawSize > 0 && std::memcmp(out.data(), data + tool::CLZF::kHeaderSize, rawSize) != 0))) {
        fuzz::reportFinding("a stored body came out changed");
    }
    return 0;
}
