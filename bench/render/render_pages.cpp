// render_pages <document> <output.jpg>: renders every page of a document file
// through the deployed rendering library, as the converter does, naming pages
// <output>_<n>.jpg. Prints the page count, and the renderer's warnings on
// standard error. For the comparison and speed
// scripts beside it.
#include "render/document.h"

#include <common/page_files.h>

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: render_pages <document> <output.jpg>\n", stderr);
        return 2;
    }
    try {
        render::Library library(render::Library::besideExecutable());
        render::Document doc(library, std::string(argv[1]));
        render::ImageOptions options;
        options.JpegQuality = 80;
        const int pages = doc.PageCount();
        for (int i = 0; i < pages; ++i) {
            doc.SaveToImage(i, 1, common::pageFileName(argv[2], i + 1), options);
        }
        for (const std::string& warning : doc.Warnings()) {
            std::fprintf(stderr, "warning: %s\n", warning.c_str());
        }
        std::printf("%d\n", pages);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
