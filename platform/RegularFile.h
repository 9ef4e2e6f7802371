#pragma once

#include <QString>

class QFile;

namespace vb {

// Opens `path` for reading into `file` when it is a regular file, or a link to one. Anything else
// is refused before a byte is read: a pipe would make the open wait for a writer that never
// comes, a device may never end, a folder is no file. Throws RuntimeError (FileNotFound,
// PermissionDenied, PathFileAccess).
void OpenRegularFile(QFile& file, const QString& path);

} // namespace vb
