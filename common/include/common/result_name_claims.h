#pragma once
// Keeping the result names of one run apart: a second, different source that
// maps to a name already given out gets " (2)", " (3)", ... before ".jpg"
// (or the ".pdf" or ".tif" of results in those formats);
// the same source claimed again keeps its one name. The window's run and the
// batch converter both name results by this rule. Standard library only.
//
// With `pageNamesToo`, a name is also taken when its images could meet
// another result's page images (common/page_files.h): "a_1.jpg" is a page of
// "a.jpg", so a source named "a_1" moves on to "a_1 (2).jpg" once "a" has
// been claimed, and "a" moves on once "a_1.jpg" has. The batch converter
// names results before it knows their page counts and needs this.

#include "common/page_files.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace common {

class ResultNameClaims {
public:
    explicit ResultNameClaims(bool pageNamesToo = false) : m_pageNamesToo(pageNamesToo) {}

    std::string claim(const std::string& source, const std::string& resultName) {
        if (const auto known = m_nameOfSource.find(source); known != m_nameOfSource.end()) {
            return known->second;
        }
        const std::string_view extension = extensionOf(resultName);
        const std::string stem = resultName.substr(0, resultName.size() - extension.size());
        // A name without an extension of results is given one.
        const std::string_view added = extension.empty() ? kImageExtension : extension;
        std::string candidate = resultName;
        for (int n = 2; taken(candidate); ++n) {
            candidate = stem + " (" + std::to_string(n) + ")" + std::string(added);
        }
        m_sourceOfName.emplace(candidate, source);
        m_nameOfSource.emplace(source, candidate);
        if (m_pageNamesToo) {
            if (const auto pageOf = pageParent(candidate)) {
                m_pageParents.insert(*pageOf);
            }
        }
        return candidate;
    }

    std::size_t size() const { return m_nameOfSource.size(); }

private:
    // The final ".jpg", ".pdf" or ".tif" of a result name; empty for none.
    static std::string_view extensionOf(std::string_view name) {
        for (const std::string_view extension : {kImageExtension, kPdfExtension, kTiffExtension}) {
            if (name.size() >= extension.size() &&
                name.substr(name.size() - extension.size()) == extension) {
                return extension;
            }
        }
        return {};
    }

    // For "x_<n>.jpg" (n from 1, no leading zero) the name "x.jpg" whose
    // page n it would be; the same for TIFF pages. A PDF holds its pages.
    static std::optional<std::string> pageParent(std::string_view name) {
        const std::string_view jpg = extensionOf(name);
        if (jpg.empty() || jpg == kPdfExtension) {
            return std::nullopt;
        }
        name.remove_suffix(jpg.size());
        const auto underscore = name.rfind('_');
        if (underscore == std::string_view::npos || underscore + 1 == name.size() ||
            name[underscore + 1] == '0') {
            return std::nullopt;
        }
        for (std::size_t i = underscore + 1; i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9') {
                return std::nullopt;
            }
        }
        return std::string(name.substr(0, underscore)) + std::string(jpg);
    }

    bool taken(const std::string& candidate) const {
        if (m_sourceOfName.contains(candidate)) {
            return true;
        }
        if (!m_pageNamesToo) {
            return false;
        }
        // A page of a name given out, or a name whose pages were given out.
        const auto parent = pageParent(candidate);
        return (parent && m_sourceOfName.contains(*parent)) || m_pageParents.contains(candidate);
    }

    bool m_pageNamesToo;
    std::unordered_map<std::string, std::string> m_sourceOfName;
    std::unordered_map<std::string, std::string> m_nameOfSource;
    std::unordered_set<std::string> m_pageParents;
};

}  // namespace common
