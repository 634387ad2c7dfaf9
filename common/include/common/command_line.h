#pragma once
// What the command lines of every program share: the exit statuses and the
// usage error.
//
// A program's parsers throw UsageError with the text of the first word they
// refuse; the program catches it once, prints it with a hint at the help, and
// exits with kExitUsage before anything is read or written.

#include <stdexcept>
#include <string>

namespace common {

// Everything asked for was done.
inline constexpr int kExitSuccess = 0;
// The work failed, or a part of it (the text says which).
inline constexpr int kExitFailure = 1;
// The command line was refused, or the work could not start.
inline constexpr int kExitUsage = 2;
// Stopped by SIGINT or SIGTERM (128 + SIGINT, as shells report it).
inline constexpr int kExitStopped = 130;

class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace common
