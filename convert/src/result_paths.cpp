#include "convert/result_paths.h"

#include <common/page_files.h>

namespace convert {

QString ResultPath(const QString& source, bool option1, const QString& text1,
                   shell::PathStyle style, const QString& extension) {
    const QString base = shell::StripExtension(shell::FileNameOf(source, style));
    const QString folder = option1 ? text1 : shell::FolderOf(source, style);
    return shell::NormalizePath(folder + shell::Separator(style) + base + extension, style);
}

QString PageImagePath(const QString& resultPath, int pageNumber) {
    const std::string path = resultPath.toStdString();
    const std::string_view tiff = common::kTiffExtension;
    const bool tiffPages = path.size() >= tiff.size() && path.ends_with(tiff);
    return QString::fromStdString(common::pageFileName(
        path, pageNumber, tiffPages ? common::kTiffExtension : common::kImageExtension));
}

QString ResultPathClaims::claim(const QString& source, const QString& resultPath) {
    return QString::fromStdString(m_claims.claim(source.toStdString(), resultPath.toStdString()));
}

}  // namespace convert
