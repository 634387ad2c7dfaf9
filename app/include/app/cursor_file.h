#pragma once
// Loading a Windows pointer file (.cur) or icon (.ico) as a Qt cursor.

#include <QCursor>
#include <QString>

#include <optional>

namespace app {

// The pointer in `path`, with its hot spot when the file is a .cur; no
// value when the file cannot be read or decoded.
std::optional<QCursor> LoadCursorFile(const QString& path);

}  // namespace app
