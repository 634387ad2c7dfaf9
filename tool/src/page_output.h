#pragma once
// Where a message's pages go, one document after another: JPEG images or
// single-page TIFF files under the result's page names, or one PDF or
// multi-page TIFF file at the result path; with the text option the words of
// every document beside them. To the page cap.

#include "tool/converter.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tool::detail {

class PageOutput {
public:
    // `numbered`: page files are numbered even when there is one page (the
    // message makes more than one document).
    PageOutput(const render::Library& library, const std::string& msgPath,
               const std::string& outputPath, const ConvertOptions& options, bool numbered,
               ConvertResult& result);
    ~PageOutput();
    PageOutput(const PageOutput&) = delete;
    PageOutput& operator=(const PageOutput&) = delete;

    // The PDF's title, author and date, from the message's header; before
    // the first page.
    void describe(const envelope::Header& header);

    bool full() const { return written() >= common::kMaxPages; }
    int written() const { return m_result.pages; }

    // The document's pages, as many as the cap leaves room for; returns
    // their page numbers (from 1).
    std::vector<int> write(const render::Document& document, const std::string& about);

    // A production's document files, after its pages: its words, and with
    // natives its own bytes (`native`, when it has bytes of its own); their
    // names go to `record`. Nothing when pages are only counted.
    void writeDocumentFiles(const render::Document& document, std::span<const std::uint8_t> native,
                            DocumentRecord& record);

    // Puts a PDF or multi-page TIFF in place and writes the text file.
    void finish();

private:
    std::string pageName(int pageNumber, int documentPages) const;

    const render::Library& m_library;
    const std::string& m_msgPath;
    const std::string& m_outputPath;
    const ConvertOptions& m_options;
    bool m_numbered;
    ConvertResult& m_result;
    std::unique_ptr<render::PageFile> m_file;  // PDF, multi-page TIFF
    envelope::Header m_header;
    std::string m_text;
};

}  // namespace tool::detail
