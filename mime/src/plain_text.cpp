#include "plain_text.h"

#include <cstddef>
#include <vector>

namespace mime::detail {

namespace {

constexpr std::string_view kSignedBegin = "-----BEGIN PGP SIGNED MESSAGE-----";
constexpr std::string_view kSignatureBegin = "-----BEGIN PGP SIGNATURE-----";
constexpr std::string_view kSignatureEnd = "-----END PGP SIGNATURE-----";
constexpr std::string_view kMessageBegin = "-----BEGIN PGP MESSAGE-----";

// The lines of text, without their "\n"; a final "\n" gives no empty line
// after it, and `endsWithNewline` says whether it was there.
std::vector<std::string_view> splitLines(std::string_view text, bool& endsWithNewline) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            start = text.size();
            endsWithNewline = false;
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    endsWithNewline = !text.empty();
    return lines;
}

// An armour line: the marker, then only trailing white space.
bool isArmourLine(std::string_view line, std::string_view marker) {
    if (line.substr(0, marker.size()) != marker) {
        return false;
    }
    for (const char c : line.substr(marker.size())) {
        if (c != ' ' && c != '\t') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string unixLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string joinFlowed(std::string_view text, bool delSp) {
    bool endsWithNewline = false;
    const std::vector<std::string_view> lines = splitLines(text, endsWithNewline);
    std::string out;
    out.reserve(text.size());
    std::string paragraph;
    std::size_t paragraphDepth = 0;
    bool open = false;  // a flowed line waits for its continuation
    const auto emit = [&](std::size_t depth, const std::string& content) {
        if (depth > 0) {
            out.append(depth, '>');
            if (!content.empty()) {
                out.push_back(' ');
            }
        }
        out += content;
        out.push_back('\n');
    };
    for (const std::string_view raw : lines) {
        std::size_t depth = 0;
        while (depth < raw.size() && raw[depth] == '>') {
            ++depth;
        }
        std::string_view content = raw.substr(depth);
        if (!content.empty() && content.front() == ' ') {
            content.remove_prefix(1);  // space-stuffing
        }
        if (open && depth != paragraphDepth) {
            // A change of quote depth ends the paragraph as it stands.
            emit(paragraphDepth, paragraph);
            paragraph.clear();
            open = false;
        }
        const bool signature = content == "-- ";
        const bool flowed = !signature && !content.empty() && content.back() == ' ';
        if (flowed && delSp) {
            content.remove_suffix(1);
        }
        if (!open) {
            paragraphDepth = depth;
        }
        paragraph.append(content);
        if (flowed) {
            open = true;
            continue;
        }
        emit(paragraphDepth, paragraph);
        paragraph.clear();
        open = false;
    }
    if (open) {
        emit(paragraphDepth, paragraph);
    }
    if (!endsWithNewline && !out.empty()) {
        out.pop_back();
    }
    return out;
}

InlinePgpText stripInlinePgp(std::string text) {
    InlinePgpText result;
    if (text.find(kSignedBegin) == std::string::npos) {
        if (text.find(kMessageBegin) != std::string::npos) {
            bool endsWithNewline = false;
            for (const std::string_view line : splitLines(text, endsWithNewline)) {
                if (isArmourLine(line, kMessageBegin)) {
                    result.kind = InlinePgp::Encrypted;
                    break;
                }
            }
        }
        result.text = std::move(text);
        return result;
    }
    bool endsWithNewline = false;
    const std::vector<std::string_view> lines = splitLines(text, endsWithNewline);
    enum class State { Outside, ArmourHeaders, Signed, Signature };
    State state = State::Outside;
    std::string out;
    out.reserve(text.size());
    bool encrypted = false;
    for (const std::string_view line : lines) {
        switch (state) {
            case State::Outside:
                if (isArmourLine(line, kSignedBegin)) {
                    state = State::ArmourHeaders;
                    result.kind = InlinePgp::Signed;
                    continue;
                }
                encrypted = encrypted || isArmourLine(line, kMessageBegin);
                break;
            case State::ArmourHeaders:
                // "Hash: SHA256" and the like, up to an empty line.
                if (line.empty() || line == "\r") {
                    state = State::Signed;
                }
                continue;
            case State::Signed:
                if (isArmourLine(line, kSignatureBegin)) {
                    state = State::Signature;
                    continue;
                }
                if (line.substr(0, 2) == "- ") {
                    out.append(line.substr(2));
                    out.push_back('\n');
                    continue;
                }
                break;
            case State::Signature:
                if (isArmourLine(line, kSignatureEnd)) {
                    state = State::Outside;
                }
                continue;
        }
        out.append(line);
        out.push_back('\n');
    }
    if (!endsWithNewline && !out.empty()) {
        out.pop_back();
    }
    if (result.kind == InlinePgp::Signed && encrypted) {
        result.kind = InlinePgp::Encrypted;
    }
    result.text = std::move(out);
    return result;
}

}  // namespace mime::detail
