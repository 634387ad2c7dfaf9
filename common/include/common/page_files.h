#pragma once
// How the files of a result are named. Pages: the result path without a
// final ".jpg" (".tif" for TIFF pages; compared exactly, lower case), "_", the
// page number from 1, the extension. A result of one page is the result path
// itself, as is a PDF or multi-page TIFF that holds every page. The text
// beside the pages: the result path with its final extension (".jpg",
// ".pdf", ".tif") replaced by ".txt". The converter writes these names and
// the window looks for them; both use this. The page cap is here too, as
// both sides of the rendering library apply it.

#include <string>
#include <string_view>

namespace common {

inline constexpr std::string_view kImageExtension = ".jpg";
inline constexpr std::string_view kPdfExtension = ".pdf";
inline constexpr std::string_view kTiffExtension = ".tif";
inline constexpr std::string_view kTextExtension = ".txt";

// Pages made at most: by one message file, its embedded messages' pages
// included (the converter), and by one document (the renderer, whose last
// page then says how many there were).
inline constexpr int kMaxPages = 500;

inline std::string_view withoutExtension(std::string_view path, std::string_view extension) {
    if (path.size() >= extension.size() &&
        path.substr(path.size() - extension.size()) == extension) {
        path.remove_suffix(extension.size());
    }
    return path;
}

inline std::string pageFileName(std::string_view resultPath, int pageNumber,
                                std::string_view extension = kImageExtension) {
    std::string name(withoutExtension(resultPath, extension));
    name += '_';
    name += std::to_string(pageNumber);
    name += extension;
    return name;
}

inline std::string textFileName(std::string_view resultPath) {
    for (const std::string_view extension : {kImageExtension, kPdfExtension, kTiffExtension}) {
        const std::string_view stem = withoutExtension(resultPath, extension);
        if (stem.size() != resultPath.size()) {
            return std::string(stem) + std::string(kTextExtension);
        }
    }
    return std::string(resultPath) + std::string(kTextExtension);
}

}  // namespace common
