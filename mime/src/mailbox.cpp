// mbox files: split into messages by their "From " lines, in one pass over
// blocks of the file, holding no more than a line's first bytes and a few KiB
// after a possible message start.

#include <mime/mime.h>

#include "message_header.h"

#include <common/file_bytes.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace mime {

namespace {

constexpr std::string_view kFromLine = "From ";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// What is looked at after a "From " line to see whether header fields
// follow: the line itself and the header's first fields.
constexpr std::size_t kProbeBytes = 4096;
// A line's first bytes kept: enough for a byte order mark and "From ".
constexpr std::size_t kHeadBytes = 8;
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

bool startsWithFrom(std::string_view head, bool firstLine) {
    if (firstLine && head.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        head.remove_prefix(kByteOrderMark.size());
    }
    return head.substr(0, kFromLine.size()) == kFromLine;
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A probe that filled up before its header ended: header fields through
// to where it was cut (a long header of fields mail need not have).
bool onlyHeaderFields(std::string_view probe) {
    std::size_t at = detail::mailStart(probe);
    std::size_t fields = 0;
    while (at < probe.size()) {
        const std::size_t end = probe.find('\n', at);
        if (end == std::string_view::npos) {
            break;  // the line the probe cut
        }
        const detail::HeaderLine line = detail::classifyHeaderLine(probe.substr(at, end - at));
        if (line.kind == detail::HeaderLine::Kind::Field) {
            ++fields;
        } else if (line.kind != detail::HeaderLine::Kind::Continuation || fields == 0) {
            return false;
        }
        at = end + 1;
    }
    return fields > 0;
}

}  // namespace

MailboxSplitter::MailboxSplitter(const Limits& limits) : m_maxMessages(limits.mailboxMessages) {
    // The first line may start a message.
    m_probing = true;
}

void MailboxSplitter::add(std::span<const std::uint8_t> bytes) {
    const char* at = reinterpret_cast<const char*>(bytes.data());
    const char* end = at + bytes.size();
    while (at < end) {
        const auto* newline =
            static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        const char* stop = newline != nullptr ? newline : end;
        const auto size = static_cast<std::size_t>(stop - at);
        if (m_lineHead.size() < kHeadBytes) {
            m_lineHead.append(at, std::min(size, kHeadBytes - m_lineHead.size()));
        }
        m_lineLength += size;
        if (m_probing && m_probe.size() < kProbeBytes) {
            m_probe.append(at, std::min(size, kProbeBytes - m_probe.size()));
        }
        m_position += size;
        at = stop;
        if (newline != nullptr) {
            if (m_probing && m_probe.size() < kProbeBytes) {
                m_probe.push_back('\n');
            }
            ++m_position;
            ++at;
            lineEnded();
        }
    }
}

void MailboxSplitter::lineEnded() {
    const bool firstLine = m_lineStart == 0;
    const bool empty = m_lineLength == 0 || (m_lineLength == 1 && m_lineHead == "\r");
    if (m_probing && !m_candidate) {
        // The probe's first line: a message starts here only at "From ".
        m_candidate = startsWithFrom(m_lineHead, firstLine);
        if (firstLine) {
            m_startsWithFrom = m_candidate;
        }
        if (!m_candidate) {
            m_probing = false;
            m_probe.clear();
        } else {
            m_probeStart = m_lineStart;
        }
    } else if (m_candidate && (empty || m_probe.size() >= kProbeBytes)) {
        decideCandidate();
    }
    m_afterEmpty = empty;
    if (empty) {
        m_emptyLineStart = m_lineStart;
    }
    m_lineStart = m_position;
    m_lineHead.clear();
    m_lineLength = 0;
    if (m_afterEmpty && !m_candidate) {
        m_probing = true;
        m_probe.clear();
        m_probeSeparator = m_emptyLineStart;
    }
}

void MailboxSplitter::decideCandidate() {
    const bool first = m_starts.empty();
    if (first || looksLikeMail(asBytes(m_probe)) ||
        (m_probe.size() >= kProbeBytes && onlyHeaderFields(m_probe))) {
        // The empty line before a "From " line separates the messages: it
        // is neither's.
        if (!first && m_ends.size() < m_starts.size()) {
            m_ends.push_back(m_probeSeparator);
        }
        if (m_starts.size() < m_maxMessages) {
            m_starts.push_back(m_probeStart);
        } else if (!m_full) {
            m_full = true;
            m_warnings.push_back("more than " + std::to_string(m_maxMessages) +
                                 " messages in the mailbox; the rest are left out");
        }
    }
    m_probing = false;
    m_candidate = false;
    m_probe.clear();
}

std::vector<MailboxEntry> MailboxSplitter::finish() {
    if (m_lineLength > 0 || !m_lineHead.empty()) {
        // A last line without its line end.
        lineEnded();
    }
    if (m_candidate) {
        decideCandidate();
    }
    if (!m_startsWithFrom) {
        throw ParseError("not an mbox file: it does not start with a \"From \" line");
    }
    if (m_ends.size() < m_starts.size()) {
        // The last message ends with the file, less the empty line a writer
        // puts after every message.
        const bool endsEmpty = m_afterEmpty && !m_starts.empty() &&
                               m_emptyLineStart > m_starts.back() && m_lineStart == m_position;
        m_ends.push_back(endsEmpty ? m_emptyLineStart : m_position);
    }
    std::vector<MailboxEntry> entries;
    entries.reserve(m_starts.size());
    for (std::size_t i = 0; i < m_starts.size(); ++i) {
        entries.push_back({m_starts[i], m_ends[i] - m_starts[i]});
    }
    return entries;
}

std::vector<MailboxEntry> splitMailboxFile(const std::string& path,
                                           std::vector<std::string>* warnings,
                                           const Limits& limits) {
    const common::FileForReading file(path);
    MailboxSplitter splitter(limits);
    std::vector<std::uint8_t> block(kReadBlock);
    while (true) {
        const ssize_t got = ::read(file.fd, block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw common::systemReadError("cannot read", path);
        }
        if (got == 0) {
            break;
        }
        splitter.add(std::span(block).first(static_cast<std::size_t>(got)));
    }
    std::vector<MailboxEntry> entries = splitter.finish();
    if (warnings != nullptr) {
        *warnings = splitter.warnings();
    }
    return entries;
}

bool looksLikeMailbox(std::span<const std::uint8_t> head) {
    const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    return startsWithFrom(text, true) && looksLikeMail(head);
}

}  // namespace mime
