#pragma once

#include <QString>
#include <exception>
#include <string>

namespace vb {

// The errors of the program's runtime. Each one carries the runtime's short name for the
// error ("Type mismatch") and a cause that tells the user what was being done and with what.
enum class ErrorCode {
    TypeMismatch,
    Overflow,
    PathFileAccess,
    PermissionDenied,
    DeviceIO,
    FileNotFound,
    InvalidPicture,
};

class RuntimeError : public std::exception
{
public:
    RuntimeError(ErrorCode code, QString cause);

    ErrorCode code() const { return m_code; }
    QString errorText() const;
    const QString& cause() const { return m_cause; }
    // A copy of this error with a new cause; used where a caller knows more about the context.
    RuntimeError withCause(QString cause) const { return RuntimeError(m_code, std::move(cause)); }

    const char* what() const noexcept override { return m_what.c_str(); }

private:
    ErrorCode m_code;
    QString m_cause;
    std::string m_what;
};

QString ErrorCodeText(ErrorCode code);

// Maps an errno value of a failed file-system call to the runtime error it stands for.
ErrorCode ErrorCodeFromErrno(int err);

// Raised by `End`: the process is to end at once with status 0. main() catches it, so that
// nothing after the point of `End` runs, yet destructors still do.
struct EndRequest
{
};

} // namespace vb
