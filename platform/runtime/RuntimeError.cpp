#include "platform/runtime/RuntimeError.h"

#include <cerrno>

namespace vb {

RuntimeError::RuntimeError(ErrorCode code, QString cause)
    : m_code(code), m_cause(std::move(cause)),
      m_what((ErrorCodeText(code) + QStringLiteral(": ") + m_cause).toStdString())
{
}

QString RuntimeError::errorText() const
{
    return ErrorCodeText(m_code);
}

QString ErrorCodeText(ErrorCode code)
{
    switch (code) {
    case ErrorCode::TypeMismatch:
        return QStringLiteral("Type mismatch");
    case ErrorCode::Overflow:
        return QStringLiteral("Overflow");
    case ErrorCode::PathFileAccess:
        return QStringLiteral("Path/File access error");
    case ErrorCode::PermissionDenied:
        return QStringLiteral("Permission denied");
    case ErrorCode::DeviceIO:
        return QStringLiteral("Device I/O error");
    case ErrorCode::FileNotFound:
        return QStringLiteral("File not found");
    case ErrorCode::InvalidPicture:
        return QStringLiteral("Invalid picture");
    }
    return QStringLiteral("Error");
}

ErrorCode ErrorCodeFromErrno(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return ErrorCode::PermissionDenied;
    case EIO:
        return ErrorCode::DeviceIO;
    case ENOENT:
        return ErrorCode::FileNotFound;
    default:
        return ErrorCode::PathFileAccess;
    }
}

} // namespace vb
