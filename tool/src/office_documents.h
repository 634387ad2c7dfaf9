#pragma once
// Office documents (word-processing, spreadsheet, presentation files) to PDF
// through LibreOffice: one LibreOffice process for this whole process (a
// worker converts many messages; a start costs a second or two), started on
// the first document and reused for every later one, with a profile of its
// own in a private temporary folder. It is driven through its Python bridge
// (python3-uno), which loads each document hidden and read-only with macros
// never run, and exports it as PDF. A document that takes longer than the
// time limit stops LibreOffice (killed with everything it started); the next
// document starts it anew. A document LibreOffice dies on is tried once more
// through LibreOffice's own --convert-to, in a process of its own.
//
// LibreOffice is found as "soffice" on the PATH (its program folder holds
// soffice.bin); Debian's /usr/bin/python3 runs the bridge.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tool::detail {

// Why a document has no PDF: LibreOffice is not installed, it failed or took
// too long, or it cannot read the document. The text says which.
class OfficeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OfficeConverter {
public:
    // The converter of this process, made on first use.
    static OfficeConverter& forThisProcess();

    OfficeConverter() = default;
    ~OfficeConverter();
    OfficeConverter(const OfficeConverter&) = delete;
    OfficeConverter& operator=(const OfficeConverter&) = delete;

    // The PDF of the document in `bytes` (`extension`, without the dot, tells
    // LibreOffice its kind), within `seconds`. Throws OfficeError.
    std::vector<std::uint8_t> toPdf(std::span<const std::uint8_t> bytes,
                                    const std::string& extension, unsigned seconds);

    // How often LibreOffice was started.
    int starts() const { return m_starts; }

private:
    void start(unsigned seconds);
    // The document through a LibreOffice of its own (its --convert-to), for
    // what the bridge's LibreOffice died on.
    std::vector<std::uint8_t> convertAlone(const std::string& source, unsigned seconds);
    void stop();
    std::string readLine(unsigned seconds, const char* doing);

    std::string m_folder;  // private: the profile and the documents in hand
    pid_t m_pid = -1;      // the bridge, leader of its own process group
    int m_toBridge = -1;
    int m_fromBridge = -1;
    std::string m_buffer;
    std::string m_unavailable;  // set once LibreOffice is known not to be there
    int m_starts = 0;
};

}  // namespace tool::detail
