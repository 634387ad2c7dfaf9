#include "page_output.h"

#include <common/page_files.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// `text` as the whole of `path`: written beside it, flushed and renamed over
// it, so that it is whole or absent; failures name the system's reason.
void writeTextFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".writing-" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw std::runtime_error("cannot write \"" + path + "\": " + std::strerror(errno));
    }
    const char* next = text.data();
    std::size_t left = text.size();
    int why = 0;
    while (left > 0 && why == 0) {
        const ssize_t wrote = ::write(fd, next, left);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            why = wrote < 0 ? errno : EIO;
            break;
        }
        next += wrote;
        left -= static_cast<std::size_t>(wrote);
    }
    if (why == 0 && ::fsync(fd) != 0 && errno != EINVAL) {
        why = errno;
    }
    if (::close(fd) != 0 && why == 0) {
        why = errno;
    }
    if (why == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        why = errno;
    }
    if (why != 0) {
        ::unlink(temporary.c_str());
        throw std::runtime_error("cannot write \"" + path + "\": " + std::strerror(why));
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
    if (!m_numbered && documentPages == 1) {
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
    if (m_options.text && std::min(pages, room) > 0) {
        if (!m_text.empty()) {
            m_text += '\n';
        }
        m_text += document.Text();
    }
    return numbers;
}

void PageOutput::finish() {
    if (m_file) {
        m_file->Finish();
        m_result.images.push_back(m_outputPath);
    }
    if (m_options.text) {
        const std::string path = common::textFileName(m_outputPath);
        refuseToOverwrite(m_msgPath, path);
        writeTextFile(path, m_text);
        m_result.textFile = path;
    }
}

}  // namespace tool::detail
