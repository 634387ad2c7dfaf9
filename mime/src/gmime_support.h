#pragma once
// The mail library (GMime 3) as the reader uses it: set up once per process,
// in its loose mode, with its warnings collected per parse; references and
// strings it hands out owned by C++ handles.

#include <gmime/gmime.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mime::detail {

// g_mime_init, once per process (never shut down: other callers may still
// be reading).
void initialiseGMime();

struct GObjectUnref {
    void operator()(void* object) const {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
};
template <class T>
using GRef = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(void* memory) const { g_free(memory); }
};
using GText = std::unique_ptr<char, GFree>;

// A string from GMime as valid UTF-8 (empty for null; ill-formed bytes as
// U+FFFD).
std::string text(const char* value);
inline std::string text(const GText& value) {
    return text(value.get());
}

// Loose options without a warning callback, for decoding values after the
// parse (its warnings were collected then). Process-wide, never changed.
GMimeParserOptions* quietOptions();

// What a parse's warning callback collected, capped at kMaxWarnings.
class WarningList {
public:
    void add(std::string text);
    // Moves the warnings into `out` (appending), with a last line naming how
    // many were left out when there were more than fit.
    void moveInto(std::vector<std::string>& out);

private:
    std::vector<std::string> m_items;
    std::size_t m_dropped = 0;
};

// Appends to a message's warnings, at most kMaxWarnings of them.
void addWarning(std::vector<std::string>& warnings, std::string text);

// One run of GMime's parser over bytes of ours (copied into its stream),
// with loose options whose warnings go to warnings(). Owns everything the
// parse made; the objects it hands out live as long as it does.
class GMimeParse {
public:
    explicit GMimeParse(std::span<const std::uint8_t> bytes);
    ~GMimeParse();
    GMimeParse(const GMimeParse&) = delete;
    GMimeParse& operator=(const GMimeParse&) = delete;

    // The input as a message (null when it makes none); owned by the parse.
    GMimeMessage* nextMessage();
    // The input as one MIME entity; owned by the parse.
    GMimeObject* entity();

    WarningList& warnings() { return m_warnings; }

private:
    WarningList m_warnings;
    GMimeParserOptions* m_options = nullptr;
    GRef<GMimeStream> m_stream;
    GRef<GMimeParser> m_parser;
    std::vector<GRef<GObject>> m_objects;
};

// The bytes GMime writes for an object (its header and content, as read).
std::vector<std::uint8_t> serialise(GMimeObject* object);

}  // namespace mime::detail
