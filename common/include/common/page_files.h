#pragma once
// How the images of a result of several pages are named: the result path
// without a final ".jpg" (compared exactly, lower case), "_", the page number
// from 1, ".jpg". A result of one page is the result path itself. The
// converter writes these names and the window looks for them; both use this.
// The page cap is here too, as both sides of the rendering library apply it.

#include <string>
#include <string_view>

namespace common {

inline constexpr std::string_view kImageExtension = ".jpg";

// Pages made at most: by one message file, its embedded messages' pages
// included (the converter), and by one document (the renderer, whose last
// page then says how many there were).
inline constexpr int kMaxPages = 500;

inline std::string pageFileName(std::string_view resultPath, int pageNumber) {
    std::string_view stem = resultPath;
    if (stem.size() >= kImageExtension.size() &&
        stem.substr(stem.size() - kImageExtension.size()) == kImageExtension) {
        stem.remove_suffix(kImageExtension.size());
    }
    std::string name(stem);
    name += '_';
    name += std::to_string(pageNumber);
    name += kImageExtension;
    return name;
}

}  // namespace common
