#include "platform/display/UncaughtError.h"

#include "platform/runtime/ErrorReport.h"
#include "platform/runtime/RuntimeError.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <cstdlib>

namespace vb {

void ReportUncaughtError(const RuntimeError& error, bool withMessageBox)
{
    WriteErrorReport(error);
    if (withMessageBox && qApp)
        QMessageBox::critical(nullptr, QStringLiteral("Vellumbright"), FormatErrorReport(error));
}

void EndWithUncaughtError(const RuntimeError& error, bool withMessageBox)
{
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    ReportUncaughtError(error, withMessageBox);
    // Unwinding through the event loop is not possible; the settings file is written by atomic
    // rename, so ending here cannot leave it half-written.
    std::_Exit(1);
}

} // namespace vb
