#pragma once

#include "platform/runtime/RuntimeError.h"

#include <QString>

class QFile;

namespace vb {

// Why TryOpenRegularFile gave no descriptor.
struct OpenRefusal
{
    ErrorCode code = ErrorCode::PathFileAccess;
    QString why;
    bool missing = false; // no such file, or a link whose target does not exist
};

// Opens `path` for reading when it is a regular file, or a link to one; returns the descriptor
// (closed on exec), or -1 with the reason in `refusal`. Anything else is refused before a byte is
// read: a pipe would make the open wait for a writer that never comes, a device may never end, a
// folder is no file. The path's bytes are those of EncodeFileName.
int TryOpenRegularFile(const QString& path, OpenRefusal* refusal);

// The same, throwing RuntimeError (FileNotFound, PermissionDenied, PathFileAccess).
int OpenRegularFileDescriptor(const QString& path);

// The same, into `file`, which owns the descriptor.
void OpenRegularFile(QFile& file, const QString& path);

} // namespace vb
