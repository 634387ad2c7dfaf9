#include "shell/failure.h"

#include <cstring>

namespace shell {

Failure::Failure(const QString& description, int number)
    : std::runtime_error(description.toStdString()), m_description(description), m_number(number) {}

Failure Failure::fromErrno(int errnoValue) {
    return Failure(QString::fromLocal8Bit(std::strerror(errnoValue)), errnoValue);
}

}  // namespace shell
