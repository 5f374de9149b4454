#pragma once

#include <QString>

#include <exception>
#include <stdexcept>

namespace velmora {

// A failure that the session component detects itself, with a fixed English message.
class EDXPlayError : public std::runtime_error {
public:
    explicit EDXPlayError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// A silent abort: the operation ends, nothing is shown, the caller's remaining steps are skipped
// (a cancel in a dialog of a service provider).
class EAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace velmora
