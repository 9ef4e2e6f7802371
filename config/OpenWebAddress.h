#pragma once

#include <QString>

namespace vb {

// Hands a web address to the desktop's default handler, normally the web browser, which runs as
// a process of its own. A failure (no handler, a malformed address) is silent.
void OpenWebAddress(const QString& address);

} // namespace vb
