#include "config/OpenWebAddress.h"

#include <QDesktopServices>
#include <QUrl>

namespace vb {

void OpenWebAddress(const QString& address)
{
    // Qt reports a missing browser with a warning on standard error; the link fails silently
    // instead. The program has one thread, so only this call's messages are dropped.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // The result only says whether a handler was started; nobody is told either way.
    QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
    qInstallMessageHandler(previous);
}

} // namespace vb
