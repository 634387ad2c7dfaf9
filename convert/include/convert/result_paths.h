#pragma once
// Where the image of one source message goes.

#include <common/result_name_claims.h>
#include <shell/paths.h>

#include <QString>

namespace convert {

// The result path of `source`: the output folder (`text1`) when `option1` is
// chosen, otherwise the source's own folder; then the separator, the source's
// name without its extension, `extension` (".jpg", or ".pdf", ".tif" for
// those formats); passed through NormalizePath.
QString ResultPath(const QString& source, bool option1, const QString& text1,
                   shell::PathStyle style = shell::kNativeStyle,
                   const QString& extension = QStringLiteral(".jpg"));

// The image file names the converter writes for a result path: the path
// itself for one page; for several, common::pageFileName (with the
// extension of TIFF pages when the result path has it).
QString PageImagePath(const QString& resultPath, int pageNumber);

// Keeps the result paths of one run apart: a second, different source that
// maps to a path already given out gets " (2)", " (3)", ... before ".jpg".
// The same source listed twice keeps its one path (common::ResultNameClaims).
class ResultPathClaims {
public:
    QString claim(const QString& source, const QString& resultPath);

private:
    common::ResultNameClaims m_claims;
};

}  // namespace convert
