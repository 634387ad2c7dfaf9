#include "page_output.h"

#include <common/file_writing.h>
#include <common/page_files.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace tool::detail {

namespace {

using Format = ConvertOptions::Format;

// The message file itself must never be replaced by one of its results (a
// message file named like its own output path).
void refuseToOverwrite(const std::string& msgPath, const std::string& resultPath) {
    std::error_code error;
    if (std::filesystem::equivalent(msgPath, resultPath, error)) {
        throw std::runtime_error("the image \"" + resultPath +
                                 "\" would replace the message file itself; nothing written");
    }
}

std::string rowValue(const envelope::Header& header, std::initializer_list<const char*> labels) {
    for (const envelope::Row& row : header.rows) {
        if (std::find(labels.begin(), labels.end(), row.label) != labels.end()) {
            return row.value;
        }
    }
    return {};
}

}  // namespace

PageOutput::PageOutput(const render::Library& library, const std::string& msgPath,
                       const std::string& outputPath, const ConvertOptions& options, bool numbered,
                       ConvertResult& result)
    : m_library(library),
      m_msgPath(msgPath),
      m_outputPath(outputPath),
      m_options(options),
      m_numbered(numbered),
      m_result(result) {}

PageOutput::~PageOutput() = default;

void PageOutput::describe(const envelope::Header& header) {
    m_header = header;
}

std::string PageOutput::pageName(int pageNumber, int documentPages) const {
    if (!m_numbered && !m_options.production && documentPages == 1) {
        return m_outputPath;
    }
    return common::pageFileName(
        m_outputPath, pageNumber,
        m_options.format == Format::Tiff ? common::kTiffExtension : common::kImageExtension);
}

std::vector<int> PageOutput::write(const render::Document& document, const std::string& about) {
    for (std::string& text : document.Warnings()) {
        m_result.warnings.push_back(about + text);
    }
    const int pages = document.PageCount();
    const int room = common::kMaxPages - written();
    if (pages > room) {
        m_result.warnings.push_back(about + std::to_string(pages - room) +
                                    " pages are left out: the message makes more than " +
                                    std::to_string(common::kMaxPages) + " pages");
    }
    const auto& production = m_options.production;
    if (production && production->countOnly) {
        std::vector<int> numbers(static_cast<std::size_t>(std::max(std::min(pages, room), 0)));
        for (int& number : numbers) {
            number = ++m_result.pages;
        }
        return numbers;
    }
    const bool oneFile = m_options.format == Format::Pdf ||
                         (m_options.format == Format::Tiff && m_options.tiffMulti);
    if (oneFile && !m_file && std::min(pages, room) > 0) {
        refuseToOverwrite(m_msgPath, m_outputPath);
        const bool pdf = m_options.format == Format::Pdf;
        m_file = std::make_unique<render::PageFile>(
            m_library, pdf ? render::PageFile::Kind::Pdf : render::PageFile::Kind::Tiff,
            m_outputPath, m_options.dpi);
        if (pdf) {
            m_file->SetInfo(rowValue(m_header, {"Subject:"}),
                            rowValue(m_header, {"From:", "Organizer:"}), m_header.sentSeconds);
        } else {
            m_file->SetTiff(m_options.colour, m_options.quality);
        }
    }
    std::vector<int> numbers;
    render::ImageOptions image;
    image.JpegQuality = m_options.quality;
    image.Resolution = m_options.dpi;
    for (int i = 0; i < std::min(pages, room); ++i) {
        if (production) {
            document.SetStamp(production->legend,
                              production->bates.number(production->first +
                                                       static_cast<std::uint64_t>(written())));
        }
        if (oneFile) {
            m_file->Add(document, i);
        } else {
            const std::string pageFile = pageName(written() + 1, pages);
            refuseToOverwrite(m_msgPath, pageFile);
            if (m_options.format == Format::Tiff) {
                render::PageFile tiff(m_library, render::PageFile::Kind::Tiff, pageFile,
                                      m_options.dpi);
                tiff.SetTiff(m_options.colour, m_options.quality);
                tiff.Add(document, i);
                tiff.Finish();
            } else {
                document.SaveToImage(i, 1, pageFile, image);
            }
            m_result.images.push_back(pageFile);
        }
        ++m_result.pages;
        numbers.push_back(written());
    }
    if (m_options.text && !production && std::min(pages, room) > 0) {
        if (!m_text.empty()) {
            m_text += '\n';
        }
        m_text += document.Text();
    }
    return numbers;
}

void PageOutput::writeDocumentFiles(const render::Document& document,
                                    std::span<const std::uint8_t> native, DocumentRecord& record) {
    if (m_options.production->countOnly) {
        return;
    }
    const std::string stem(common::withoutExtension(m_outputPath, m_options.format == Format::Tiff
                                                                      ? common::kTiffExtension
                                                                      : common::kImageExtension));
    const std::string name = stem + "_document" + std::to_string(m_result.documents.size() + 1);
    record.textFile = name + std::string(common::kTextExtension);
    refuseToOverwrite(m_msgPath, record.textFile);
    common::writeWholeFile(record.textFile, document.Text());
    if (m_options.production->natives && !record.sha256.empty()) {
        record.nativeFile = name + ".native";
        refuseToOverwrite(m_msgPath, record.nativeFile);
        common::writeWholeFile(
            record.nativeFile,
            std::string_view(reinterpret_cast<const char*>(native.data()), native.size()));
    }
}

void PageOutput::finish() {
    if (m_file) {
        m_file->Finish();
        m_result.images.push_back(m_outputPath);
    }
    if (m_options.text && !m_options.production) {
        const std::string path = common::textFileName(m_outputPath);
        refuseToOverwrite(m_msgPath, path);
        common::writeWholeFile(path, m_text);
        m_result.textFile = path;
    }
}

}  // namespace tool::detail
