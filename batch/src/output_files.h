#pragma once
// The files a run keeps in its output folder besides the images: the report
// it appends to, files replaced whole, and the staging folder its workers
// write pages into before they are placed.

#include <string>
#include <string_view>
#include <vector>

namespace batch {

// `name` (relative) inside `outDir`.
std::string joinOut(const std::string& outDir, const std::string& name);

// Whether anything (a dangling link too) has this name.
bool pathExists(const std::string& path);

// The report, opened for appending whole lines.
class ReportFile {
public:
    ReportFile() = default;
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // `append`: continue an existing file; otherwise the file must not exist.
    // False (errno set) when it cannot be opened.
    bool open(const std::string& path, bool append);
    // A line is in the file, whole, once this returns true (errno is set on
    // false).
    bool write(std::string_view line);

private:
    int m_fd = -1;
};

// Replaces the file at `path` by one holding `text` (written under a
// temporary name, then renamed). False (errno set) when it cannot.
bool writeFileReplacing(const std::string& path, const std::string& text);

// A run's staging folder: ".orvaline-staging.<host>.<pid>" in the output
// folder, so that runs of several machines can share one output folder.
std::string stagingFolderName(const std::string& host, long pid);
std::string thisHost();

// Removes the staging folders in `outDir` of runs on this host that no
// longer run (a run killed with SIGKILL, or by the out-of-memory killer,
// leaves its folder behind); the folders of other hosts and of live
// processes stay. Returns the names removed.
std::vector<std::string> removeAbandonedStaging(const std::string& outDir);

}  // namespace batch
