#pragma once

#include "platform/x11/X11Windows.h"

#include <QProcess>
#include <QString>

namespace vbtest {

// A window of another process, as a preview host is: the test program runs itself with
// "--host-window TITLE WIDTHxHEIGHT", and that copy shows the window and prints its id.
// A test's main() calls RunHostWindowIfAsked first.
int RunHostWindowIfAsked(int argc, char** argv);

class HostWindowProcess
{
public:
    ~HostWindowProcess();
    bool Start(const QString& title, QSize size);
    void Kill();
    vb::x11::WindowId id() const { return m_id; }

private:
    QProcess m_process;
    vb::x11::WindowId m_id = 0;
};

} // namespace vbtest
