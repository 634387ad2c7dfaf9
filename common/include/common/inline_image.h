#pragma once
// A picture a message carries as an attachment, handed to the renderer beside
// the body so that HTML can show it: found by "cid:" + contentId (compared as
// the renderer's picture lookup describes) or by its file name. Standard
// library only: the converter fills it, the rendering library reads it.

#include <cstdint>
#include <string>
#include <vector>

namespace common {

struct InlineImage {
    std::string contentId;
    std::string fileName;
    std::vector<std::uint8_t> data;
};

}  // namespace common
