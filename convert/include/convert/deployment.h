#pragma once
// Deploying the converter and its rendering library to the temporary folder
// for a conversion run.

#include <QByteArray>
#include <QString>

namespace convert {

inline constexpr const char* kToolFileName = "Kestrune.exe";
inline constexpr const char* kRendererFileName = "liborvaline-render.so";

// The bytes of the two files the application carries.
class ToolSource {
public:
    virtual ~ToolSource() = default;
    // Throw shell::Failure when the bytes are not available.
    virtual QByteArray converter() const = 0;
    virtual QByteArray renderer() const = 0;
};

// The files built into the executable (resources ":/CUSTOM/101" and
// ":/CUSTOM/102").
class EmbeddedTools final : public ToolSource {
public:
    QByteArray converter() const override;
    QByteArray renderer() const override;
};

// The temporary folder: the "TEMP" environment variable, read anew on every
// call and used unchanged. When it is unset or empty, a private per-user
// folder (created with mode 0700) instead of the root folder. Throws
// shell::Failure when that folder cannot be made private.
QString TempFolder();

// Makes `path` hold exactly `bytes`. A missing file is created; an identical
// one is left alone; a different one (a stale release, or a file planted by
// someone else) is replaced by writing a new file and renaming it over the
// old. New files are readable and writable by the user only (and executable
// when `executable`). Throws shell::Failure when that cannot be done.
void DeployFile(const QByteArray& bytes, const QString& path, bool executable);

}  // namespace convert
