#include "convert/result_paths.h"

#include <common/page_files.h>

namespace convert {

QString ResultPath(const QString& source, bool option1, const QString& text1,
                   shell::PathStyle style) {
    const QString base = shell::StripExtension(shell::FileNameOf(source, style));
    const QString folder = option1 ? text1 : shell::FolderOf(source, style);
    return shell::NormalizePath(folder + shell::Separator(style) + base + QStringLiteral(".jpg"),
                                style);
}

QString PageImagePath(const QString& resultPath, int pageNumber) {
    return QString::fromStdString(common::pageFileName(resultPath.toStdString(), pageNumber));
}

QString ResultPathClaims::claim(const QString& source, const QString& resultPath) {
    const auto known = m_pathOfSource.constFind(source);
    if (known != m_pathOfSource.constEnd()) {
        return known.value();
    }
    const QString jpg = QStringLiteral(".jpg");
    const QString stem =
        resultPath.endsWith(jpg) ? resultPath.left(resultPath.size() - jpg.size()) : resultPath;
    QString candidate = resultPath;
    for (int n = 2; m_sourceOfPath.contains(candidate); ++n) {
        candidate = stem + QStringLiteral(" (%1)").arg(n) + jpg;
    }
    m_sourceOfPath.insert(candidate, source);
    m_pathOfSource.insert(source, candidate);
    return candidate;
}

}  // namespace convert
