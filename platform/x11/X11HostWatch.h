#pragma once

#include "platform/x11/X11Windows.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QSize>

namespace vb::x11 {

// Tells a preview that its host window is gone: destroyed by its program, or with it when that
// program died (the X server then destroys its windows). Qt says nothing in either case. It also
// tells when the host changes size, so that the preview can follow.
//
// The X server reports both to the program that asks: the host's DestroyNotify and
// ConfigureNotify, and the DestroyNotify of our own window inside it, which this filter sees
// first. So nothing is asked of the server while the preview waits; the host is looked up once,
// on the first turn of the event loop, which also catches a host id that named no window.
//
// Once the host is gone, X errors about it or about our window (Qt may still draw into the
// destroyed window before the run ends) are expected and kept away from Qt's error warnings.
class HostWatch final : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    HostWatch(WindowId host, WindowId embedded, QObject* parent = nullptr);
    ~HostWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // Emitted once.
    void hostGone();
    // The host's new size in device pixels, the unit of the X server.
    void hostResized(QSize size);

private:
    void Check();
    void Report();

    WindowId m_host;
    WindowId m_embedded;
    QSize m_size;
    bool m_gone = false;
};

} // namespace vb::x11
