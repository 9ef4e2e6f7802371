#pragma once

#include <QString>

class QFile;

namespace vb {

// Opens `path` for reading when it is a regular file, or a link to one, and returns the
// descriptor (closed on exec). Anything else is refused before a byte is read: a pipe would make
// the open wait for a writer that never comes, a device may never end, a folder is no file.
// Throws RuntimeError (FileNotFound, PermissionDenied, PathFileAccess).
int OpenRegularFileDescriptor(const QString& path);

// The same, into `file`, which owns the descriptor.
void OpenRegularFile(QFile& file, const QString& path);

} // namespace vb
