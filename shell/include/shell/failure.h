#pragma once
// Failures of the desktop application's steps. A failure carries the
// platform's description text (what the user reads in the failure report)
// and, where the platform has one, an error number.

#include <QString>

#include <stdexcept>

namespace shell {

class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& description, int number = 0);

    QString description() const { return m_description; }
    int number() const { return m_number; }

    // The platform's text for an errno value, e.g. "No such file or directory".
    static Failure fromErrno(int errnoValue);

private:
    QString m_description;
    int m_number;
};

// Error numbers the application tests for.
inline constexpr int kErrorInvalidArgument = 5;        // invalid procedure call or argument
inline constexpr int kErrorTypeMismatch = 13;          // a text that is not a Boolean or number
inline constexpr int kErrorSelectionTooLarge = 20476;  // open dialog: names exceed its buffer

}  // namespace shell
