#pragma once
// What a PagedDocument holds, for the engine's files that work on it.

#include "engine/paged_document.h"
#include "fixed_pages.h"
#include "pagination.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace render::engine {

struct PagedDocument::State {
    SourceFormat format = SourceFormat::Text;
    std::vector<std::string> warnings;
    std::optional<std::string> placeholderReason;
    PagedLayout paged;                  // RTF, HTML, text and placeholders
    std::unique_ptr<FixedPages> fixed;  // pictures and PDF files
    PageStamp stamp;                    // the band below each page; empty: none
};

}  // namespace render::engine
