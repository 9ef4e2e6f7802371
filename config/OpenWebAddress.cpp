#include "config/OpenWebAddress.h"

#include <QDesktopServices>
#include <QUrl>

namespace vb {

void OpenWebAddress(const QString& address)
{
    // The result only says whether a handler was started; nobody is told either way.
    QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
}

} // namespace vb
