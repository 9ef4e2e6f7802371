#include "config/OpenWebAddress.h"

#include <QDesktopServices>
#include <QUrl>

namespace vb {

void OpenWebAddress(const QString& address)
{
    // Qt reports a missing browser with a warning on standard error; the link fails silently
    // instead. The handler is the whole process's: what the program's other threads log during
    // this call is dropped too.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // The result only says whether a handler was started; nobody is told either way.
    QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
    qInstallMessageHandler(previous);
}

} // namespace vb
